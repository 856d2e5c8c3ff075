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
                   const std::string& directory, const std::string& input = "",
                   const std::string& setup = "");
// `setup`: shell commands run first in the same shell, such as "ulimit -f 64" (the program
// inherits the limit).

// Starts `binary` with `args` in `directory`, its output discarded, and returns its process id
// at once; -1 when it cannot be started.
int StartProgram(const std::string& binary, const std::vector<std::string>& args,
                 const std::string& directory);
// Waits for a started program to end and returns the raw wait status.
int WaitForProgram(int pid);

}  // namespace pulsecut::testing
