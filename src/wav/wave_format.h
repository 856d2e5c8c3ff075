// The format of a recording as the passes read it: the header fields, how each sample is stored
// and which channel gives a frame's value.
//
// Words: a frame is what the file stores for one instant (one sample per channel); a value is
// what the comparator sees, one per frame, on the scale 0..0xFFFF with the centre at 0x8000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace pulsecut {

// One value on the scale 0..0xFFFF, centre 0x8000, held in 32 bits.
using SampleLevel = uint32_t;

// The classic reading takes frames from this byte offset on (not from 44, the end of the
// canonical header, where the data starts): the first 14 bytes after the header are never read.
inline constexpr int64_t kDataOffset = 58;
inline constexpr int64_t kCanonicalDataStart = 44;

// A data size that runs to the end of the file.
inline constexpr uint64_t kToEndOfFile = std::numeric_limits<uint64_t>::max();

// The header fields of the canonical layout, with the defaults of a 16-bit stereo 44100 Hz PCM
// stream. The classic reading takes them from their fixed offsets; the standard reading from the
// "fmt " chunk.
struct WaveHeader {
  uint32_t fmtLength = 16;      // offset 16
  uint16_t formatTag = 1;       // offset 20
  uint16_t channels = 2;        // offset 22
  uint32_t sampleRate = 44100;  // offset 24
  uint32_t byteRate = 176400;   // offset 28
  uint16_t blockAlign = 4;      // offset 32
  uint16_t bitsPerSample = 16;  // offset 34
  uint32_t dataLength = 0;      // offset 40; does not bound the classic reading
};

// Whether the classic reading can read the format: 1 or 2 channels, 8 or 16 bits, a rate
// above 0.
inline bool IsSupported(const WaveHeader& header) {
  return (header.channels == 1 || header.channels == 2) &&
         (header.bitsPerSample == 8 || header.bitsPerSample == 16) && header.sampleRate != 0;
}

// How one sample is stored, and how it becomes a value.
enum class Encoding {
  kUnsigned8,   // byte b: b << 8 (both readings)
  kUnsigned16,  // little-endian 16 bits taken as stored, without sign conversion (classic)
  kSigned16,    // s: s + 0x8000
  kSigned24,    // s: (s >> 8) + 0x8000, the top 16 bits
  kSigned32,    // s: (s >> 16) + 0x8000
  kFloat32,     // x: floor(x * 32768) limited to -32768..32767, + 0x8000; NaN gives 0x8000
  kFloat64,     // the same
};

inline constexpr size_t BytesPerSample(Encoding encoding) {
  switch (encoding) {
    case Encoding::kUnsigned8:
      return 1;
    case Encoding::kUnsigned16:
    case Encoding::kSigned16:
      return 2;
    case Encoding::kSigned24:
      return 3;
    case Encoding::kSigned32:
    case Encoding::kFloat32:
      return 4;
    case Encoding::kFloat64:
      return 8;
  }
  return 1;
}

// Which channel gives a frame's value: the mix (the sum of the channels' values divided by their
// number, truncated), the first channel, or the second (the only one of a mono recording).
enum class ChannelChoice { kMix, kFirst, kSecond };

// How the passes read the recording, as the command line chose it.
struct ReadOptions {
  bool standard = false;  // -s: the standard reading for every file
  ChannelChoice channel = ChannelChoice::kMix;
};

}  // namespace pulsecut
