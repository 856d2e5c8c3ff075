#include "k58/stretches.h"

#include <algorithm>
#include <cmath>

#include "tape/stretch_clock.h"

namespace pulsecut::k58 {

std::vector<Stretch> ToStretches(const std::vector<PulseRecord>& records) {
  std::vector<Stretch> stretches;
  int64_t time = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const PulseRecord& r = records[i];
    if (!stretches.empty() && stretches.back().high == r.high) {
      stretches.back().ticks += r.ticks;
      ++stretches.back().records;
    } else {
      stretches.push_back({r.high, r.ticks, time, i, 1});
    }
    time += r.ticks;
  }
  return stretches;
}

int64_t TotalTicks(const std::vector<Stretch>& stretches) {
  return stretches.empty() ? 0 : stretches.back().start + stretches.back().ticks;
}

namespace {

// The smallest round width (1, 2 or 5 times a power of ten microseconds, at least 9) that
// covers `span` microseconds in no more than `bins` bins.
int64_t RoundWidth(int64_t span, int64_t bins) {
  for (int64_t scale = 1;; scale *= 10) {
    for (int64_t step : {1, 2, 5}) {
      const int64_t width = step * scale;
      if (width >= 9 && width * bins >= span) return width;
    }
  }
}

}  // namespace

Histogram MakeHistogram(const std::vector<Stretch>& stretches) {
  Histogram h;
  if (stretches.empty()) return h;
  std::vector<int64_t> durations;
  durations.reserve(stretches.size());
  for (const Stretch& s : stretches) durations.push_back(TicksToMicroseconds(s.ticks));
  const size_t at = durations.size() * 99 / 100;
  std::nth_element(durations.begin(), durations.begin() + static_cast<std::ptrdiff_t>(at),
                   durations.end());
  const int64_t span = durations[at] + durations[at] / 4 + 1;
  h.binMicroseconds = RoundWidth(span, 40);
  const auto bins = static_cast<size_t>(span / h.binMicroseconds + 1);
  h.high.assign(bins, 0);
  h.low.assign(bins, 0);
  for (const Stretch& s : stretches) {
    const auto bin = static_cast<size_t>(TicksToMicroseconds(s.ticks) / h.binMicroseconds);
    if (bin < bins) {
      ++(s.high ? h.high : h.low)[bin];
    } else {
      ++(s.high ? h.highOverflow : h.lowOverflow);
    }
  }
  return h;
}

std::vector<int64_t> Peaks(const Histogram& h) {
  std::vector<uint64_t> all(h.high.size());
  uint64_t total = h.highOverflow + h.lowOverflow;
  for (size_t i = 0; i < all.size(); ++i) {
    all[i] = h.high[i] + h.low[i];
    total += all[i];
  }
  std::vector<int64_t> peaks;
  for (size_t i = 0; i < all.size(); ++i) {
    const bool big = all[i] * 20 >= total && all[i] > 0;
    const bool left = i == 0 || all[i] >= all[i - 1];
    const bool right = i + 1 == all.size() || all[i] >= all[i + 1];
    // Of two equal neighbouring bins only the first is a peak.
    const bool first = i == 0 || all[i] != all[i - 1];
    if (big && left && right && first) {
      peaks.push_back(static_cast<int64_t>(i) * h.binMicroseconds + h.binMicroseconds / 2);
    }
  }
  return peaks;
}

LabelBounds DefaultLabelBounds(const Histogram& histogram) {
  const std::vector<int64_t> peaks = Peaks(histogram);
  if (peaks.empty()) return {};
  return {peaks.front() / 2, peaks.back() * 2};
}

std::vector<std::optional<uint64_t>> SampleCounts(const std::vector<Stretch>& stretches,
                                                  uint32_t sampleRate) {
  StretchClock clock(sampleRate);
  const double ticksPerSample = kTicksPerSecond / sampleRate;
  std::vector<std::optional<uint64_t>> counts;
  counts.reserve(stretches.size());
  for (const Stretch& s : stretches) {
    // Ticks grow by more than one per sample at these rates, so at most one count fits; it
    // lies next to the plain quotient.
    const auto guess =
        static_cast<uint64_t>(std::llround(static_cast<double>(s.ticks) / ticksPerSample));
    std::optional<uint64_t> found;
    for (uint64_t g = guess > 1 ? guess - 1 : 1; g <= guess + 1; ++g) {
      if (clock.Ticks(g) == s.ticks) found = g;
    }
    counts.push_back(found);
  }
  return counts;
}

int64_t LongestRuntTicks(std::optional<uint32_t> sampleRate) {
  // The usual rate of a recording, when the image does not reveal its own.
  constexpr uint32_t kUsualRate = 44100;
  // The longest runt: two samples.
  constexpr uint64_t kRuntSamples = 2;
  return StretchClock(sampleRate.value_or(kUsualRate)).Ticks(kRuntSamples);
}

std::optional<uint32_t> InferSampleRate(const std::vector<Stretch>& stretches) {
  // A handful of stretches fits several rates by chance.
  if (stretches.size() < 16) return std::nullopt;
  for (uint32_t rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u, 88200u, 96000u}) {
    const auto counts = SampleCounts(stretches, rate);
    if (std::all_of(counts.begin(), counts.end(), [](const auto& c) { return c.has_value(); })) {
      return rate;
    }
  }
  return std::nullopt;
}

}  // namespace pulsecut::k58
