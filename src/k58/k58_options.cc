#include "k58/k58_options.h"

#include <cerrno>
#include <cstdlib>

namespace pulsecut::k58 {
namespace {

struct Named {
  const char* name;
  Subcommand subcommand;
  size_t files;
};
constexpr Named kSubcommands[] = {{"info", Subcommand::kInfo, 1},
                                  {"wav", Subcommand::kWav, 2},
                                  {"diff", Subcommand::kDiff, 2},
                                  {"labels", Subcommand::kLabels, 2}};

// A whole decimal number from `low` to `high`, or nullopt.
std::optional<int64_t> Number(const std::string& text, int64_t low, int64_t high) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

ParsedOptions ParseOptions(int argc, const char* const* argv) {
  ParsedOptions parsed;
  Options& o = parsed.options;
  auto fail = [&parsed](const std::string& error) {
    parsed.ok = false;
    parsed.error = error;
    return parsed;
  };
  if (argc < 2) return fail("no subcommand given (info, wav, diff or labels); see k58 --help");
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    o.help = true;
    parsed.ok = true;
    return parsed;
  }
  size_t files = 0;
  for (const Named& n : kSubcommands) {
    if (first == n.name) {
      o.subcommand = n.subcommand;
      files = n.files;
    }
  }
  if (o.subcommand == Subcommand::kNone) {
    return fail("unknown subcommand '" + first + "' (info, wav, diff or labels)");
  }
  const std::string prefix = "k58 " + first + ": ";
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      parsed.ok = true;
      return parsed;
    }
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      o.files.push_back(arg);
      continue;
    }
    // Options that take a value: --name VALUE or --name=VALUE.
    std::string name = arg;
    std::optional<std::string> value;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    auto takeValue = [&]() -> std::optional<std::string> {
      if (value) return value;
      if (i + 1 < argc) return std::string(argv[++i]);
      return std::nullopt;
    };
    const Subcommand s = o.subcommand;
    if (name == "--json" && s == Subcommand::kInfo && !value) {
      o.json = true;
    } else if (name == "--rate" && (s == Subcommand::kWav || s == Subcommand::kLabels)) {
      const auto text = takeValue();
      const auto rate = text ? Number(*text, 1, 1000000) : std::nullopt;
      if (!rate) return fail(prefix + "--rate needs a sample rate from 1 to 1000000 Hz");
      if (s == Subcommand::kWav) {
        o.rate = static_cast<uint32_t>(*rate);
      } else {
        o.recordingRate = static_cast<uint32_t>(*rate);
      }
    } else if (name == "--bits" && s == Subcommand::kWav) {
      const auto text = takeValue();
      const auto bits = text ? Number(*text, 8, 16) : std::nullopt;
      if (!bits || (*bits != 8 && *bits != 16)) return fail(prefix + "--bits needs 8 or 16");
      o.bits = static_cast<uint16_t>(*bits);
    } else if (name == "--tolerance" && s == Subcommand::kDiff) {
      const auto text = takeValue();
      const auto us = text ? Number(*text, 0, 1000000000) : std::nullopt;
      if (!us) return fail(prefix + "--tolerance needs a whole number of microseconds");
      o.toleranceMicroseconds = *us;
    } else if ((name == "--shorter-than" || name == "--longer-than") && s == Subcommand::kLabels) {
      const auto text = takeValue();
      const auto us = text ? Number(*text, 0, INT64_MAX / 2) : std::nullopt;
      if (!us) return fail(prefix + name + " needs a whole number of microseconds");
      (name == "--shorter-than" ? o.shorterThanMicroseconds : o.longerThanMicroseconds) = *us;
    } else {
      return fail(prefix + "unknown option '" + arg + "'");
    }
  }
  if (o.files.size() != files) {
    return fail(prefix + "needs " + (files == 1 ? "one file" : "two files") + ", got " +
                std::to_string(o.files.size()) + "; see k58 " + first + " --help");
  }
  parsed.ok = true;
  return parsed;
}

std::string UsageText(Subcommand subcommand) {
  switch (subcommand) {
    case Subcommand::kInfo:
      return "Usage: k58 info IMAGE [--json]\n"
             "Checks a K58 tape image and prints its records, stretches, duration, the\n"
             "shortest and longest stretch of each state, the 32767-tick continuation records,\n"
             "the recording's sample rate when the durations reveal it, and a histogram of\n"
             "stretch durations per state. --json prints the same facts as one JSON object.\n";
    case Subcommand::kWav:
      return "Usage: k58 wav IMAGE OUT.wav [--rate HZ] [--bits 8|16]\n"
             "Renders the image as a square-wave mono PCM WAV (default 44100 Hz, 8-bit), edges\n"
             "placed by the image's running time so that a long tape does not drift. pulsecut\n"
             "converts the render back (16-bit samples are stored as pulsecut reads them,\n"
             "unsigned, so as signed audio they play inverted).\n";
    case Subcommand::kDiff:
      return "Usage: k58 diff A B [--tolerance US]\n"
             "Compares two images edge by edge: edges matched within the tolerance (default 45\n"
             "microseconds, five ticks), edges only in A or only in B, the largest deviation and\n"
             "the first disagreement. Exit status 0 when the images agree, 1 when they differ.\n";
    case Subcommand::kLabels:
      return "Usage: k58 labels IMAGE OUT.txt [--shorter-than US] [--longer-than US] [--rate HZ]\n"
             "Writes an Audacity label file (start and end in seconds, a label) for every\n"
             "stretch shorter or longer than the bounds: by default shorter than half the\n"
             "shortest peak of the duration histogram (runt pulses) or longer than twice the\n"
             "longest (dropouts, silences). Times count from the image's start; with the\n"
             "recording's sample rate (--rate, or inferred from the durations) each stretch's\n"
             "samples are recovered exactly and the times are the recording's own.\n";
    case Subcommand::kNone:
      break;
  }
  return "Usage: k58 SUBCOMMAND [options] FILES\n"
         "A companion tool for K58 tape images written by pulsecut.\n"
         "  info IMAGE [--json]                 what the image holds\n"
         "  wav IMAGE OUT.wav [--rate] [--bits] render it as a square-wave WAV\n"
         "  diff A B [--tolerance US]           compare two images edge by edge\n"
         "  labels IMAGE OUT.txt [...]          Audacity labels for odd stretches\n"
         "k58 SUBCOMMAND --help tells more. Exit status: 0 done (diff: the images agree),\n"
         "1 an image is unreadable or malformed (diff: the images differ), 2 bad arguments.\n";
}

}  // namespace pulsecut::k58
