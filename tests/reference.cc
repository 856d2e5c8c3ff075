#include "reference.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "wav/wave_file.h"

namespace pulsecut::testing {
namespace {

uint64_t Le(const std::string& b, uint64_t at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value |= uint64_t{static_cast<uint8_t>(b[at + static_cast<uint64_t>(i)])} << (8 * i);
  }
  return value;
}

// One sample at `at` on the value scale, as the standard reading defines it.
int64_t StandardSample(const std::string& b, uint64_t at, uint16_t tag, uint16_t bits) {
  if (tag == 3) {
    const double x =
        bits == 32 ? static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(Le(b, at, 4))))
                   : std::bit_cast<double>(Le(b, at, 8));
    if (std::isnan(x)) return 0x8000;
    double y = std::floor(x * 32768.0);
    y = y < -32768.0 ? -32768.0 : y > 32767.0 ? 32767.0 : y;
    return static_cast<int64_t>(y) + 0x8000;
  }
  if (bits == 8) return static_cast<int64_t>(Le(b, at, 1)) << 8;
  // The signed sample, then its top 16 bits rounded towards minus infinity.
  const int shift = 64 - bits;
  const auto s = static_cast<int64_t>(Le(b, at, bits / 8) << shift) >> shift;
  const double scale = std::ldexp(1.0, bits - 16);
  return static_cast<int64_t>(std::floor(static_cast<double>(s) / scale)) + 0x8000;
}

}  // namespace

ReferenceRecording ReferenceReadStandard(const std::string& b, ChannelChoice choice) {
  ReferenceRecording r;
  const uint64_t size = b.size();
  if (size < 12) return r;
  const std::string container = b.substr(0, 4);
  const bool wide = container == "RF64" || container == "BW64";
  if ((container != "RIFF" && !wide) || b.compare(8, 4, "WAVE") != 0) return r;
  std::optional<uint64_t> ds64;
  std::optional<uint64_t> fmt, fmtSize, data, dataSize;
  for (uint64_t pos = 12; pos + 8 <= size;) {
    const std::string id = b.substr(pos, 4);
    const uint64_t declared = Le(b, pos + 4, 4);
    const uint64_t body = pos + 8;
    uint64_t skip = declared;
    if (pos == 12 && wide && id == "ds64" && declared >= 16 && body + 16 <= size) {
      ds64 = Le(b, body + 8, 8);
    }
    if (id == "fmt " && !fmt) {
      fmt = body;
      fmtSize = std::min(declared, size - body);
    }
    if (id == "data" && !data) {
      data = body;
      if (declared == 0xFFFFFFFF) {
        if (!ds64) {
          dataSize = UINT64_MAX;
          break;  // to the end of the file: no chunk follows
        }
        skip = *ds64;
      }
      dataSize = skip;
    }
    if (skip >= size) break;  // beyond the end of any file this size
    pos = body + skip + (skip % 2);
  }
  if (!fmt || *fmtSize < 16 || !data) return r;
  uint16_t tag = static_cast<uint16_t>(Le(b, *fmt, 2));
  const auto channels = static_cast<uint16_t>(Le(b, *fmt + 2, 2));
  const auto rate = static_cast<uint32_t>(Le(b, *fmt + 4, 4));
  const auto align = static_cast<uint16_t>(Le(b, *fmt + 12, 2));
  const auto bits = static_cast<uint16_t>(Le(b, *fmt + 14, 2));
  if (tag == 0xFFFE) {
    static const char kTail[] = "\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    if (*fmtSize < 40 || b.compare(*fmt + 26, 14, std::string(kTail, 14)) != 0) return r;
    tag = static_cast<uint16_t>(Le(b, *fmt + 24, 2));
  }
  const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool ieee = tag == 3 && (bits == 32 || bits == 64);
  if (!(pcm || ieee) || channels == 0 || rate == 0 || align != channels * bits / 8) return r;

  r.readable = true;
  r.sampleRate = rate;
  const uint64_t end = *dataSize >= size - std::min(*data, size) ? size : *data + *dataSize;
  const uint64_t sampleBytes = bits / 8u;
  for (uint64_t at = *data; at + align <= end; at += align) {
    int64_t value = 0;
    if (choice == ChannelChoice::kMix) {
      for (uint64_t c = 0; c < channels; ++c) {
        value += StandardSample(b, at + c * sampleBytes, tag, bits);
      }
      value /= channels;
    } else {
      const uint64_t c = choice == ChannelChoice::kSecond && channels > 1 ? 1 : 0;
      value = StandardSample(b, at + c * sampleBytes, tag, bits);
    }
    r.values.push_back(static_cast<uint16_t>(value));
  }
  return r;
}

ReferenceRecording ReferenceRead(const std::string& path, const ReadOptions& reading) {
  WaveFile file;
  if (!file.Open(path.c_str(), ModeRead | ModeBinary)) return {};
  if (!reading.standard && IsSupported(file.header())) {
    ReferenceRecording r;
    r.readable = true;
    r.sampleRate = file.header().sampleRate;
    file.ChooseReading(reading);  // the classic reading with the channel choice
    file.Seek(kDataOffset);
    while (!file.AtEnd()) r.values.push_back(static_cast<uint16_t>(file.ReadSample()));
    return r;
  }
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ReferenceReadStandard(bytes, reading.channel);
}

ReferenceLevels ReferenceAnalyze(const std::vector<uint16_t>& values, bool phaseNormal) {
  uint32_t history[10];
  for (uint32_t& h : history) h = 0x8000;
  uint32_t high = 0x8000;
  uint32_t low = 0x8000;
  for (uint32_t v : values) {
    if (!phaseNormal) v = 0xFFFF - v;
    v &= 0xFFFF;
    for (int i = 9; i > 0; --i) history[i] = history[i - 1];
    history[0] = v;
    int32_t m = 0;
    int32_t s = 0;
    for (int32_t k = 1; k <= 10; ++k) {
      const int32_t x = static_cast<int32_t>(history[k - 1]);
      const int32_t d = x - m;
      m = m + d / k;
      // The products and the sum wrap in 32 bits.
      const uint32_t p =
          static_cast<uint32_t>(d) * static_cast<uint32_t>(d) * static_cast<uint32_t>(k - 1);
      s = static_cast<int32_t>(static_cast<uint32_t>(s) +
                               static_cast<uint32_t>(static_cast<int32_t>(p) / k));
    }
    const int32_t var = s / 9;
    if (var < 0) continue;
    const int32_t sd = static_cast<int32_t>(std::sqrt(static_cast<double>(var)));
    if (sd < 120 && std::abs(m - 0x8000) > 512) {
      if (m > 0x8000) {
        high = (high + static_cast<uint32_t>(m)) >> 1;
      } else {
        low = (low + static_cast<uint32_t>(m)) >> 1;
      }
    }
  }
  return {high, low};
}

ReferenceLevels ReferenceAnalyze(const std::string& path, bool phaseNormal) {
  const ReferenceRecording r = ReferenceRead(path);
  return r.readable ? ReferenceAnalyze(r.values, phaseNormal) : ReferenceLevels{};
}

std::string ReferenceConvert(const std::vector<uint16_t>& values, uint32_t sampleRate,
                             uint32_t highLevel, uint32_t lowLevel, bool phaseNormal) {
  const uint32_t upper = ((highLevel - 0x8000u) >> 1) + 0x8000u;
  const uint32_t lower = 0x8000u - ((0x8000u - lowLevel) >> 1);
  const double period = 1.0 / static_cast<double>(sampleRate);
  std::string image("RQ5 TAPE IMAGE 0");
  image += std::string(2, '\0');
  double acc = 0.0;
  bool state = false;
  bool prev = false;
  for (uint32_t v : values) {
    if (!phaseNormal) v = 0xFFFF - v;
    v &= 0xFFFF;
    state = state ? v >= lower : v > upper;
    const double t = acc + period;
    if (state == prev) {
      acc = t;
    } else {
      int64_t n = static_cast<int64_t>(t * 111111.11111111111);
      acc = 0.0;
      while (n > 0) {
        const int64_t part = n < 32767 ? n : 32767;
        image += static_cast<char>((prev ? 0x80 : 0) | ((part >> 8) & 0x7F));
        image += static_cast<char>(part & 0xFF);
        n -= part;
      }
    }
    prev = state;
  }
  return image;
}

std::string ReferenceConvert(const std::string& path, uint32_t highLevel, uint32_t lowLevel,
                             bool phaseNormal) {
  const ReferenceRecording r = ReferenceRead(path);
  if (!r.readable) return {};
  return ReferenceConvert(r.values, r.sampleRate, highLevel, lowLevel, phaseNormal);
}

}  // namespace pulsecut::testing
