// The hysteresis comparator that squares the signal up.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pulsecut {

// Where, in a group of 64 values, the comparator would change: bit i of `rises` is set when
// value i turns a low output high, bit i of `falls` when it turns a high output low.
struct ChangeMasks {
  uint64_t rises;
  uint64_t falls;
};

class SchmittTrigger {
 public:
  static constexpr size_t kGroup = 64;

  // Places the thresholds half way between the centre 0x8000 and the record levels, in unsigned
  // 32-bit arithmetic: upper = ((high - 0x8000) >> 1) + 0x8000 and
  // lower = 0x8000 - ((0x8000 - low) >> 1). The subtractions wrap on purpose: a high level below
  // the centre puts `upper` beyond every value (the output never turns high), a low level above
  // it puts `lower` beyond every value (a high output falls at the next value). Starts low.
  SchmittTrigger(uint32_t highLevel, uint32_t lowLevel);
  virtual ~SchmittTrigger() = default;

  // One comparator step. A low output turns high on a value above `upper`; a high output stays
  // high while values are at or above `lower`. Returns the new state.
  bool Process(uint32_t value) {
    state_ = state_ ? value >= lower_ : value > upper_;
    return state_;
  }

  // The change masks of the kGroup values at `values`, all on the 16-bit scale. Which of them
  // apply depends on the state in force at each value; the state itself is not touched.
  ChangeMasks Masks(const uint16_t* values) const;
  // The same for the values (highBytes[i] << 8) | lowByte, as 8-bit samples give them: 0x00
  // below each byte in Normal phase, 0xFF in Reverse phase (where the bytes are inverted too).
  ChangeMasks Masks(const uint8_t* highBytes, uint8_t lowByte) const;

  // Whether some value both turns a low output high and a high output low (it then toggles the
  // output). Only levels beyond the centre on the wrong side give such thresholds.
  bool HasTogglingValues() const { return !neverFalls_ && stayAbove_ > riseAbove_; }

  uint32_t upper() const { return upper_; }
  uint32_t lower() const { return lower_; }
  bool state() const { return state_; }

 private:
  uint32_t upper_;
  uint32_t lower_;
  bool state_ = false;
  // Both tests as "value > t" with a 16-bit t, exact for every 16-bit value: a value rises
  // when above riseAbove_, and falls when not above stayAbove_ (that is, below lower_) unless
  // neverFalls_ (lower_ is 0).
  uint16_t riseAbove_;
  uint16_t stayAbove_;
  bool neverFalls_;
};

}  // namespace pulsecut
