// k58: looks into, renders, compares and labels K58 tape images.
#include <cstdio>
#include <string>
#include <vector>

#include "base/platform.h"
#include "k58/commands.h"
#include "k58/k58_options.h"

int main(int argc, char** argv) {
  using namespace pulsecut::k58;
  // The arguments as UTF-8 (on Windows from the wide command line: any file name works).
  const std::vector<std::string> args = pulsecut::Utf8Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& a : args) pointers.push_back(a.c_str());
  const ParsedOptions parsed = ParseOptions(static_cast<int>(pointers.size()), pointers.data());
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
