#include "wav/wave_file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "memory_file.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Bytes;
using testing::Format;
using testing::Wav;
using testing::Words;

using MemoryWave = testing::InMemory<WaveFile>;

// Every value a pass reads: ReadSample from byte 58 until the end-of-file indicator is set.
std::vector<uint32_t> SamplesOf(const std::string& wav) {
  MemoryWave m(wav);
  m.file.Seek(kDataOffset);
  std::vector<uint32_t> values;
  while (!m.file.AtEnd()) values.push_back(m.file.ReadSample());
  return values;
}

TEST(WaveFileTest, ReadsTheHeaderAtTheCanonicalOffsetsAndKeepsThePosition) {
  MemoryWave m(Wav({2, 16, 48000}, ""));
  const WaveHeader& h = m.file.header();
  EXPECT_EQ(h.fmtLength, 16u);
  EXPECT_EQ(h.formatTag, 1);
  EXPECT_EQ(h.channels, 2);
  EXPECT_EQ(h.sampleRate, 48000u);
  EXPECT_EQ(h.byteRate, 192000u);
  EXPECT_EQ(h.blockAlign, 4);
  EXPECT_EQ(h.bitsPerSample, 16);
  EXPECT_EQ(h.dataLength, 14u);
  EXPECT_EQ(m.file.Tell(), 0);
}

TEST(WaveFileTest, AShortFileBuildsItsHeaderFromFailedReads) {
  // 24 bytes: the file ends right before the sample rate. (A real file: memory streams cannot
  // seek beyond their end.)
  testing::TempDir dir;
  testing::WriteFile(dir.Path("short.wav"), Wav({1, 8, 44100}, "").substr(0, 24));
  WaveFile file;
  ASSERT_TRUE(file.Open(dir.Path("short.wav").c_str(), ModeRead | ModeBinary));
  const WaveHeader& h = file.header();
  EXPECT_EQ(h.channels, 1);
  EXPECT_EQ(h.sampleRate, 0xFFu);   // the first failed byte, then bytes not read
  EXPECT_EQ(h.byteRate, 0u);        // not read at all once at the end
  EXPECT_EQ(h.blockAlign, 0xFFFF);  // words read regardless
  EXPECT_EQ(h.bitsPerSample, 0xFFFF);
  EXPECT_EQ(h.dataLength, 0xFFu);  // the seek to 40 cleared the end first
  EXPECT_FALSE(IsSupported(h));
}

struct SampleCase {
  const char* name;
  Format format;
  std::string data;
  std::vector<uint32_t> values;  // ending with the value built from failed reads
};

// Test names show the case name alone.
void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.name; }

class ReadSampleTest : public ::testing::TestWithParam<SampleCase> {};

TEST_P(ReadSampleTest, GivesTheValuesAndTheFinalValueOfTheData) {
  EXPECT_EQ(SamplesOf(Wav(GetParam().format, GetParam().data)), GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ReadSampleTest,
    ::testing::Values(
        SampleCase{"Mono8", {1, 8}, Bytes({0x80, 0xFF, 0x00}), {0x8000, 0xFF00, 0x0000, 0xFF00}},
        SampleCase{"Mono16",
                   {1, 16},
                   Bytes({0x00, 0x80, 0xFF, 0x7F, 0, 0}),
                   {0x8000, 0x7FFF, 0x0000, 0xFFFF}},
        SampleCase{"Stereo8", {2, 8}, Bytes({0x00, 0xFF}), {0x7F80, 0x7F80}},
        SampleCase{"Stereo16", {2, 16}, Words({0x0000, 0xFFFF}), {0x7FFF, 0xFFFF}},
        SampleCase{"Mono16HalfFrame", {1, 16}, Bytes({0x34}), {0xFF34}},
        SampleCase{"Stereo8HalfFrame", {2, 8}, Bytes({0x00}), {0x7F80}},
        SampleCase{"Stereo16ThreeQuarterFrame",
                   {2, 16},
                   Bytes({0x00, 0x10, 0x00}),
                   {(0x1000u + 0xFF00u) >> 1}},
        SampleCase{"NoData", {1, 8}, "", {0xFF00}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(WaveFileTest, SeekToTheSamplesOfAHeaderOnlyFileSucceeds) {
  testing::TempDir dir;
  testing::WriteFile(dir.Path("a.wav"), Wav({1, 16}, "").substr(0, 44));
  WaveFile file;
  ASSERT_TRUE(file.Open(dir.Path("a.wav").c_str(), ModeRead | ModeBinary));
  ASSERT_TRUE(file.Seek(kDataOffset));
  EXPECT_EQ(file.ReadSample(), 0xFFFFu);
  EXPECT_TRUE(file.AtEnd());
}

// ReadValues must give exactly the values of ReadSample, whatever the format, the length of the
// data (whole frames or not) and the block size of the caller.
TEST(WaveFileTest, ReadValuesEqualsReadSampleOnEveryFormatAndLength) {
  std::mt19937 random(7);
  for (const Format format : {Format{1, 8}, Format{2, 8}, Format{1, 16}, Format{2, 16}}) {
    for (size_t length : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 1000u, 65536u * 2 + 3}) {
      std::string data(length, '\0');
      for (char& c : data) c = static_cast<char>(random());
      const std::string wav = Wav(format, data);
      const std::vector<uint32_t> expected = SamplesOf(wav);
      for (size_t capacity : {1u, 2u, 3u, 1000u, 40000u}) {
        MemoryWave m(wav);
        ASSERT_TRUE(m.file.Seek(kDataOffset));
        std::vector<uint16_t> block(capacity);
        std::vector<uint32_t> got;
        while (!m.file.AtEnd()) {
          const size_t n = m.file.ReadValues(block.data(), capacity);
          ASSERT_GT(n, 0u);
          got.insert(got.end(), block.begin(), block.begin() + static_cast<long>(n));
        }
        EXPECT_EQ(m.file.ReadValues(block.data(), capacity), 0u);
        ASSERT_EQ(got, expected) << format.channels << "ch " << format.bitsPerSample << "bit, "
                                 << length << " bytes, capacity " << capacity;
      }
    }
  }
}

TEST(WaveFileTest, ReadValuesReadsNothingOfAnUnsupportedFormat) {
  MemoryWave m(Wav({3, 8}, Bytes({1, 2, 3})));
  m.file.Seek(kDataOffset);
  uint16_t block[4];
  EXPECT_EQ(m.file.ReadValues(block, 4), 0u);
}

TEST(WaveFileTest, InvertPhaseMirrorsAroundTheCentre) {
  uint16_t v[] = {0x0000, 0x8000, 0x3000, 0xFFFF};
  InvertPhase(v, 4);
  EXPECT_EQ(v[0], 0xFFFF);
  EXPECT_EQ(v[1], 0x7FFF);
  EXPECT_EQ(v[2], 0xCFFF);
  EXPECT_EQ(v[3], 0x0000);
}

}  // namespace
}  // namespace pulsecut
