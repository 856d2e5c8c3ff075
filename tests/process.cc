#include "process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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
                   const std::string& directory, const std::string& input,
                   const std::string& setup) {
  const std::string out = directory + "/.stdout";
  const std::string err = directory + "/.stderr";
  std::string command = "cd " + Quote(directory) + " && ";
  if (!setup.empty()) command += setup + "; ";
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

int StartProgram(const std::string& binary, const std::vector<std::string>& args,
                 const std::string& directory) {
  std::vector<std::string> words{binary};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(directory.c_str()) == 0) execv(binary.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int WaitForProgram(int pid) {
  int raw = 0;
  waitpid(pid, &raw, 0);
  return raw;
}

}  // namespace pulsecut::testing
