// Fuzz target: arbitrary argument lists (the input split at zero bytes). Parsing must end in
// one of its outcomes, and a run's settings must be consistent with the arguments.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/options.h"
#include "check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"pulsecut"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());

  const pulsecut::ParseResult r =
      pulsecut::ParseArguments(static_cast<int>(argv.size()), argv.data());
  using pulsecut::ParseOutcome;
  switch (r.outcome) {
    case ParseOutcome::kUsage:
      break;
    case ParseOutcome::kVersion:
      Check(argv.size() == 2 && args[1] == "--version", "--version is the only argument");
      break;
    case ParseOutcome::kHighBelowLow:
    case ParseOutcome::kLowAboveHigh:
      Check(argv.size() > 3, "a level error needs a level option");
      break;
    case ParseOutcome::kRun:
      Check(argv.size() >= 3, "a run needs two file names");
      Check(r.settings.source == args[1] && r.settings.destination == args[2],
            "the file names are the first two arguments");
      Check(r.settings.highLevel >= r.settings.lowLevel, "the high level is not below the low");
      break;
    default:
      Check(false, "a known outcome");
  }
  return 0;
}
