// The command line: `pulsecut infile outfile [options]`.
#pragma once

#include <cstdint>
#include <string>

#include "wav/wave_format.h"

namespace pulsecut {

inline constexpr uint32_t kDefaultHighLevel = 0xFFFF;
inline constexpr uint32_t kDefaultLowLevel = 0;

// The settings of one run.
struct Settings {
  std::string source;       // the first argument
  std::string destination;  // the second argument
  bool verbose = false;
  bool phaseNormal = true;
  uint32_t highLevel = kDefaultHighLevel;
  uint32_t lowLevel = kDefaultLowLevel;
  ReadOptions reading;    // -s and -c
  bool adaptive = false;  // -a: the adaptive comparator
};

enum class ParseOutcome {
  kRun,           // convert with the settings
  kUsage,         // print the usage text, exit status 0
  kHighBelowLow,  // -th gave a level below the low level, exit status 1
  kLowAboveHigh,  // -tl gave a level above the high level, exit status 1
  kVersion,       // --version as the only argument: print the version, exit status 0
};

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::kRun;
  Settings settings;
};

// Parses argv[1..argc) without printing or exiting. Fewer than two arguments ask for the usage
// text, except --version alone, which asks for the version. The first two arguments are the file
// names and are never read as options; from the third on, an argument that starts with '-' or '/'
// is an option chosen by its second character (and for -c, -p and -t its third), in either case:
// -v, -s, -a, -cl, -cr, -cm, -pn, -pr, -th<hex>, -tl<hex>, -h and -?. Anything else is ignored.
// Each level is checked against the other one as it is parsed; the first failing check or -h ends
// the parse.
ParseResult ParseArguments(int argc, const char* const* argv);

// The value of the hexadecimal digits in `digits`, accumulated as value * 16 + digit in
// unsigned 32-bit arithmetic; no character is rejected. A character above '9' (as a signed
// byte) counts as its code with bit 5 cleared minus 55 (A-F and a-f give 10-15, G gives 16);
// any other counts as its code minus 48 (so a byte 0xE9 counts -71).
uint32_t ParseHex(const char* digits);

// The usage text, ending in a newline.
const char* UsageText();

}  // namespace pulsecut
