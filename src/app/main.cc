// pulsecut: converts a WAV recording of an RQ5 cassette into a K58 tape image.
#include <cstdio>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/run.h"
#include "base/platform.h"

int main(int argc, char** argv) {
  // Line-buffered, so that progress lines and error reports keep their order in one log.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // The arguments as UTF-8 (on Windows from the wide command line: any file name works).
  const std::vector<std::string> args = pulsecut::Utf8Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& a : args) pointers.push_back(a.c_str());
  const pulsecut::ParseResult parsed =
      pulsecut::ParseArguments(static_cast<int>(pointers.size()), pointers.data());
  if (parsed.outcome != pulsecut::ParseOutcome::kRun) {
    return pulsecut::ReportParseOutcome(parsed.outcome, stdout);
  }
  return pulsecut::Run(parsed.settings, stdout, stderr);
}
