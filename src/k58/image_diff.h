// Comparing two images edge by edge.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "k58/stretches.h"

namespace pulsecut::k58 {

// An edge: the end of a stretch, where the signal rises (after a low stretch) or falls.
struct Edge {
  int64_t time;  // ticks from the start of its image
  bool rising;
  size_t record;  // the image's record that ends there (the stretch's last)
};
std::vector<Edge> Edges(const std::vector<Stretch>& stretches);

struct DiffResult {
  size_t edgesA = 0, edgesB = 0;
  size_t matched = 0;
  size_t onlyA = 0, onlyB = 0;
  int64_t largestDeviationTicks = 0;  // over the matched edges
  // The first edge that matched nothing, in A or in B.
  std::optional<Edge> firstDisagreementA;
  std::optional<Edge> firstDisagreementB;
  bool Agree() const { return onlyA == 0 && onlyB == 0; }
};

// Matches the edges of `a` and `b`, in order, when they have the same direction and lie within
// `toleranceTicks` of each other. Each image's time is its own running sum of ticks, and each
// record drops the fraction of a tick that its duration had, so the two axes drift apart over a
// long tape; edges are therefore compared relative to the last pair that matched, which keeps
// the deviation of each edge its own. An edge that cannot be matched counts as only in its
// image, the earlier of two candidates first.
// `offsetTicks`: B's time of an edge less A's time of the same edge (B started that much
// earlier in the signal).
DiffResult DiffEdges(const std::vector<Edge>& a, const std::vector<Edge>& b, int64_t toleranceTicks,
                     int64_t offsetTicks = 0);

// The offset between two takes of the same signal that started at different times (in B's
// ticks less A's, as DiffEdges takes it), found by lining up their sequences of stretch
// durations, which two takes share whatever their start: the shift of B's stretches against
// A's under which the most durations agree (within 5 ticks or 2%; the smallest shift of equally
// good ones), then the median offset of
// the first few edges that agree (further on, the images' clocks drift apart by the fractions
// of ticks their records drop). Nothing when no shift lines up at least half of the stretches
// compared (or the images are too short to tell).
std::optional<int64_t> FindOffset(const std::vector<Stretch>& a, const std::vector<Stretch>& b);

}  // namespace pulsecut::k58
