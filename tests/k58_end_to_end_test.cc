// Runs the real k58 binary on images that the real pulsecut wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "../examples/tape_signal.h"
#include "process.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Format;
using testing::Image;
using testing::Outcome;
using testing::Wav;

class K58Test : public ::testing::Test {
 protected:
  Outcome K58(const std::vector<std::string>& args) {
    return testing::RunProgram(K58_BINARY, args, dir_.Path(""));
  }
  Outcome Pulsecut(const std::vector<std::string>& args) {
    return testing::RunProgram(PULSECUT_BINARY, args, dir_.Path(""));
  }
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  void Write(const std::string& name, const std::string& bytes) {
    testing::WriteFile(Path(name), bytes);
  }
  std::string Read(const std::string& name) const { return testing::ReadFile(Path(name)); }

  // Two seconds of the tape signal, 8-bit mono, samples from byte 58.
  std::string TapeSamples(uint32_t rate) {
    tape_signal::Options options;
    options.sampleRate = rate;
    return tape_signal::Recording(1, 8, 2 * uint64_t{rate}, options).substr(44);
  }

  testing::TempDir dir_;
};

// pulsecut rec.wav a.k58; k58 wav a.k58 r.wav; pulsecut r.wav b.k58; k58 diff a.k58 b.k58
TEST_F(K58Test, ARenderConvertsBackToTheSameImage) {
  for (const uint32_t rate : {44100u, 96000u}) {
    Write("rec.wav", Wav({1, 8, rate}, TapeSamples(rate)));
    ASSERT_EQ(Pulsecut({"rec.wav", "a.k58"}).status, 0);
    for (const char* bits : {"8", "16"}) {
      ASSERT_EQ(
          K58({"wav", "a.k58", "r.wav", "--rate", std::to_string(rate), "--bits", bits}).status, 0);
      // One sample of the render, plus the tick that each image's truncation may drop.
      const std::string tolerance = std::to_string(static_cast<int>(1e6 / rate) + 9);
      for (const auto& levels :
           {std::vector<std::string>{}, std::vector<std::string>{"-thc000", "-tl4000"}}) {
        std::vector<std::string> args{"r.wav", "b.k58"};
        args.insert(args.end(), levels.begin(), levels.end());
        ASSERT_EQ(Pulsecut(args).status, 0);
        const Outcome diff = K58({"diff", "a.k58", "b.k58", "--tolerance", tolerance});
        EXPECT_EQ(diff.status, 0) << rate << " Hz, " << bits << " bits\n" << diff.out;
        EXPECT_NE(diff.out.find("only in A     0\nonly in B     0\n"), std::string::npos);
      }
    }
  }
}

TEST_F(K58Test, DiffReportsWhereTwoImagesFirstDisagree) {
  Write("a.k58", Image({0x0017, 0x802E, 0x0017}));
  Write("b.k58", Image({0x0017, 0x8014, 0x0002, 0x8018, 0x0017}));
  const Outcome o = K58({"diff", "a.k58", "b.k58"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out,
            "A a.k58: 3 edges\nB b.k58: 5 edges\n"
            "matched       3, largest deviation 0 us\n"
            "only in A     0\nonly in B     2\n"
            "first disagreement: an edge only in B, record 1 at 0.000387 s\n"
            "differ within 45 us\n");
}

// Short spikes injected into the plateaus of a recording: each is labelled at its sample.
TEST_F(K58Test, LabelsNameEveryInjectedGlitchWithinOneSample) {
  const uint32_t rate = 44100;
  std::string samples = TapeSamples(rate);
  std::vector<size_t> glitches;
  for (size_t p = 20000; p + 20 < samples.size() && glitches.size() < 12; ++p) {
    // A spot inside a long plateau: the six samples before and after lie far out on one side.
    bool plateau = true;
    const bool high = static_cast<uint8_t>(samples[p]) > 0x80;
    for (size_t k = p - 6; k < p + 8 && plateau; ++k) {
      const int v = static_cast<uint8_t>(samples[k]);
      plateau = high ? v > 0xC0 : v < 0x40;
    }
    if (!plateau) continue;
    samples[p] = samples[p + 1] = static_cast<char>(high ? 0x20 : 0xE0);
    glitches.push_back(p);
    p += 4000;
  }
  ASSERT_GE(glitches.size(), 8u);
  Write("rec.wav", Wav({1, 8, rate}, samples));
  ASSERT_EQ(Pulsecut({"rec.wav", "a.k58"}).status, 0);
  const Outcome o = K58({"labels", "a.k58", "labels.txt"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("times in samples at 44100 Hz"), std::string::npos) << o.out;

  std::vector<double> shortStarts;
  std::istringstream lines(Read("labels.txt"));
  std::string line;
  while (std::getline(lines, line)) {
    double start = 0, end = 0;
    char kind[16] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf\t%lf\t%15s", &start, &end, kind), 3) << line;
    EXPECT_LT(start, end);
    if (std::string(kind) == "short") shortStarts.push_back(start);
  }
  // The comparator changes at the glitch's first sample, which still counts in the stretch
  // before: the runt starts one sample later.
  ASSERT_EQ(shortStarts.size(), glitches.size());
  for (size_t i = 0; i < glitches.size(); ++i) {
    EXPECT_NEAR(shortStarts[i], static_cast<double>(glitches[i]) / rate, 1.0 / rate + 1e-6);
  }
}

// The bounds given on the command line replace the histogram's: every stretch longer than
// --longer-than is labelled, whatever the defaults would say.
TEST_F(K58Test, LabelsTakeTheBoundsGiven) {
  Write("a.k58", testing::Image({0x0064, 0x8032, 0x0064, 0x8032, 0x0400, 0x8032}));
  struct Case {
    std::vector<std::string> bounds;
    size_t labels;
  };
  for (const Case& c : {Case{{"--longer-than", "1000"}, 1}, Case{{"--longer-than", "899"}, 3},
                        Case{{"--longer-than", "900"}, 1}, Case{{"--shorter-than", "451"}, 3},
                        Case{{"--shorter-than", "450", "--longer-than", "100000"}, 0}}) {
    std::vector<std::string> args{"labels", "a.k58", "labels.txt"};
    args.insert(args.end(), c.bounds.begin(), c.bounds.end());
    const Outcome o = K58(args);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string labels = Read("labels.txt");
    EXPECT_EQ(static_cast<size_t>(std::count(labels.begin(), labels.end(), '\n')), c.labels)
        << c.bounds[1] << "\n"
        << labels;
  }
}

TEST_F(K58Test, InfoDescribesAnImage) {
  // Low 10 ticks, high 70000 ticks in three records, low 5 ticks.
  Write("a.k58", Image({0x000A, 0xFFFF, 0xFFFF, 0x9172, 0x0005}) + "\x01");
  const Outcome o = K58({"info", "a.k58"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out.substr(0, o.out.find("\n\n")),
            "image         a.k58\n"
            "records       5 (2 of them 32767-tick continuations)\n"
            "stretches     1 high, 2 low\n"
            "duration      0.630135 s (0:00:00.630)\n"
            "high          shortest 630000 us, longest 630000 us\n"
            "low           shortest 45 us, longest 90 us\n"
            "sample rate   not recognised\n"
            "warning       an odd trailing byte is ignored");
  const Outcome json = K58({"info", "a.k58", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"records\":5,\"continuation_records\":2,"
                          "\"stretches\":{\"high\":1,\"low\":2},\"duration_seconds\":0.630135,"),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"odd_trailing_byte\":true"), std::string::npos);
}

TEST_F(K58Test, InfoRecognisesTheSampleRateOfARealImage) {
  Write("rec.wav", Wav({1, 8, 22050}, TapeSamples(22050)));
  ASSERT_EQ(Pulsecut({"rec.wav", "a.k58"}).status, 0);
  const Outcome o = K58({"info", "a.k58"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("sample rate   22050 Hz"), std::string::npos) << o.out;
  // The two tones' half periods are the histogram's peaks: 1200 Hz is 417 us, 2400 Hz 208 us.
  EXPECT_NE(o.out.find("high stretches (us)"), std::string::npos);
}

TEST_F(K58Test, ImagesThatCannotBeReadAreReportedWithStatusOne) {
  Write("wave.k58", Wav({1, 8}, "abc"));
  Write("short.k58", "RQ5");
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  for (const Case& c :
       {Case{{"info", "missing.k58"}, "k58: missing.k58: No such file or directory\n"},
        Case{{"info", "wave.k58"},
             "k58: wave.k58: not a K58 tape image (it does not start with \"RQ5 TAPE IMAGE "
             "0\")\n"},
        Case{{"wav", "short.k58", "r.wav"},
             "k58: short.k58: too short for an image header (3 bytes, the header alone is "
             "18)\n"},
        Case{{"diff", "short.k58", "wave.k58"},
             "k58: short.k58: too short for an image header (3 bytes, the header alone is "
             "18)\n"}}) {
    const Outcome o = K58(c.args);
    EXPECT_EQ(o.status, 1) << c.args[0];
    EXPECT_EQ(o.err, c.error);
  }
}

TEST_F(K58Test, BadArgumentsGiveOneLineAndStatusTwo) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"play"},
                           std::vector<std::string>{"wav", "a.k58"},
                           std::vector<std::string>{"wav", "a", "b", "--bits", "24"}}) {
    const Outcome o = K58(args);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(o.out, "");
  }
  for (const auto& args :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"labels", "--help"}}) {
    const Outcome o = K58(args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("Usage: k58", 0), 0u);
  }
}

}  // namespace
}  // namespace pulsecut
