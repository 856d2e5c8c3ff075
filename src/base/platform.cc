#include "base/platform.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace pulsecut {

#if defined(_WIN32)

std::wstring WideName(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

namespace {

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

// The volume and index that identify an open file, or nothing.
bool FileIdentity(const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE h =
      CreateFileW(WideName(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace

std::FILE* OpenFile(const std::string& name, const char* mode) {
  return _wfopen(WideName(name).c_str(), WideName(mode).c_str());
}

bool SeekTo(std::FILE* stream, int64_t offset) {
  const bool failed = std::ferror(stream) != 0;
  if (_fseeki64(stream, offset, SEEK_SET) != 0) return false;
  // Some runtimes leave the end-of-file indicator set after a seek; clearing it must not
  // forget an earlier read error.
  if (!failed) std::clearerr(stream);
  return true;
}

int64_t PositionOf(std::FILE* stream) { return _ftelli64(stream); }

int64_t RegularFileLength(std::FILE* stream) {
  struct _stat64 info;
  if (_fstat64(_fileno(stream), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
  return info.st_size;
}

bool IsRegularFile(const std::string& name) {
  struct _stat64 info;
  return _wstat64(WideName(name).c_str(), &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return FileIdentity(a, first) && FileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

int LinkCount(const std::string& name) {
  BY_HANDLE_FILE_INFORMATION info;
  return FileIdentity(name, info) ? static_cast<int>(info.nNumberOfLinks) : 0;
}

int SyncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0 ? 0 : errno; }

int ReplaceFile(const std::string& from, const std::string& to) {
  if (MoveFileExW(WideName(from).c_str(), WideName(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return 0;
  }
  return GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (wide == nullptr || count != argc) {
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i]);
  } else {
    for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
  }
  if (wide != nullptr) LocalFree(wide);
  return args;
}

#else

std::FILE* OpenFile(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

bool SeekTo(std::FILE* stream, int64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;  // clears the end of file
}

int64_t PositionOf(std::FILE* stream) { return static_cast<int64_t>(ftello(stream)); }

int64_t RegularFileLength(std::FILE* stream) {
  struct stat info;
  if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

bool IsRegularFile(const std::string& name) {
  struct stat info;
  return stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first;
  struct stat second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int LinkCount(const std::string& name) {
  struct stat info;
  return stat(name.c_str(), &info) == 0 ? static_cast<int>(info.st_nlink) : 0;
}

int SyncToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0 ? 0 : errno; }

int ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

#endif

}  // namespace pulsecut
