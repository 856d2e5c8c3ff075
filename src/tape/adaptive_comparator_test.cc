#include "tape/adaptive_comparator.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "memory_file.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

constexpr uint32_t kRate = 44100;
constexpr size_t kHalfWave = 18;  // about 1200 Hz at 44100 Hz

// A 16-bit recording of `values` (on the value scale), surveyed as the first pass does.
AdaptiveStart Survey(const std::vector<uint16_t>& values) {
  std::vector<int16_t> samples;
  for (const uint16_t v : values) samples.push_back(static_cast<int16_t>(v ^ 0x8000));
  WaveFile file;
  file.Attach(
      testing::StreamFailingAt(testing::StandardWav({}, testing::Signed16(samples)), SIZE_MAX),
      ModeRead);
  EXPECT_TRUE(file.ChooseReading({true, ChannelChoice::kMix}).ok());
  AdaptiveStart start;
  EXPECT_TRUE(SurveyRecording(file, true, &start).ok());
  return start;
}

// The indices at which the output changes, the values fed in pieces that end at `cuts`.
std::vector<uint64_t> Changes(const std::vector<uint16_t>& values, const AdaptiveStart& start,
                              const std::vector<size_t>& cuts = {}) {
  AdaptiveComparator comparator(start, kRate);
  std::vector<uint64_t> moves;
  size_t from = 0;
  for (size_t cut : cuts) {
    comparator.Feed(values.data() + from, cut - from, moves);
    from = cut;
  }
  comparator.Feed(values.data() + from, values.size() - from, moves);
  comparator.Finish(moves);
  std::vector<uint64_t> changes;
  for (size_t g = 0; g < moves.size(); ++g) {
    for (uint64_t m = moves[g]; m != 0; m &= m - 1) {
      changes.push_back(g * AdaptiveComparator::kGroup +
                        static_cast<uint64_t>(std::countr_zero(m)));
    }
  }
  return changes;
}

// Hiss of up to +-`size` from a fixed generator.
class Hiss {
 public:
  explicit Hiss(int size) : size_(size) {}
  int Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<int>(state_ >> 16) % (2 * size_ + 1) - size_;
  }

 private:
  int size_;
  uint32_t state_ = 7;
};

// Appends `count` values of `level` (centred) plus hiss.
void Add(std::vector<uint16_t>& v, int level, size_t count, Hiss& hiss) {
  for (size_t i = 0; i < count; ++i)
    v.push_back(static_cast<uint16_t>(0x8000 + level + hiss.Next()));
}

// Appends `cycles` square cycles of +-`amplitude` around `offset`.
void AddTone(std::vector<uint16_t>& v, int amplitude, size_t cycles, Hiss& hiss, int offset = 0) {
  for (size_t c = 0; c < cycles; ++c) {
    Add(v, offset + amplitude, kHalfWave, hiss);
    Add(v, offset - amplitude, kHalfWave, hiss);
  }
}

TEST(AdaptiveComparatorTest, AStepUpAndDownIsTwoEdges) {
  Hiss hiss(200);
  std::vector<uint16_t> v;
  Add(v, 0, 3000, hiss);
  Add(v, 12000, 3000, hiss);
  Add(v, 0, 3000, hiss);
  const std::vector<uint64_t> changes = Changes(v, Survey(v));
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_NEAR(static_cast<double>(changes[0]), 3000, 2);
  EXPECT_NEAR(static_cast<double>(changes[1]), 6000, 2);
}

// Every cycle of a tone gives a rise and a fall, loud or ten times quieter, with or without a
// step in its offset.
TEST(AdaptiveComparatorTest, NoEdgeOfATipIsLostOrAdded) {
  struct Case {
    const char* name;
    int second;  // amplitude of the tone's second half
    int offset;  // and its offset
  };
  for (const Case& c : {Case{"steady", 12000, 0}, Case{"ten times quieter", 1200, 0},
                        Case{"DC step", 12000, 4000}}) {
    Hiss hiss(30);
    std::vector<uint16_t> v;
    Add(v, 0, 4000, hiss);
    AddTone(v, 12000, 200, hiss);
    AddTone(v, c.second, 200, hiss, c.offset);
    Add(v, c.offset, 4000, hiss);
    const std::vector<uint64_t> changes = Changes(v, Survey(v));
    ASSERT_EQ(changes.size(), 800u) << c.name;
    for (size_t i = 0; i < changes.size(); ++i) {
      ASSERT_NEAR(static_cast<double>(changes[i]), 4000.0 + kHalfWave * static_cast<double>(i), 3)
          << c.name << ", edge " << i;
    }
  }
}

// A recording of one long tone has no silence to measure its hiss in: its quietest stretches
// swing as far as its loudest, and must not be taken for hiss.
TEST(AdaptiveComparatorTest, AToneWithoutSilencesKeepsEveryEdge) {
  Hiss hiss(500);
  std::vector<uint16_t> v;
  AddTone(v, 6000, 300, hiss);
  const std::vector<uint64_t> changes = Changes(v, Survey(v));
  ASSERT_EQ(changes.size(), 600u);
  for (size_t i = 0; i < changes.size(); ++i) {
    ASSERT_NEAR(static_cast<double>(changes[i]), kHalfWave * static_cast<double>(i), 3) << i;
  }
}

TEST(AdaptiveComparatorTest, HissInASilenceGivesNoEdge) {
  Hiss hiss(1500);
  std::vector<uint16_t> v;
  Add(v, 0, 2000, hiss);
  AddTone(v, 10000, 100, hiss);
  const size_t silence = v.size();
  Add(v, 0, kRate, hiss);  // a second of hiss
  const size_t end = v.size();
  AddTone(v, 10000, 100, hiss);
  Add(v, 0, 2000, hiss);
  const std::vector<uint64_t> changes = Changes(v, Survey(v));
  size_t inSilence = 0;
  // The last fall of the first tone may come a few values into the silence.
  for (const uint64_t c : changes) inSilence += c >= silence + 10 && c < end;
  EXPECT_EQ(inSilence, 0u);
  EXPECT_EQ(changes.size(), 400u);
}

// The groups are counted from the recording's start: however the values arrive, the changes
// are the same.
TEST(AdaptiveComparatorTest, TheChangesDoNotDependOnHowTheValuesArrive) {
  for (const int hissSize : {30, 3000}) {  // plain, and smoothed
    Hiss hiss(hissSize);
    std::vector<uint16_t> v;
    Add(v, 0, 300, hiss);
    AddTone(v, 9000, 20, hiss);
    Add(v, 0, 300, hiss);
    const AdaptiveStart start = Survey(v);
    const std::vector<uint64_t> whole = Changes(v, start);
    ASSERT_GT(whole.size(), 30u);
    for (size_t cut = 0; cut <= v.size(); ++cut) {
      ASSERT_EQ(Changes(v, start, {cut}), whole) << "cut at " << cut;
    }
    EXPECT_EQ(Changes(v, start, {1, 2, 63, 64, 65, 200, 201, 1000}), whole);
  }
}

// The smoothing's mean, in pieces or at once.
TEST(SmootherTest, GivesTheMeanOfTheLastValues) {
  Smoother smoother(4);
  const uint16_t values[] = {0x8000, 0x8004, 0x8008, 0x800C, 0x7FF0, 0x0000};
  int16_t out[6];
  smoother.Run(values, 2, out);
  smoother.Run(values + 2, 4, out + 2);
  // The values before the first count as the centre.
  const int16_t expected[] = {0, 1, 3, 6, 2, (8 + 12 - 16 - 32768) / 4};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

}  // namespace
}  // namespace pulsecut
