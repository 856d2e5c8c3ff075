#include "k58/render.h"

#include <string>

#include "tape/image_format.h"
#include "wav/wave_writer.h"

namespace pulsecut::k58 {

uint64_t EdgeSample(int64_t ticks, uint32_t sampleRate) {
  // samples = microseconds * rate / 10^6, rounded, without overflow: split the microseconds
  // into whole seconds and the rest.
  const auto micros = static_cast<uint64_t>(TicksToMicroseconds(ticks));
  const uint64_t seconds = micros / 1000000;
  const uint64_t rest = micros % 1000000;
  return seconds * sampleRate + (rest * sampleRate + 500000) / 1000000;
}

RenderLevels LevelsFor(uint16_t bitsPerSample) {
  return bitsPerSample == 8 ? RenderLevels{0xE0, 0x20} : RenderLevels{0xE000, 0x2000};
}

bool RenderWav(const std::vector<Stretch>& stretches, uint32_t sampleRate, uint16_t bitsPerSample,
               std::FILE* out) {
  const size_t bytesPerSample = bitsPerSample / 8;
  const size_t padding = 14 / bytesPerSample;
  const uint64_t samples = padding + EdgeSample(TotalTicks(stretches), sampleRate);
  const RenderLevels levels = LevelsFor(bitsPerSample);
  // The RIFF length fields hold 32 bits; a longer render keeps its samples but not its length.
  const uint64_t data = samples * bytesPerSample;
  const auto dataLength = static_cast<uint32_t>(data > 0xFFFFFFD0u ? 0xFFFFFFD0u : data);
  const std::string header = CanonicalHeader(1, bitsPerSample, sampleRate, dataLength);
  if (std::fwrite(header.data(), 1, header.size(), out) != header.size()) return false;

  std::string block;
  auto emit = [&](bool high, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
      AppendFrame(block, high ? levels.high : levels.low, 1, bitsPerSample);
      if (block.size() >= (1u << 16)) {
        if (std::fwrite(block.data(), 1, block.size(), out) != block.size()) return false;
        block.clear();
      }
    }
    return true;
  };
  if (!emit(!stretches.empty() && stretches.front().high, padding)) return false;
  uint64_t written = 0;
  for (const Stretch& s : stretches) {
    const uint64_t edge = EdgeSample(s.start + s.ticks, sampleRate);
    if (!emit(s.high, edge - written)) return false;
    written = edge;
  }
  return std::fwrite(block.data(), 1, block.size(), out) == block.size();
}

}  // namespace pulsecut::k58
