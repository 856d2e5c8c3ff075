// The hysteresis comparator that squares the signal up.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pulsecut {

class SchmittTrigger {
 public:
  // Places the thresholds half way between the centre 0x8000 and the record levels, in unsigned
  // 32-bit arithmetic: upper = ((high - 0x8000) >> 1) + 0x8000 and
  // lower = 0x8000 - ((0x8000 - low) >> 1). The subtractions wrap on purpose: a high level below
  // the centre puts `upper` beyond every sample (the output never turns high), a low level above
  // it puts `lower` beyond every sample (a high output falls at the next value). Starts low.
  SchmittTrigger(uint32_t highLevel, uint32_t lowLevel);
  virtual ~SchmittTrigger() = default;

  // One comparator step. A low output turns high on a value above `upper`; a high output stays
  // high while values are at or above `lower`. Returns the new state.
  bool Process(uint32_t value) {
    state_ = state_ ? value >= lower_ : value > upper_;
    return state_;
  }

  // Runs Process over `values` up to the first value that changes the state, and returns that
  // value's index (the state has then changed), or `count` when no value changes it.
  size_t ProcessUntilChange(const uint16_t* values, size_t count);

  uint32_t upper() const { return upper_; }
  uint32_t lower() const { return lower_; }
  bool state() const { return state_; }

 private:
  uint32_t upper_;
  uint32_t lower_;
  bool state_ = false;
};

}  // namespace pulsecut
