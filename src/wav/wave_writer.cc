#include "wav/wave_writer.h"

namespace pulsecut {
namespace {

void Put(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

std::string CanonicalHeader(uint16_t channels, uint16_t bitsPerSample, uint32_t sampleRate,
                            uint32_t dataLength) {
  // The canonical header's chunks after "RIFF" and its size: "WAVE", "fmt " with its 16-byte
  // body, and the "data" chunk's header.
  constexpr uint32_t kRiffOverhead = 36;
  constexpr uint32_t kFmtSize = 16;
  constexpr uint16_t kTagPcm = 1;
  std::string h;
  const uint32_t blockAlign = uint32_t{channels} * bitsPerSample / 8;
  h += "RIFF";
  Put(h, kRiffOverhead + dataLength, 4);
  h += "WAVEfmt ";
  Put(h, kFmtSize, 4);
  Put(h, kTagPcm, 2);
  Put(h, channels, 2);
  Put(h, sampleRate, 4);
  Put(h, sampleRate * blockAlign, 4);
  Put(h, blockAlign, 2);
  Put(h, bitsPerSample, 2);
  h += "data";
  Put(h, dataLength, 4);
  return h;
}

void AppendFrame(std::string& out, uint32_t value, uint16_t channels, uint16_t bitsPerSample) {
  for (uint16_t c = 0; c < channels; ++c) Put(out, value, bitsPerSample / 8);
}

}  // namespace pulsecut
