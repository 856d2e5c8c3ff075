#include "tape/image_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "memory_file.h"
#include "tape/image_writer.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

TEST(ParseImageTest, DecodesTheRecordsOfAValidImage) {
  const ImageReadResult r = ParseImage(testing::Image({0x000A, 0x800A, 0x7FFF, 0xFFFF}));
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.image.records.size(), 4u);
  EXPECT_FALSE(r.image.records[0].high);
  EXPECT_EQ(r.image.records[0].ticks, 10);
  EXPECT_TRUE(r.image.records[1].high);
  EXPECT_EQ(r.image.records[2].ticks, 32767);
  EXPECT_TRUE(r.image.records[3].high);
  EXPECT_EQ(r.image.records[3].ticks, 32767);
  EXPECT_FALSE(r.image.oddTrailingByte);
}

// What the writer writes, the reader reads back: a stretch is its records, 32767 ticks each but
// the last, all with its state.
TEST(ImageRoundTripTest, TheReaderReadsWhatTheWriterWrote) {
  const int64_t stretches[] = {1, 2, 32766, 32767, 32768, 65534, 65535, 65536, 100};
  testing::Output output;
  ImageWriter writer(output.stream(), 64);  // the smallest buffer: it drains many times
  writer.WriteHeader();
  bool high = false;
  for (const int64_t ticks : stretches) {
    writer.WriteStretch(high, ticks);
    high = !high;
  }
  ASSERT_TRUE(writer.Flush());
  const ImageReadResult r = ParseImage(output.Bytes());
  ASSERT_TRUE(r.ok) << r.error;
  size_t next = 0;
  high = false;
  for (const int64_t ticks : stretches) {
    int64_t left = ticks;
    while (left > 0) {
      ASSERT_LT(next, r.image.records.size());
      const PulseRecord record = r.image.records[next++];
      EXPECT_EQ(record.high, high) << ticks;
      EXPECT_EQ(record.ticks, std::min<int64_t>(left, 32767)) << ticks;
      left -= record.ticks;
    }
    high = !high;
  }
  EXPECT_EQ(next, r.image.records.size());
  EXPECT_FALSE(r.image.oddTrailingByte);
}

TEST(ParseImageTest, AHeaderAloneIsAnEmptyImage) {
  const ImageReadResult r = ParseImage(testing::Image({}));
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.image.records.empty());
}

TEST(ParseImageTest, AnOddTrailingByteIsReportedAndIgnored) {
  const ImageReadResult r = ParseImage(testing::Image({0x0005}) + "\x80");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.image.records.size(), 1u);
  EXPECT_TRUE(r.image.oddTrailingByte);
}

TEST(ParseImageTest, RejectsWhatIsNotAnImage) {
  struct Case {
    std::string bytes;
    const char* error;
  };
  for (const Case& c :
       {Case{"", "too short for an image header (0 bytes, the header alone is 18)"},
        Case{"RQ5 TAPE", "too short for an image header (8 bytes, the header alone is 18)"},
        Case{"RIFF....WAVEfmt ......",
             "not a K58 tape image (it does not start with \"RQ5 "
             "TAPE IMAGE 0\")"},
        Case{std::string("RQ5 TAPE IMAGE 0\0\1", 18),
             "not a K58 tape image (bytes 16 and 17 after the magic are not zero)"}}) {
    const ImageReadResult r = ParseImage(c.bytes);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
  }
}

TEST(ReadImageFileTest, ReportsAFileThatCannotBeRead) {
  const ImageReadResult r = ReadImageFile("/nonexistent/a.k58");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "No such file or directory");
}

}  // namespace
}  // namespace pulsecut
