// Running a built program of the project in a directory, as the end-to-end tests do.
#pragma once

#include <string>
#include <vector>

namespace pulsecut::testing {

struct Outcome {
  int status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `binary` with `args` in `directory` through the shell, with `input` (a file) piped to
// its standard input when given, and returns its status and what it printed.
Outcome RunProgram(const std::string& binary, const std::vector<std::string>& args,
                   const std::string& directory, const std::string& input = "");

}  // namespace pulsecut::testing
