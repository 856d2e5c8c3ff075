// The run sequence of one conversion.
#pragma once

#include <cstdio>

#include "app/options.h"

namespace pulsecut {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitSource = 1;       // parameter or source error
inline constexpr int kExitDestination = 2;  // destination error

// Converts `settings.source` into the image `settings.destination`: checks the source, runs the
// level analysis when both levels hold their defaults, then the conversion. Progress lines go
// to `out`, error reports to `err`. Returns the exit status; never exits the process.
int Run(const Settings& settings, std::FILE* out, std::FILE* err);

// Prints the outcome of ParseArguments that ends the run before it starts (usage text or a
// parameter error) and returns its exit status.
int ReportParseOutcome(ParseOutcome outcome, std::FILE* out);

}  // namespace pulsecut
