#include "wav/riff_header.h"

#include <gtest/gtest.h>

#include <string>

#include "memory_file.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using namespace std::string_literals;

using testing::Chunk;
using testing::Layout;
using testing::Signed16;
using testing::StandardWav;

Status Parse(const std::string& bytes, RiffFormat* format) {
  BinaryFile file;
  file.Attach(testing::StreamFailingAt(bytes, SIZE_MAX), ModeRead);
  return ReadRiffFormat(file, format);
}

// Where the data lies and how large it is, whatever chunks surround it.
TEST(RiffHeaderTest, FindsTheFormatAndTheDataAmongOtherChunks) {
  const std::string data = Signed16({1, 2, 3});
  struct Case {
    const char* name;
    Layout layout;
    int64_t dataStart;
    uint64_t dataSize;
  };
  Layout junk;
  junk.beforeFmt = {Chunk("JUNK", std::string(28, '\0'))};
  Layout list;
  list.beforeData = {Chunk("LIST", "odd"), Chunk("fact", "1234")};  // a pad byte after "odd"
  Layout after;
  after.afterData = {Chunk("id3 ", "tag")};
  Layout first;
  first.dataFirst = true;
  Layout wide;
  wide.rf64 = true;
  Layout unknown;
  unknown.dataSizeField = 0xFFFFFFFF;
  Layout longer;
  longer.dataSizeField = 1000;
  for (const Case& c :
       {Case{"canonical", Layout{}, 44, 6}, Case{"junk", junk, 80, 6}, Case{"list", list, 68, 6},
        Case{"after", after, 44, 6}, Case{"data first", first, 20, 6}, Case{"rf64", wide, 80, 6},
        Case{"size unknown", unknown, 44, kToEndOfFile},
        Case{"size beyond the file", longer, 44, 1000}}) {
    RiffFormat format;
    ASSERT_TRUE(Parse(StandardWav(c.layout, data), &format).ok()) << c.name;
    EXPECT_EQ(format.dataStart, c.dataStart) << c.name;
    EXPECT_EQ(format.dataSize, c.dataSize) << c.name;
    EXPECT_EQ(format.encoding, Encoding::kSigned16) << c.name;
    EXPECT_EQ(format.header.sampleRate, 44100u) << c.name;
  }
}

TEST(RiffHeaderTest, AnExtensibleHeaderTakesTheTagOfItsSubFormat) {
  Layout layout;
  layout.extensible = true;
  layout.formatTag = 3;
  layout.bitsPerSample = 64;
  RiffFormat format;
  ASSERT_TRUE(Parse(StandardWav(layout, std::string(16, '\0')), &format).ok());
  EXPECT_EQ(format.header.formatTag, 3);
  EXPECT_EQ(format.encoding, Encoding::kFloat64);
  EXPECT_EQ(format.header.fmtLength, 40u);
}

// Each refusal names what it found and what is supported.
TEST(RiffHeaderTest, RefusesWhatItCannotReadWithAMessage) {
  const std::string data = Signed16({1, 2});
  const std::string good = StandardWav(Layout{}, data);
  auto with = [&](auto change) {
    Layout layout;
    change(layout);
    return StandardWav(layout, data);
  };
  std::string foreignGuid = with([](Layout& l) { l.extensible = true; });
  foreignGuid[20 + 24 + 4] = 'X';  // a byte of the GUID's standard tail
  std::string shortFmt = good;
  shortFmt.replace(16, 4, std::string("\x0E\0\0\0", 4));  // "fmt " of 14 bytes
  struct Case {
    std::string bytes;
    std::string message;
  };
  for (const Case& c : {
           Case{"RIFX" + good.substr(4),
                "not a RIFF WAVE file (it starts \"RIFX\" and \"WAVE\"; supported are \"RIFF\", "
                "\"RF64\" or \"BW64\" with \"WAVE\")"},
           Case{good.substr(0, 8) + "AVI\x01" + good.substr(12),
                "not a RIFF WAVE file (it starts \"RIFF\" and \"AVI\\x01\"; supported are "
                "\"RIFF\", \"RF64\" or \"BW64\" with \"WAVE\")"},
           Case{good.substr(0, 11), "not a RIFF WAVE file (11 bytes, shorter than a RIFF header)"},
           Case{good.substr(0, 12) + Chunk("data", data), "no \"fmt \" chunk"},
           Case{good.substr(0, 36), "no \"data\" chunk"},
           Case{shortFmt,
                "the \"fmt \" chunk is too short (14 bytes; at least 16, and 40 for the "
                "extensible format tag)"},
           Case{with([](Layout& l) { l.formatTag = 2; }),
                "unsupported format tag 0x0002; supported are 0x0001 (integer PCM) and 0x0003 "
                "(IEEE float)"},
           Case{foreignGuid,
                "unsupported extensible sub-format (GUID bytes 0100000058001000800000AA00389B71); "
                "supported are integer PCM and IEEE float"},
           Case{with([](Layout& l) { l.bitsPerSample = 20; }),
                "unsupported sample size of 20 bits for integer PCM; supported are 8, 16, 24 or "
                "32 bits"},
           Case{with([](Layout& l) {
                  l.formatTag = 3;
                  l.bitsPerSample = 16;
                }),
                "unsupported sample size of 16 bits for IEEE float; supported are 32 or 64 bits"},
           Case{with([](Layout& l) { l.channels = 0; }), "0 channels; at least 1 is needed"},
           Case{with([](Layout& l) { l.sampleRate = 0; }),
                "a sample rate of 0 Hz; it must be above 0"},
       }) {
    RiffFormat format;
    const Status status = Parse(c.bytes, &format);
    EXPECT_EQ(status.code(), Status::Code::kSourceFormat) << c.message;
    EXPECT_EQ(status.message(), "Source file format: " + c.message);
  }
  std::string misaligned = good;
  misaligned[32] = 3;  // block align 3 for one 16-bit channel
  RiffFormat format;
  EXPECT_EQ(Parse(misaligned, &format).message(),
            "Source file format: a block align of 3 bytes, which does not match 1 channels of 16 "
            "bits (2 bytes)");
}

// Chunk sizes near the limits end the walk instead of wrapping around to an earlier offset.
TEST(RiffHeaderTest, ChunkSizesNearTheLimitsEndTheWalk) {
  for (const uint32_t size : {0xFFFFFFFEu, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
    std::string bytes = "RIFF\0\0\0\0WAVE"s + "JUNK" + std::string(4, '\0');
    for (size_t i = 0; i < 4; ++i) bytes[16 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    bytes += StandardWav(Layout{}, Signed16({1})).substr(12);
    RiffFormat format;
    EXPECT_EQ(Parse(bytes, &format).message(), "Source file format: no \"fmt \" chunk") << size;
  }
}

}  // namespace
}  // namespace pulsecut
