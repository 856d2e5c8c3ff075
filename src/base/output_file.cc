#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "base/platform.h"

namespace pulsecut {
namespace {

// The temporary file of the output in progress, for the signal handler (a run writes one
// output at a time).
char pendingPath[PATH_MAX + 1];
volatile sig_atomic_t pending = 0;

// The signals that end a run from outside: the temporary file goes, then the signal takes its
// course (the process ends as it would have, 128 + the signal's number to a shell).
#if defined(SIGHUP)
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int kEndingSignals[] = {SIGINT, SIGTERM};  // Windows has no hang-up signal
#endif

extern "C" void RemovePendingAndEnd(int sig) {
  if (pending != 0) std::remove(pendingPath);
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

#if defined(_WIN32)

struct Existing {
  bool exists = false;
  bool direct = false;  // not a regular file, or one with other names
  int mode = 0;
};
Existing Inspect(const std::string& path) {
  struct _stat64 info;
  Existing e;
  e.exists = _wstat64(WideName(path).c_str(), &info) == 0;
  e.direct = e.exists && ((info.st_mode & _S_IFMT) != _S_IFREG || LinkCount(path) > 1);
  return e;
}
bool Writable(const std::string& path) { return _waccess(WideName(path).c_str(), 2) == 0; }
bool Resolve(const std::string& path, std::string& target) {
  target = path;
  return true;
}
// A new file named after `pattern`'s XXXXXX, created exclusively; its descriptor, or -1.
int MakeTemporary(std::string& pattern, int /*mode*/) {
  const size_t at = pattern.size() - 6;
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "%06u",
                  static_cast<unsigned>((GetTickCount() + attempt * 7919u) % 1000000u));
    pattern.replace(at, 6, suffix);
    int fd = -1;
    if (_wsopen_s(&fd, WideName(pattern).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                  _SH_DENYNO, _S_IREAD | _S_IWRITE) == 0) {
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}
std::FILE* StreamOf(int fd) { return _fdopen(fd, "wb"); }
void CloseDescriptor(int fd) { _close(fd); }

#else

// What is known of an existing destination.
struct Existing {
  bool exists = false;
  bool direct = false;  // not a regular file, or one with other names
  mode_t mode = 0;      // its permission bits
};
Existing Inspect(const std::string& path) {
  struct stat info;
  Existing e;
  e.exists = stat(path.c_str(), &info) == 0;
  e.direct = e.exists && (!S_ISREG(info.st_mode) || info.st_nlink > 1);
  e.mode = info.st_mode & 07777;
  return e;
}
// An existing file that cannot be written is refused, as opening it would refuse it.
bool Writable(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  close(fd);
  return true;
}
// A symbolic link stays a link: its target is replaced.
bool Resolve(const std::string& path, std::string& target) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return false;
  target = resolved;
  return true;
}
// The permission bits that creating the file directly would give: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}
int MakeTemporary(std::string& pattern, mode_t mode) {
  const int fd = mkstemp(pattern.data());
  if (fd >= 0 && fchmod(fd, mode) != 0) {
    const int error = errno;
    close(fd);
    unlink(pattern.c_str());
    errno = error;
    return -1;
  }
  return fd;
}
std::FILE* StreamOf(int fd) { return fdopen(fd, "wb"); }
void CloseDescriptor(int fd) { close(fd); }

#endif

}  // namespace

OutputFile::~OutputFile() { Abandon(); }

std::FILE* OutputFile::Open(const std::string& path) {
  Abandon();
  target_ = path;
  const Existing existing = Inspect(path);
  bool direct = existing.direct;
#if defined(_WIN32)
  int mode = 0;
#else
  mode_t mode = NewFileMode();
#endif
  if (existing.exists && !direct) {
    if (!Writable(path)) return nullptr;
    mode = existing.mode;
    if (!Resolve(path, target_)) direct = true;
  }
  if (!direct) {
    const size_t slash = target_.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
#if !defined(_WIN32)
    // No ending signal between making the file and watching it.
    sigset_t ending;
    sigset_t before;
    sigemptyset(&ending);
    for (const int sig : kEndingSignals) sigaddset(&ending, sig);
    sigprocmask(SIG_BLOCK, &ending, &before);
#endif
    const int fd = MakeTemporary(pattern, mode);
    if (fd >= 0) {
      temporary_ = pattern;
      Watch(temporary_);
    }
#if !defined(_WIN32)
    sigprocmask(SIG_SETMASK, &before, nullptr);
#endif
    if (fd >= 0) {
      if ((stream_ = StreamOf(fd)) == nullptr) {
        const int error = errno;
        CloseDescriptor(fd);
        Abandon();
        errno = error;
        return nullptr;
      }
      return stream_;
    }
    // No temporary file here (a folder that is missing or not writable): open the destination
    // itself, which fails with the reason or, for a writable file, writes it directly.
  }
  stream_ = OpenFile(path, "wb");
  return stream_;
}

int OutputFile::Commit() {
  if (stream_ == nullptr) return EBADF;
  int error = 0;
  if (std::fflush(stream_) != 0) error = errno;
  // On the disk before it takes the destination's name: a crash after the rename cannot leave
  // an empty file under that name.
  if (error == 0 && !temporary_.empty()) error = SyncToDisk(stream_);
  if (std::fclose(stream_) != 0 && error == 0) error = errno;
  stream_ = nullptr;
  if (error == 0 && !temporary_.empty()) error = ReplaceFile(temporary_, target_);
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
    std::remove(temporary_.c_str());
    Unwatch();
    temporary_.clear();
  }
}

}  // namespace pulsecut
