// Reading a RIFF WAVE recording: the header at the canonical offsets and the sample frames from
// byte 58 to the end of the file, each turned into one value on a 16-bit scale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wav/binary_file.h"

namespace pulsecut {

// One sample frame on the scale 0..0xFFFF, centre 0x8000. 8-bit samples are shifted left by 8;
// 16-bit samples are taken as stored, without sign conversion; a stereo frame is the average
// (first + second) >> 1 of its two channel values.
using SampleLevel = uint32_t;

// Both passes read samples from this byte offset on (not from 44, the end of the canonical
// header): the first 14 bytes after the header are never read.
inline constexpr int64_t kDataOffset = 58;

// Reverse phase: every value v becomes 0xFFFF - v before the analysis or the comparator
// sees it.
void InvertPhase(uint16_t* levels, size_t count);

// The header fields at their canonical offsets, with the defaults of a 16-bit stereo 44100 Hz
// PCM stream. Only `channels`, `bitsPerSample` and `sampleRate` are used.
struct WaveHeader {
  uint32_t fmtLength = 16;      // offset 16
  uint16_t formatTag = 1;       // offset 20
  uint16_t channels = 2;        // offset 22
  uint32_t sampleRate = 44100;  // offset 24
  uint32_t byteRate = 176400;   // offset 28
  uint16_t blockAlign = 4;      // offset 32
  uint16_t bitsPerSample = 16;  // offset 34
  uint32_t dataLength = 0;      // offset 40; does not bound the reading
};

// Whether the passes can read the format: 1 or 2 channels, 8 or 16 bits, a rate above 0.
inline bool IsSupported(const WaveHeader& header) {
  return (header.channels == 1 || header.channels == 2) &&
         (header.bitsPerSample == 8 || header.bitsPerSample == 16) && header.sampleRate != 0;
}

// Empty when the passes can read the format (1 or 2 channels, 8 or 16 bits, a rate above 0);
// otherwise one sentence that names what is unsupported and what is supported.
std::string FormatProblem(const WaveHeader& header);

// Bytes per sample frame of a supported format.
inline size_t FrameSize(const WaveHeader& header) {
  return size_t{header.channels} * (header.bitsPerSample / 8u);
}

// Decodes one frame from `in`, which offers ReadByte and ReadWord with the end-of-file rules of
// BinaryFile. These rules decide the value of the frame that a pass reads past the end of the
// file: 8-bit reads stop at the first failed byte (0xFF, later bytes 0), 16-bit reads count every
// missing byte as 0xFF.
template <typename ByteSource>
SampleLevel DecodeFrame(ByteSource& in, const WaveHeader& header) {
  auto channel = [&]() -> uint32_t {
    if (header.bitsPerSample == 8) return uint32_t{in.ReadByte()} << 8;
    if (header.bitsPerSample == 16) return in.ReadWord();
    return 0;
  };
  if (header.channels == 2) {
    const uint32_t first = channel();
    const uint32_t second = channel();
    return (first + second) >> 1;
  }
  if (header.channels == 1) return channel();
  return 0;
}

// The value of the last frame a pass reads: the `count` bytes that remain of the data (fewer
// than a frame, possibly none) completed by failed reads.
SampleLevel FinalFrameLevel(const WaveHeader& header, const uint8_t* rest, size_t count);

class WaveFile : public BinaryFile {
 public:
  WaveFile() = default;
  ~WaveFile() override;

  // Resets the header to its defaults; with ModeRead, opens the file and reads the header.
  bool Open(const char* name, int mode) override;
  // Takes over `stream` and reads the header from it.
  bool Attach(std::FILE* stream, int mode) override;
  void Close() override;

  // Reads the header fields from their fixed offsets and returns to the position before the
  // call. A file too short for a field builds it from failed reads.
  void ReadHeader();

  // Reads one frame byte by byte and returns its value.
  SampleLevel ReadSample();

  // Reads up to `capacity` frames (at least 1) of a supported format into `out` and returns how
  // many values it stored. When the data ends inside this call, the last value stored is the
  // frame built from failed reads (as ReadSample would return it) and AtEnd() becomes true. On a
  // read error it stores the whole frames read and HasError() becomes true. Returns 0 when the
  // format is unsupported, when already at the end, or on an error before any frame.
  size_t ReadLevels(uint16_t* out, size_t capacity);

  // For 8-bit mono, whose every value is a byte shifted left by 8 (the last one, 0xFF00,
  // included): ReadLevels storing each value v as the byte v >> 8.
  size_t ReadMono8Levels(uint8_t* out, size_t capacity);

  // How many values a pass over a regular file reads: its whole frames after byte 58 and the
  // last one built from failed reads. 0 when the length is unknown (not a regular file).
  uint64_t CountLevels();

  const WaveHeader& header() const { return header_; }

 private:
  WaveHeader header_;
  std::vector<uint8_t> bytes_;  // raw frames of ReadLevels
};

}  // namespace pulsecut
