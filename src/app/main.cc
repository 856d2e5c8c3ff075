// pulsecut: converts a WAV recording of an RQ5 cassette into a K58 tape image.
#include <cstdio>

#include "app/options.h"
#include "app/run.h"

int main(int argc, char** argv) {
  // Line-buffered, so that progress lines and error reports keep their order in one log.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const pulsecut::ParseResult parsed = pulsecut::ParseArguments(argc, argv);
  if (parsed.outcome != pulsecut::ParseOutcome::kRun) {
    return pulsecut::ReportParseOutcome(parsed.outcome, stdout);
  }
  return pulsecut::Run(parsed.settings, stdout, stderr);
}
