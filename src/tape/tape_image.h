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

// Where a conversion stands after some values: the comparator's output and the stretch in
// progress.
struct ComparatorPosition {
  bool high = false;          // the output after the values read so far
  uint64_t stretchStart = 0;  // index of the first value of the stretch in progress
  uint64_t next = 0;          // index of the next value
};

// Runs `trigger` as the conversion does (the same masks) over the next `count` values of
// `source`, which must be positioned at value `position.next`, and moves `position` on.
Status AdvanceComparator(WaveFile& source, const SchmittTrigger& trigger, bool phaseNormal,
                         uint64_t count, ComparatorPosition& position);
// The same with the adaptive comparator, fed whole groups: `position.next` and `count` are
// multiples of AdaptiveComparator::kGroup.
Status AdvanceComparator(WaveFile& source, AdaptiveComparator& comparator, bool phaseNormal,
                         uint64_t count, ComparatorPosition& position);

// The same with the adaptive comparator (adaptive_comparator.h), set up from `start`.
Status ConvertToImageAdaptive(WaveFile& source, std::FILE* destination, const AdaptiveStart& start,
                              bool phaseNormal);

}  // namespace pulsecut
