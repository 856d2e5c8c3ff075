#include "k58/stretches.h"

#include <gtest/gtest.h>

#include "tape/stretch_clock.h"

namespace pulsecut::k58 {
namespace {

TEST(ToStretchesTest, MergesRecordsOfOneStateAndTimesEachStretch) {
  const std::vector<Stretch> s =
      ToStretches({{false, 10}, {true, 32767}, {true, 32767}, {true, 4466}, {false, 5}});
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[1].ticks, 70000);
  EXPECT_EQ(s[1].start, 10);
  EXPECT_EQ(s[1].firstRecord, 1u);
  EXPECT_EQ(s[1].records, 3u);
  EXPECT_EQ(s[2].start, 70010);
  EXPECT_EQ(TotalTicks(s), 70015);
}

// Stretches of the given state and tick counts, one after the other.
std::vector<Stretch> Alternating(const std::vector<int64_t>& ticks) {
  std::vector<PulseRecord> records;
  for (size_t i = 0; i < ticks.size(); ++i) {
    records.push_back({i % 2 == 1, static_cast<uint16_t>(ticks[i])});
  }
  return ToStretches(records);
}

TEST(HistogramTest, BinsSoThatTwoToneClassesAreSeparatePeaks) {
  // 1200 Hz and 2400 Hz half periods (46 and 23 ticks: 414 and 207 us) and a few runts.
  std::vector<int64_t> ticks;
  for (int i = 0; i < 400; ++i) ticks.push_back(i % 3 == 0 ? 46 : 23);
  for (int i = 0; i < 5; ++i) ticks.push_back(3);
  const Histogram h = MakeHistogram(Alternating(ticks));
  EXPECT_EQ(h.binMicroseconds, 20);  // 414 * 1.25 over 40 bins, rounded up to 20
  EXPECT_EQ(Peaks(h), (std::vector<int64_t>{210, 410}));
  const LabelBounds bounds = DefaultLabelBounds(h);
  EXPECT_EQ(bounds.shorterThanMicroseconds, 105);
  EXPECT_EQ(bounds.longerThanMicroseconds, 820);
}

TEST(HistogramTest, CountsTheLongestStretchesAsOverflow) {
  std::vector<int64_t> ticks(300, 23);
  ticks.push_back(30000);
  const Histogram h = MakeHistogram(Alternating(ticks));
  EXPECT_EQ(h.highOverflow + h.lowOverflow, 1u);
}

TEST(HistogramTest, AnEmptyImageHasNoPeaksAndLabelsNothing) {
  const Histogram h = MakeHistogram({});
  EXPECT_TRUE(Peaks(h).empty());
  EXPECT_EQ(DefaultLabelBounds(h).shorterThanMicroseconds, 0);
  EXPECT_EQ(DefaultLabelBounds(h).longerThanMicroseconds, INT64_MAX);
}

TEST(SampleRateTest, RecoversTheSampleCountsOfEveryStretch) {
  // Stretches of 3..40 samples at 22050 Hz, as pulsecut times them.
  StretchClock clock(22050);
  std::vector<int64_t> ticks;
  std::vector<uint64_t> samples;
  for (uint64_t g = 3; g < 40; ++g) {
    samples.push_back(g);
    ticks.push_back(clock.Ticks(g));
  }
  const std::vector<Stretch> stretches = Alternating(ticks);
  EXPECT_EQ(InferSampleRate(stretches), 22050u);
  const auto counts = SampleCounts(stretches, 22050);
  for (size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(counts[i], samples[i]);
  // Every tick count from 100 to 119: at each usual rate a sample adds more than a tick, so
  // some of these counts are skipped.
  std::vector<int64_t> consecutive;
  for (int64_t t = 100; t < 120; ++t) consecutive.push_back(t);
  EXPECT_EQ(InferSampleRate(Alternating(consecutive)), std::nullopt);
}

}  // namespace
}  // namespace pulsecut::k58
