#include "analysis/level_analyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../examples/tape_signal.h"
#include "reference.h"
#include "wav/wave_file.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Format;
using testing::Wav;
using testing::Words;

struct Levels {
  uint32_t high, low;
  bool operator==(const Levels&) const = default;
};

Levels Analyze(const std::string& wav, bool phaseNormal, const testing::TempDir& dir) {
  testing::WriteFile(dir.Path("in.wav"), wav);
  LevelAnalyzer analyzer;
  uint32_t minDeviation = 0;
  Levels levels{0, 0};
  EXPECT_TRUE(analyzer
                  .Analyze(dir.Path("in.wav").c_str(), &minDeviation, &levels.high, &levels.low,
                           phaseNormal)
                  .ok());
  EXPECT_EQ(minDeviation, 512u);
  return levels;
}

std::vector<uint16_t> Steady(uint16_t value, size_t count) {
  return std::vector<uint16_t>(count, value);
}

struct WindowCase {
  const char* name;
  std::vector<uint16_t> samples;  // 16-bit mono, as stored
  bool phaseNormal;
  Levels levels;
};

// Test names show the case name alone.
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

class AnalyzeWindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(AnalyzeWindowTest, MovesTheLevelsAsTheWindowsSay) {
  testing::TempDir dir;
  const WindowCase& c = GetParam();
  const std::string wav = Wav({1, 16}, Words(c.samples));
  EXPECT_EQ(Analyze(wav, c.phaseNormal, dir), c.levels);
  const testing::ReferenceLevels reference =
      testing::ReferenceAnalyze(dir.Path("in.wav"), c.phaseNormal);
  EXPECT_EQ((Levels{reference.high, reference.low}), c.levels);
}

std::vector<uint16_t> Alternating(uint16_t a, uint16_t b, size_t count) {
  std::vector<uint16_t> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = i % 2 ? b : a;
  return v;
}

// A window counts once it is full of the steady value; the last value, built from failed
// reads (0xFFFF for 16-bit mono), never makes a steady window here.
INSTANTIATE_TEST_SUITE_P(
    Windows, AnalyzeWindowTest,
    ::testing::Values(
        WindowCase{"Centre", Steady(0x8000, 100), true, {0x8000, 0x8000}},
        WindowCase{"AtTheMinimumDeviation", Steady(0x8200, 100), true, {0x8000, 0x8000}},
        WindowCase{"JustBeyondIt", Steady(0x8201, 10), true, {0x8100, 0x8000}},
        WindowCase{"AtTheMinimumDeviationBelow", Steady(0x7E00, 100), true, {0x8000, 0x8000}},
        WindowCase{"JustBeyondItBelow", Steady(0x7DFF, 10), true, {0x8000, 0x7EFF}},
        WindowCase{"HighFirstStep", Steady(0xC000, 10), true, {0xA000, 0x8000}},
        WindowCase{"HighSecondStep", Steady(0xC000, 11), true, {0xB000, 0x8000}},
        WindowCase{"HighThirdStep", Steady(0xC000, 12), true, {0xB800, 0x8000}},
        WindowCase{"LowSteps", Steady(0x4000, 11), true, {0x8000, 0x5000}},
        WindowCase{"WideSwing", Alternating(0xA000, 0xA400, 100), true, {0x8000, 0x8000}},
        WindowCase{"DigitalSilence", Steady(0x0000, 100), true, {0x8000, 0x0000}},
        WindowCase{"ReversePhase", Steady(0x3000, 10), false, {0xA7FF, 0x8000}}),
    [](const auto& p) { return std::string(p.param.name); });

// The window statistics as written out in 64-bit arithmetic, reduced to 32 bits where the
// pass wraps: the fast unrolled form must match it.
WindowStats WideWindow(const uint16_t* newest) {
  int64_t m = 0;
  int64_t s = 0;
  for (int64_t k = 1; k <= 10; ++k) {
    const int64_t d = newest[1 - k] - m;
    m += d / k;
    const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(d * d * (k - 1)));
    s = static_cast<int32_t>(static_cast<uint32_t>(s + product / k));
  }
  return {static_cast<int32_t>(m), static_cast<int32_t>(s)};
}

TEST(WindowTest, ProductsWrapInThirtyTwoBits) {
  // Newest first 0xFFFF, then nine 0x0000: the products of the later steps leave 32 bits.
  uint16_t window[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFFFF};
  const WindowStats stats = ComputeWindow(window + 9);
  EXPECT_EQ(stats.mean, 6556);
  EXPECT_EQ(stats.squares, WideWindow(window + 9).squares);
  int64_t unwrapped = 0, m = 0;
  for (int64_t k = 1; k <= 10; ++k) {
    const int64_t d = window[10 - k] - m;
    m += d / k;
    unwrapped += d * d * (k - 1) / k;
  }
  EXPECT_NE(stats.squares, unwrapped);
  std::mt19937 random(5);
  for (int i = 0; i < 200000; ++i) {
    uint16_t w[10];
    const uint16_t base = static_cast<uint16_t>(random());
    const uint32_t spread = 1u << (random() % 17);
    for (uint16_t& x : w) x = static_cast<uint16_t>(base + random() % spread);
    const WindowStats fast = ComputeWindow(w + 9);
    const WindowStats wide = WideWindow(w + 9);
    ASSERT_EQ(fast.mean, wide.mean);
    ASSERT_EQ(fast.squares, wide.squares);
  }
}

// IsSteady replaces trunc(sqrt(s / 9)) < 120; the two agree on every sum near the bound and
// on the sums whose truncated variance is 0 although they are negative.
TEST(WindowTest, IsSteadyEqualsTheSquareRootTest) {
  auto bySquareRoot = [](int32_t s) {
    const int32_t var = s / 9;
    return var >= 0 && static_cast<int32_t>(std::sqrt(static_cast<double>(var))) < 120;
  };
  for (int32_t s = -100000; s <= 2000000; ++s) ASSERT_EQ(IsSteady(s), bySquareRoot(s)) << s;
  for (int32_t s : {INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 8}) {
    EXPECT_EQ(IsSteady(s), bySquareRoot(s)) << s;
  }
  EXPECT_TRUE(IsSteady(-8));  // var 0
  EXPECT_FALSE(IsSteady(-9));
  EXPECT_TRUE(IsSteady(129599));
  EXPECT_FALSE(IsSteady(129600));
}

TEST(AnalyzeTest, WritesNothingWhenTheFileCannotBeOpened) {
  LevelAnalyzer analyzer;
  uint32_t minDeviation = 7, high = 7, low = 7;
  const Status status = analyzer.Analyze("/nonexistent/in.wav", &minDeviation, &high, &low, true);
  EXPECT_EQ(status.code(), Status::Code::kSourceOpen);
  EXPECT_EQ(status.errorNumber(), ENOENT);
  EXPECT_EQ(minDeviation + high + low, 21u);
}

// A recording built so that only the 20000 values from `steadyFrom` on hold steady windows:
// the levels at the end depend on them, and no shorter tail of the recording settles them.
std::string SteadyStartThenNoise(uint32_t frames, uint32_t seed, uint32_t steadyFrom = 0) {
  std::mt19937 random(seed);
  std::string data;
  for (uint32_t i = 0; i < frames; ++i) {
    int value;
    if (i >= steadyFrom && i < steadyFrom + 20000) {
      value = (i / 30) % 2 ? 0xD0 : 0x30;
    } else {
      value = static_cast<int>(random() % 256);
    }
    data += static_cast<char>(value);
  }
  return data;
}

// A tail with a few steady windows at its very end: not enough to forget what came before.
std::string FewSteadyWindowsAtTheEnd(uint32_t frames) {
  std::string data = SteadyStartThenNoise(frames, 9);
  for (size_t i = data.size() - 14; i < data.size(); ++i) data[i] = static_cast<char>(0xC8);
  return data;
}

// The analysis against the sample-by-sample reference, on short and long recordings of every
// format and on recordings built to defeat reading only the tail.
TEST(AnalyzeTest, EqualsTheReferenceOnManyRecordings) {
  testing::TempDir dir;
  std::mt19937 random(13);
  std::vector<std::pair<Format, std::string>> recordings;
  for (const Format format :
       {Format{1, 8, 44100}, Format{2, 8, 22050}, Format{1, 16, 48000}, Format{2, 16, 44100}}) {
    for (uint32_t frames : {5u, 3000u, 70000u, 300000u}) {
      tape_signal::Options options;
      options.sampleRate = format.sampleRate;
      options.seed = static_cast<uint32_t>(random());
      options.noise = static_cast<double>(random() % 4) * 0.0015;
      std::string data =
          tape_signal::Recording(format.channels, format.bitsPerSample, frames, options).substr(44);
      if (random() % 2) data.pop_back();  // end inside a frame
      recordings.push_back({format, data});
    }
  }
  // Long enough to be taken in three pieces: the last 65536 windows, the 524288 before them,
  // and the rest from the start.
  constexpr uint32_t kLong = 700000;
  recordings.push_back({Format{1, 8}, SteadyStartThenNoise(kLong, 1)});
  recordings.push_back({Format{1, 8}, SteadyStartThenNoise(kLong, 2, 300000)});
  recordings.push_back({Format{1, 8}, FewSteadyWindowsAtTheEnd(kLong)});
  // The same with silence between: the piece before the last moves neither level.
  std::string silentMiddle = FewSteadyWindowsAtTheEnd(kLong);
  silentMiddle.replace(20000, kLong - 20000 - 14, std::string(kLong - 20000 - 14, '\x80'));
  recordings.push_back({Format{1, 8}, silentMiddle});
  // Steady low plateaus of one value to the end: the tail leaves the low level two values apart
  // for ever, and the high level was only ever moved at the start.
  std::string oneSided(4096, '\0');
  for (size_t i = 0; i < oneSided.size(); ++i) oneSided[i] = (i / 30) % 2 ? '\xD0' : '\x80';
  while (oneSided.size() < kLong) oneSided += std::string(20, '\x30') + std::string(20, '\x80');
  recordings.push_back({Format{1, 8}, oneSided});
  // Clipped plateaus: one mean, again and again, to the end. At the scale's end (0xFF, 0x00),
  // below it (0xF0, 0x10), and below it with one louder spike early on.
  auto clipped = [](char high, char low) {
    std::string data;
    while (data.size() < kLong) data += std::string(18, high) + std::string(18, low);
    return data;
  };
  recordings.push_back({Format{1, 8}, clipped('\xFF', '\x00')});
  recordings.push_back({Format{1, 8}, clipped('\xF0', '\x10')});
  std::string spiked = clipped('\xF0', '\x10');
  spiked.replace(1000, 12, std::string(12, '\xFA'));
  spiked.replace(2000, 12, std::string(12, '\x05'));
  recordings.push_back({Format{1, 8}, spiked});
  // The same spikes just before the last piece: the bound must take every value before it.
  spiked = clipped('\xF0', '\x10');
  spiked.replace(spiked.size() - 65536 - 1000, 12, std::string(12, '\xFA'));
  spiked.replace(spiked.size() - 65536 - 2000, 12, std::string(12, '\x05'));
  recordings.push_back({Format{1, 8}, spiked});
  // Noise with one steady window on each side, ending at or next to where the pieces meet:
  // each window must be judged once, in whichever piece. Value i is data byte 14 + i (the
  // passes start at byte 58), and the value made of failed reads comes last.
  constexpr uint32_t kValues = kLong - 14 + 1;
  for (const uint32_t end : {kValues - 65536 - 1, kValues - 65536, kValues - 65536 - 524288 - 1,
                             kValues - 65536 - 524288, 9u, 10u}) {
    std::mt19937 noise(end);
    std::string data(kLong, '\0');
    for (char& c : data) c = static_cast<char>(noise());
    data.replace(14 + end - 9, 10, std::string(10, '\xC8'));
    data.replace(14 + end + 20 - 9, 10, std::string(10, '\x38'));
    recordings.push_back({Format{1, 8}, data});
  }
  std::string wrapping;
  for (int i = 0; i < 100000; ++i) wrapping += static_cast<char>(i % 3 ? 0x00 : 0xFF);
  recordings.push_back({Format{1, 8}, wrapping});

  for (const auto& [format, data] : recordings) {
    for (bool phase : {true, false}) {
      const Levels levels = Analyze(Wav(format, data), phase, dir);
      const testing::ReferenceLevels reference =
          testing::ReferenceAnalyze(dir.Path("in.wav"), phase);
      ASSERT_EQ(levels, (Levels{reference.high, reference.low}))
          << format.channels << "ch " << format.bitsPerSample << "bit, " << data.size() << " bytes"
          << (phase ? "" : ", reverse");
    }
  }
}

// One value a little above the rest, at each place of a group of windows and of its history:
// the windows around it are steady and move the high level, so a group must never be skipped
// for missing it.
// The last value, built from failed reads (0xFF00 for 8-bit mono), completes the tenth window:
// nine stored values and it make a steady window at 0xFF00.
TEST(AnalyzeTest, TheValueBuiltFromFailedReadsIsJudged) {
  testing::TempDir dir;
  for (const size_t count : {8u, 9u, 10u}) {
    const Levels levels = Analyze(Wav({1, 8}, testing::Repeat8(0xFF, count)), true, dir);
    EXPECT_EQ(levels, (Levels{count < 9    ? 0x8000u
                              : count == 9 ? 0xBF80u
                                           : 0xDF40u,
                              0x8000}))
        << count;
  }
}

// A clipped start a little above a long square wave's plateau: the plateau settles the high
// level one below the start's value only if the bound from the values before the last piece
// is exact.
TEST(AnalyzeTest, AStartAboveTheLaterPlateauBoundsTheLevelExactly) {
  testing::TempDir dir;
  std::vector<uint16_t> samples(50, 0xF001);
  while (samples.size() < 700000) {
    const uint16_t side = (samples.size() / 40) % 2 ? 0x1000 : 0xF000;
    samples.push_back(side);
  }
  const std::string wav = Wav({1, 16}, Words(samples));
  const Levels levels = Analyze(wav, true, dir);
  const testing::ReferenceLevels reference = testing::ReferenceAnalyze(dir.Path("in.wav"), true);
  EXPECT_EQ(levels, (Levels{reference.high, reference.low}));
  EXPECT_EQ(levels.high, 0xF000u);
}

TEST(AnalyzeTest, ALoneRaisedValueAnywhereInAGroupCounts) {
  testing::TempDir dir;
  for (size_t place = 0; place < 140; ++place) {
    // 16-bit mono: the passes start at sample 7; a few windows follow the raised value.
    std::vector<uint16_t> samples(7 + 64 + place + 4, 0x8200);
    samples[7 + 64 + place - 9] = 0x8300;
    const Levels levels = Analyze(Wav({1, 16}, Words(samples)), true, dir);
    const testing::ReferenceLevels reference = testing::ReferenceAnalyze(dir.Path("in.wav"), true);
    ASSERT_EQ(levels, (Levels{reference.high, reference.low})) << "place " << place;
    ASSERT_NE(reference.high, 0x8000u) << "place " << place;
  }
}

// Plateaus of every length at every position: windows of ten equal values take a shortcut,
// which must give what the full statistics give, also where a plateau starts or ends at the
// border of a group of windows or of a block.
TEST(AnalyzeTest, EqualsTheReferenceOnPlateausOfEveryLength) {
  testing::TempDir dir;
  std::mt19937 random(17);
  for (int round = 0; round < 60; ++round) {
    std::string data;
    const size_t size = round % 10 == 0 ? 140000 : 3000;
    while (data.size() < size) {
      const auto value = static_cast<char>(round % 2 ? random() % 256 : random() % 2 ? 0xE0 : 0x20);
      data += std::string(1 + random() % 24, value);
    }
    for (bool phase : {true, false}) {
      const Levels levels = Analyze(Wav({1, 8}, data), phase, dir);
      const testing::ReferenceLevels reference =
          testing::ReferenceAnalyze(dir.Path("in.wav"), phase);
      ASSERT_EQ(levels, (Levels{reference.high, reference.low})) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace pulsecut
