// The conversion pass: recording in, K58 tape image out.
#pragma once

#include <cstdio>

#include "base/status.h"
#include "tape/adaptive_comparator.h"
#include "tape/image_writer.h"
#include "tape/schmitt_trigger.h"
#include "tape/stretch_clock.h"
#include "wav/wave_file.h"

namespace pulsecut {

// Writes the whole image of `source` (open, its reading chosen) to `destination`. Every value
// of the reading (classic: from byte 58 to the end, the last one built from failed reads
// included) goes through the phase and `trigger`; each completed high or low stretch is written
// with the duration of its values, the value that changes the output counting in the stretch it
// ends. The stretch still in progress at the end is not written. Stops at the first failed seek,
// read or write and says which. Both streams stay open for the caller to close.
Status ConvertToImage(WaveFile& source, std::FILE* destination, const SchmittTrigger& trigger,
                      bool phaseNormal);

// The same with the adaptive comparator (adaptive_comparator.h), set up from `start`.
Status ConvertToImageAdaptive(WaveFile& source, std::FILE* destination, const AdaptiveStart& start,
                              bool phaseNormal);

}  // namespace pulsecut
