#include "k58/render.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "memory_file.h"
#include "wav_fixture.h"

namespace pulsecut::k58 {
namespace {

TEST(EdgeSampleTest, PlacesEdgesByTheRunningTimeWithoutDrift) {
  // 100000 stretches of 3 ticks (27 us) at 44100 Hz: rounding each stretch to whole samples
  // (1.19 -> 1) would lose 19070 samples; the running time puts the last edge exactly.
  EXPECT_EQ(EdgeSample(300000, 44100), 119070u);
  EXPECT_EQ(EdgeSample(0, 44100), 0u);
  EXPECT_EQ(EdgeSample(1, 44100), 0u);  // 9 us is 0.40 samples
  EXPECT_EQ(EdgeSample(2, 44100), 1u);  // 18 us is 0.79 samples
  // Hours of tape at a high rate do not overflow: 10^10 ticks is 25 hours.
  EXPECT_EQ(EdgeSample(10000000000, 1000000), 90000000000u);
}

TEST(RenderWavTest, WritesTheHeaderPaddingAndOneLevelPerStretch) {
  testing::Output output;
  // At 8000 Hz a tick is 0.072 samples: 28 ticks end at sample 2, 56 at sample 4.
  const std::vector<Stretch> stretches = ToStretches({{false, 28}, {true, 28}});
  ASSERT_TRUE(RenderWav(stretches, 8000, 8, output.stream()));
  const std::string wav = output.Bytes();
  ASSERT_EQ(wav.size(), 44u + 14 + 4);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(wav.substr(44), std::string(14, '\x20') + "\x20\x20\xE0\xE0");
}

}  // namespace
}  // namespace pulsecut::k58
