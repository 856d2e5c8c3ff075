#include "reference.h"

#include <cmath>

#include "wav/wave_file.h"

namespace pulsecut::testing {

ReferenceLevels ReferenceAnalyze(const std::string& path, bool phaseNormal) {
  WaveFile file;
  if (!file.Open(path.c_str(), ModeRead | ModeBinary)) return {};
  file.Seek(kDataOffset);
  uint32_t history[10];
  for (uint32_t& h : history) h = 0x8000;
  uint32_t high = 0x8000;
  uint32_t low = 0x8000;
  while (!file.AtEnd()) {
    uint32_t v = file.ReadSample();
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

std::string ReferenceConvert(const std::string& path, uint32_t highLevel, uint32_t lowLevel,
                             bool phaseNormal) {
  WaveFile file;
  if (!file.Open(path.c_str(), ModeRead | ModeBinary)) return {};
  const uint32_t upper = ((highLevel - 0x8000u) >> 1) + 0x8000u;
  const uint32_t lower = 0x8000u - ((0x8000u - lowLevel) >> 1);
  const double period = 1.0 / static_cast<double>(file.header().sampleRate);
  std::string image("RQ5 TAPE IMAGE 0");
  image += std::string(2, '\0');
  double acc = 0.0;
  bool state = false;
  bool prev = false;
  file.Seek(kDataOffset);
  while (!file.AtEnd()) {
    uint32_t v = file.ReadSample();
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

}  // namespace pulsecut::testing
