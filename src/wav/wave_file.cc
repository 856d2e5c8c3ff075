#include "wav/wave_file.h"

#include <bit>
#include <string>

namespace pulsecut {
namespace {

// Serves the bytes that remain of the data and then failed reads, with the rules of BinaryFile.
class RemainingBytes {
 public:
  RemainingBytes(const uint8_t* bytes, size_t count) : bytes_(bytes), count_(count) {}
  uint8_t ReadByte() { return atEnd_ ? uint8_t{0} : Next(); }
  uint16_t ReadWord() {
    const uint32_t low = Next();
    const uint32_t high = Next();
    return static_cast<uint16_t>(low | (high << 8));
  }

 private:
  uint8_t Next() {
    if (position_ < count_) return bytes_[position_++];
    atEnd_ = true;
    return 0xFF;
  }
  const uint8_t* bytes_;
  size_t count_;
  size_t position_ = 0;
  bool atEnd_ = false;
};

// Block decoders, one per supported format; each must equal DecodeFrame on whole frames. The
// frames go in groups of a fixed count through functions whose input and output cannot
// overlap, a form the compiler turns into vector code at -O2.
constexpr size_t kDecodeGroup = 64;

struct Mono8 {
  static constexpr size_t kSize = 1;
  static uint16_t Decode(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8); }
};
struct Stereo8 {
  static constexpr size_t kSize = 2;
  static uint16_t Decode(const uint8_t* p) {
    return static_cast<uint16_t>(((p[0] + p[1]) << 8) >> 1);
  }
};
struct Mono16 {
  static constexpr size_t kSize = 2;
  static uint16_t Decode(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
};
struct Stereo16 {
  static constexpr size_t kSize = 4;
  static uint16_t Decode(const uint8_t* p) {
    const uint32_t first = p[0] | (uint32_t{p[1]} << 8);
    const uint32_t second = p[2] | (uint32_t{p[3]} << 8);
    return static_cast<uint16_t>((first + second) >> 1);
  }
};

template <typename Frame>
[[gnu::noinline]] void DecodeGroup(const uint8_t* __restrict in, uint16_t* __restrict out) {
  for (size_t k = 0; k < kDecodeGroup; ++k) out[k] = Frame::Decode(in + k * Frame::kSize);
}

template <typename Frame>
void DecodeEach(const uint8_t* in, size_t frames, uint16_t* out) {
  size_t i = 0;
  for (; i + kDecodeGroup <= frames; i += kDecodeGroup) {
    DecodeGroup<Frame>(in + i * Frame::kSize, out + i);
  }
  for (; i < frames; ++i) out[i] = Frame::Decode(in + i * Frame::kSize);
}

void DecodeFrames(const WaveHeader& header, const uint8_t* in, size_t frames, uint16_t* out) {
  const bool stereo = header.channels == 2;
  if (header.bitsPerSample == 8) {
    stereo ? DecodeEach<Stereo8>(in, frames, out) : DecodeEach<Mono8>(in, frames, out);
  } else {
    // (On little-endian hosts ReadLevels reads mono straight into the output.)
    stereo ? DecodeEach<Stereo16>(in, frames, out) : DecodeEach<Mono16>(in, frames, out);
  }
}

// Frames per ReadLevels read: large enough that a read costs little per byte, small enough that
// the block stays in the cache.
constexpr size_t kMaxFramesPerRead = size_t{1} << 16;

}  // namespace

void InvertPhase(uint16_t* levels, size_t count) {
  for (size_t i = 0; i < count; ++i) levels[i] = static_cast<uint16_t>(0xFFFFu - levels[i]);
}

std::string FormatProblem(const WaveHeader& header) {
  std::string unsupported;
  auto add = [&unsupported](const std::string& what) {
    unsupported += unsupported.empty() ? what : ", " + what;
  };
  if (header.channels != 1 && header.channels != 2) {
    add(std::to_string(header.channels) + " channels");
  }
  if (header.bitsPerSample != 8 && header.bitsPerSample != 16) {
    add(std::to_string(header.bitsPerSample) + " bits per sample");
  }
  if (header.sampleRate == 0) add("a sample rate of 0 Hz");
  if (IsSupported(header)) return {};
  return "unsupported format (" + unsupported +
         "); supported are 1 or 2 channels of 8 or 16 bits per sample at any rate above 0 Hz";
}

SampleLevel FinalFrameLevel(const WaveHeader& header, const uint8_t* rest, size_t count) {
  RemainingBytes in(rest, count);
  return DecodeFrame(in, header);
}

WaveFile::~WaveFile() { WaveFile::Close(); }

bool WaveFile::Open(const char* name, int mode) {
  header_ = WaveHeader{};
  if ((mode & ModeRead) == 0) return false;
  if (!BinaryFile::Open(name, mode)) return false;
  ReadHeader();
  return true;
}

bool WaveFile::Attach(std::FILE* stream, int mode) {
  header_ = WaveHeader{};
  if (!BinaryFile::Attach(stream, mode)) return false;
  ReadHeader();
  return true;
}

void WaveFile::Close() { BinaryFile::Close(); }

void WaveFile::ReadHeader() {
  if (!IsOpen()) return;
  const int64_t position = Tell();
  Seek(16);
  header_.fmtLength = ReadDword();
  header_.formatTag = ReadWord();
  header_.channels = ReadWord();
  header_.sampleRate = ReadDword();
  header_.byteRate = ReadDword();
  header_.blockAlign = ReadWord();
  header_.bitsPerSample = ReadWord();
  Seek(40);
  header_.dataLength = ReadDword();
  Seek(position);
}

SampleLevel WaveFile::ReadSample() { return DecodeFrame(*this, header_); }

size_t WaveFile::ReadLevels(uint16_t* out, size_t capacity) {
  if (!IsSupported(header_) || capacity == 0 || AtEnd() || HasError()) return 0;
  const size_t frameSize = FrameSize(header_);
  const size_t frames = capacity < kMaxFramesPerRead ? capacity : kMaxFramesPerRead;
  const size_t wanted = frames * frameSize;
  // 16-bit mono samples are stored as the values themselves: on a little-endian host the
  // output can take the file's bytes as they are.
  const bool direct = header_.channels == 1 && header_.bitsPerSample == 16 &&
                      std::endian::native == std::endian::little;
  uint8_t* raw = reinterpret_cast<uint8_t*>(out);
  if (!direct) {
    bytes_.resize(wanted);
    raw = bytes_.data();
  }
  const size_t got = ReadBytes(raw, wanted);
  const size_t whole = got / frameSize;
  if (!direct) DecodeFrames(header_, raw, whole, out);
  if (got == wanted || HasError()) return whole;
  // The data ended: the last frame is what remains, completed by failed reads.
  out[whole] = static_cast<uint16_t>(
      FinalFrameLevel(header_, raw + whole * frameSize, got - whole * frameSize));
  return whole + 1;
}

uint64_t WaveFile::CountLevels() {
  const int64_t length = Length();
  if (length < 0 || !IsSupported(header_)) return 0;
  const uint64_t data = length > kDataOffset ? static_cast<uint64_t>(length - kDataOffset) : 0;
  return data / FrameSize(header_) + 1;
}

size_t WaveFile::ReadMono8Levels(uint8_t* out, size_t capacity) {
  if (header_.channels != 1 || header_.bitsPerSample != 8 || !IsSupported(header_) ||
      capacity == 0 || AtEnd() || HasError()) {
    return 0;
  }
  const size_t wanted = capacity < kMaxFramesPerRead ? capacity : kMaxFramesPerRead;
  const size_t got = ReadBytes(out, wanted);
  if (got == wanted || HasError()) return got;
  out[got] = static_cast<uint8_t>(FinalFrameLevel(header_, nullptr, 0) >> 8);
  return got + 1;
}

}  // namespace pulsecut
