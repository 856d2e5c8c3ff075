// The command line of `k58`, the companion tool for K58 tape images.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pulsecut::k58 {

enum class Subcommand { kNone, kInfo, kWav, kDiff, kLabels };

struct Options {
  Subcommand subcommand = Subcommand::kNone;
  bool help = false;                   // print the usage text (of the subcommand, if one is named)
  std::vector<std::string> files;      // the subcommand's operands, in order
  bool json = false;                   // info --json
  uint32_t rate = 44100;               // wav --rate
  uint16_t bits = 8;                   // wav --bits
  int64_t toleranceMicroseconds = 45;  // diff --tolerance (five ticks)
  std::optional<int64_t> shorterThanMicroseconds;  // labels --shorter-than
  std::optional<int64_t> longerThanMicroseconds;   // labels --longer-than
  std::optional<uint32_t> recordingRate;           // labels --rate
};

struct ParsedOptions {
  bool ok = false;
  std::string error;  // one line when !ok
  Options options;
};

// Parses argv[1..argc) without printing or exiting: `k58 SUBCOMMAND [options] FILES`, or
// `k58 --help` / `k58 SUBCOMMAND --help`. Options may come before, between or after the files.
ParsedOptions ParseOptions(int argc, const char* const* argv);

// The usage text of a subcommand, or of the whole tool for kNone.
std::string UsageText(Subcommand subcommand);

}  // namespace pulsecut::k58
