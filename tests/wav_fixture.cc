#include "wav_fixture.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "../examples/tape_signal.h"

namespace pulsecut::testing {

std::string Wav(const Format& format, const std::string& samples) {
  std::string out =
      tape_signal::CanonicalHeader(format.channels, format.bitsPerSample, format.sampleRate,
                                   static_cast<uint32_t>(14 + samples.size()));
  out += std::string(14, '\x55');
  return out + samples;
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out += static_cast<char>(b);
  return out;
}

std::string Words(const std::vector<uint16_t>& words) {
  std::string out;
  for (uint16_t w : words) {
    out += static_cast<char>(w & 0xFF);
    out += static_cast<char>(w >> 8);
  }
  return out;
}

std::string Repeat8(int byte, size_t count) { return std::string(count, static_cast<char>(byte)); }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "pulsecut-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Image(std::initializer_list<uint16_t> records) {
  std::string out("RQ5 TAPE IMAGE 0");
  out += std::string(2, '\0');
  for (uint16_t r : records) {
    out += static_cast<char>(r >> 8);
    out += static_cast<char>(r & 0xFF);
  }
  return out;
}

}  // namespace pulsecut::testing
