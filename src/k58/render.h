// Rendering an image as a square-wave recording.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "k58/stretches.h"

namespace pulsecut::k58 {

// The sample at which a stretch ending `ticks` ticks after the start of the image ends, at
// `sampleRate`: the time in whole microseconds, 9 per tick, rounded to the nearest sample.
// Edges placed by the running sum of ticks do not drift, however long the tape.
uint64_t EdgeSample(int64_t ticks, uint32_t sampleRate);

// The two levels of a render, as stored. pulsecut converts the render back with analysed
// levels or with -thc000 -tl4000 (thresholds half way, 0xA000 and 0x6000). 8-bit: 0xE0 and
// 0x20. 16-bit: 0xE000 and 0x2000 as stored, the way pulsecut reads 16-bit samples (without
// sign conversion): as signed audio these play with inverted polarity.
struct RenderLevels {
  uint32_t high;
  uint32_t low;
};
RenderLevels LevelsFor(uint16_t bitsPerSample);

// Writes a mono PCM WAV (canonical 44-byte header) of `stretches` to `out`, at `sampleRate`
// with 8 or 16 bits per sample: stretch k fills the samples from the edge before it up to
// its own edge. The first 14 bytes of data repeat the first stretch's level, since pulsecut
// starts reading at byte 58. Returns false when a write fails (errno set).
bool RenderWav(const std::vector<Stretch>& stretches, uint32_t sampleRate, uint16_t bitsPerSample,
               std::FILE* out);

}  // namespace pulsecut::k58
