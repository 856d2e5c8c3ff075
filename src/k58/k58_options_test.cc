#include "k58/k58_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace pulsecut::k58 {
namespace {

ParsedOptions Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "k58");
  return ParseOptions(static_cast<int>(args.size()), args.data());
}

TEST(K58OptionsTest, ParsesEachSubcommand) {
  ParsedOptions p = Parse({"info", "a.k58", "--json"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.subcommand, Subcommand::kInfo);
  EXPECT_TRUE(p.options.json);
  EXPECT_EQ(p.options.files, std::vector<std::string>{"a.k58"});

  p = Parse({"wav", "--rate", "96000", "a.k58", "r.wav", "--bits=16"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.rate, 96000u);
  EXPECT_EQ(p.options.bits, 16);
  EXPECT_EQ(p.options.files, (std::vector<std::string>{"a.k58", "r.wav"}));

  p = Parse({"diff", "a.k58", "b.k58", "--tolerance", "30"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.toleranceMicroseconds, 30);

  p = Parse({"labels", "a.k58", "l.txt", "--shorter-than", "100", "--longer-than=2000", "--rate",
             "44100"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.shorterThanMicroseconds, 100);
  EXPECT_EQ(p.options.longerThanMicroseconds, 2000);
  EXPECT_EQ(p.options.recordingRate, 44100u);

  p = Parse({"wav", "--help"});
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.options.help);
  EXPECT_EQ(p.options.subcommand, Subcommand::kWav);
  EXPECT_TRUE(Parse({"--help"}).options.help);
}

TEST(K58OptionsTest, RejectsBadArgumentsWithOneLine) {
  struct Case {
    std::vector<const char*> args;
    const char* error;
  };
  const Case cases[] = {
      {{}, "k58: no subcommand given (info, wav, diff, labels or plot); see k58 --help"},
      {{"play"}, "k58: unknown subcommand 'play' (info, wav, diff, labels or plot)"},
      {{"info"}, "k58 info: needs one file, got 0; see k58 info --help"},
      {{"diff", "a"}, "k58 diff: needs two files, got 1; see k58 diff --help"},
      {{"info", "a", "--rate", "8000"}, "k58 info: unknown option '--rate'"},
      {{"wav", "a", "b", "--bits", "12"}, "k58 wav: --bits needs 8 or 16"},
      {{"wav", "a", "b", "--rate", "0"},
       "k58 wav: --rate needs a sample rate from 1 to 1000000 Hz"},
      {{"wav", "a", "b", "--rate"}, "k58 wav: --rate needs a sample rate from 1 to 1000000 Hz"},
      {{"diff", "a", "b", "--tolerance", "-3"},
       "k58 diff: --tolerance needs a whole number of microseconds"},
      {{"labels", "a", "b", "--shorter-than", "1e3"},
       "k58 labels: --shorter-than needs a whole number of microseconds"},
  };
  for (const Case& c : cases) {
    const ParsedOptions p = Parse(c.args);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.error, c.error);
  }
}

}  // namespace
}  // namespace pulsecut::k58
