// k58: looks into, renders, compares and labels K58 tape images.
#include <cstdio>

#include "k58/commands.h"
#include "k58/k58_options.h"

int main(int argc, char** argv) {
  using namespace pulsecut::k58;
  const ParsedOptions parsed = ParseOptions(argc, argv);
  if (!parsed.ok) {
    std::fprintf(stderr, "%s\n", parsed.error.c_str());
    return kExitArguments;
  }
  if (parsed.options.version) {
    std::puts("k58 " PULSECUT_VERSION);
    return kExitOk;
  }
  if (parsed.options.help) {
    std::fputs(UsageText(parsed.options.subcommand).c_str(), stdout);
    return kExitOk;
  }
  return RunSubcommand(parsed.options, stdout, stderr);
}
