// How many ticks a stretch of values (one per frame, one sample period each) lasts in the image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tape/image_format.h"

namespace pulsecut {

// The duration in ticks of a stretch of `values` values, exactly as the sample-by-sample
// timing gives it: the stretch's time is the double sum period + period + ... (one addition per
// sample, starting from 0.0), multiplied by kTicksPerSecond and truncated.
//
// That sum is the same for every stretch of the same length, so a table holds the ticks of
// every short length; a long stretch continues the sum from the table's end with
// AddRepeatedly, a few hundred additions whatever its length.
class StretchClock {
 public:
  // `sampleRate` must be above 0.
  explicit StretchClock(uint32_t sampleRate);

  // Ticks of a stretch of `values` values (1 or more).
  int64_t Ticks(uint64_t values) const {
    return values < ticks_.size() ? ticks_[values] : TicksOfLongStretch(values);
  }
  // The ticks of the stretches shorter than the table (element g for g values), for loops
  // that look them up themselves.
  std::span<const int64_t> ShortTicks() const { return ticks_; }

 private:
  int64_t TicksOfLongStretch(uint64_t values) const;

  double period_;
  std::vector<int64_t> ticks_;  // ticks_[g] for stretches of g values
  double tableEnd_;             // the sum of ticks_.size() - 1 periods
};

// `time` with `period` added to it `count` times, one rounded addition after the other, exactly
// as that loop gives it, but in time proportional to the number of binades the sum passes
// through rather than to `count`. `time` and `period` must be 0 or more and finite.
double AddRepeatedly(double time, double period, uint64_t count);

}  // namespace pulsecut
