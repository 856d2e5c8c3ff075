// Writing WAVE recordings: the canonical 44-byte header and frames of unsigned samples, as the
// example recording, the benchmark's recordings, the tests and `k58 wav` write them.
#pragma once

#include <cstdint>
#include <string>

namespace pulsecut {

// The canonical 44-byte RIFF WAVE header of a PCM recording with `dataLength` bytes of frames.
std::string CanonicalHeader(uint16_t channels, uint16_t bitsPerSample, uint32_t sampleRate,
                            uint32_t dataLength);

// Appends one frame of `value` (the same on every channel) to `out`: 8-bit samples as one byte,
// 16-bit ones as two, little-endian, as they are stored (unsigned, the classic reading's way).
void AppendFrame(std::string& out, uint32_t value, uint16_t channels, uint16_t bitsPerSample);

}  // namespace pulsecut
