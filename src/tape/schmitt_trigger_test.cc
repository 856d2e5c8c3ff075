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

// Each mask bit must say what Process would do at that value in that state, for levels on
// either side of the centre and beyond it.
TEST(SchmittTriggerTest, MasksAgreeWithProcess) {
  std::mt19937 random(4);
  uint16_t values[64];
  for (int round = 0; round < 500; ++round) {
    const uint32_t high = round % 5 == 0 ? static_cast<uint32_t>(random()) : random() % 0x10000;
    const uint32_t low = round % 7 == 0 ? static_cast<uint32_t>(random()) : random() % 0x10000;
    const SchmittTrigger trigger(high, low);
    for (uint16_t& v : values) v = static_cast<uint16_t>(random());
    // The edges of the scale and values right at the thresholds.
    const uint32_t edges[] = {0,
                              1,
                              0x7FFF,
                              0x8000,
                              0xFFFE,
                              0xFFFF,
                              trigger.upper(),
                              trigger.upper() + 1,
                              trigger.lower(),
                              trigger.lower() - 1};
    for (uint32_t e : edges) values[random() % 64] = static_cast<uint16_t>(e);
    const ChangeMasks masks = trigger.Masks(values);
    for (size_t i = 0; i < 64; ++i) {
      SchmittTrigger fromLow(high, low);
      SchmittTrigger fromHigh(high, low);
      fromHigh.Process(0xFFFFFFFF);  // high, unless upper is out of reach
      ASSERT_EQ(((masks.rises >> i) & 1) != 0, fromLow.Process(values[i])) << i;
      if (fromHigh.state()) {
        ASSERT_EQ(((masks.falls >> i) & 1) != 0, !fromHigh.Process(values[i])) << i;
      }
    }
  }
}

// The masks of 8-bit samples, taken from their bytes, must be those of their values.
TEST(SchmittTriggerTest, ByteMasksEqualTheMasksOfTheValues) {
  std::mt19937 random(6);
  uint8_t bytes[64];
  uint16_t values[64];
  for (int round = 0; round < 2000; ++round) {
    const uint32_t high = round % 5 == 0 ? static_cast<uint32_t>(random()) : random() % 0x10000;
    const uint32_t low = round % 7 == 0 ? static_cast<uint32_t>(random()) : random() % 0x10000;
    const SchmittTrigger trigger(high, low);
    const uint8_t lowByte = round % 2 ? 0xFF : 0x00;
    for (size_t i = 0; i < 64; ++i) {
      bytes[i] = static_cast<uint8_t>(i < 4 ? (trigger.upper() >> 8) + i - 2 : random());
      values[i] = static_cast<uint16_t>((bytes[i] << 8) | lowByte);
    }
    const ChangeMasks fromBytes = trigger.Masks(bytes, lowByte);
    const ChangeMasks fromValues = trigger.Masks(values);
    ASSERT_EQ(fromBytes.rises, fromValues.rises) << std::hex << high << " " << low;
    ASSERT_EQ(fromBytes.falls, fromValues.falls) << std::hex << high << " " << low;
  }
}

}  // namespace
}  // namespace pulsecut
