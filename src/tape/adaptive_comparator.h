// The adaptive comparator (-a): thresholds that follow the signal, for worn, noisy and uneven
// tapes.
//
// Where the recording carries hiss, the values are first smoothed by a moving sum over 100
// microseconds (a gentle low-pass). Then, for each group of kGroup values, the largest and
// smallest smoothed value widen the high and low envelope; a millisecond after the signal last
// swung across the envelope, it also relaxes towards the signal, so that it follows fades and
// dropouts. The centre lies half way between the two sides, so it follows DC drift and
// AC-coupled droop; the hysteresis is a tenth of the envelope's span, but never less than the
// swing of the quietest stretches that the first pass found (and never more than half the loud
// ones'). Where the envelope spans too little to be a signal (a few times the hiss, or 26 dB
// below the loud stretches) the output holds. The comparator then runs over the group with
// these thresholds.
//
// Everything is integer arithmetic on the values, and the groups are counted from the start of
// the recording, so the image does not depend on how the values arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/status.h"
#include "wav/wave_file.h"

namespace pulsecut {

// Moving sums of `n` values centred on 0x8000, fed one value at a time.
class MovingSum {
 public:
  explicit MovingSum(uint32_t n) : ring_(n, 0) {}
  int64_t Add(uint16_t value) {
    const int32_t centred = int32_t{value} - 0x8000;
    sum_ += centred - ring_[at_];
    ring_[at_] = centred;
    at_ = at_ + 1 == ring_.size() ? 0 : at_ + 1;
    return sum_;
  }

 private:
  std::vector<int32_t> ring_;
  size_t at_ = 0;
  int64_t sum_ = 0;
};

// What the first pass finds, on the scale of the smoothed values (sums of `smoothing` values
// centred on 0, so 0x8000 is 0).
struct AdaptiveStart {
  uint32_t smoothing = 1;  // values per moving sum
  int64_t centre = 0;      // the mean
  int64_t noise = 0;       // peak-to-peak swing of the quietest stretches
  int64_t amplitude = 0;   // peak-to-peak swing of the loud stretches
};

// The first pass: reads up to kSurveyValues values of `file` (spread over the whole recording
// when it is longer) from the start of its data, and measures the swing of every stretch of
// kSurveySeconds. Leaves the file positioned anywhere.
Status SurveyRecording(WaveFile& file, bool phaseNormal, AdaptiveStart* start);

class AdaptiveComparator {
 public:
  static constexpr size_t kGroup = 64;  // values per envelope update; counted from the start

  AdaptiveComparator(const AdaptiveStart& start, uint32_t sampleRate);

  // Takes the next `count` values (after the phase). Appends the index (counted from the
  // recording's first value) of every value at which the output changes to `changes`.
  void Feed(const uint16_t* values, size_t count, std::vector<uint64_t>& changes);
  // Runs the values of an incomplete last group. Call once, after the last Feed.
  void Finish(std::vector<uint64_t>& changes);

  // The thresholds and state in force, on the smoothed scale (for tests and plots).
  int64_t upper() const { return upper_; }
  int64_t lower() const { return lower_; }
  bool state() const { return state_; }

 private:
  void RunGroup(size_t count, std::vector<uint64_t>& changes);

  AdaptiveStart start_;
  int64_t decay_;  // envelope kept per group, in 1/65536
  int64_t floor_;  // the least hysteresis
  int64_t gate_;   // the least envelope span of a signal
  uint64_t hold_;  // values after a swing before the envelope relaxes
  MovingSum smooth_;
  std::vector<int64_t> group_;  // smoothed values of the group being filled
  uint64_t next_ = 0;           // index of the next value
  uint64_t lastSwing_ = 0;      // where the last group that swung across the envelope ended
  int64_t high_;                // envelope
  int64_t low_;
  int64_t upper_ = 0;
  int64_t lower_ = 0;
  bool state_ = false;
};

}  // namespace pulsecut
