#include "tape/stretch_clock.h"

namespace pulsecut {
namespace {

constexpr uint64_t kTableSize = 4096;

int64_t ToTicks(double seconds) { return static_cast<int64_t>(seconds * kTicksPerSecond); }

}  // namespace

StretchClock::StretchClock(uint32_t sampleRate)
    : period_(1.0 / static_cast<double>(sampleRate)), ticks_(kTableSize) {
  double time = 0.0;
  ticks_[0] = 0;
  for (uint64_t g = 1; g < kTableSize; ++g) {
    time += period_;
    ticks_[g] = ToTicks(time);
  }
  tableEndTime_ = time;
}

int64_t StretchClock::TicksBeyondTable(uint64_t samples) const {
  double time = tableEndTime_;
  for (uint64_t g = kTableSize - 1; g < samples; ++g) time += period_;
  return ToTicks(time);
}

}  // namespace pulsecut
