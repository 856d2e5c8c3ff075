#include "k58/k58_options.h"

#include <cerrno>
#include <cstdlib>

namespace pulsecut::k58 {
namespace {

// A whole decimal number from `low` to `high`, or nullopt.
std::optional<int64_t> Number(const std::string& text, int64_t low, int64_t high) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

// One option: its name, the flag a subcommand must have for it, whether it takes a value, and
// how it stores the value. `set` returns false when the value is not acceptable; `error` then
// says what the option needs.
struct OptionSpec {
  const char* name;
  unsigned flag;
  bool takesValue;
  const char* error;
  bool (*set)(Options& o, const std::string& value);
};

// The largest sample rate of --rate, and the largest microsecond count of --tolerance.
constexpr int64_t kMaxRate = 1000000;
constexpr int64_t kMaxTolerance = 1000000000;

template <typename Store>
bool SetNumber(const std::string& value, int64_t low, int64_t high, Store store) {
  const std::optional<int64_t> n = Number(value, low, high);
  if (n) store(*n);
  return n.has_value();
}

constexpr OptionSpec kOptions[] = {
    {"--json", kJsonOption, false, "",
     [](Options& o, const std::string&) { return o.json = true; }},
    {"--rate", kRenderRateOption, true, "--rate needs a sample rate from 1 to 1000000 Hz",
     [](Options& o, const std::string& v) {
       return SetNumber(v, 1, kMaxRate, [&](int64_t n) { o.rate = static_cast<uint32_t>(n); });
     }},
    {"--rate", kRecordingRateOption, true, "--rate needs a sample rate from 1 to 1000000 Hz",
     [](Options& o, const std::string& v) {
       return SetNumber(v, 1, kMaxRate,
                        [&](int64_t n) { o.recordingRate = static_cast<uint32_t>(n); });
     }},
    {"--bits", kBitsOption, true, "--bits needs 8 or 16",
     [](Options& o, const std::string& v) {
       const std::optional<int64_t> bits = Number(v, 8, 16);
       if (!bits || (*bits != 8 && *bits != 16)) return false;
       o.bits = static_cast<uint16_t>(*bits);
       return true;
     }},
    {"--tolerance", kToleranceOption, true, "--tolerance needs a whole number of microseconds",
     [](Options& o, const std::string& v) {
       return SetNumber(v, 0, kMaxTolerance, [&](int64_t n) { o.toleranceMicroseconds = n; });
     }},
    {"--recording", kRecordingOption, true, "--recording needs the recording's file name",
     [](Options& o, const std::string& v) {
       o.recording = v;
       return !v.empty();
     }},
    {"-s", kRecordingOption, false, "",
     [](Options& o, const std::string&) { return o.standardReading = true; }},
    {"--no-align", kAlignOption, false, "",
     [](Options& o, const std::string&) {
       o.align = false;
       return true;
     }},
    {"--offset", kAlignOption, true, "--offset needs a time in milliseconds, such as 2.5 or -0.3",
     [](Options& o, const std::string& v) {
       char* end = nullptr;
       errno = 0;
       const double ms = std::strtod(v.c_str(), &end);
       if (v.empty() || *end != '\0' || errno != 0 || !(ms > -1e9 && ms < 1e9)) return false;
       o.offsetMilliseconds = ms;
       return true;
     }},
    {"--at", kPlotOption, true, "--at needs a time in seconds, 0 or more",
     [](Options& o, const std::string& v) {
       char* end = nullptr;
       const double s = std::strtod(v.c_str(), &end);
       if (v.empty() || *end != '\0' || !(s >= 0 && s < 1e9)) return false;
       o.atSeconds = s;
       return true;
     }},
    {"--span", kPlotOption, true, "--span needs a time in milliseconds, above 0 and at most 600000",
     [](Options& o, const std::string& v) {
       char* end = nullptr;
       const double ms = std::strtod(v.c_str(), &end);
       if (v.empty() || *end != '\0' || !(ms > 0 && ms <= 600000)) return false;
       o.spanMilliseconds = ms;
       return true;
     }},
    {"--image", kPlotOption, true, "--image needs an image's file name",
     [](Options& o, const std::string& v) {
       o.image = v;
       return !v.empty();
     }},
    {"--histogram", kPlotOption, false, "",
     [](Options& o, const std::string&) { return o.histogram = true; }},
    {"--shorter-than", kBoundsOption, true, "--shorter-than needs a whole number of microseconds",
     [](Options& o, const std::string& v) {
       return SetNumber(v, 0, INT64_MAX / 2, [&](int64_t n) { o.shorterThanMicroseconds = n; });
     }},
    {"--longer-than", kBoundsOption, true, "--longer-than needs a whole number of microseconds",
     [](Options& o, const std::string& v) {
       return SetNumber(v, 0, INT64_MAX / 2, [&](int64_t n) { o.longerThanMicroseconds = n; });
     }},
};

// "info, wav, diff or labels".
std::string SubcommandNames() {
  std::string names;
  const auto all = Subcommands();
  for (size_t i = 0; i < all.size(); ++i) {
    names += i == 0 ? "" : i + 1 == all.size() ? " or " : ", ";
    names += all[i].name;
  }
  return names;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

const SubcommandSpec* FindSubcommand(Subcommand subcommand) {
  for (const SubcommandSpec& s : Subcommands()) {
    if (s.subcommand == subcommand) return &s;
  }
  return nullptr;
}

ParsedOptions ParseOptions(int argc, const char* const* argv) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  auto fail = [&parsed](const std::string& error) {
    parsed.ok = false;
    parsed.error = error;
    return parsed;
  };
  auto help = [&parsed] {
    parsed.options.help = true;
    parsed.ok = true;
    return parsed;
  };
  if (argc < 2) {
    return fail("k58: no subcommand given (" + SubcommandNames() + "); see k58 --help");
  }
  const std::string first = argv[1];
  if (IsHelp(first) || first == "help") return help();
  if (first == "--version") {
    o.version = true;
    parsed.ok = true;
    return parsed;
  }
  const SubcommandSpec* spec = nullptr;
  for (const SubcommandSpec& s : Subcommands()) {
    if (first == s.name) spec = &s;
  }
  if (spec == nullptr) {
    return fail("k58: unknown subcommand '" + first + "' (" + SubcommandNames() + ")");
  }
  o.subcommand = spec->subcommand;
  const std::string prefix = "k58 " + first + ": ";
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (IsHelp(arg)) return help();
    // plot takes pulsecut's options as they are: -s, -a, -cl, -pr, -th9000 ...
    if ((spec->options & kPlotOption) != 0 && arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') {
      o.conversion.push_back(arg);
      continue;
    }
    if ((arg.size() < 2 || arg.compare(0, 2, "--") != 0) && arg != "-s") {
      o.files.push_back(arg);
      continue;
    }
    // --name, --name VALUE or --name=VALUE.
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const OptionSpec* option = nullptr;
    for (const OptionSpec& candidate : kOptions) {
      if (name == candidate.name && (spec->options & candidate.flag) != 0) option = &candidate;
    }
    if (option == nullptr || (!option->takesValue && eq != std::string::npos)) {
      return fail(prefix + "unknown option '" + arg + "'");
    }
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (option->takesValue) {
      if (i + 1 >= argc) return fail(prefix + option->error);
      value = argv[++i];
    }
    if (!option->set(o, value)) return fail(prefix + option->error);
  }
  if (o.subcommand == Subcommand::kPlot && !o.histogram && !o.atSeconds) {
    return fail(prefix + "needs --at SECONDS (or --histogram and an image)");
  }
  if (o.files.size() != spec->files) {
    return fail(prefix + "needs " + (spec->files == 1 ? "one file" : "two files") + ", got " +
                std::to_string(o.files.size()) + "; see k58 " + first + " --help");
  }
  parsed.ok = true;
  return parsed;
}

std::string UsageText(Subcommand subcommand) {
  if (const SubcommandSpec* spec = FindSubcommand(subcommand)) return spec->usage;
  std::string text =
      "Usage: k58 SUBCOMMAND [options] FILES\n"
      "A companion tool for K58 tape images written by pulsecut.\n";
  for (const SubcommandSpec& s : Subcommands()) text += s.summary;
  return text +
         "k58 SUBCOMMAND --help tells more. Exit status: 0 done (diff: the images agree),\n"
         "1 an image is unreadable or malformed (diff: the images differ), 2 bad arguments.\n";
}

}  // namespace pulsecut::k58
