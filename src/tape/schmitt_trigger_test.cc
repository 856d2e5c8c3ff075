#include "tape/schmitt_trigger.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace pulsecut {
namespace {

TEST(SchmittTriggerTest, ThresholdsLieHalfWayToTheLevels) {
  struct Case {
    uint32_t high, low, upper, lower;
  };
  for (const Case c :
       {Case{0xFFFF, 0, 0xBFFF, 0x4000}, Case{0x8400, 0x7D00, 0x8200, 0x7E80},
        Case{0xC000, 0x4000, 0xA000, 0x6000}, Case{0x8000, 0x8000, 0x8000, 0x8000},
        // Levels on the wrong side of the centre wrap beyond every sample.
        Case{0x7000, 0, 0x80007800, 0x4000}, Case{0xFFFF, 0x9000, 0xBFFF, 0x80008800}}) {
    SchmittTrigger t(c.high, c.low);
    EXPECT_EQ(t.upper(), c.upper) << std::hex << c.high;
    EXPECT_EQ(t.lower(), c.lower) << std::hex << c.low;
    EXPECT_FALSE(t.state());
  }
}

TEST(SchmittTriggerTest, RisesAboveUpperAndFallsBelowLower) {
  SchmittTrigger t(0x8400, 0x7D00);  // upper 0x8200, lower 0x7E80
  EXPECT_FALSE(t.Process(0x8000));
  EXPECT_FALSE(t.Process(0x8200));  // equal to upper: stays low
  EXPECT_TRUE(t.Process(0x8201));
  EXPECT_TRUE(t.Process(0x7E80));  // equal to lower: stays high
  EXPECT_FALSE(t.Process(0x7E7F));
}

TEST(SchmittTriggerTest, ALowLevelAboveTheCentreDropsAHighOutputAtOnce) {
  SchmittTrigger t(0xFFFF, 0x9000);
  EXPECT_TRUE(t.Process(0xFFFF));
  EXPECT_FALSE(t.Process(0xFFFF));
}

// ProcessUntilChange must stop exactly where a loop of Process changes the state.
TEST(SchmittTriggerTest, ProcessUntilChangeStopsWhereProcessChanges) {
  std::mt19937 random(3);
  for (int round = 0; round < 200; ++round) {
    const uint32_t high = random() % 0x10000;
    const uint32_t low = random() % 0x10000;
    std::vector<uint16_t> v(random() % 40);
    for (uint16_t& x : v) x = static_cast<uint16_t>(random() % 3 == 0 ? random() : 0x8000);
    SchmittTrigger fast(high, low);
    SchmittTrigger plain(high, low);
    size_t start = 0;
    while (start < v.size()) {
      const bool before = plain.state();
      size_t expected = start;
      while (expected < v.size() && plain.Process(v[expected]) == before) ++expected;
      const size_t got = fast.ProcessUntilChange(v.data() + start, v.size() - start) + start;
      ASSERT_EQ(got, expected);
      ASSERT_EQ(fast.state(), plain.state());
      start = got + 1;
    }
  }
}

}  // namespace
}  // namespace pulsecut
