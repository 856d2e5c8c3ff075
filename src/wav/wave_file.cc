#include "wav/wave_file.h"

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

// Block decoders, one per supported format. Each must equal DecodeFrame on whole frames.
void Decode8Mono(const uint8_t* in, size_t frames, uint16_t* out) {
  for (size_t i = 0; i < frames; ++i) out[i] = static_cast<uint16_t>(in[i] << 8);
}
void Decode8Stereo(const uint8_t* in, size_t frames, uint16_t* out) {
  for (size_t i = 0; i < frames; ++i) {
    out[i] = static_cast<uint16_t>(((uint32_t{in[2 * i]} + in[2 * i + 1]) << 8) >> 1);
  }
}
void Decode16Mono(const uint8_t* in, size_t frames, uint16_t* out) {
  for (size_t i = 0; i < frames; ++i) {
    out[i] = static_cast<uint16_t>(in[2 * i] | (in[2 * i + 1] << 8));
  }
}
void Decode16Stereo(const uint8_t* in, size_t frames, uint16_t* out) {
  for (size_t i = 0; i < frames; ++i) {
    const uint32_t first = in[4 * i] | (uint32_t{in[4 * i + 1]} << 8);
    const uint32_t second = in[4 * i + 2] | (uint32_t{in[4 * i + 3]} << 8);
    out[i] = static_cast<uint16_t>((first + second) >> 1);
  }
}

void DecodeFrames(const WaveHeader& header, const uint8_t* in, size_t frames, uint16_t* out) {
  const bool stereo = header.channels == 2;
  if (header.bitsPerSample == 8) {
    stereo ? Decode8Stereo(in, frames, out) : Decode8Mono(in, frames, out);
  } else {
    stereo ? Decode16Stereo(in, frames, out) : Decode16Mono(in, frames, out);
  }
}

// Frames per ReadLevels read: large enough that a read costs little per byte, small enough that
// the block stays in the cache.
constexpr size_t kMaxFramesPerRead = size_t{1} << 15;

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
  bytes_.resize(frames * frameSize);
  const size_t got = ReadBytes(bytes_.data(), bytes_.size());
  const size_t whole = got / frameSize;
  DecodeFrames(header_, bytes_.data(), whole, out);
  if (got == bytes_.size() || HasError()) return whole;
  // The data ended: the last frame is what remains, completed by failed reads.
  out[whole] = static_cast<uint16_t>(
      FinalFrameLevel(header_, bytes_.data() + whole * frameSize, got - whole * frameSize));
  return whole + 1;
}

}  // namespace pulsecut
