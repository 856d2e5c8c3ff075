// The hysteresis comparator that squares the signal up.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace pulsecut {

// Where, in a group of 64 values, the comparator would change: bit i of `rises` is set when
// value i turns a low output high, bit i of `falls` when it turns a high output low.
struct ChangeMasks {
  uint64_t rises;
  uint64_t falls;
};

// The output states of a group from its change masks, for thresholds without toggling values:
// a rising value sets the output, a falling one clears it, any other keeps the state before it
// (`before` for the first). Adding the set bits to the set-or-keep bits sends a carry from each
// set bit through the keep bits after it and stops it at the next clear bit, so the carry into
// each bit is the state before that value.
inline uint64_t GroupStates(const ChangeMasks& masks, uint64_t before) {
  const uint64_t sets = masks.rises;
  const uint64_t keeps = ~(masks.rises | masks.falls);
  const uint64_t setsOrKeeps = sets | keeps;
  const uint64_t carries = (sets + setsOrKeeps + before) ^ sets ^ setsOrKeeps;
  return sets | (keeps & carries);
}

// The values of a group at which the comparator, starting in `high` (0 or 1), changes its
// output, as a bit mask; sets `high` to the state after the group. Thresholds without toggling
// values take the carry trick of GroupStates; with toggling values the state decides which mask
// applies at each value, so the walk hops from change to change.
inline uint64_t GroupMoves(const ChangeMasks& masks, bool toggling, uint64_t& high) {
  if (!toggling) {
    const uint64_t states = GroupStates(masks, high);
    const uint64_t moves = states ^ ((states << 1) | high);
    high = states >> 63;
    return moves;
  }
  uint64_t moves = 0;
  uint64_t pending = high ? masks.falls : masks.rises;
  while (pending != 0) {
    const int bit = std::countr_zero(pending);
    moves |= uint64_t{1} << bit;
    high ^= 1;
    pending = (high ? masks.falls : masks.rises) & ((~uint64_t{0} << bit) << 1);
  }
  return moves;
}

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

  // Puts the output in `state`, as after the values before the next one.
  void set_state(bool state) { state_ = state; }

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
