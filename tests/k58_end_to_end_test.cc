// Runs the real k58 binary on images that the real pulsecut wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "../examples/tape_signal.h"
#include "program_test.h"
#include "wav/wave_writer.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Format;
using testing::Image;
using testing::Outcome;
using testing::Wav;

class K58Test : public testing::ProgramTest {
 protected:
  // Two seconds of the tape signal, 8-bit mono, samples from byte 58.
  std::string TapeSamples(uint32_t rate) {
    tape_signal::Options options;
    options.sampleRate = rate;
    return tape_signal::Recording(1, 8, 2 * uint64_t{rate}, options).substr(44);
  }
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

// Two takes of the same tape never start at the same moment, nor share a rate or a layout: the
// example signal as 8-bit mono read with -s, and as 8-bit stereo read the classic way (7 frames
// into the data), 16-bit signed mono and stereo read with -s, at 44100 and 48000 Hz (the same
// signal, resampled). Every take agrees with the first.
TEST_F(K58Test, DiffAlignsTwoTakesOfTheSameSignal) {
  struct Take {
    uint16_t channels;
    uint16_t bits;
    uint32_t rate;
    bool standard;
  };
  const tape_signal::Options options;  // 44100 Hz
  tape_signal::Generator generator(options);
  std::vector<double> signal(2 * options.sampleRate);
  for (double& v : signal) v = generator.Next();
  auto record = [&](const Take& t, const std::string& image) {
    std::string data;
    const auto frames = static_cast<uint64_t>(signal.size() - 1) * t.rate / options.sampleRate;
    for (uint64_t k = 0; k < frames; ++k) {
      // Linear interpolation between the signal's samples.
      const double x = static_cast<double>(k) * options.sampleRate / t.rate;
      const auto i = static_cast<size_t>(x);
      const double v = signal[i] + (x - static_cast<double>(i)) * (signal[i + 1] - signal[i]);
      uint32_t value = tape_signal::Quantize(v, t.bits);
      if (t.bits == 16) value ^= 0x8000;  // signed, as audio programs store it
      AppendFrame(data, value, t.channels, t.bits);
    }
    Write("take.wav",
          CanonicalHeader(t.channels, t.bits, t.rate, static_cast<uint32_t>(data.size())) + data);
    std::vector<std::string> args{"take.wav", image};
    if (t.standard) args.push_back("-s");
    ASSERT_EQ(Pulsecut(args).status, 0);
  };
  record({1, 8, 44100, true}, "a.k58");
  for (const Take& t : {Take{2, 8, 44100, false}, Take{1, 16, 44100, true},
                        Take{2, 16, 48000, true}, Take{1, 8, 48000, true}}) {
    record(t, "b.k58");
    const Outcome o = K58({"diff", "a.k58", "b.k58"});
    EXPECT_EQ(o.status, 0) << t.channels << " channels, " << t.bits << " bits, " << t.rate
                           << " Hz\n"
                           << o.out;
  }
  // The classic reading of 8-bit stereo starts 7 frames (0.159 ms) after the data's start.
  record({2, 8, 44100, false}, "b.k58");
  const Outcome found = K58({"diff", "a.k58", "b.k58"});
  EXPECT_NE(found.out.find("B starts 0.1"), std::string::npos) << found.out;
  EXPECT_NE(found.out.find(" later than A\n"), std::string::npos) << found.out;
  EXPECT_EQ(K58({"diff", "a.k58", "b.k58", "--offset", "-0.159"}).status, 0);
  const Outcome plain = K58({"diff", "a.k58", "b.k58", "--no-align"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.out.find("starts"), std::string::npos);
}

TEST_F(K58Test, DiffReportsWhereTwoImagesFirstDisagree) {
  Write("a.k58", Image({0x0017, 0x802E, 0x0017}));
  Write("b.k58", Image({0x0017, 0x8014, 0x0002, 0x8018, 0x0017}));
  const Outcome o = K58({"diff", "a.k58", "b.k58"});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out,
            "A a.k58: 3 edges\nB b.k58: 5 edges\n"
            "A and B start together\n"
            "matched       3, largest deviation 0 us\n"
            "only in A     0\nonly in B     2\n"
            "first disagreement: an edge only in B, record 1 at 0.000387 s\n"
            "differ within 45 us\n");
}

// Short spikes injected into the plateaus of a recording: each is labelled at its sample.
// Labels sit on the recording's own samples, as an audio editor counts them from the start of
// the data, whichever way the recording was read: the classic reading starts 14 samples into
// the data, the standard one at its start.
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
  // The fixture's samples follow 14 bytes of filler at the start of the data.
  Write("rec.wav", Wav({1, 8, rate}, samples));
  for (const bool standard : {false, true}) {
    std::vector<std::string> convert{"rec.wav", "a.k58"};
    std::vector<std::string> labels{"labels", "a.k58", "labels.txt", "--recording", "rec.wav"};
    if (standard) {
      convert.push_back("-s");
      labels.push_back("-s");
    }
    ASSERT_EQ(Pulsecut(convert).status, 0);
    const Outcome o = K58(labels);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("times at 44100 Hz, on the samples of rec.wav"), std::string::npos)
        << o.out;

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
    ASSERT_EQ(shortStarts.size(), glitches.size()) << standard;
    for (size_t i = 0; i < glitches.size(); ++i) {
      EXPECT_NEAR(shortStarts[i], static_cast<double>(14 + glitches[i]) / rate, 1.0 / rate + 1e-6)
          << (standard ? "-s" : "classic");
    }
  }
}

// Without the recording the labels say what they assume; a rate that does not fit the image is
// refused, and runts are labelled even where the histogram's bounds would not.
TEST_F(K58Test, LabelsSayWhatTheyAssumeAndRefuseAWrongRate) {
  Write("rec.wav", Wav({1, 8, 44100}, TapeSamples(44100)));
  ASSERT_EQ(Pulsecut({"rec.wav", "a.k58"}).status, 0);
  const Outcome o = K58({"labels", "a.k58", "l.txt"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("times at 44100 Hz, assuming the classic reading of an 8-bit mono "
                       "recording (14 samples in)"),
            std::string::npos)
      << o.out;
  const Outcome wrong = K58({"labels", "a.k58", "l.txt", "--rate", "48000"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(wrong.err.rfind("k58 labels: a rate of 48000 Hz does not fit the image: ", 0), 0u)
      << wrong.err;
  // Runts, among stretches the bounds would not label.
  Write("runts.k58", Image({0x0064, 0x8002, 0x0064, 0x8064, 0x0005, 0x8064}));
  const Outcome runts =
      K58({"labels", "runts.k58", "r.txt", "--rate", "44100", "--shorter-than", "0"});
  EXPECT_EQ(runts.status, 0) << runts.err;
  const std::string text = Read("r.txt");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  // An empty image has nothing to label and no bounds to print.
  Write("empty.k58", Image({}));
  const Outcome empty = K58({"labels", "empty.k58", "e.txt"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out.find("9223372036854775807"), std::string::npos) << empty.out;
}

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
            "warning       1 of the stretches (33.3%) last one or two samples: a 16-bit "
            "recording read\n"
            "              without -s, hiss (try -a), or a wrong phase or level setting?\n"
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

TEST_F(K58Test, ImagesThatCannotBeReadAreReported) {
  Write("wave.k58", Wav({1, 8}, "abc"));
  Write("short.k58", "RQ5");
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  for (const Case& c :
       {Case{{"info", "missing.k58"}, "k58 info: missing.k58: No such file or directory\n"},
        Case{{"info", "wave.k58"},
             "k58 info: wave.k58: not a K58 tape image (it does not start with \"RQ5 TAPE IMAGE "
             "0\")\n"},
        Case{{"wav", "short.k58", "r.wav"},
             "k58 wav: short.k58: too short for an image header (3 bytes, the header alone is "
             "18)\n"},
        Case{{"diff", "short.k58", "wave.k58"},
             "k58 diff: short.k58: too short for an image header (3 bytes, the header alone is "
             "18)\n"}}) {
    const Outcome o = K58(c.args);
    // diff, as diff and cmp do, says 1 for "they differ" and 2 for trouble.
    EXPECT_EQ(o.status, c.args[0] == "diff" ? 2 : 1) << c.args[0];
    EXPECT_EQ(o.err, c.error);
  }
}

// The conventions: help and the version, JSON that stays JSON whatever the file's name, and a
// warning when runts are common (a signed 16-bit recording read without -s makes hiss wrap
// around the centre).
TEST_F(K58Test, HelpVersionJsonAndTheRuntWarning) {
  for (const char* help : {"help", "--help", "-h"}) {
    const Outcome o = K58({help});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind("Usage: k58 SUBCOMMAND", 0), 0u) << help;
  }
  const Outcome version = K58({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "k58 " PULSECUT_VERSION "\n");

#if !defined(_WIN32)  // quotes are no part of a file name there
  Write("say \"hi\".k58", Image({0x0017, 0x8017}));
  const Outcome json = K58({"info", "say \"hi\".k58", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out.rfind("{\"image\":\"say \\\"hi\\\".k58\",", 0), 0u) << json.out;

#endif
  std::vector<uint16_t> hiss;
  uint32_t random = 1;
  for (int i = 0; i < 44100; ++i) {
    random = random * 1664525u + 1013904223u;
    hiss.push_back(static_cast<uint16_t>((random >> 16) % 600 - 300));  // signed, around 0
  }
  Write("hiss.wav", Wav({1, 16, 44100}, testing::Words(hiss)));
  ASSERT_EQ(Pulsecut({"hiss.wav", "hiss.k58", "-thc000", "-tl4000"}).status, 0);
  const Outcome info = K58({"info", "hiss.k58"});
  EXPECT_NE(info.out.find("last one or two samples: a 16-bit recording read\n"
                          "              without -s"),
            std::string::npos)
      << info.out;
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
