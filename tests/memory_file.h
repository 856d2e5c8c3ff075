// A BinaryFile or WaveFile reading bytes from memory (fmemopen gives a real stdio stream).
// Memory streams cannot seek beyond their end; tests of that use real files.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "wav/binary_file.h"

namespace pulsecut::testing {

template <typename File>
class InMemory {
 public:
  explicit InMemory(std::string bytes) : bytes_(std::move(bytes)) {
    file.Attach(fmemopen(bytes_.data(), bytes_.size(), "rb"), ModeRead | ModeBinary);
  }
  File file;

 private:
  std::string bytes_;
};

// A read-only stdio stream over a copy of `bytes` that seeks anywhere but fails every read at
// or beyond offset `failAt` with EIO, as a disk with a bad sector would. fclose frees it.
inline std::FILE* StreamFailingAt(const std::string& bytes, size_t failAt) {
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
    const off64_t base = whence == SEEK_SET   ? 0
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
}

}  // namespace pulsecut::testing
