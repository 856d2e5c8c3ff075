#include "tape/pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace pulsecut {
namespace {

struct Item {
  int value = -1;
};

// Produces 0, 1, ... `count` - 1 and collects what the consumer sees.
std::vector<int> Pass(size_t ringSize, int count, int stopAfter = -1) {
  std::vector<Item> ring(ringSize);
  int next = 0;
  std::vector<int> seen;
  RunPipeline(
      std::span<Item>(ring),
      [&](Item& item) {
        item.value = next++;
        return next < count;
      },
      [&](Item& item) {
        seen.push_back(item.value);
        return static_cast<int>(seen.size()) != stopAfter;
      });
  return seen;
}

TEST(RunPipelineTest, EveryItemArrivesOnceInOrder) {
  for (size_t ringSize : {size_t{1}, size_t{2}, size_t{3}, size_t{8}}) {
    for (int count : {1, 2, 3, 7, 1000}) {
      std::vector<int> expected;
      for (int i = 0; i < count; ++i) expected.push_back(i);
      EXPECT_EQ(Pass(ringSize, count), expected) << ringSize << " items, " << count << " values";
    }
  }
}

TEST(RunPipelineTest, AConsumerThatStopsGetsNothingMoreAndTheProducerStops) {
  for (size_t ringSize : {size_t{1}, size_t{2}, size_t{3}}) {
    for (int stopAfter : {1, 2, 5}) {
      // The producer would go on forever; the call returns only if it stops.
      std::vector<Item> ring(ringSize);
      int produced = 0;
      int consumed = 0;
      RunPipeline(
          std::span<Item>(ring),
          [&](Item& item) {
            item.value = produced++;
            return true;
          },
          [&](Item&) { return ++consumed != stopAfter; });
      EXPECT_EQ(consumed, stopAfter);
      EXPECT_LE(produced, stopAfter + static_cast<int>(ringSize));
    }
  }
}

TEST(RunPipelineTest, TheProducerNeverOverwritesAnItemTheConsumerHolds) {
  constexpr size_t kRing = 3;
  std::vector<Item> ring(kRing);
  std::atomic<int> produced{0};
  std::atomic<int> consumed{0};
  int aheadMost = 0;
  int next = 0;
  bool intact = true;
  RunPipeline(
      std::span<Item>(ring),
      [&](Item& item) {
        const int ahead = produced.load() - consumed.load();
        if (ahead > aheadMost) aheadMost = ahead;
        item.value = next++;
        ++produced;
        return next < 20000;
      },
      [&](Item& item) {
        // The item still holds the value it was produced with, however far the producer is.
        intact = intact && item.value == consumed.load();
        ++consumed;
        return true;
      });
  EXPECT_TRUE(intact);
  EXPECT_EQ(consumed.load(), 20000);
  EXPECT_LE(aheadMost, static_cast<int>(kRing));
}

}  // namespace
}  // namespace pulsecut
