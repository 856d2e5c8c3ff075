#include "analysis/level_map.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace pulsecut {
namespace {

// The level updates one by one.
uint32_t Follow(uint32_t level, const std::vector<uint32_t>& means) {
  for (const uint32_t mean : means) level = (level + mean) >> 1;
  return level;
}

LevelMap MapOf(uint32_t first, uint32_t last, const std::vector<uint32_t>& means) {
  LevelMap map(first, last);
  for (const uint32_t mean : means) map.Accept(mean);
  return map;
}

// Random stretches of high-side means, none at all, a few, many, and long runs of one mean,
// each composed after another: the map gives what following every start through both does.
TEST(LevelMapTest, ComposedMapsFollowEveryStart) {
  std::mt19937 engine(3);
  auto random = [&] { return static_cast<uint32_t>(engine()); };
  auto stretch = [&](int kind) {
    std::vector<uint32_t> means;
    const size_t count = kind == 0 ? 0 : kind == 1 ? 1 + random() % 4 : 10 + random() % 40;
    const uint32_t plateau = 0x8201 + random() % 0x7DFF;
    for (size_t i = 0; i < count; ++i) {
      means.push_back(kind == 3 ? plateau : 0x8201 + random() % 0x7DFF);
    }
    return means;
  };
  for (int round = 0; round < 64; ++round) {
    const std::vector<uint32_t> earlier = stretch(round % 4);
    const std::vector<uint32_t> later = stretch(round / 4 % 4);
    LevelMap map = MapOf(0x8000, 0xFFFF, later);
    map.After(MapOf(0x8000, 0xFFFF, earlier));
    std::vector<uint32_t> both = earlier;
    both.insert(both.end(), later.begin(), later.end());
    bool constant = true;
    for (uint32_t start = 0x8000; start <= 0xFFFF; ++start) {
      ASSERT_EQ(map.Apply(start), Follow(start, both)) << "round " << round << ", " << start;
      constant = constant && Follow(start, both) == Follow(0x8000, both);
    }
    EXPECT_EQ(map.LowestEnd(), Follow(0x8000, both));
    EXPECT_EQ(map.HighestEnd(), Follow(0xFFFF, both));
    EXPECT_EQ(map.Constant(), constant) << "round " << round;
  }
}

TEST(LevelMapTest, AMapFromOneStartIsConstant) {
  LevelMap later = MapOf(0x8000, 0xFFFF, {0xC000, 0xC000});
  later.After(MapOf(0x8000, 0x8000, {0xF000}));
  EXPECT_TRUE(later.Constant());
  EXPECT_EQ(later.LowestEnd(), Follow(0x8000, {0xF000, 0xC000, 0xC000}));
  EXPECT_TRUE(LevelMap(0x8000, 0x8000).Constant());
  EXPECT_FALSE(LevelMap(0x8000, 0x8001).Constant());
}

// A run of one mean leaves two ends; which one depends on the start, and a bound on the start
// can decide it.
TEST(LevelMapTest, ARunOfOneMeanIsConstantOnlyWithinABound) {
  const LevelMap map = MapOf(0x8000, 0xFFFF, std::vector<uint32_t>(100, 0xF000));
  EXPECT_FALSE(map.Constant());
  EXPECT_EQ(map.LowestEnd(), 0xEFFFu);
  EXPECT_EQ(map.HighestEnd(), 0xF000u);
  EXPECT_TRUE(map.ConstantWithin(0x8000, 0xEFFF));
  EXPECT_TRUE(map.ConstantWithin(0xF000, 0xFFFF));
  EXPECT_FALSE(map.ConstantWithin(0x8000, 0xF000));
  EXPECT_TRUE(LevelMap(0x8000, 0xFFFF).ConstantWithin(0x8000, 0x8000));
  EXPECT_FALSE(LevelMap(0x8000, 0xFFFF).ConstantWithin(0x8000, 0x8001));
}

}  // namespace
}  // namespace pulsecut
