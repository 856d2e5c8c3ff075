#include "tape/stretch_clock.h"

namespace pulsecut {
namespace {

constexpr uint64_t kTableSize = 4096;
// Beyond the table, the sums at every multiple of kSpacing samples, for up to kMaxCheckpoints
// multiples (1 MiB, 33 million samples: 12 minutes at 44100 Hz).
constexpr uint64_t kSpacing = 256;
constexpr uint64_t kMaxCheckpoints = uint64_t{1} << 17;

int64_t ToTicks(double seconds) { return static_cast<int64_t>(seconds * kTicksPerSecond); }

}  // namespace

StretchClock::StretchClock(uint32_t sampleRate)
    : period_(1.0 / static_cast<double>(sampleRate)), ticks_(kTableSize), checkpoints_{0.0} {
  double time = 0.0;
  ticks_[0] = 0;
  for (uint64_t g = 1; g < kTableSize; ++g) {
    time += period_;
    ticks_[g] = ToTicks(time);
  }
}

int64_t StretchClock::TicksOfLongStretch(uint64_t samples) {
  uint64_t k = samples / kSpacing;
  if (k >= kMaxCheckpoints) k = kMaxCheckpoints - 1;
  while (checkpoints_.size() <= k) {
    double time = checkpoints_.back();
    for (uint64_t i = 0; i < kSpacing; ++i) time += period_;
    checkpoints_.push_back(time);
  }
  double time = checkpoints_[k];
  for (uint64_t g = k * kSpacing; g < samples; ++g) time += period_;
  return ToTicks(time);
}

}  // namespace pulsecut
