// How many ticks a stretch of samples lasts in the image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pulsecut {

// The image's unit of time, 9 microseconds.
inline constexpr double kTicksPerSecond = 111111.11111111111;

// The duration in ticks of a stretch of `samples` samples, exactly as the sample-by-sample
// timing gives it: the stretch's time is the double sum period + period + ... (one addition per
// sample, starting from 0.0), multiplied by kTicksPerSecond and truncated.
//
// That sum is the same for every stretch of the same length, so it is computed once: a table
// holds the ticks of every short length, and for long stretches the sums at regular steps are
// kept as they are first needed, so that a long stretch costs a few hundred additions at most.
// Memory stays bounded: beyond the last kept sum the additions simply continue.
class StretchClock {
 public:
  // `sampleRate` must be above 0.
  explicit StretchClock(uint32_t sampleRate);

  // Ticks of a stretch of `samples` samples (1 or more).
  int64_t Ticks(uint64_t samples) {
    return samples < ticks_.size() ? ticks_[samples] : TicksOfLongStretch(samples);
  }
  // The ticks of the stretches shorter than the table (element g for g samples), for loops
  // that look them up themselves.
  std::span<const int64_t> ShortTicks() const { return ticks_; }

 private:
  int64_t TicksOfLongStretch(uint64_t samples);

  double period_;
  std::vector<int64_t> ticks_;       // ticks_[g] for stretches of g samples
  std::vector<double> checkpoints_;  // checkpoints_[k]: the sum of k * 256 periods
};

}  // namespace pulsecut
