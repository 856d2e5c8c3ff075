// The four subcommands of `k58`.
#pragma once

#include <cstdio>

#include "k58/k58_options.h"

namespace pulsecut::k58 {

inline constexpr int kExitOk = 0;
inline constexpr int kExitImage = 1;      // an image is unreadable or malformed; diff: differ
inline constexpr int kExitArguments = 2;  // bad arguments

// Runs the subcommand of `options` (already parsed and valid): reports go to `out`, errors to
// `err`. Returns the exit status.
int RunSubcommand(const Options& options, std::FILE* out, std::FILE* err);

}  // namespace pulsecut::k58
