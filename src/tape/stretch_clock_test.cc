#include "tape/stretch_clock.h"

#include <gtest/gtest.h>

#include <cmath>

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

// The shortcut through whole binades against one addition after the other, at every length
// up to ten million for rates of every kind: exact powers of two, periods whose last bit makes
// ties in some binade, and the extremes.
TEST(AddRepeatedlyTest, EqualsOneAdditionAfterTheOther) {
  for (uint32_t rate : {1u, 2u, 3u, 7u, 1024u, 8000u, 11025u, 22050u, 44100u, 48000u, 96000u,
                        192000u, 1000003u, 123456789u, 2147483648u, 4000000000u, 4294967295u}) {
    const double period = 1.0 / rate;
    double sum = 0.0;
    uint64_t next = 1;  // the next count to compare, ever further apart
    for (uint64_t count = 1; count <= 10000000; ++count) {
      sum += period;
      if (count == next) {
        ASSERT_EQ(AddRepeatedly(0.0, period, count), sum) << rate << " Hz, " << count;
        next += 1 + next / 97;
      }
    }
  }
}

TEST(AddRepeatedlyTest, ContinuesFromAnyStart) {
  for (const double start : {0.25, 1.0 / 3, 1000.0, 0.9999999999}) {
    double sum = start;
    for (uint64_t count = 1; count <= 3000000; ++count) {
      sum += 1.0 / 44100;
      if (count % 9973 == 0) {
        ASSERT_EQ(AddRepeatedly(start, 1.0 / 44100, count), sum) << start << ", " << count;
      }
    }
  }
}

// Periods of k + 1/2 ulps: every addition is a tie, which rounding to even settles by the parity
// of the sum (an odd sum first rounds differently from every later addition).
TEST(AddRepeatedlyTest, TiesRoundToEvenAsTheyWould) {
  const double ulp = std::ldexp(1.0, -52);  // of the binade [1, 2)
  for (const double period : {2.5 * ulp, 3.5 * ulp, 0.5 * ulp, 1.5 * ulp}) {
    for (const double start : {1.0, 1.0 + ulp, 1.0 + 2 * ulp}) {
      double sum = start;
      for (uint64_t count = 1; count <= 200000; ++count) {
        sum += period;
        if (count % 997 == 0 || count < 10) {
          ASSERT_EQ(AddRepeatedly(start, period, count), sum)
              << period / ulp << " ulps from " << (start - 1.0) / ulp << ", " << count;
        }
      }
    }
  }
}

// A sum of tiny periods stops growing once half an ulp exceeds the period; the shortcut must
// reach that point (and stay there) without doing the additions.
TEST(AddRepeatedlyTest, ASumThatStopsGrowingStaysWhereItStopped) {
  const double period = std::ldexp(1.0, -60);
  const double stalled = 1.0;  // 1 + 2^-60 rounds back to 1
  EXPECT_EQ(AddRepeatedly(stalled, period, uint64_t{1} << 62), stalled);
  EXPECT_EQ(AddRepeatedly(stalled, 0.0, 1000), stalled);
}

TEST(StretchClockTest, LongStretchesEqualRepeatedAddition) {
  // A silent hour at 44100 Hz against the plain loop.
  for (const uint64_t samples : {uint64_t{44100} * 3600}) {
    EXPECT_EQ(StretchClock(44100).Ticks(samples), SumTicks(44100, samples)) << samples;
  }
}

TEST(StretchClockTest, CountsStretchesBeyondThirtyTwoBits) {
  // At 1 Hz a sample lasts 111111 ticks; 20000 of them exceed 2^31 ticks.
  EXPECT_EQ(StretchClock(1).Ticks(20000), SumTicks(1, 20000));
  EXPECT_GT(StretchClock(1).Ticks(20000), int64_t{1} << 31);
}

}  // namespace
}  // namespace pulsecut
