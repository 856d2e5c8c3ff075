// A BinaryFile or WaveFile reading bytes from memory (fmemopen gives a real stdio stream).
// Memory streams cannot seek beyond their end; tests of that use real files.
#pragma once

#include <cstdio>
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

}  // namespace pulsecut::testing
