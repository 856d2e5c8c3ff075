#include "process.h"

#include <sys/wait.h>

#include <cstdlib>

#include "wav_fixture.h"

namespace pulsecut::testing {
namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

Outcome RunProgram(const std::string& binary, const std::vector<std::string>& args,
                   const std::string& directory, const std::string& input) {
  const std::string out = directory + "/.stdout";
  const std::string err = directory + "/.stderr";
  std::string command = "cd " + Quote(directory) + " && ";
  if (!input.empty()) command += "cat " + Quote(input) + " | ";
  command += Quote(binary);
  for (const std::string& a : args) command += " " + Quote(a);
  command += " >" + Quote(out) + " 2>" + Quote(err);
  const int raw = std::system(command.c_str());
  Outcome o;
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.out = ReadFile(out);
  o.err = ReadFile(err);
  return o;
}

}  // namespace pulsecut::testing
