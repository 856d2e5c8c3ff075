#include "k58/image_diff.h"

namespace pulsecut::k58 {

std::vector<Edge> Edges(const std::vector<Stretch>& stretches) {
  std::vector<Edge> edges;
  edges.reserve(stretches.size());
  for (const Stretch& s : stretches) {
    edges.push_back({s.start + s.ticks, !s.high, s.firstRecord + s.records - 1});
  }
  return edges;
}

DiffResult DiffEdges(const std::vector<Edge>& a, const std::vector<Edge>& b,
                     int64_t toleranceTicks) {
  DiffResult r;
  r.edgesA = a.size();
  r.edgesB = b.size();
  int64_t anchorA = 0;
  int64_t anchorB = 0;
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

}  // namespace pulsecut::k58
