#include "tape/schmitt_trigger.h"

namespace pulsecut {
namespace {

// Index of the first value for which `changes` holds, or `count`. Eight values are tested
// together so that the common case, no change in a group, costs one branch per group.
template <typename Predicate>
size_t FindFirst(const uint16_t* values, size_t count, Predicate changes) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    bool any = false;
    for (size_t k = 0; k < 8; ++k) any |= changes(values[i + k]);
    if (any) break;
  }
  for (; i < count; ++i) {
    if (changes(values[i])) return i;
  }
  return count;
}

}  // namespace

SchmittTrigger::SchmittTrigger(uint32_t highLevel, uint32_t lowLevel)
    : upper_(((highLevel - 0x8000u) >> 1) + 0x8000u),
      lower_(0x8000u - ((0x8000u - lowLevel) >> 1)) {}

size_t SchmittTrigger::ProcessUntilChange(const uint16_t* values, size_t count) {
  const uint32_t upper = upper_;
  const uint32_t lower = lower_;
  const size_t index = state_ ? FindFirst(values, count, [lower](uint32_t v) { return v < lower; })
                              : FindFirst(values, count, [upper](uint32_t v) { return v > upper; });
  if (index < count) state_ = !state_;
  return index;
}

}  // namespace pulsecut
