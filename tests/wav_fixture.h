// Building recordings for tests: a canonical header, the 14 bytes after it that the converter
// skips, then the sample bytes, so that each test shows exactly which samples it holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
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

// A WAVE file as audio programs write them, for the standard reading: any format tag, encoding
// and channel count, extra chunks anywhere, an extensible "fmt " chunk, an RF64 container.
struct Layout {
  uint16_t formatTag = 1;  // 1 integer PCM, 3 IEEE float
  uint16_t channels = 1;
  uint32_t sampleRate = 44100;
  uint16_t bitsPerSample = 16;
  bool extensible = false;  // tag 0xFFFE, `formatTag` in the sub-format GUID
  bool rf64 = false;        // "RF64" with a "ds64" chunk; the data chunk's size field all ones
  // Whole chunks (see Chunk) placed before "fmt ", between "fmt " and "data", after "data".
  std::vector<std::string> beforeFmt, beforeData, afterData;
  bool dataFirst = false;                 // "data" before "fmt "
  std::optional<uint32_t> dataSizeField;  // the data chunk's size field; default its real size
};
// A chunk: id, little-endian size, body and the pad byte of an odd size.
std::string Chunk(const std::string& id, const std::string& body);
std::string StandardWav(const Layout& layout, const std::string& data);

// Sample bytes of each encoding, little-endian.
std::string Signed16(const std::vector<int16_t>& samples);
std::string Signed24(const std::vector<int32_t>& samples);
std::string Signed32(const std::vector<int32_t>& samples);
std::string Float32(const std::vector<float>& samples);
std::string Float64(const std::vector<double>& samples);

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
