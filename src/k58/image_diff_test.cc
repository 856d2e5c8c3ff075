#include "k58/image_diff.h"

#include <gtest/gtest.h>

namespace pulsecut::k58 {
namespace {

std::vector<Edge> EdgesOf(const std::vector<int64_t>& ticks) {
  std::vector<PulseRecord> records;
  for (size_t i = 0; i < ticks.size(); ++i) {
    records.push_back({i % 2 == 1, static_cast<uint16_t>(ticks[i])});
  }
  return Edges(ToStretches(records));
}

TEST(DiffEdgesTest, IdenticalImagesAgree) {
  const auto a = EdgesOf({10, 20, 30, 40});
  const DiffResult r = DiffEdges(a, a, 0);
  EXPECT_TRUE(r.Agree());
  EXPECT_EQ(r.matched, 4u);
  EXPECT_EQ(r.largestDeviationTicks, 0);
}

TEST(DiffEdgesTest, DriftThatAddsUpIsNotADisagreement) {
  // B runs a tick short on every stretch: after 1000 stretches it is 1000 ticks behind, but
  // each edge is within one tick of A's relative to the edge before.
  std::vector<int64_t> a(1000, 23);
  std::vector<int64_t> b(1000, 22);
  const DiffResult r = DiffEdges(EdgesOf(a), EdgesOf(b), 1);
  EXPECT_TRUE(r.Agree());
  EXPECT_EQ(r.largestDeviationTicks, 1);
}

TEST(DiffEdgesTest, ARuntInOneImageIsTwoEdgesOnlyThere) {
  // B has a 2-tick low runt inside A's second (high) stretch.
  const auto a = EdgesOf({23, 46, 23});
  const auto b = EdgesOf({23, 20, 2, 24, 23});
  const DiffResult r = DiffEdges(a, b, 1);
  EXPECT_FALSE(r.Agree());
  EXPECT_EQ(r.matched, 3u);
  EXPECT_EQ(r.onlyA, 0u);
  EXPECT_EQ(r.onlyB, 2u);
  ASSERT_TRUE(r.firstDisagreementB);
  EXPECT_EQ(r.firstDisagreementB->time, 43);
  EXPECT_EQ(r.firstDisagreementB->record, 1u);
}

TEST(DiffEdgesTest, EdgesOfOppositeDirectionNeverMatch) {
  // The same times, but B starts high.
  std::vector<Edge> a = EdgesOf({10, 10});
  std::vector<Edge> b = a;
  for (Edge& e : b) e.rising = !e.rising;
  const DiffResult r = DiffEdges(a, b, 5);
  EXPECT_EQ(r.matched, 0u);
  EXPECT_EQ(r.onlyA + r.onlyB, 4u);
}

TEST(DiffEdgesTest, AMissingTailIsOnlyInTheLongerImage) {
  const DiffResult r = DiffEdges(EdgesOf({10, 10, 10, 10}), EdgesOf({10, 10}), 0);
  EXPECT_EQ(r.matched, 2u);
  EXPECT_EQ(r.onlyA, 2u);
  ASSERT_TRUE(r.firstDisagreementA);
  EXPECT_EQ(r.firstDisagreementA->record, 2u);
}

}  // namespace
}  // namespace pulsecut::k58
