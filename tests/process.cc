#include "process.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>

#include "base/platform.h"
#include "wav_fixture.h"

namespace pulsecut::testing {

#if defined(_WIN32)

namespace {

// One argument of a command line as the C runtime splits it again: in quotes, backslashes
// before a quote doubled.
std::wstring Quoted(const std::string& arg) {
  const std::wstring w = WideName(arg);
  std::wstring q = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : w) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') q.append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    q += c;
  }
  q.append(backslashes, L'\\');
  return q + L"\"";
}

HANDLE Inheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileW(WideName(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts the program with its output in `out` and `err` (the null device when empty).
PROCESS_INFORMATION Start(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& directory, const std::string& out,
                          const std::string& err, const std::string& input) {
  std::wstring line = Quoted(binary);
  for (const std::string& a : args) line += L" " + Quoted(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = input.empty() ? INVALID_HANDLE_VALUE : Inheritable(input, false);
  si.hStdOutput = Inheritable(out.empty() ? "NUL" : out, true);
  si.hStdError = Inheritable(err.empty() ? "NUL" : err, true);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      WideName(directory).c_str(), &si, &pi)) {
    pi.hProcess = nullptr;
  }
  for (const HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  if (pi.hThread != nullptr) CloseHandle(pi.hThread);
  return pi;
}

int Finish(HANDLE process) {
  if (process == nullptr) return -1;
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return static_cast<int>(code);
}

}  // namespace

Outcome RunProgram(const std::string& binary, const std::vector<std::string>& args,
                   const std::string& directory, const std::string& input,
                   const std::string& setup) {
  Outcome o;
  if (!setup.empty()) return o;  // shell set-up (ulimit) has no Windows counterpart
  const std::string out = directory + "/.stdout";
  const std::string err = directory + "/.stderr";
  o.status = Finish(Start(binary, args, directory, out, err, input).hProcess);
  // The programs' console output ends its lines the Windows way; the tests compare lines.
  for (std::string* text : {&o.out, &o.err}) {
    *text = ReadFile(text == &o.out ? out : err);
    std::string lf;
    for (size_t i = 0; i < text->size(); ++i) {
      if ((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
      lf += (*text)[i];
    }
    *text = lf;
  }
  return o;
}

int StartProgram(const std::string& binary, const std::vector<std::string>& args,
                 const std::string& directory) {
  const PROCESS_INFORMATION pi = Start(binary, args, directory, "", "", "");
  return pi.hProcess == nullptr ? -1 : static_cast<int>(pi.dwProcessId);
}

int WaitForProgram(int pid) {
  return Finish(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid)));
}

#else

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

#endif

}  // namespace pulsecut::testing
