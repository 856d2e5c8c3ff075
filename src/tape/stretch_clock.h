// How many ticks a stretch of samples lasts in the image.
#pragma once

#include <cstdint>
#include <vector>

namespace pulsecut {

// The image's unit of time, 9 microseconds.
inline constexpr double kTicksPerSecond = 111111.11111111111;

// The duration in ticks of a stretch of `samples` samples, exactly as the sample-by-sample
// timing gives it: the stretch's time is the double sum period + period + ... (one addition per
// sample, starting from 0.0), multiplied by kTicksPerSecond and truncated. Because that sum is
// the same for every stretch of the same length, the short lengths come from a table built once;
// longer stretches continue the additions past the table's end.
class StretchClock {
 public:
  // `sampleRate` must be above 0.
  explicit StretchClock(uint32_t sampleRate);

  // Ticks of a stretch of `samples` samples (1 or more).
  int64_t Ticks(uint64_t samples) const {
    return samples < ticks_.size() ? ticks_[samples] : TicksBeyondTable(samples);
  }

 private:
  int64_t TicksBeyondTable(uint64_t samples) const;

  double period_;
  std::vector<int64_t> ticks_;  // ticks_[g] for stretches of g samples
  double tableEndTime_;         // the sum of ticks_.size() - 1 periods
};

}  // namespace pulsecut
