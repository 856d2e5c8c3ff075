#include "tape/image_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "memory_file.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

// The bytes that `write` puts into an image.
template <typename Write>
std::string Written(Write write) {
  testing::Output output;
  ImageWriter writer(output.stream());
  write(writer);
  EXPECT_TRUE(writer.Flush());
  return output.Bytes();
}

TEST(ImageWriterTest, HeaderIsTheMagicAndTwoZeroBytes) {
  EXPECT_EQ(Written([](ImageWriter& w) { w.WriteHeader(); }),
            std::string("RQ5 TAPE IMAGE 0\0\0", 18));
}

TEST(ImageWriterTest, StretchesSplitIntoRecordsOfAtMost32767Ticks) {
  struct Case {
    bool high;
    int64_t ticks;
    std::string bytes;
  };
  for (const Case& c : {Case{true, 100, "\x80\x64"}, Case{false, 100, std::string("\0\x64", 2)},
                        Case{false, 32767, "\x7F\xFF"}, Case{true, 32767, "\xFF\xFF"},
                        Case{false, 32768, std::string("\x7F\xFF\0\x01", 4)},
                        Case{true, 70000, "\xFF\xFF\xFF\xFF\x91\x72"}, Case{true, 0, ""}}) {
    EXPECT_EQ(Written([&](ImageWriter& w) { w.WriteStretch(c.high, c.ticks); }), c.bytes)
        << c.ticks;
  }
}

TEST(ImageWriterTest, AFailedWriteIsReported) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  ImageWriter writer(full);
  writer.WriteHeader();
  EXPECT_FALSE(writer.Flush());
  EXPECT_EQ(writer.errorNumber(), ENOSPC);
  std::fclose(full);
}

}  // namespace
}  // namespace pulsecut
