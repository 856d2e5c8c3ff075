// The command line of `k58`, the companion tool for K58 tape images.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pulsecut::k58 {

enum class Subcommand { kNone, kInfo, kWav, kDiff, kLabels, kPlot };

// The options a subcommand takes, as flags.
enum OptionFlag : unsigned {
  kJsonOption = 1u << 0,           // info --json
  kRenderRateOption = 1u << 1,     // wav --rate
  kBitsOption = 1u << 2,           // wav --bits
  kToleranceOption = 1u << 3,      // diff --tolerance
  kBoundsOption = 1u << 4,         // labels --shorter-than, --longer-than
  kRecordingRateOption = 1u << 5,  // labels --rate
  kRecordingOption = 1u << 6,      // labels --recording, -s
  kAlignOption = 1u << 7,          // diff --offset, --no-align
  kPlotOption = 1u << 8,           // plot --at, --span, --image, --histogram and pulsecut's options
};

struct Options {
  Subcommand subcommand = Subcommand::kNone;
  bool help = false;                   // print the usage text (of the subcommand, if one is named)
  bool version = false;                // print the version
  std::vector<std::string> files;      // the subcommand's operands, in order
  bool json = false;                   // info --json
  uint32_t rate = 44100;               // wav --rate
  uint16_t bits = 8;                   // wav --bits
  int64_t toleranceMicroseconds = 45;  // diff --tolerance (five ticks)
  std::optional<int64_t> shorterThanMicroseconds;  // labels --shorter-than
  std::optional<int64_t> longerThanMicroseconds;   // labels --longer-than
  std::optional<uint32_t> recordingRate;           // labels --rate
  std::optional<std::string> recording;            // labels --recording
  bool standardReading = false;                    // labels -s: the recording was read with -s
  bool align = true;                               // diff: find the offset (--no-align: not)
  std::optional<double> offsetMilliseconds;        // diff --offset
  std::optional<double> atSeconds;                 // plot --at
  double spanMilliseconds = 20;                    // plot --span
  std::optional<std::string> image;                // plot --image
  bool histogram = false;                          // plot --histogram
  std::vector<std::string> conversion;             // plot: pulsecut's options (-s, -a, -th...)
};

struct ParsedOptions {
  bool ok = false;
  std::string error;  // one line when !ok, starting "k58: " or "k58 SUBCOMMAND: "
  Options options;
};

// One subcommand: its name, how many files it takes, its options, its usage and the function
// that runs it (reports to `out`, errors to `err`, returns the exit status).
struct SubcommandSpec {
  const char* name;
  Subcommand subcommand;
  size_t files;
  unsigned options;     // OptionFlag bits
  const char* summary;  // its line in the tool's usage text
  const char* usage;    // its own usage text
  int (*run)(const Options& options, std::FILE* out, std::FILE* err);
};

// The table of subcommands, in the order the usage text lists them (defined with their
// handlers, in commands.cc).
std::span<const SubcommandSpec> Subcommands();
// The entry of `subcommand`, or null for kNone.
const SubcommandSpec* FindSubcommand(Subcommand subcommand);

// Parses argv[1..argc) without printing or exiting: `k58 SUBCOMMAND [options] FILES`, or
// `k58 --help` / `k58 SUBCOMMAND --help`. Options may come before, between or after the files.
ParsedOptions ParseOptions(int argc, const char* const* argv);

// The usage text of a subcommand, or of the whole tool for kNone.
std::string UsageText(Subcommand subcommand);

}  // namespace pulsecut::k58
