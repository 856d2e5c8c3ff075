// Building recordings for tests: a canonical header, the 14 bytes after it that the converter
// skips, then the sample bytes, so that each test shows exactly which samples it holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace pulsecut::testing {

struct Format {
  uint16_t channels = 1;
  uint16_t bitsPerSample = 8;
  uint32_t sampleRate = 44100;
};

// A recording whose samples start at byte 58: header, 14 filler bytes, `samples` as raw bytes.
std::string Wav(const Format& format, const std::string& samples);
// Sample bytes from a list of byte values.
std::string Bytes(std::initializer_list<int> bytes);
// 16-bit samples as little-endian byte pairs.
std::string Words(const std::vector<uint16_t>& words);
// `count` copies of the 8-bit sample `byte`.
std::string Repeat8(int byte, size_t count);

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
// The whole file, or an empty string when it cannot be read.
std::string ReadFile(const std::string& path);

// The image header followed by records given as 16-bit values (state bit and ticks).
std::string Image(std::initializer_list<uint16_t> records);

}  // namespace pulsecut::testing
