#include "tape/stretch_clock.h"

#include <cmath>

namespace pulsecut {
namespace {

constexpr uint64_t kTableSize = 4096;

int64_t ToTicks(double seconds) { return static_cast<int64_t>(seconds * kTicksPerSecond); }

}  // namespace

double AddRepeatedly(double time, double period, uint64_t count) {
  // Inside one binade every double is a multiple of the binade's ulp u, so time + period rounds
  // to time + d with d = round(period / u) * u whatever the time, as long as the sum stays in
  // the binade. At an exact half (period / u = k + 1/2) rounding to even breaks the tie; after
  // the first addition in the binade the sum is an even multiple of u, and from then on every
  // tie goes the same way. So once two additions in a row, both inside the binade, add the same
  // d, every later one does until the sum nears the binade's end: those are taken at once, as
  // one exact multiplication and addition, and the few near the end one by one again.
  // The increment of the last addition, -1 when it does not count. An addition counts when it
  // stays inside a binade; two counted additions in a row stay inside the same one, since each
  // starts where the one before ended.
  double previous = -1.0;
  while (count > 0) {
    const double before = time;
    time += period;
    --count;
    if (before <= 0.0 || std::ilogb(before) != std::ilogb(time)) {
      previous = -1.0;
      continue;
    }
    const double step = time - before;  // exact: both are multiples of u within the binade
    if (step != previous) {
      previous = step;
      continue;
    }
    if (step == 0.0) return time;  // the sum no longer grows
    // Stay clear of the binade's end by more than one addition can round to.
    const double end = std::ldexp(1.0, std::ilogb(time) + 1);
    const double room = end - time - 2.0 * (period + step);
    if (room <= 0.0) continue;
    auto jumps = static_cast<uint64_t>(room / step);
    if (jumps > 0) --jumps;  // the division may round up
    if (jumps > count) jumps = count;
    // jumps * step and the sum are multiples of u below the binade's end: both exact.
    time += static_cast<double>(jumps) * step;
    count -= jumps;
  }
  return time;
}

StretchClock::StretchClock(uint32_t sampleRate)
    : period_(1.0 / static_cast<double>(sampleRate)), ticks_(kTableSize) {
  double time = 0.0;
  ticks_[0] = 0;
  for (uint64_t g = 1; g < kTableSize; ++g) {
    time += period_;
    ticks_[g] = ToTicks(time);
  }
  tableEnd_ = time;
}

int64_t StretchClock::TicksOfLongStretch(uint64_t values) const {
  return ToTicks(AddRepeatedly(tableEnd_, period_, values - (kTableSize - 1)));
}

}  // namespace pulsecut
