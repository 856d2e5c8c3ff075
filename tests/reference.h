// Plain, sample-by-sample versions of the readings and both passes, written straight from the
// rules: the yardstick for the fast code of the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wav/wave_format.h"

namespace pulsecut::testing {

// The values a reading gives for a recording, and its sample rate.
struct ReferenceRecording {
  bool readable = false;
  uint32_t sampleRate = 0;
  std::vector<uint16_t> values;
};

// The recording `path` as `reading` reads it. The classic reading (header at the fixed offsets
// supported and no -s): ReadSample frame by frame from byte 58 until the end-of-file indicator
// is set. Otherwise the standard reading, parsed and decoded here on its own, from the whole
// file in memory.
ReferenceRecording ReferenceRead(const std::string& path, const ReadOptions& reading = {});

// The standard reading of the recording whose bytes are `bytes`.
ReferenceRecording ReferenceReadStandard(const std::string& bytes, ChannelChoice choice);

struct ReferenceLevels {
  uint32_t high = 0;
  uint32_t low = 0;
};

// The analysis: a ten-value history shifted per value, the mean and variance recomputed per
// window, sqrt and all.
ReferenceLevels ReferenceAnalyze(const std::vector<uint16_t>& values, bool phaseNormal);
// The same over the classic reading of `path`.
ReferenceLevels ReferenceAnalyze(const std::string& path, bool phaseNormal);

// The image that the conversion writes for `values` at `sampleRate` with the given levels.
std::string ReferenceConvert(const std::vector<uint16_t>& values, uint32_t sampleRate,
                             uint32_t highLevel, uint32_t lowLevel, bool phaseNormal);
// The same over the classic reading of `path`.
std::string ReferenceConvert(const std::string& path, uint32_t highLevel, uint32_t lowLevel,
                             bool phaseNormal);

}  // namespace pulsecut::testing
