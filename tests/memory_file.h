// Streams over bytes in memory for the tests: a BinaryFile or WaveFile reading them, a stream
// whose reads fail part way, a stream whose output is collected. On glibc these are memory
// streams (fmemopen, fopencookie, open_memstream); elsewhere temporary files, and a failing
// stream cannot be made (kCanFailReads is false: the tests that need one skip).
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "wav/binary_file.h"

namespace pulsecut::testing {

// A temporary file holding `bytes`, positioned at its start; fclose removes it.
inline std::FILE* TemporaryStream(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

// A BinaryFile or WaveFile over `bytes`. (A glibc memory stream cannot seek beyond its end;
// tests of that use real files.)
template <typename File>
class InMemory {
 public:
  explicit InMemory(std::string bytes) : bytes_(std::move(bytes)) {
#if defined(__GLIBC__)
    file.Attach(fmemopen(bytes_.data(), bytes_.size(), "rb"), ModeRead | ModeBinary);
#else
    file.Attach(TemporaryStream(bytes_), ModeRead | ModeBinary);
#endif
  }
  File file;

 private:
  std::string bytes_;
};

// Collects what is written to stream().
class Output {
 public:
  Output() {
#if defined(__GLIBC__)
    stream_ = open_memstream(&data_, &size_);
#else
    stream_ = std::tmpfile();
#endif
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    Close();
    std::free(data_);
  }
  std::FILE* stream() { return stream_; }
  // Closes the stream and returns what was written to it.
  std::string Bytes() {
    std::string bytes;
#if defined(__GLIBC__)
    Close();
    if (data_ != nullptr) bytes.assign(data_, size_);
#else
    std::fflush(stream_);
    std::rewind(stream_);
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, stream_)) > 0) bytes.append(block, got);
    Close();
#endif
    return bytes;
  }

 private:
  void Close() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
  }
  std::FILE* stream_ = nullptr;
  char* data_ = nullptr;  // open_memstream's buffer
  size_t size_ = 0;
};

#if defined(__GLIBC__)
inline constexpr bool kCanFailReads = true;
#else
inline constexpr bool kCanFailReads = false;
#endif

// A read-only stdio stream over a copy of `bytes` that seeks anywhere but fails every read at
// or beyond offset `failAt` with EIO, as a disk with a bad sector would. fclose frees it.
// Without kCanFailReads, a stream that never fails (failAt must be beyond the bytes).
inline std::FILE* StreamFailingAt(const std::string& bytes, size_t failAt) {
#if !defined(__GLIBC__)
  return failAt >= bytes.size() ? TemporaryStream(bytes) : nullptr;
#else
  struct Cookie {
    std::string bytes;
    size_t failAt;
    off64_t position = 0;
  };
  cookie_io_functions_t io{};
  io.read = [](void* c, char* buffer, size_t size) -> ssize_t {
    auto* cookie = static_cast<Cookie*>(c);
    const auto at = static_cast<size_t>(cookie->position);
    if (at >= cookie->failAt) {
      errno = EIO;
      return -1;
    }
    size_t n = std::min(
        {size, cookie->failAt - at, cookie->bytes.size() - std::min(at, cookie->bytes.size())});
    std::memcpy(buffer, cookie->bytes.data() + at, n);
    cookie->position += static_cast<off64_t>(n);
    return static_cast<ssize_t>(n);
  };
  io.seek = [](void* c, off64_t* offset, int whence) -> int {
    auto* cookie = static_cast<Cookie*>(c);
    const off64_t base = whence == SEEK_SET ? 0
                         : whence == SEEK_CUR ? cookie->position
                                              : static_cast<off64_t>(cookie->bytes.size());
    if (base + *offset < 0) {
      errno = EINVAL;
      return -1;
    }
    cookie->position = base + *offset;
    *offset = cookie->position;
    return 0;
  };
  io.close = [](void* c) -> int {
    delete static_cast<Cookie*>(c);
    return 0;
  };
  return fopencookie(new Cookie{bytes, failAt}, "rb", io);
#endif
}

}  // namespace pulsecut::testing
