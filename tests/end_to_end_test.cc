// Runs the real pulsecut binary on recordings written by the fixture helper.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../examples/tape_signal.h"
#include "process.h"
#include "reference.h"
#include "tape/stretch_clock.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Bytes;
using testing::Format;
using testing::Image;
using testing::ReadFile;
using testing::Wav;
using testing::WriteFile;

const char kUsage[] =
    "WAV file to K58 file converter for RQ5 v0.3\n\n"
    "Synopsis: pulsecut infile outfile [options]\n\n"
    "Option : -v       Verbose mode\n"
    "         -th[hex] Specify upper threshold in hex code\n"
    "         -tl[hex] Specify lower threshold in hex code\n\n"
    "         -p[mode] Specify phase\n"
    "                  mode: r=Reverse, n=Normal[default]\n"
    "         -h       Show this message\n"
    "ex1. pulsecut test.wav test.k58\n"
    "ex2. pulsecut test.wav test.k58 -v -th8400 -tl7d00\n";

const char kBanner[] =
    "WAV to K58 converter v0.3\n"
    "by the pulsecut developers, for RQ5 tape preservation\n";

using testing::Outcome;

class PulsecutTest : public ::testing::Test {
 protected:
  // Runs pulsecut with `args` in the test's directory, with `input` piped to its standard input
  // when given.
  Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
    return testing::RunProgram(PULSECUT_BINARY, args, dir_.Path(""), input);
  }
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }
  void Write(const std::string& name, const std::string& bytes) { WriteFile(Path(name), bytes); }
  std::string Read(const std::string& name) const { return ReadFile(Path(name)); }

  testing::TempDir dir_;
};

// The example of a whole run: values 0x8000 x3, 0xFF00 x4, 0x0000 x2, then 0xFF00 from the
// failed reads at the end.
const std::string kWholeRun =
    Wav({1, 8, 44100}, Bytes({0x80, 0x80, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));

TEST_F(PulsecutTest, FewerThanTwoArgumentsPrintTheUsage) {
  Write("a.wav", kWholeRun);
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.wav"}}) {
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, kUsage);
    EXPECT_EQ(o.err, "");
  }
}

// --version alone prints the version; anything else alone is still the usage.
TEST_F(PulsecutTest, VersionAloneIsTheVersion) {
  const Outcome o = Run({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "pulsecut " PULSECUT_VERSION "\n");
  EXPECT_EQ(Run({"--versions"}).out, kUsage);
  EXPECT_EQ(Run({"-v"}).out, kUsage);
}

TEST_F(PulsecutTest, HelpOptionsPrintTheUsageAndConvertNothing) {
  Write("a.wav", kWholeRun);
  for (const char* option : {"-h", "-H", "-?", "/help"}) {
    const Outcome o = Run({"a.wav", "a.k58", "-v", option});
    EXPECT_EQ(o.status, 0) << option;
    EXPECT_EQ(o.out, kUsage) << option;
    EXPECT_FALSE(Exists("a.k58")) << option;
  }
}

TEST_F(PulsecutTest, ParameterErrorsExitWithStatusOne) {
  Write("a.wav", kWholeRun);
  struct Case {
    std::vector<std::string> options;
    const char* message;
  };
  for (const Case& c :
       {Case{{"-tl10000"}, "Illegal parameter. tl must be lower than th.\n"},
        Case{{"-v", "-th7000", "-tl8000"}, "Illegal parameter. tl must be lower than th.\n"},
        Case{{"-v", "-tl8000", "-th7000"}, "Illegal parameter. th must be higher than tl.\n"}}) {
    std::vector<std::string> args{"a.wav", "a.k58"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, c.message);  // no banner: the parse failed first
    EXPECT_FALSE(Exists("a.k58"));
  }
}

TEST_F(PulsecutTest, ConvertsTheWholeRunExampleByteForByte) {
  Write("in.wav", kWholeRun);
  const Outcome o = Run({"in.wav", "out.k58", "-thc000", "-tl4000"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(Read("out.k58"), Image({0x000A, 0x800A, 0x0005}));
}

TEST_F(PulsecutTest, VerboseRunWithGivenLevelsPrintsEveryStep) {
  Write("in.wav", Wav({2, 16, 48000}, ""));
  const Outcome o = Run({"in.wav", "out.k58", "-v", "-th8400", "-tl7d00", "-pr"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string(kBanner) +
                       "Record Level  High 0x8400   Low 0x7d00\n"
                       "Sample freq 48000[Hz]   Channel 2[ch]  Quantize bit 16[bit]  Phase "
                       "Reverse\n"
                       "PASS2: Converting...\n"
                       "Done.\n");
}

// One level given is enough to skip the analysis: the other keeps its default.
TEST_F(PulsecutTest, OneGivenLevelSkipsTheAnalysis) {
  Write("in.wav", Wav({1, 16, 44100}, testing::Words(std::vector<uint16_t>(10, 0xC000))));
  struct Case {
    const char* option;
    const char* levels;
  };
  for (const Case& c :
       {Case{"-th9000", "High 0x9000   Low 0x0000"}, Case{"-tl7000", "High 0xffff   Low 0x7000"}}) {
    const Outcome o = Run({"in.wav", "out.k58", "-v", c.option});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, std::string(kBanner) + "Record Level  " + c.levels +
                         "\nSample freq 44100[Hz]   Channel 1[ch]  Quantize bit 16[bit]  Phase "
                         "Normal\nPASS2: Converting...\nDone.\n")
        << c.option;
  }
}

TEST_F(PulsecutTest, VerboseRunWithoutLevelsAnalysesFirst) {
  // Ten steady samples at 0xC000 move the high level to 0xA000.
  Write("in.wav", Wav({1, 16, 44100}, testing::Words(std::vector<uint16_t>(10, 0xC000))));
  for (const auto& levels :
       {std::vector<std::string>{}, std::vector<std::string>{"-thffff", "-tl0"}}) {
    std::vector<std::string> args{"in.wav", "out.k58", "-v"};
    args.insert(args.end(), levels.begin(), levels.end());
    const Outcome o = Run(args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, std::string(kBanner) +
                         "\nPASS1: Analyzing record level...\n"
                         "Record Level  High 0xa000   Low 0x8000\n"
                         "Sample freq 44100[Hz]   Channel 1[ch]  Quantize bit 16[bit]  Phase "
                         "Normal\n"
                         "PASS2: Converting...\n"
                         "Done.\n");
    EXPECT_EQ(Read("out.k58"), testing::ReferenceConvert(Path("in.wav"), 0xA000, 0x8000, true));
  }
}

TEST_F(PulsecutTest, FileNamesAreNeverReadAsOptions) {
  // Names that would select help, Reverse phase and a threshold if they were options.
  Write("-h.wav", kWholeRun);
  const Outcome o = Run({"-h.wav", "-pr.k58", "-thc000", "-tl4000"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(Read("-pr.k58"), Image({0x000A, 0x800A, 0x0005}));
  // And an absolute name such as /home/... is a name too.
  const Outcome absolute = Run({Path("-h.wav"), Path("abs.k58"), "-thc000", "-tl4000"});
  EXPECT_EQ(absolute.status, 0);
  EXPECT_EQ(Read("abs.k58"), Image({0x000A, 0x800A, 0x0005}));
}

TEST_F(PulsecutTest, AMissingSourceIsReportedAndCreatesNoImage) {
  const Outcome o = Run({"missing.wav", "out.k58", "-v"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Source file open: No such file or directory\n");
  // The analysis could not run, so the level line shows the defaults.
  EXPECT_EQ(o.out, std::string(kBanner) +
                       "\nPASS1: Analyzing record level...\n"
                       "Record Level  High 0xffff   Low 0x0000\n");
  EXPECT_FALSE(Exists("out.k58"));
}

TEST_F(PulsecutTest, ADestinationThatCannotBeOpenedExitsWithStatusTwo) {
  Write("in.wav", kWholeRun);
  const Outcome o = Run({"in.wav", "no/such/dir/out.k58"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "Destination file open: No such file or directory\n");
}

TEST_F(PulsecutTest, AFullDiskIsAWriteErrorNotASuccess) {
#if defined(_WIN32)
  GTEST_SKIP() << "no device there is always full";
#endif
  Write("in.wav", kWholeRun);
  const Outcome o = Run({"in.wav", "/dev/full", "-thc000", "-tl4000"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "Destination file write: No space left on device\n");
}

TEST_F(PulsecutTest, ADirectoryAsSourceIsAReadError) {
  std::filesystem::create_directory(Path("dir.wav"));
  for (const char* levels : {"-thc000", "-v"}) {  // with and without the analysis
    const Outcome o = Run({"dir.wav", "out.k58", levels});
    EXPECT_EQ(o.status, 1) << levels;
#if defined(_WIN32)  // a folder cannot even be opened as a file there
    EXPECT_EQ(o.err, "Source file open: Permission denied\n") << levels;
#else
    EXPECT_EQ(o.err, "Source file read: Is a directory\n") << levels;
#endif
    EXPECT_FALSE(Exists("out.k58")) << levels;
  }
}

// Headers that the classic reading cannot read at the fixed offsets go to the standard reading:
// converted when it can read them, refused with its message otherwise, before the destination
// is touched.
TEST_F(PulsecutTest, FormatsTheClassicReadingRefusesGoToTheStandardReading) {
  struct Case {
    Format format;
    const char* err;  // empty: converted
  };
  for (const Case& c :
       {Case{{3, 8, 44100}, ""}, Case{{1, 24, 44100}, ""}, Case{{2, 32, 44100}, ""},
        Case{{0, 8, 44100}, "Source file format: 0 channels; at least 1 is needed\n"},
        Case{{1, 8, 0}, "Source file format: a sample rate of 0 Hz; it must be above 0\n"},
        Case{{1, 12, 44100},
             "Source file format: unsupported sample size of 12 bits for integer "
             "PCM; supported are 8, 16, 24 or 32 bits\n"}}) {
    const std::string what = std::to_string(c.format.channels) + " channels, " +
                             std::to_string(c.format.bitsPerSample) + " bits";
    Write("in.wav", Wav(c.format, Bytes({1, 2, 3, 4, 5, 6, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0})));
    Write("old.k58", "keep me");
    const Outcome o = Run({"in.wav", "old.k58", "-thc000", "-tl4000"});
    EXPECT_EQ(o.err, c.err) << what;
    if (*c.err != '\0') {
      EXPECT_EQ(o.status, 1) << what;
      EXPECT_EQ(Read("old.k58"), "keep me") << what;
      EXPECT_EQ(Run({"in.wav", "new.k58"}).status, 1) << what;
      EXPECT_FALSE(Exists("new.k58")) << what;
      continue;
    }
    EXPECT_EQ(o.status, 0) << what;
    const testing::ReferenceRecording r = testing::ReferenceRead(Path("in.wav"), {true});
    ASSERT_TRUE(r.readable) << what;
    EXPECT_EQ(Read("old.k58"),
              testing::ReferenceConvert(r.values, r.sampleRate, 0xC000, 0x4000, true))
        << what;
  }
}

TEST_F(PulsecutTest, TheDestinationIsNeverTheSource) {
  Write("a.wav", kWholeRun);
  std::filesystem::create_hard_link(Path("a.wav"), Path("hard.wav"));
  std::vector<const char*> destinations{"a.wav", "./a.wav", "hard.wav"};
#if defined(_WIN32)  // the spellings Windows takes for the same file
  std::filesystem::create_directory(Path("sub"));
  destinations.insert(destinations.end(), {".\\a.wav", "A.WAV", "sub\\..\\a.wav"});
#else  // (symbolic links need a privilege there)
  std::filesystem::create_symlink("a.wav", Path("soft.wav"));
  destinations.push_back("soft.wav");
#endif
  for (const char* destination : destinations) {
    const Outcome o = Run({"a.wav", destination, "-thc000", "-tl4000"});
    EXPECT_EQ(o.status, 2) << destination;
    EXPECT_EQ(o.err, std::string("Destination file is the source file: ") + destination + "\n");
    EXPECT_EQ(Read("a.wav"), kWholeRun) << destination;
  }
}

#if !defined(_WIN32)  // a file there cannot be made unreadable by its permission bits
TEST_F(PulsecutTest, AnUnreadableSourceIsAnOpenError) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions";
  Write("secret.wav", kWholeRun);
  ASSERT_EQ(chmod(Path("secret.wav").c_str(), 0), 0);
  const Outcome o = Run({"secret.wav", "out.k58"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Source file open: Permission denied\n");
  EXPECT_FALSE(Exists("out.k58"));
}
#endif

TEST_F(PulsecutTest, ASourceThatCannotSeekIsRejectedBeforeAnyImage) {
#if defined(_WIN32)
  GTEST_SKIP() << "no /dev/stdin there";
#endif
  // Both passes read the recording from its start, which a pipe cannot give twice.
  Write("in.wav", kWholeRun);
  for (const char* levels : {"-thc000", "-v"}) {
    const Outcome o = Run({"/dev/stdin", "out.k58", levels}, Path("in.wav"));
    EXPECT_EQ(o.status, 1) << levels;
    EXPECT_EQ(o.err, "Source file seek: Illegal seek\n") << levels;
    EXPECT_FALSE(Exists("out.k58")) << levels;
  }
}

TEST_F(PulsecutTest, AHeaderCutShortIsRejected) {
  // The format fields end at byte 36: a shorter file names no format for the classic reading,
  // and the standard reading says what is missing.
  struct Case {
    size_t length;
    const char* err;
  };
  for (const Case& c :
       {Case{0, "not a RIFF WAVE file (0 bytes, shorter than a RIFF header)"},
        Case{20,
             "the \"fmt \" chunk is too short (0 bytes; at least 16, and 40 for the "
             "extensible format tag)"},
        Case{35,
             "the \"fmt \" chunk is too short (15 bytes; at least 16, and 40 for the "
             "extensible format tag)"}}) {
    Write("short.wav", kWholeRun.substr(0, c.length));
    const Outcome o = Run({"short.wav", "out.k58"});
    EXPECT_EQ(o.status, 1) << c.length;
    EXPECT_EQ(o.err, std::string("Source file format: ") + c.err + "\n");
    EXPECT_FALSE(Exists("out.k58"));
  }
  // With the format fields whole, a file without samples is an empty recording: the one value
  // built from failed reads (0xFF00) ends a low stretch of one sample.
  Write("short.wav", kWholeRun.substr(0, 40));
  const Outcome o = Run({"short.wav", "out.k58", "-thc000", "-tl4000"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(Read("out.k58"), Image({0x0002}));
}

TEST_F(PulsecutTest, ARecordingThatEndsInsideAFrameConvertsToItsEnd) {
  // 16-bit stereo: two whole frames, then three bytes of a third.
  Write("in.wav", Wav({2, 16, 8000}, testing::Words({0x0000, 0x0000, 0xF000, 0xF000}) +
                                         Bytes({0x00, 0x00, 0x00})));
  const Outcome o = Run({"in.wav", "out.k58", "-thc000", "-tl4000"});
  EXPECT_EQ(o.status, 0);
  // Low for the first frame and the second (which rises: 2 samples, 27 ticks), then high to
  // the end: the cut frame is the last value, (0x0000 + 0xFF00) >> 1 = 0x7F80, still high.
  EXPECT_EQ(Read("out.k58"), Image({0x001B}));
  EXPECT_EQ(Read("out.k58"), testing::ReferenceConvert(Path("in.wav"), 0xC000, 0x4000, true));
}

TEST_F(PulsecutTest, TheExampleRecordingIsReproducibleAndConverts) {
  const std::string shipped = ReadFile(std::string(EXAMPLES_DIR) + "/tape.wav");
  ASSERT_FALSE(shipped.empty());
  ASSERT_EQ(testing::RunProgram(MAKE_EXAMPLE_BINARY, {"made.wav"}, Path("")).status, 0);
  EXPECT_EQ(Read("made.wav"), shipped);

  const Outcome o = Run({std::string(EXAMPLES_DIR) + "/tape.wav", "tape.k58", "-v"});
  EXPECT_EQ(o.status, 0);
  // The analysed levels sit near the signal's plateaus, about 0x80 +- 0.6 * 0x7F (8-bit), and
  // the converted stretches match the tones' half periods.
  unsigned high = 0, low = 0;
  const size_t at = o.out.find("Record Level");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(std::sscanf(o.out.c_str() + at, "Record Level  High 0x%x   Low 0x%x", &high, &low), 2);
  EXPECT_NEAR(high, 0x8000 + 0.62 * 0x7F00, 0x600);
  EXPECT_NEAR(low, 0x8000 - 0.58 * 0x7F00, 0x600);
  const std::string image = Read("tape.k58");
  ASSERT_GT(image.size(), 1000u);
  size_t nearLow = 0, nearHigh = 0, records = 0;
  for (size_t i = 18; i + 1 < image.size(); i += 2, ++records) {
    const int ticks = ((image[i] & 0x7F) << 8) | static_cast<uint8_t>(image[i + 1]);
    // Half periods: 1200 Hz lasts 46 ticks, 2400 Hz 23 ticks.
    if (std::abs(ticks - 46) <= 3) ++nearLow;
    if (std::abs(ticks - 23) <= 3) ++nearHigh;
  }
  EXPECT_GT(nearLow + nearHigh, records * 9 / 10);
  EXPECT_GT(nearLow, records / 10);
  EXPECT_GT(nearHigh, records / 10);
}

// The example signal in another encoding, as an audio program would store it: `encode` turns
// each of the generator's samples (-1..1) into the sample bytes.
template <typename Encode>
std::string ExampleData(Encode encode) {
  const tape_signal::Options options;
  tape_signal::Generator generator(options);
  std::string data;
  for (uint64_t i = 0; i < 3 * uint64_t{options.sampleRate}; ++i) data += encode(generator.Next());
  return data;
}

// The edges of an image in samples from its start, each stretch's ticks turned back into the
// sample count that gives them at `sampleRate`.
std::vector<uint64_t> EdgesInSamples(const std::string& image, uint32_t sampleRate) {
  const StretchClock clock(sampleRate);
  std::vector<uint64_t> edges;
  uint64_t at = 0;
  int64_t ticks = 0;
  for (size_t i = 18; i + 1 < image.size(); i += 2) {
    ticks += ((image[i] & 0x7F) << 8) | static_cast<uint8_t>(image[i + 1]);
    const bool continued = i + 3 < image.size() && ((image[i] ^ image[i + 2]) & 0x80) == 0;
    if (continued) continue;
    uint64_t samples = 1;
    while (clock.Ticks(samples) < ticks) ++samples;
    at += samples;
    edges.push_back(at);
    ticks = 0;
  }
  return edges;
}

// The example recording stored as 16-bit, 24-bit, 32-bit and float samples, in layouts with
// extra chunks, converts with -s to the same edges as the 8-bit original, within one sample.
TEST_F(PulsecutTest, EveryEncodingOfTheExampleConvertsLikeTheOriginal) {
  const std::string original = ReadFile(std::string(EXAMPLES_DIR) + "/tape.wav");
  ASSERT_FALSE(original.empty());
  Write("original.wav", original);
  ASSERT_EQ(Run({"original.wav", "original.k58", "-s"}).status, 0);
  const std::vector<uint64_t> expected = EdgesInSamples(Read("original.k58"), 44100);
  ASSERT_GT(expected.size(), 1000u);

  auto scaled = [](double v, double full) {
    const double s = std::floor(v * full + 0.5);
    return static_cast<int64_t>(std::clamp(s, -full, full - 1));
  };
  auto le = [](uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
  };
  struct Case {
    const char* name;
    testing::Layout layout;
    std::string data;
  };
  testing::Layout s16, s24, s32, f32, f64;
  s24.bitsPerSample = 24;
  s32.bitsPerSample = 32;
  f32.formatTag = 3;
  f32.bitsPerSample = 32;
  f64.formatTag = 3;
  f64.bitsPerSample = 64;
  const std::string data16 =
      ExampleData([&](double v) { return le(static_cast<uint64_t>(scaled(v, 32768)), 2); });
  testing::Layout list = s16, junk = s16, extensible = s16, after = s16, wide = s16;
  list.beforeData = {testing::Chunk("LIST", "INFOISFT\x0E\0\0\0Audio editor\0\0")};
  junk.beforeFmt = {testing::Chunk("JUNK", std::string(28, '\0'))};
  extensible.extensible = true;
  after.afterData = {testing::Chunk("id3 ", std::string(77, '\x7F'))};
  wide.rf64 = true;
  for (const Case& c : {
           Case{"16-bit", s16, data16},
           Case{"24-bit", s24, ExampleData([&](double v) {
                  return le(static_cast<uint64_t>(scaled(v, 8388608)), 3);
                })},
           Case{"32-bit", s32, ExampleData([&](double v) {
                  return le(static_cast<uint64_t>(scaled(v, 2147483648.0)), 4);
                })},
           Case{"32-bit float", f32, ExampleData([&](double v) {
                  return le(std::bit_cast<uint32_t>(static_cast<float>(v)), 4);
                })},
           Case{"64-bit float", f64,
                ExampleData([&](double v) { return le(std::bit_cast<uint64_t>(v), 8); })},
           Case{"LIST before data", list, data16},
           Case{"JUNK before fmt", junk, data16},
           Case{"extensible", extensible, data16},
           Case{"chunk after data", after, data16},
           Case{"RF64", wide, data16},
       }) {
    Write("in.wav", testing::StandardWav(c.layout, c.data));
    const Outcome o = Run({"in.wav", "in.k58", "-s"});
    ASSERT_EQ(o.status, 0) << c.name << ": " << o.err;
    const std::vector<uint64_t> edges = EdgesInSamples(Read("in.k58"), 44100);
    ASSERT_EQ(edges.size(), expected.size()) << c.name;
    for (size_t i = 0; i < edges.size(); ++i) {
      ASSERT_LE(std::max(edges[i], expected[i]) - std::min(edges[i], expected[i]), 1u)
          << c.name << ", edge " << i;
    }
  }
}

TEST_F(PulsecutTest, VerboseStandardReadingSaysHowItReads) {
  testing::Layout layout;
  layout.channels = 2;
  layout.bitsPerSample = 24;
  layout.beforeData = {testing::Chunk("LIST", "abcd")};
  Write("in.wav", testing::StandardWav(layout, testing::Signed24({1, 2, 3, 4})));
  const Outcome o = Run({"in.wav", "out.k58", "-v", "-s", "-cr", "-thc000", "-tl4000"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string(kBanner) +
                       "Record Level  High 0xc000   Low 0x4000\n"
                       "Sample freq 44100[Hz]   Channel 2[ch]  Quantize bit 24[bit]  Phase "
                       "Normal\n"
                       "Standard reading: 24-bit signed PCM, the second of 2 channels, data from "
                       "byte 56, 2 frames\n"
                       "PASS2: Converting...\n"
                       "Done.\n");
}

// A stereo recording with one dead channel: the mix halves the swing, -cl takes the live one.
TEST_F(PulsecutTest, AChannelChoiceTakesTheLiveChannel) {
  std::vector<uint16_t> frames;
  for (int i = 0; i < 400; ++i) {
    frames.push_back((i / 10) % 2 ? 0xE000 : 0x2000);  // the live channel
    frames.push_back(0x8000);                          // the dead one
  }
  Write("in.wav", Wav({2, 16, 44100}, testing::Words(frames)));
  // Thresholds 0xB000 and 0x5000: the mix swings between 0x5000 and 0xB000 and rises only at
  // the value built from failed reads (0xFFFF), 401 values after the start.
  ASSERT_EQ(Run({"in.wav", "mix.k58", "-the000", "-tl2000"}).status, 0);
  ASSERT_EQ(Run({"in.wav", "left.k58", "-the000", "-tl2000", "-cl"}).status, 0);
  EXPECT_EQ(Read("mix.k58"), Image({0x03F2}));
  EXPECT_EQ(Read("left.k58").size(), 18u + 2 * 39);
  const testing::ReferenceRecording r =
      testing::ReferenceRead(Path("in.wav"), {false, ChannelChoice::kFirst});
  EXPECT_EQ(Read("left.k58"), testing::ReferenceConvert(r.values, 44100, 0xE000, 0x2000, true));
}

// The adaptive comparator with every other new option: the right channel of a signed stereo
// recording whose left channel is dead, inverted. Its first pass is reported instead of the
// record levels, and levels given with -th and -tl are ignored with a note.
TEST_F(PulsecutTest, TheAdaptiveComparatorTakesTheOtherOptions) {
  std::vector<int16_t> samples;
  auto add = [&](int16_t right, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      samples.push_back(0);  // the dead left channel
      samples.push_back(right);
    }
  };
  add(0, 2000);
  for (int cycle = 0; cycle < 50; ++cycle) {
    add(-12000, 18);  // inverted: the first half-wave is low
    add(12000, 18);
  }
  add(0, 2000);
  testing::Layout layout;
  layout.channels = 2;
  Write("in.wav", testing::StandardWav(layout, testing::Signed16(samples)));
  const Outcome o = Run({"in.wav", "out.k58", "-s", "-a", "-cr", "-pr", "-v", "-th9000"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, std::string(kBanner) +
                       "The levels given with -th and -tl are ignored with -a\n"
                       "\nPASS1: Surveying noise and loudness...\n"
                       "Adaptive  Noise 0x0001   Swing 0x5dc0   Centre 0x7fff\n"
                       "Sample freq 44100[Hz]   Channel 2[ch]  Quantize bit 16[bit]  Phase "
                       "Reverse\n"
                       "Standard reading: 16-bit signed PCM, the second of 2 channels, data from "
                       "byte 44, 5800 frames\n"
                       "PASS2: Converting...\n"
                       "Done.\n");
  // A first low stretch up to the first rise, then a record per half-wave but the last low one,
  // which the silence after it leaves open.
  const std::string image = Read("out.k58");
  ASSERT_EQ(image.size(), 18u + 2 * 100);
  EXPECT_EQ(image.substr(18, 2), std::string("\x13\xB1", 2));  // 2001 values: 5041 ticks
  for (size_t i = 20; i < image.size(); i += 2) {
    const bool high = (image[i] & 0x80) != 0;
    EXPECT_EQ(high, (i - 18) / 2 % 2 == 1) << i;
  }
}

}  // namespace
}  // namespace pulsecut
