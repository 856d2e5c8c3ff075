#include "wav_fixture.h"

#include <bit>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <type_traits>

#include "wav/wave_writer.h"

namespace pulsecut::testing {

std::string Wav(const Format& format, const std::string& samples) {
  std::string out = CanonicalHeader(format.channels, format.bitsPerSample, format.sampleRate,
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

namespace {

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace

std::string Chunk(const std::string& id, const std::string& body) {
  std::string out = id + Le(body.size(), 4) + body;
  if (body.size() % 2 != 0) out += '\0';
  return out;
}

std::string StandardWav(const Layout& layout, const std::string& data) {
  const uint32_t blockAlign = uint32_t{layout.channels} * layout.bitsPerSample / 8;
  std::string fmt = Le(layout.extensible ? 0xFFFE : layout.formatTag, 2) + Le(layout.channels, 2) +
                    Le(layout.sampleRate, 4) + Le(uint64_t{layout.sampleRate} * blockAlign, 4) +
                    Le(blockAlign, 2) + Le(layout.bitsPerSample, 2);
  if (layout.extensible) {
    // cbSize 22, valid bits, channel mask, then the sub-format GUID.
    fmt +=
        Le(22, 2) + Le(layout.bitsPerSample, 2) + Le(0, 4) + Le(layout.formatTag, 2) +
        Bytes({0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
  }
  const uint32_t sizeField = layout.dataSizeField
                                 ? *layout.dataSizeField
                                 : (layout.rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(data.size()));
  std::string dataChunk = "data" + Le(sizeField, 4) + data;
  if (data.size() % 2 != 0) dataChunk += '\0';
  std::string chunks;
  for (const std::string& c : layout.beforeFmt) chunks += c;
  std::string fmtAndBefore = Chunk("fmt ", fmt);
  for (const std::string& c : layout.beforeData) fmtAndBefore += c;
  chunks += layout.dataFirst ? dataChunk + fmtAndBefore : fmtAndBefore + dataChunk;
  for (const std::string& c : layout.afterData) chunks += c;
  if (layout.rf64) {
    // ds64: RIFF size, data size, sample count, table length.
    const std::string ds64 =
        Chunk("ds64", Le(4 + 36 + chunks.size(), 8) + Le(data.size(), 8) + Le(0, 8) + Le(0, 4));
    return "RF64" + Le(0xFFFFFFFF, 4) + "WAVE" + ds64 + chunks;
  }
  return "RIFF" + Le(4 + chunks.size(), 4) + "WAVE" + chunks;
}

namespace {

// Each sample's bits as `bytes` little-endian bytes (the low ones of a two's complement value).
template <typename Sample>
std::string Packed(const std::vector<Sample>& samples, int bytes) {
  std::string out;
  for (const Sample s : samples) {
    if constexpr (std::is_floating_point_v<Sample>) {
      out +=
          Le(std::bit_cast<std::conditional_t<sizeof(Sample) == 4, uint32_t, uint64_t>>(s), bytes);
    } else {
      out += Le(static_cast<uint64_t>(static_cast<int64_t>(s)), bytes);
    }
  }
  return out;
}

}  // namespace

std::string Signed16(const std::vector<int16_t>& samples) { return Packed(samples, 2); }
std::string Signed24(const std::vector<int32_t>& samples) { return Packed(samples, 3); }
std::string Signed32(const std::vector<int32_t>& samples) { return Packed(samples, 4); }
std::string Float32(const std::vector<float>& samples) { return Packed(samples, 4); }
std::string Float64(const std::vector<double>& samples) { return Packed(samples, 8); }

std::string Repeat8(int byte, size_t count) { return std::string(count, static_cast<char>(byte)); }

TempDir::TempDir() {
  // A name no other folder has: made with create_directory, which fails on an existing one.
  static std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "pulsecut-test-%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) {
      path_ = path;
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
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
