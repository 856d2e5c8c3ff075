// The adaptive comparator (-a): thresholds that follow the signal, for worn, noisy and uneven
// tapes.
//
// Where the recording carries hiss, the values are first smoothed by a moving sum over 100
// microseconds (a gentle low-pass). Then, for each group of kGroup values, the largest and
// smallest smoothed value widen the high and low envelope; a millisecond after the signal last
// reached half way to a side, that side also relaxes towards the signal, so that the envelope
// follows fades and dropouts. The centre lies half way between the two sides, so it follows DC
// drift and AC-coupled droop; the hysteresis is a tenth of the envelope's span, but never less than
// the swing of the quietest stretches that the first pass found (and never more than half the loud
// ones'). Where a group swings too little to be a signal (a few times the hiss, or 26 dB below
// the loud stretches) the output holds. The comparator then runs over the group with
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

// Turns values into smoothed ones centred on 0 (0x8000 becomes 0): the mean of the last
// `length` values (the values before the first count as 0x8000), less 0x8000. Feeding the
// values in pieces gives the same as feeding them at once.
class Smoother {
 public:
  explicit Smoother(uint32_t length);
  uint32_t length() const { return length_; }
  void Run(const uint16_t* values, size_t count, int16_t* out);

 private:
  uint32_t length_;
  uint64_t reciprocal_;        // ceil(2^32 / length): the mean by a multiplication
  std::vector<int32_t> ring_;  // the last `length` centred values
  size_t at_ = 0;
  int64_t sum_ = 0;  // of ring_
};

// What the first pass finds, on the scale of the smoothed values.
struct AdaptiveStart {
  uint32_t smoothing = 1;  // values per mean
  int64_t centre = 0;      // the mean of the recording
  int64_t noise = 0;       // peak-to-peak swing of the quietest stretches
  int64_t amplitude = 0;   // peak-to-peak swing of the loud stretches
  int64_t largest = 0;     // the largest swing of any stretch
};

// The first pass: reads up to kSurveyValues values of `file` (spread over the whole recording
// when it is longer) from the start of its data, and measures the swing of every stretch of
// kSurveySeconds. Leaves the file positioned anywhere.
Status SurveyRecording(WaveFile& file, bool phaseNormal, AdaptiveStart* start);

class AdaptiveComparator {
 public:
  static constexpr size_t kGroup = 64;  // values per envelope update; counted from the start

  AdaptiveComparator(const AdaptiveStart& start, uint32_t sampleRate);

  // Takes the next `count` values (after the phase). For every group of kGroup values that it
  // completes, appends the group's change mask to `moves`: bit i is set when the output changes
  // at the group's value i.
  void Feed(const uint16_t* values, size_t count, std::vector<uint64_t>& moves);
  // Appends the mask of an incomplete last group, if there is one. Call once, after the last
  // Feed.
  void Finish(std::vector<uint64_t>& moves);

  // The thresholds and state in force, on the smoothed scale (for tests and plots).
  int64_t upper() const { return upper_; }
  int64_t lower() const { return lower_; }
  bool state() const { return state_; }

 private:
  // The mask of the first `count` values of `group`: smoothed values (int16_t), or values that
  // need no smoothing (uint16_t). The group's kGroup values must be readable.
  template <typename Value>
  uint64_t RunGroup(const Value* group, size_t count);

  AdaptiveStart start_;
  int64_t decay_;  // envelope kept per group, in 1/65536
  int64_t floor_;  // the least hysteresis
  int64_t gate_;   // the least swing of a group that carries a signal
  uint64_t hold_;  // values after a side was last reached before it relaxes
  Smoother smooth_;
  int16_t group_[kGroup] = {};  // smoothed values of the group being filled
  size_t filled_ = 0;
  uint64_t next_ = 0;      // index of the group's first value
  uint64_t highSeen_ = 0;  // where the last group that reached half way to each side ended
  uint64_t lowSeen_ = 0;
  int64_t high_;  // envelope
  int64_t low_;
  int64_t upper_ = 0;
  int64_t lower_ = 0;
  bool state_ = false;
};

}  // namespace pulsecut
