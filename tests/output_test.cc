// End to end: an image replaces its destination only when it is complete, and no recording or
// input image is ever overwritten.
#include <gtest/gtest.h>
#include <sys/stat.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "program_test.h"
#include "wav/wave_writer.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Outcome;

class OutputTest : public testing::ProgramTest {
 protected:
  // Names in the folder that are not among `expected`: left-over temporary files.
  std::vector<std::string> Strays(const std::vector<std::string>& expected) const {
    std::vector<std::string> strays;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path(""))) {
      const std::string name = entry.path().filename().string();
      if (name == ".stdout" || name == ".stderr") continue;
      if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
        strays.push_back(name);
      }
    }
    return strays;
  }
};

const std::string kOldImage = testing::Image({0x0100, 0x8100});

// 8-bit mono whose every value changes the output: an image of two bytes per value.
std::string Busy(size_t values) {
  std::string data;
  for (size_t i = 0; i < values; ++i) data += i % 2 ? '\xF0' : '\x10';
  return testing::Wav({1, 8, 44100}, data);
}

#if !defined(_WIN32)  // no file size limit, signals from outside, symbolic links, POSIX
// permission bits or FIFOs there
TEST_F(OutputTest, AWriteThatFailsPartWayLeavesTheOldImage) {
  Write("in.wav", Busy(200000));
  Write("out.k58", kOldImage);
  // Files of at most 100 blocks of 512 bytes: the image's writes fail with EFBIG.
  const Outcome o =
      Pulsecut({"in.wav", "out.k58", "-thc000", "-tl4000"}, "trap '' XFSZ; ulimit -f 100");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "Destination file write: File too large\n");
  EXPECT_EQ(Read("out.k58"), kOldImage);
  EXPECT_EQ(Strays({"in.wav", "out.k58"}), std::vector<std::string>{});
}
#endif

#if !defined(_WIN32)  // no file size limit, signals from outside, symbolic links, POSIX
// permission bits or FIFOs there
// A run ended by a signal removes its temporary file and ends by that signal, the old image
// untouched. The recording is a sparse file of a few GiB: a run long enough to interrupt that
// uses no disk.
TEST_F(OutputTest, AnInterruptedRunLeavesTheOldImage) {
  const std::string header = CanonicalHeader(2, 16, 44100, 0xFFFFFFF0u);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    Write("in.wav", header);
    ASSERT_EQ(truncate(Path("in.wav").c_str(), off_t{3} << 30), 0);
    Write("out.k58", kOldImage);
    const int pid = testing::StartProgram(PULSECUT_BINARY,
                                          {"in.wav", "out.k58", "-thc000", "-tl4000"}, Path(""));
    ASSERT_GT(pid, 0);
    // Wait for the temporary file, that is for the conversion to be under way.
    bool started = false;
    for (int i = 0; i < 2000 && !started; ++i) {
      started = !Strays({"in.wav", "out.k58"}).empty();
      if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(started) << strsignal(sig);
    kill(pid, sig);
    const int raw = testing::WaitForProgram(pid);
    EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == sig) << strsignal(sig) << " " << raw;
    EXPECT_EQ(Read("out.k58"), kOldImage) << strsignal(sig);
    EXPECT_EQ(Strays({"in.wav", "out.k58"}), std::vector<std::string>{}) << strsignal(sig);
  }
}
#endif

// pulsecut *.wav in a folder of recordings: the second is never overwritten. A source that
// cannot be opened still reports itself first.
TEST_F(OutputTest, ARecordingIsNeverOverwritten) {
  Write("side_a.wav", Busy(100));
  Write("side_b.wav", Busy(200));
  Write("side_c.wav", Busy(300));
  const Outcome o = Pulsecut({"side_a.wav", "side_b.wav", "side_c.wav"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "Destination file open: side_b.wav is a WAV recording; it is not overwritten\n");
  EXPECT_EQ(Read("side_b.wav"), Busy(200));
  const Outcome missing = Pulsecut({"missing.wav", "side_b.wav"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Source file open: No such file or directory\n");
  EXPECT_EQ(Strays({"side_a.wav", "side_b.wav", "side_c.wav"}), std::vector<std::string>{});
}

#if !defined(_WIN32)  // no file size limit, signals from outside, symbolic links, POSIX
// permission bits or FIFOs there
TEST_F(OutputTest, ASymbolicLinkStaysALinkToTheNewImage) {
  Write("in.wav", Busy(100));
  std::filesystem::create_directory(Path("images"));
  Write("images/real.k58", kOldImage);
  ASSERT_EQ(symlink("images/real.k58", Path("link.k58").c_str()), 0);
  ASSERT_EQ(Pulsecut({"in.wav", "plain.k58", "-thc000", "-tl4000"}).status, 0);
  ASSERT_EQ(Pulsecut({"in.wav", "link.k58", "-thc000", "-tl4000"}).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.k58")));
  EXPECT_EQ(Read("images/real.k58"), Read("plain.k58"));
  EXPECT_EQ(Strays({"in.wav", "images", "link.k58", "plain.k58"}), std::vector<std::string>{});
}
#endif

#if !defined(_WIN32)  // no file size limit, signals from outside, symbolic links, POSIX
// permission bits or FIFOs there
TEST_F(OutputTest, TheDestinationKeepsItsPermissionsAndANewOneGetsTheUsualOnes) {
  Write("in.wav", Busy(100));
  Write("old.k58", kOldImage);
  ASSERT_EQ(chmod(Path("old.k58").c_str(), 0640), 0);
  ASSERT_EQ(Pulsecut({"in.wav", "old.k58"}).status, 0);
  ASSERT_EQ(Pulsecut({"in.wav", "new.k58"}).status, 0);
  const mode_t mask = umask(0);
  umask(mask);
  struct stat info;
  ASSERT_EQ(stat(Path("old.k58").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  ASSERT_EQ(stat(Path("new.k58").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask);
  EXPECT_EQ(Read("old.k58"), Read("new.k58"));
}
#endif

// Other names of a file with several hard links keep seeing it: it is written in place.
TEST_F(OutputTest, AFileWithSeveralLinksIsWrittenInPlace) {
  Write("in.wav", Busy(100));
  Write("out.k58", kOldImage);
  std::filesystem::create_hard_link(Path("out.k58"), Path("other.k58"));
  ASSERT_EQ(Pulsecut({"in.wav", "out.k58"}).status, 0);
  EXPECT_NE(Read("out.k58"), kOldImage);
  EXPECT_EQ(Read("other.k58"), Read("out.k58"));
}

TEST_F(OutputTest, AReadOnlyDestinationIsRefused) {
#if !defined(_WIN32)
  if (geteuid() == 0) GTEST_SKIP() << "root writes files whatever their permissions";
#endif
  Write("in.wav", Busy(100));
  Write("out.k58", kOldImage);
  std::filesystem::permissions(Path("out.k58"), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::group_read |
                                                    std::filesystem::perms::others_read);
  const Outcome o = Pulsecut({"in.wav", "out.k58"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "Destination file open: Permission denied\n");
  EXPECT_EQ(Read("out.k58"), kOldImage);
}

#if !defined(_WIN32)  // no file size limit, signals from outside, symbolic links, POSIX
// permission bits or FIFOs there
// Devices and FIFOs are written directly, as before.
TEST_F(OutputTest, DevicesAndFifosAreWrittenDirectly) {
  Write("in.wav", Busy(1000));
  EXPECT_EQ(Pulsecut({"in.wav", "/dev/null"}).status, 0);
  ASSERT_EQ(Pulsecut({"in.wav", "file.k58"}).status, 0);
  ASSERT_EQ(mkfifo(Path("pipe.k58").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = Read("pipe.k58"); });
  const Outcome o = Pulsecut({"in.wav", "pipe.k58"});
  reader.join();
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(received, Read("file.k58"));
}
#endif

// k58's outputs are complete or nothing too, and never its own input image.
TEST_F(OutputTest, K58NeverWritesOverItsInput) {
  Write("a.k58", testing::Image({0x0064, 0x8064, 0x0064}));
  std::filesystem::create_hard_link(Path("a.k58"), Path("hard.k58"));
  for (const char* command : {"wav", "labels"}) {
    for (const char* output : {"a.k58", "./a.k58", "hard.k58"}) {
      const Outcome o = K58({command, "a.k58", output});
      EXPECT_EQ(o.status, 2) << command << " " << output;
      EXPECT_EQ(o.err, std::string("k58 ") + command + ": " + output +
                           ": is the input image; it is not overwritten\n");
      EXPECT_EQ(Read("a.k58"), testing::Image({0x0064, 0x8064, 0x0064}));
    }
  }
  EXPECT_EQ(K58({"wav", "a.k58", "a.wav"}).status, 0);
  EXPECT_EQ(Strays({"a.k58", "hard.k58", "a.wav"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace pulsecut
