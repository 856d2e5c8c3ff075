// The first pass: estimating the record levels at which the tape signal rests.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "wav/wave_format.h"

namespace pulsecut {

// The exact statistics of one window of ten values, in signed 32-bit arithmetic: the
// incremental mean and sum of squares taken newest entry first, each division truncating toward
// zero, the products and sums wrapping in 32 bits (computed in unsigned types).
struct WindowStats {
  int32_t mean = 0;
  int32_t squares = 0;  // s; the sample variance is s / 9
};
// `newest` points at the newest entry; the older ones are newest[-1] .. newest[-9].
WindowStats ComputeWindow(const uint16_t* newest);

// Whether a window with sum of squares `squares` is steady: the truncated square root of the
// truncated variance s / 9 is below 120. A negative variance (only through the wrap) is not.
inline bool IsSteady(int32_t squares) {
  // sqrt is correctly rounded, so trunc(sqrt(var)) < 120 holds exactly when var < 120 * 120.
  const int32_t variance = squares / 9;
  return variance >= 0 && variance < 120 * 120;
}

// A window's mean moves a level only when it lies more than this far from the centre.
inline constexpr uint32_t kMinDeviation = 512;

class LevelAnalyzer {
 public:
  LevelAnalyzer() = default;
  virtual ~LevelAnalyzer() = default;

  // Scans the recording `fileName` and estimates its record levels. Every value that `reading`
  // gives (classic: from byte 58 to the end, the last one built from failed reads included) goes
  // through the phase and then into a window of the ten newest values (the first nine windows
  // padded with 0x8000). Each steady window whose mean lies more than kMinDeviation from 0x8000
  // moves the high level (mean above the centre) or the low level half way towards its mean; both
  // start at 0x8000.
  //
  // On success writes kMinDeviation and the two levels to the outputs. Writes nothing when the
  // file cannot be opened, read or understood (the status says which).
  Status Analyze(const char* fileName, uint32_t* minDeviation, uint32_t* highLevel,
                 uint32_t* lowLevel, bool phaseNormal, const ReadOptions& reading = {});
};

}  // namespace pulsecut
