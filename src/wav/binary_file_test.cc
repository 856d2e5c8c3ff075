#include "wav/binary_file.h"

#include <gtest/gtest.h>

#include <string>

#include "memory_file.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using MemoryFile = testing::InMemory<BinaryFile>;

TEST(BinaryFileTest, ReadByteYieldsFFOnceAndThenZeroAtTheEnd) {
  MemoryFile m("\x12");
  EXPECT_EQ(m.file.ReadByte(), 0x12);
  EXPECT_FALSE(m.file.AtEnd());
  EXPECT_EQ(m.file.ReadByte(), 0xFF);
  EXPECT_TRUE(m.file.AtEnd());
  EXPECT_EQ(m.file.ReadByte(), 0x00);
}

TEST(BinaryFileTest, ReadWordCountsEveryMissingByteAsFF) {
  MemoryFile m("\x34");
  EXPECT_EQ(m.file.ReadWord(), 0xFF34);
  EXPECT_EQ(m.file.ReadWord(), 0xFFFF);
  EXPECT_TRUE(m.file.AtEnd());
}

TEST(BinaryFileTest, ReadDwordStopsReadingAfterTheFirstFailedByte) {
  MemoryFile m(std::string("\x01\x02", 2));
  EXPECT_EQ(m.file.ReadDword(), 0x00FF0201u);
  EXPECT_TRUE(m.file.AtEnd());
}

TEST(BinaryFileTest, BigEndianReversesTheByteOrder) {
  MemoryFile m("\x12\x34\x01\x02\x03\x04");
  m.file.setBigEndian(true);
  EXPECT_EQ(m.file.ReadWord(), 0x1234);
  EXPECT_EQ(m.file.ReadDword(), 0x01020304u);
}

TEST(BinaryFileTest, WithoutAStreamEverythingIsNeutral) {
  BinaryFile file;
  EXPECT_EQ(file.ReadByte(), 0);
  EXPECT_EQ(file.ReadWord(), 0);
  EXPECT_EQ(file.ReadDword(), 0u);
  EXPECT_EQ(file.Tell(), -1);
  EXPECT_FALSE(file.Seek(0));
  EXPECT_FALSE(file.AtEnd());
}

TEST(BinaryFileTest, SeekClearsTheEndAndMayGoBeyondIt) {
  testing::TempDir dir;
  testing::WriteFile(dir.Path("f"), "abc");
  BinaryFile file;
  ASSERT_TRUE(file.Open(dir.Path("f").c_str(), ModeRead | ModeBinary));
  EXPECT_EQ(file.Length(), 3);
  ASSERT_TRUE(file.Seek(2));
  EXPECT_EQ(file.ReadByte(), 'c');
  EXPECT_EQ(file.ReadByte(), 0xFF);
  EXPECT_TRUE(file.AtEnd());
  ASSERT_TRUE(file.Seek(1));
  EXPECT_FALSE(file.AtEnd());
  EXPECT_EQ(file.Tell(), 1);
  ASSERT_TRUE(file.Seek(100));
  EXPECT_EQ(file.ReadByte(), 0xFF);
}

TEST(BinaryFileTest, OpenReportsAMissingFile) {
  BinaryFile file;
  EXPECT_FALSE(file.Open("/nonexistent/file", ModeRead | ModeBinary));
  EXPECT_EQ(file.mode(), ModeRead | ModeBinary);
  EXPECT_EQ(file.ErrorNumber(), ENOENT);
}

TEST(BinaryFileTest, ReadingADirectoryIsAnErrorNotTheEnd) {
#if defined(_WIN32)
  GTEST_SKIP() << "a folder cannot be opened as a file there";
#endif
  testing::TempDir dir;
  BinaryFile file;
  ASSERT_TRUE(file.Open(dir.Path("").c_str(), ModeRead | ModeBinary));
  file.ReadByte();
  EXPECT_TRUE(file.HasError());
  EXPECT_FALSE(file.AtEnd());
  EXPECT_EQ(file.ErrorNumber(), EISDIR);
}

}  // namespace
}  // namespace pulsecut
