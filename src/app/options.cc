#include "app/options.h"

#include <cctype>
#include <cstring>

namespace pulsecut {

uint32_t ParseHex(const char* digits) {
  uint32_t value = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    // Bytes are compared as signed codes: from 0x80 up they count as below '9'.
    const int code = static_cast<signed char>(*p);  // NOLINT(bugprone-signed-char-misuse)
    const int digit = code > '9' ? (code & ~0x20) - 55 : code - 48;
    value = value * 16u + static_cast<uint32_t>(digit);
  }
  return value;
}

ParseResult ParseArguments(int argc, const char* const* argv) {
  ParseResult result;
  if (argc < 3) {
    const bool version = argc == 2 && std::strcmp(argv[1], "--version") == 0;
    result.outcome = version ? ParseOutcome::kVersion : ParseOutcome::kUsage;
    return result;
  }
  Settings& settings = result.settings;
  settings.source = argv[1];
  settings.destination = argv[2];
  for (int i = 3; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-' && arg[0] != '/') continue;
    const int option = std::tolower(static_cast<unsigned char>(arg[1]));
    const int variant = option == '\0' ? 0 : std::tolower(static_cast<unsigned char>(arg[2]));
    if (option == 'h' || option == '?') {
      result.outcome = ParseOutcome::kUsage;
      return result;
    }
    if (option == 'v') {
      settings.verbose = true;
    } else if (option == 'a') {
      settings.adaptive = true;
    } else if (option == 's') {
      settings.reading.standard = true;
    } else if (option == 'c' && variant == 'l') {
      settings.reading.channel = ChannelChoice::kFirst;
    } else if (option == 'c' && variant == 'r') {
      settings.reading.channel = ChannelChoice::kSecond;
    } else if (option == 'c' && variant == 'm') {
      settings.reading.channel = ChannelChoice::kMix;
    } else if (option == 'p' && variant == 'n') {
      settings.phaseNormal = true;
    } else if (option == 'p' && variant == 'r') {
      settings.phaseNormal = false;
    } else if (option == 't' && variant == 'h') {
      settings.highLevel = ParseHex(arg + 3);
      if (settings.highLevel < settings.lowLevel) {
        result.outcome = ParseOutcome::kHighBelowLow;
        return result;
      }
    } else if (option == 't' && variant == 'l') {
      settings.lowLevel = ParseHex(arg + 3);
      if (settings.lowLevel > settings.highLevel) {
        result.outcome = ParseOutcome::kLowAboveHigh;
        return result;
      }
    }
  }
  return result;
}

const char* UsageText() {
  return "WAV file to K58 file converter for RQ5 v" PULSECUT_VERSION
         "\n\n"
         "Synopsis: pulsecut infile outfile [options]\n\n"
         "Option : -v       Verbose mode\n"
         "         -th[hex] Specify upper threshold in hex code\n"
         "         -tl[hex] Specify lower threshold in hex code\n\n"
         "         -p[mode] Specify phase\n"
         "                  mode: r=Reverse, n=Normal[default]\n"
         "         -h       Show this message\n"
         "ex1. pulsecut test.wav test.k58\n"
         "ex2. pulsecut test.wav test.k58 -v -th8400 -tl7d00\n";
}

}  // namespace pulsecut
