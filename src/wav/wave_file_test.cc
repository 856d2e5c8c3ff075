#include "wav/wave_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "memory_file.h"
#include "reference.h"
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

// The values of the standard reading of `wav`, read `capacity` frames at a time.
std::vector<uint32_t> StandardValuesOf(const std::string& wav,
                                       ChannelChoice choice = ChannelChoice::kMix,
                                       size_t capacity = 1000) {
  WaveFile file;
  file.Attach(testing::StreamFailingAt(wav, SIZE_MAX), ModeRead);
  EXPECT_TRUE(file.ChooseReading({true, choice}).ok());
  EXPECT_TRUE(file.SeekFrame(0));
  std::vector<uint32_t> values;
  std::vector<uint16_t> block(capacity);
  while (const size_t n = file.ReadValues(block.data(), capacity)) {
    values.insert(values.end(), block.begin(), block.begin() + static_cast<long>(n));
  }
  return values;
}

struct EncodingCase {
  const char* name;
  uint16_t formatTag;
  uint16_t bitsPerSample;
  std::string data;
  std::vector<uint32_t> values;
};
void PrintTo(const EncodingCase& c, std::ostream* os) { *os << c.name; }

class StandardEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

// Every encoding at its extremes, through the block decoders (many frames at a time) and one
// frame at a time.
TEST_P(StandardEncodingTest, TakesEachSampleOntoTheValueScale) {
  const EncodingCase& c = GetParam();
  testing::Layout layout;
  layout.formatTag = c.formatTag;
  layout.bitsPerSample = c.bitsPerSample;
  const std::string wav = testing::StandardWav(layout, c.data);
  EXPECT_EQ(StandardValuesOf(wav), c.values);
  EXPECT_EQ(StandardValuesOf(wav, ChannelChoice::kMix, 1), c.values);
  const testing::ReferenceRecording r = testing::ReferenceReadStandard(wav, ChannelChoice::kMix);
  EXPECT_EQ(std::vector<uint32_t>(r.values.begin(), r.values.end()), c.values);
}

const float kBelowOne = std::nextafter(1.0f, 0.0f);
const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Encodings, StandardEncodingTest,
    ::testing::Values(
        EncodingCase{"Unsigned8", 1, 8, Bytes({0x00, 0x80, 0xFF}), {0x0000, 0x8000, 0xFF00}},
        EncodingCase{"Signed16",
                     1,
                     16,
                     testing::Signed16({-32768, -1, 0, 1, 32767}),
                     {0x0000, 0x7FFF, 0x8000, 0x8001, 0xFFFF}},
        EncodingCase{"Signed24",
                     1,
                     24,
                     testing::Signed24({-8388608, -257, -256, -1, 0, 255, 256, 8388607}),
                     {0x0000, 0x7FFE, 0x7FFF, 0x7FFF, 0x8000, 0x8000, 0x8001, 0xFFFF}},
        EncodingCase{"Signed32",
                     1,
                     32,
                     testing::Signed32({INT32_MIN, -65536, -1, 0, 65535, 65536, INT32_MAX}),
                     {0x0000, 0x7FFF, 0x7FFF, 0x8000, 0x8000, 0x8001, 0xFFFF}},
        EncodingCase{"Float32",
                     3,
                     32,
                     testing::Float32({-1.0f, 1.0f, kBelowOne, kNan, 0.0f, -0.0f, 2.0f, -kInfinity,
                                       1.0f / 32768, -1.0f / 65536, -0.5f}),
                     {0x0000, 0xFFFF, 0xFFFF, 0x8000, 0x8000, 0x8000, 0xFFFF, 0x0000, 0x8001,
                      0x7FFF, 0x4000}},
        EncodingCase{"Float64",
                     3,
                     64,
                     testing::Float64({-1.0, 1.0, std::nextafter(1.0, 0.0), 0.999,
                                       std::numeric_limits<double>::quiet_NaN(), -1e300}),
                     {0x0000, 0xFFFF, 0xFFFF, 0xFFDF, 0x8000, 0x0000}}),
    [](const auto& p) { return std::string(p.param.name); });

// Only whole frames of the data chunk are read: a partial last frame, the chunks after the data
// and the end of a file cut short end the data; a size of all ones reads to the end.
TEST(WaveFileTest, TheStandardReadingReadsTheWholeFramesOfTheDataChunk) {
  testing::Layout stereo;
  stereo.channels = 2;
  const std::string frames =
      testing::Signed16({100, 300, -100, -300, 7});  // half a frame at the end
  EXPECT_EQ(StandardValuesOf(testing::StandardWav(stereo, frames)),
            (std::vector<uint32_t>{0x80C8, 0x7F38}));
  stereo.afterData = {testing::Chunk("LIST", std::string(100, '\x7F'))};
  EXPECT_EQ(StandardValuesOf(testing::StandardWav(stereo, frames), ChannelChoice::kFirst, 1),
            (std::vector<uint32_t>{0x8064, 0x7F9C}));
  testing::Layout cut;  // the writer stopped before it wrote all it declared
  cut.dataSizeField = 4000;
  EXPECT_EQ(StandardValuesOf(testing::StandardWav(cut, testing::Signed16({1, 2, 3}))),
            (std::vector<uint32_t>{0x8001, 0x8002, 0x8003}));
  testing::Layout toEnd;
  toEnd.dataSizeField = 0xFFFFFFFF;
  EXPECT_EQ(StandardValuesOf(testing::StandardWav(toEnd, testing::Signed16({1, 2}))),
            (std::vector<uint32_t>{0x8001, 0x8002}));
}

// -cl and -cr take one channel's value in both readings; the classic reading still reads each
// frame whole, so its last value (from failed reads) takes the chosen channel of that frame.
TEST(WaveFileTest, TheChannelChoiceTakesOneChannelInBothReadings) {
  struct Case {
    ChannelChoice choice;
    std::vector<uint32_t> standard;
  };
  const std::string classicWav = Wav({2, 8}, Bytes({0x10, 0xF0}));
  testing::Layout three;
  three.channels = 3;
  const std::string standardWav = testing::StandardWav(three, testing::Signed16({-900, 3000, 3}));
  for (const Case& c : {Case{ChannelChoice::kMix, {0x8000 + (-900 + 3000 + 3) / 3}},
                        Case{ChannelChoice::kFirst, {0x8000 - 900}},
                        Case{ChannelChoice::kSecond, {0x8000 + 3000}}}) {
    MemoryWave m(classicWav);
    ASSERT_TRUE(m.file.ChooseReading({false, c.choice}).ok());
    m.file.Seek(kDataOffset);
    std::vector<uint32_t> values;
    while (!m.file.AtEnd()) values.push_back(m.file.ReadSample());
    const uint32_t frame = c.choice == ChannelChoice::kFirst    ? 0x1000
                           : c.choice == ChannelChoice::kSecond ? 0xF000
                                                                : 0x8000;
    const uint32_t last = c.choice == ChannelChoice::kFirst    ? 0xFF00
                          : c.choice == ChannelChoice::kSecond ? 0x0000
                                                               : 0x7F80;
    EXPECT_EQ(values, (std::vector<uint32_t>{frame, last}));
    EXPECT_EQ(StandardValuesOf(standardWav, c.choice), c.standard);
  }
  // The only channel of a mono recording is the first and the second.
  testing::Layout mono;
  const std::string monoWav = testing::StandardWav(mono, testing::Signed16({5}));
  EXPECT_EQ(StandardValuesOf(monoWav, ChannelChoice::kSecond), (std::vector<uint32_t>{0x8005}));
}

// 8-bit mono recordings are read as bytes by the conversion; in the standard reading the bytes
// end with the data chunk.
TEST(WaveFileTest, ByteValuesEndWithTheDataChunkInTheStandardReading) {
  testing::Layout layout;
  layout.bitsPerSample = 8;
  layout.afterData = {testing::Chunk("JUNK", "xyz")};
  WaveFile file;
  file.Attach(
      testing::StreamFailingAt(testing::StandardWav(layout, Bytes({1, 2, 3, 4, 5})), SIZE_MAX),
      ModeRead);
  ASSERT_TRUE(file.ChooseReading({true, ChannelChoice::kMix}).ok());
  ASSERT_TRUE(file.HasByteValues());
  ASSERT_TRUE(file.SeekFrame(2));
  uint8_t bytes[8];
  EXPECT_EQ(file.ReadByteValues(bytes, 2), 2u);
  EXPECT_EQ(file.ReadByteValues(bytes + 2, 8), 1u);
  EXPECT_EQ(file.ReadByteValues(bytes, 8), 0u);
  EXPECT_EQ(std::string(bytes, bytes + 3), Bytes({3, 4, 5}));
}

TEST(WaveFileTest, CountValuesCountsTheWholeFramesInTheFile) {
  testing::TempDir dir;
  testing::Layout stereo;
  stereo.channels = 2;
  stereo.dataSizeField = 4000;  // more than the file holds
  testing::WriteFile(dir.Path("a.wav"),
                     testing::StandardWav(stereo, testing::Signed16({1, 2, 3, 4, 5})));
  WaveFile file;
  ASSERT_TRUE(file.Open(dir.Path("a.wav").c_str(), ModeRead | ModeBinary));
  ASSERT_TRUE(file.ChooseReading({true, ChannelChoice::kMix}).ok());
  EXPECT_EQ(file.CountValues(), 2u);
  EXPECT_EQ(file.DescribeReading(),
            "Standard reading: 16-bit signed PCM, the mix of 2 channels, data from byte 44, 2 "
            "frames");
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
