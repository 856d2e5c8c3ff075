// Plain, sample-by-sample versions of both passes, written straight from the rules with the
// byte-at-a-time reader: the yardstick for the fast passes of the program.
#pragma once

#include <cstdint>
#include <string>

namespace pulsecut::testing {

struct ReferenceLevels {
  uint32_t high = 0;
  uint32_t low = 0;
};

// The analysis over the recording `path`: a ten-value history shifted per sample, the mean and
// variance recomputed per window, sqrt and all.
ReferenceLevels ReferenceAnalyze(const std::string& path, bool phaseNormal);

// The image that the conversion writes for the recording `path` with the given levels.
std::string ReferenceConvert(const std::string& path, uint32_t highLevel, uint32_t lowLevel,
                             bool phaseNormal);

}  // namespace pulsecut::testing
