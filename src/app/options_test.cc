#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pulsecut {
namespace {

struct ParseCase {
  std::vector<const char*> args;  // after the program name
  ParseOutcome outcome;
  bool verbose = false;
  bool phaseNormal = true;
  uint32_t high = 0xFFFF;
  uint32_t low = 0;
};

ParseResult Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "pulsecut");
  return ParseArguments(static_cast<int>(args.size()), args.data());
}

TEST(ParseArgumentsTest, GivesTheSettingsOrTheOutcomeOfEachCommandLine) {
  using enum ParseOutcome;
  const ParseCase cases[] = {
      {{}, kUsage},
      {{"a.wav"}, kUsage},
      {{"in.wav", "out.k58"}, kRun},
      {{"in.wav", "out.k58", "-help"}, kUsage},
      {{"in.wav", "out.k58", "-?"}, kUsage},
      {{"in.wav", "out.k58", "/H"}, kUsage},
      {{"in.wav", "out.k58", "-v", "-h", "-tl10000"}, kUsage},
      {{"in.wav", "out.k58", "-V"}, kRun, true},
      {{"in.wav", "out.k58", "-prev"}, kRun, false, false},
      {{"in.wav", "out.k58", "-pr", "/PN"}, kRun, false, true},
      {{"in.wav", "out.k58", "-px", "-phase", "-tx12", "-x", "-", "/", "-p", "-t"}, kRun},
      {{"in.wav", "out.k58", "verbose", "v"}, kRun},
      {{"in.wav", "out.k58", "-th8400", "-tl7d00"}, kRun, false, true, 0x8400, 0x7D00},
      {{"in.wav", "out.k58", "-tl7d00", "-th8400"}, kRun, false, true, 0x8400, 0x7D00},
      {{"in.wav", "out.k58", "-TH8400", "/Tl7D00"}, kRun, false, true, 0x8400, 0x7D00},
      {{"in.wav", "out.k58", "-th0"}, kRun, false, true, 0, 0},
      {{"in.wav", "out.k58", "-th"}, kRun, false, true, 0, 0},
      {{"in.wav", "out.k58", "-th9000", "-th9100"}, kRun, false, true, 0x9100, 0},
      {{"in.wav", "out.k58", "-thG"}, kRun, false, true, 16, 0},
      {{"in.wav", "out.k58", "-th1g"}, kRun, false, true, 0x20, 0},
      {{"in.wav", "out.k58", "-tl8000", "-tlffff"}, kRun, false, true, 0xFFFF, 0xFFFF},
      {{"in.wav", "out.k58", "-tl10000"}, kLowAboveHigh},
      {{"in.wav", "out.k58", "-th7000", "-tl8000"}, kLowAboveHigh},
      {{"in.wav", "out.k58", "-tl8000", "-th7000"}, kHighBelowLow},
      {{"in.wav", "out.k58", "-tl8000", "-th7000", "-h"}, kHighBelowLow},
      // The file names are never options, whatever they look like.
      {{"/home/u/in.wav", "/tmp/out.k58"}, kRun},
      {{"/proj/in.wav", "/thesis/out.k58"}, kRun},
      {{"-v", "in.wav", "out.k58"}, kRun},
  };
  for (const ParseCase& c : cases) {
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    const ParseResult r = Parse(c.args);
    EXPECT_EQ(r.outcome, c.outcome) << line;
    if (r.outcome != kRun) continue;
    EXPECT_EQ(r.settings.source, c.args[0]) << line;
    EXPECT_EQ(r.settings.destination, c.args[1]) << line;
    EXPECT_EQ(r.settings.verbose, c.verbose) << line;
    EXPECT_EQ(r.settings.phaseNormal, c.phaseNormal) << line;
    EXPECT_EQ(r.settings.highLevel, c.high) << line;
    EXPECT_EQ(r.settings.lowLevel, c.low) << line;
  }
}

TEST(ParseArgumentsTest, ChoosesTheReadingAndTheChannel) {
  struct Case {
    std::vector<const char*> options;
    bool standard;
    ChannelChoice channel;
  };
  using enum ChannelChoice;
  for (const Case& c : {
           Case{{}, false, kMix}, Case{{"-s"}, true, kMix}, Case{{"/Standard"}, true, kMix},
           Case{{"-cl"}, false, kFirst}, Case{{"-CR"}, false, kSecond},
           Case{{"-cr", "-cleft"}, false, kFirst}, Case{{"-cl", "-cm"}, false, kMix},
           Case{{"-cl", "-cx", "-c", "-s"}, true, kFirst},  // -cx and -c change nothing
       }) {
    std::vector<const char*> args{"in.wav", "out.k58"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ParseResult r = Parse(args);
    ASSERT_EQ(r.outcome, ParseOutcome::kRun);
    EXPECT_EQ(r.settings.reading.standard, c.standard) << args.size();
    EXPECT_EQ(r.settings.reading.channel, c.channel) << args.size();
  }
  // The file names are never options.
  EXPECT_FALSE(Parse({"-s.wav", "-cl.k58"}).settings.reading.standard);
  // -a, in either case, with anything after it.
  EXPECT_FALSE(Parse({"in.wav", "out.k58"}).settings.adaptive);
  EXPECT_TRUE(Parse({"in.wav", "out.k58", "-a"}).settings.adaptive);
  EXPECT_TRUE(Parse({"in.wav", "out.k58", "/Adaptive"}).settings.adaptive);
  EXPECT_FALSE(Parse({"-a", "out.k58"}).settings.adaptive);
}

TEST(ParseHexTest, AccumulatesEveryCharacterWithoutRejectingAny) {
  EXPECT_EQ(ParseHex(""), 0u);
  EXPECT_EQ(ParseHex("7d00"), 0x7D00u);
  EXPECT_EQ(ParseHex("FfFf"), 0xFFFFu);
  EXPECT_EQ(ParseHex("G"), 16u);
  EXPECT_EQ(ParseHex("123456789"), 0x23456789u);  // wraps in 32 bits
  EXPECT_EQ(ParseHex("!"), static_cast<uint32_t>('!' - 48));
  EXPECT_EQ(ParseHex("\xE9"), static_cast<uint32_t>(-71));
  EXPECT_EQ(ParseHex("1\xE9"), 16u - 71u);
}

}  // namespace
}  // namespace pulsecut
