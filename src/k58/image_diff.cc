#include "k58/image_diff.h"

#include <algorithm>

namespace pulsecut::k58 {

std::vector<Edge> Edges(const std::vector<Stretch>& stretches) {
  std::vector<Edge> edges;
  edges.reserve(stretches.size());
  for (const Stretch& s : stretches) {
    edges.push_back({s.start + s.ticks, !s.high, s.firstRecord + s.records - 1});
  }
  return edges;
}

DiffResult DiffEdges(const std::vector<Edge>& a, const std::vector<Edge>& b, int64_t toleranceTicks,
                     int64_t offsetTicks) {
  DiffResult r;
  r.edgesA = a.size();
  r.edgesB = b.size();
  int64_t anchorA = 0;
  int64_t anchorB = offsetTicks;
  size_t i = 0;
  size_t j = 0;
  auto onlyInA = [&] {
    if (!r.firstDisagreementA && !r.firstDisagreementB) r.firstDisagreementA = a[i];
    ++r.onlyA;
    ++i;
  };
  auto onlyInB = [&] {
    if (!r.firstDisagreementA && !r.firstDisagreementB) r.firstDisagreementB = b[j];
    ++r.onlyB;
    ++j;
  };
  while (i < a.size() && j < b.size()) {
    const int64_t da = a[i].time - anchorA;
    const int64_t db = b[j].time - anchorB;
    const int64_t deviation = da > db ? da - db : db - da;
    if (deviation <= toleranceTicks && a[i].rising == b[j].rising) {
      if (deviation > r.largestDeviationTicks) r.largestDeviationTicks = deviation;
      anchorA = a[i].time;
      anchorB = b[j].time;
      ++r.matched;
      ++i;
      ++j;
    } else if (da <= db) {
      onlyInA();
    } else {
      onlyInB();
    }
  }
  while (i < a.size()) onlyInA();
  while (j < b.size()) onlyInB();
  return r;
}

namespace {

// How many stretches of A are lined up against B (a leader's stretches all look alike: the
// window must reach past it into the data), and how far B may be shifted either way.
constexpr size_t kAlignWindow = 4000;
constexpr size_t kMaxShift = 300;
// Two durations agree within 5 ticks (a sample at 22050 Hz, with the ticks each drops) or 2%.
constexpr int64_t kAgreeTicks = 5;
constexpr int64_t kAgreePercent = 2;
// The offset is the median of the first five pairs of edges that agree.
constexpr size_t kOffsetPairs = 5;

bool Agree(const Stretch& x, const Stretch& y) {
  const int64_t d = x.ticks > y.ticks ? x.ticks - y.ticks : y.ticks - x.ticks;
  return x.high == y.high && (d <= kAgreeTicks || d * 100 <= x.ticks * kAgreePercent);
}

}  // namespace

std::optional<int64_t> FindOffset(const std::vector<Stretch>& a, const std::vector<Stretch>& b) {
  // The first stretch of each takes up the difference of the starts: the window starts after.
  if (a.size() < 3 || b.size() < 3) return std::nullopt;
  const size_t window = std::min(kAlignWindow, a.size() - 1);
  size_t bestCount = 0;
  int64_t bestShift = 0;
  const auto maxShift = static_cast<int64_t>(std::min(kMaxShift, std::max(a.size(), b.size())));
  // Shifts in the order 0, 1, -1, 2, -2, ...: of equally good ones the smallest wins.
  for (int64_t step = 0; step <= 2 * maxShift; ++step) {
    const int64_t shift = step % 2 == 0 ? -step / 2 : (step + 1) / 2;
    size_t count = 0;
    for (size_t i = 1; i <= window; ++i) {
      const int64_t j = static_cast<int64_t>(i) + shift;
      if (j < 1 || j >= static_cast<int64_t>(b.size())) continue;
      count += Agree(a[i], b[static_cast<size_t>(j)]) ? 1u : 0u;
    }
    if (count > bestCount) {
      bestCount = count;
      bestShift = shift;
    }
  }
  if (bestCount * 2 < window) return std::nullopt;
  // The offset from the first pairs that agree: each image's running time drops the fraction
  // of a tick of every record, so the two clocks drift apart further on.
  std::vector<int64_t> offsets;
  for (size_t i = 1; i <= window && offsets.size() < kOffsetPairs; ++i) {
    const int64_t j = static_cast<int64_t>(i) + bestShift;
    if (j < 1 || j >= static_cast<int64_t>(b.size())) continue;
    const Stretch& y = b[static_cast<size_t>(j)];
    if (Agree(a[i], y)) offsets.push_back((y.start + y.ticks) - (a[i].start + a[i].ticks));
  }
  std::nth_element(offsets.begin(), offsets.begin() + static_cast<ptrdiff_t>(offsets.size() / 2),
                   offsets.end());
  return offsets[offsets.size() / 2];
}

}  // namespace pulsecut::k58
