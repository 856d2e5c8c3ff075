#include "tape/stretch_clock.h"

#include <gtest/gtest.h>

namespace pulsecut {
namespace {

// The timing by definition: one addition per sample from 0.0, then multiply and truncate.
int64_t SumTicks(uint32_t rate, uint64_t samples) {
  const double period = 1.0 / rate;
  double t = 0.0;
  for (uint64_t i = 0; i < samples; ++i) t += period;
  return static_cast<int64_t>(t * 111111.11111111111);
}

TEST(StretchClockTest, GivesTheWorkedDurations) {
  struct Case {
    uint32_t rate;
    uint64_t samples;
    int64_t ticks;
  };
  for (const Case c :
       {Case{44100, 1, 2}, Case{44100, 2, 5}, Case{44100, 10, 25}, Case{44100, 18, 45},
        Case{44100, 100, 251}, Case{11025, 1, 10}, Case{11025, 10, 100}, Case{11025, 100, 1007},
        Case{8000, 1, 13}, Case{8000, 10, 138}, Case{192000, 1, 0}}) {
    EXPECT_EQ(StretchClock(c.rate).Ticks(c.samples), c.ticks) << c.rate << " Hz, " << c.samples;
  }
}

TEST(StretchClockTest, EqualsRepeatedAdditionInsideAndBeyondTheTable) {
  for (uint32_t rate : {1u, 7u, 8000u, 22050u, 44100u, 48000u, 96000u, 4000000000u}) {
    StretchClock clock(rate);
    for (uint64_t samples :
         {1u, 2u, 3u, 4095u, 4096u, 4097u, 10000u, 8191u, 8192u, 123457u, 9000u}) {
      ASSERT_EQ(clock.Ticks(samples), SumTicks(rate, samples)) << rate << " Hz, " << samples;
    }
  }
}

TEST(StretchClockTest, CountsStretchesBeyondThirtyTwoBits) {
  // At 1 Hz a sample lasts 111111 ticks; 20000 of them exceed 2^31 ticks.
  EXPECT_EQ(StretchClock(1).Ticks(20000), SumTicks(1, 20000));
  EXPECT_GT(StretchClock(1).Ticks(20000), int64_t{1} << 31);
}

}  // namespace
}  // namespace pulsecut
