#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace pulsecut {
namespace {

// The temporary file of the output in progress, for the signal handler (a run writes one
// output at a time).
char pendingPath[PATH_MAX + 1];
volatile sig_atomic_t pending = 0;

// The signals that end a run from outside: the temporary file goes, then the signal takes its
// course (the process ends as it would have, 128 + the signal's number to a shell).
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemovePendingAndEnd(int sig) {
  if (pending != 0) unlink(pendingPath);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void Watch(const std::string& path) {
  if (path.size() > PATH_MAX) return;
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  pending = 1;
  for (const int sig : kEndingSignals) std::signal(sig, RemovePendingAndEnd);
}

void Unwatch() {
  pending = 0;
  for (const int sig : kEndingSignals) std::signal(sig, SIG_DFL);
}

// The permission bits that creating the file directly would give: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

OutputFile::~OutputFile() { Abandon(); }

std::FILE* OutputFile::Open(const std::string& path) {
  Abandon();
  target_ = path;
  struct stat info;
  const bool exists = stat(path.c_str(), &info) == 0;
  bool direct = exists && (!S_ISREG(info.st_mode) || info.st_nlink > 1);
  mode_t mode = NewFileMode();
  if (exists && !direct) {
    // An existing file that cannot be written is refused, as opening it would refuse it.
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0) return nullptr;
    close(fd);
    mode = info.st_mode & 07777;
    // A symbolic link stays a link: its target is replaced.
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
      direct = true;
    } else {
      target_ = resolved;
    }
  }
  if (!direct) {
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    // No ending signal between making the file and watching it.
    sigset_t ending;
    sigset_t before;
    sigemptyset(&ending);
    for (const int sig : kEndingSignals) sigaddset(&ending, sig);
    sigprocmask(SIG_BLOCK, &ending, &before);
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) {
      temporary_ = pattern;
      Watch(temporary_);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (fd >= 0) {
      if (fchmod(fd, mode) != 0 || (stream_ = fdopen(fd, "wb")) == nullptr) {
        const int error = errno;
        close(fd);
        Abandon();
        errno = error;
        return nullptr;
      }
      return stream_;
    }
    // No temporary file here (a folder that is missing or not writable): open the destination
    // itself, which fails with the reason or, for a writable file, writes it directly.
  }
  stream_ = std::fopen(path.c_str(), "wb");
  return stream_;
}

int OutputFile::Commit() {
  if (stream_ == nullptr) return EBADF;
  int error = 0;
  if (std::fflush(stream_) != 0) error = errno;
  // On the disk before it takes the destination's name: a crash after the rename cannot leave
  // an empty file under that name.
  if (error == 0 && !temporary_.empty() && fsync(fileno(stream_)) != 0) error = errno;
  if (std::fclose(stream_) != 0 && error == 0) error = errno;
  stream_ = nullptr;
  if (error == 0 && !temporary_.empty() && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    Abandon();
    return error;
  }
  if (!temporary_.empty()) Unwatch();
  temporary_.clear();
  return 0;
}

void OutputFile::Abandon() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    Unwatch();
    temporary_.clear();
  }
}

}  // namespace pulsecut
