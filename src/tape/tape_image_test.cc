#include "tape/tape_image.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "../examples/tape_signal.h"
#include "memory_file.h"
#include "reference.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Bytes;
using testing::Format;
using testing::Image;
using testing::Wav;

// The image ConvertToImage writes for the recording `wav`.
std::string Convert(const std::string& wav, uint32_t high, uint32_t low, bool phaseNormal,
                    const testing::TempDir& dir) {
  const std::string source = dir.Path("in.wav");
  const std::string destination = dir.Path("out.k58");
  testing::WriteFile(source, wav);
  WaveFile file;
  EXPECT_TRUE(file.Open(source.c_str(), ModeRead | ModeBinary));
  std::FILE* out = std::fopen(destination.c_str(), "wb");
  SchmittTrigger trigger(high, low);
  EXPECT_TRUE(ConvertToImage(file, out, trigger, phaseNormal).ok());
  std::fclose(out);
  return testing::ReadFile(destination);
}

TEST(ConvertToImageTest, ConvertsTheWholeRunExample) {
  testing::TempDir dir;
  const std::string wav =
      Wav({1, 8, 44100}, Bytes({0x80, 0x80, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}));
  EXPECT_EQ(Convert(wav, 0xC000, 0x4000, true, dir), Image({0x000A, 0x800A, 0x0005}));
}

TEST(ConvertToImageTest, ASignalWithoutAChangeGivesTheHeaderAlone) {
  testing::TempDir dir;
  // 8-bit stereo: the value built from failed reads, 0x7F80, leaves the output low too.
  EXPECT_EQ(Convert(Wav({2, 8}, testing::Repeat8(0x80, 1000)), 0xFFFF, 0, true, dir), Image({}));
  // 8-bit mono ends in 0xFF00, which turns the output high and so ends the low stretch.
  EXPECT_EQ(Convert(Wav({1, 8}, ""), 0xFFFF, 0, true, dir), Image({0x0002}));
}

TEST(ConvertToImageTest, ALongStretchIsSplitIntoFullRecordsAndARemainder) {
  // At 1 Hz each sample lasts 111111 ticks: a low stretch of 20000 samples is about 2.2e9 ticks,
  // more than a signed 32-bit count holds, ended by one high sample.
  testing::TempDir dir;
  const std::string wav = Wav({1, 8, 1}, testing::Repeat8(0x00, 20000) + Bytes({0xFF, 0x00}));
  const std::string image = Convert(wav, 0xC000, 0x4000, true, dir);
  EXPECT_EQ(image, testing::ReferenceConvert(dir.Path("in.wav"), 0xC000, 0x4000, true));
  int64_t lowTicks = 0;
  size_t i = kImageHeaderSize;
  for (; i + 1 < image.size() && (image[i] & 0x80) == 0; i += 2) {
    lowTicks += (uint8_t(image[i]) << 8) | uint8_t(image[i + 1]);
  }
  EXPECT_EQ(lowTicks, StretchClock(1).Ticks(20001));
  EXPECT_GT(lowTicks, int64_t{1} << 31);
}

// The fast pass against the sample-by-sample reference, on random and tape-like recordings of
// every format, with data that ends inside a frame, both phases and levels that wrap.
TEST(ConvertToImageTest, EqualsTheReferenceOnManyRecordings) {
  testing::TempDir dir;
  std::mt19937 random(11);
  struct Levels {
    uint32_t high, low;
  };
  const Levels levels[] = {
      {0xFFFF, 0},      {0x8400, 0x7D00}, {0x8000, 0x8000},        {0x7000, 0x1000},
      {0xF000, 0x9000}, {0xC012, 0x3F80}, {0xFFFFFFFF, 0xFFFF8000}};
  for (const Format format : {Format{1, 8, 44100}, Format{2, 8, 22050}, Format{1, 16, 96000},
                              Format{2, 16, 48000}, Format{1, 8, 200000}}) {
    tape_signal::Options options;
    options.sampleRate = format.sampleRate;
    options.seed = static_cast<uint32_t>(random());
    std::string tape = tape_signal::Recording(format.channels, format.bitsPerSample,
                                              format.sampleRate / 2, options)
                           .substr(44);
    std::string noise(5000 + random() % 7, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    for (const std::string& data : {tape, noise, tape.substr(0, tape.size() - 1)}) {
      for (const Levels l : levels) {
        for (bool phase : {true, false}) {
          const std::string wav = Wav(format, data);
          const std::string image = Convert(wav, l.high, l.low, phase, dir);
          ASSERT_EQ(image, testing::ReferenceConvert(dir.Path("in.wav"), l.high, l.low, phase))
              << format.channels << "ch " << format.bitsPerSample << "bit " << format.sampleRate
              << "Hz, " << data.size() << " bytes, levels " << std::hex << l.high << "/" << l.low
              << (phase ? " normal" : " reverse");
        }
      }
    }
  }
}

// Recordings of several blocks: stretches and changes fall on every side of the block
// boundaries.
TEST(ConvertToImageTest, RecordingsOfManyBlocksEqualTheReference) {
  testing::TempDir dir;
  struct Case {
    Format format;
    uint32_t high, low;
  };
  const Case cases[] = {
      {{1, 8, 44100}, 0xC000, 0x4000},  {{1, 8, 44100}, 0xF000, 0x9000},  // the latter toggles
      {{2, 8, 22050}, 0x8400, 0x7D00},  {{1, 16, 96000}, 0xC012, 0x3F80},
      {{2, 16, 48000}, 0xC000, 0x4000}, {{2, 16, 8000}, 0x8000, 0x8000}};
  uint32_t seed = 5;
  for (const Case& c : cases) {
    tape_signal::Options options;
    options.sampleRate = c.format.sampleRate;
    options.seed = seed++;
    // Three and a half blocks of 65536 values, ending inside a frame.
    const std::string data = tape_signal::Recording(c.format.channels, c.format.bitsPerSample,
                                                    3 * 65536 + 32768 + 17, options)
                                 .substr(44);
    const std::string wav = Wav(c.format, data.substr(0, data.size() - 1));
    for (bool phase : {true, false}) {
      const std::string image = Convert(wav, c.high, c.low, phase, dir);
      EXPECT_GT(image.size(), size_t{1000});
      ASSERT_EQ(image, testing::ReferenceConvert(dir.Path("in.wav"), c.high, c.low, phase))
          << c.format.channels << "ch " << c.format.bitsPerSample << "bit, levels " << std::hex
          << c.high << "/" << c.low << (phase ? " normal" : " reverse");
    }
  }
}

// A block holds 65536 values: recordings one short of it, exactly it and one beyond, with a
// change on the last value of the block, the first of the next, and on both.
TEST(ConvertToImageTest, ChangesAtTheBlockBoundaryCount) {
  testing::TempDir dir;
  constexpr size_t kBlock = 65536;
  for (const Format format : {Format{1, 8}, Format{1, 16}}) {
    for (const size_t frames : {kBlock - 2, kBlock - 1, kBlock, kBlock + 1}) {
      for (const size_t at : {kBlock - 2, kBlock - 1, kBlock}) {
        // Low, a high pulse of two frames starting at `at` when it fits, low again.
        std::string data;
        for (size_t i = 0; i < frames; ++i) {
          const bool high = i >= at && i < at + 2;
          data += format.bitsPerSample == 8
                      ? std::string(1, high ? '\xF0' : '\x10')
                      : testing::Words({high ? uint16_t{0xF000} : uint16_t{0x1000}});
        }
        const std::string image = Convert(Wav(format, data), 0xC000, 0x4000, true, dir);
        ASSERT_EQ(image, testing::ReferenceConvert(dir.Path("in.wav"), 0xC000, 0x4000, true))
            << format.bitsPerSample << " bits, " << frames << " frames, pulse at " << at;
      }
    }
  }
}

// A full disk stops the pass with its errno, whether the recording is one block or several.
TEST(ConvertToImageTest, AFailedWriteStopsThePass) {
  testing::TempDir dir;
  std::string pulses;
  for (int i = 0; i < 100000; ++i) pulses += i % 2 == 0 ? '\x00' : '\xFF';
  for (const std::string& data : {Bytes({0x00, 0xFF, 0x00}), pulses}) {
    testing::WriteFile(dir.Path("in.wav"), Wav({1, 8}, data));
    WaveFile file;
    ASSERT_TRUE(file.Open(dir.Path("in.wav").c_str(), ModeRead | ModeBinary));
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    SchmittTrigger trigger(0xC000, 0x4000);
    const Status status = ConvertToImage(file, full, trigger, true);
    std::fclose(full);
    EXPECT_EQ(status.code(), Status::Code::kDestinationWrite) << data.size() << " bytes";
    EXPECT_EQ(status.errorNumber(), ENOSPC) << data.size() << " bytes";
  }
}

// A read that fails part way (a bad sector, say) ends the pass with that read's errno, in the
// first block, between blocks or in a later one; the records before it stay as converted.
TEST(ConvertToImageTest, AFailedReadStopsThePassWithItsErrno) {
  if (!testing::kCanFailReads) GTEST_SKIP() << "no stream here fails reads on demand";
  testing::TempDir dir;
  tape_signal::Options options;
  const std::string wav = tape_signal::Recording(1, 8, 5 * 65536, options);
  testing::WriteFile(dir.Path("in.wav"), wav);
  const std::string whole = testing::ReferenceConvert(dir.Path("in.wav"), 0xC000, 0x4000, true);
  for (const size_t failAt : {size_t{100}, size_t{58 + 2 * 65536}, size_t{58 + 3 * 65536 + 999}}) {
    WaveFile file;
    ASSERT_TRUE(file.Attach(testing::StreamFailingAt(wav, failAt), ModeRead | ModeBinary));
    const std::string destination = dir.Path("out.k58");
    std::FILE* out = std::fopen(destination.c_str(), "wb");
    SchmittTrigger trigger(0xC000, 0x4000);
    const Status status = ConvertToImage(file, out, trigger, true);
    std::fclose(out);
    EXPECT_EQ(status.code(), Status::Code::kSourceRead) << "failing at " << failAt;
    EXPECT_EQ(status.errorNumber(), EIO) << "failing at " << failAt;
    const std::string partial = testing::ReadFile(destination);
    EXPECT_EQ(partial, whole.substr(0, partial.size())) << "failing at " << failAt;
  }
}

}  // namespace
}  // namespace pulsecut
