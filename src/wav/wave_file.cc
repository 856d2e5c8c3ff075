#include "wav/wave_file.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "wav/riff_header.h"

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

// One sample of each encoding onto the value scale. A signed sample plus 0x8000 is its top 16
// bits with the sign bit flipped.
struct Unsigned8 {
  static constexpr size_t kBytes = 1;
  static uint32_t Value(const uint8_t* p) { return uint32_t{p[0]} << 8; }
};
struct Unsigned16 {
  static constexpr size_t kBytes = 2;
  static uint32_t Value(const uint8_t* p) { return p[0] | (uint32_t{p[1]} << 8); }
};
struct Signed16 {
  static constexpr size_t kBytes = 2;
  static uint32_t Value(const uint8_t* p) { return (p[0] | (uint32_t{p[1]} << 8)) ^ 0x8000u; }
};
struct Signed24 {
  static constexpr size_t kBytes = 3;
  static uint32_t Value(const uint8_t* p) { return (p[1] | (uint32_t{p[2]} << 8)) ^ 0x8000u; }
};
struct Signed32 {
  static constexpr size_t kBytes = 4;
  static uint32_t Value(const uint8_t* p) { return (p[2] | (uint32_t{p[3]} << 8)) ^ 0x8000u; }
};
// floor(x * 32768) limited to -32768..32767, plus 0x8000; NaN is the centre. The product is
// exact (a power of two), so the value depends on x alone.
uint32_t FloatValue(double x) {
  if (std::isnan(x)) return 0x8000;
  double y = std::floor(x * 32768.0);
  if (y < -32768.0) y = -32768.0;
  if (y > 32767.0) y = 32767.0;
  return static_cast<uint32_t>(static_cast<int32_t>(y) + 0x8000);
}
struct Float32 {
  static constexpr size_t kBytes = 4;
  static uint32_t Value(const uint8_t* p) {
    const uint32_t bits =
        p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
    return FloatValue(static_cast<double>(std::bit_cast<float>(bits)));
  }
};
struct Float64 {
  static constexpr size_t kBytes = 8;
  static uint32_t Value(const uint8_t* p) {
    uint64_t bits = 0;
    for (size_t i = 0; i < 8; ++i) bits |= uint64_t{p[i]} << (8 * i);
    return FloatValue(std::bit_cast<double>(bits));
  }
};

// Frames of a fixed size: one channel, the mix of two, or one channel of two.
template <typename Sample>
struct Mono {
  static constexpr size_t kSize = Sample::kBytes;
  static uint16_t Decode(const uint8_t* p) { return static_cast<uint16_t>(Sample::Value(p)); }
};
template <typename Sample>
struct StereoMix {
  static constexpr size_t kSize = 2 * Sample::kBytes;
  static uint16_t Decode(const uint8_t* p) {
    return static_cast<uint16_t>((Sample::Value(p) + Sample::Value(p + Sample::kBytes)) >> 1);
  }
};
template <typename Sample, size_t kChannel>
struct StereoOne {
  static constexpr size_t kSize = 2 * Sample::kBytes;
  static uint16_t Decode(const uint8_t* p) {
    return static_cast<uint16_t>(Sample::Value(p + kChannel * Sample::kBytes));
  }
};

// The frames go in groups of a fixed count through functions whose input and output cannot
// overlap, a form the compiler turns into vector code at -O2.
constexpr size_t kDecodeGroup = 64;

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

// Frames of three or more channels.
template <typename Sample>
void DecodeMany(const uint8_t* in, size_t frames, size_t channels, ChannelChoice choice,
                uint16_t* out) {
  const size_t frameSize = channels * Sample::kBytes;
  if (choice != ChannelChoice::kMix) {
    const size_t offset = choice == ChannelChoice::kSecond ? Sample::kBytes : 0;
    for (size_t i = 0; i < frames; ++i) {
      out[i] = static_cast<uint16_t>(Sample::Value(in + i * frameSize + offset));
    }
    return;
  }
  for (size_t i = 0; i < frames; ++i) {
    uint32_t sum = 0;  // at most 65535 * 65535
    for (size_t c = 0; c < channels; ++c)
      sum += Sample::Value(in + i * frameSize + c * Sample::kBytes);
    out[i] = static_cast<uint16_t>(sum / channels);
  }
}

template <typename Sample>
void DecodeWith(const uint8_t* in, size_t frames, size_t channels, ChannelChoice choice,
                uint16_t* out) {
  if (channels == 1) return DecodeEach<Mono<Sample>>(in, frames, out);
  if (channels > 2) return DecodeMany<Sample>(in, frames, channels, choice, out);
  switch (choice) {
    case ChannelChoice::kMix:
      return DecodeEach<StereoMix<Sample>>(in, frames, out);
    case ChannelChoice::kFirst:
      return DecodeEach<StereoOne<Sample, 0>>(in, frames, out);
    case ChannelChoice::kSecond:
      return DecodeEach<StereoOne<Sample, 1>>(in, frames, out);
  }
}

void DecodeFrames(Encoding encoding, const uint8_t* in, size_t frames, size_t channels,
                  ChannelChoice choice, uint16_t* out) {
  switch (encoding) {
    case Encoding::kUnsigned8:
      return DecodeWith<Unsigned8>(in, frames, channels, choice, out);
    case Encoding::kUnsigned16:
      return DecodeWith<Unsigned16>(in, frames, channels, choice, out);
    case Encoding::kSigned16:
      return DecodeWith<Signed16>(in, frames, channels, choice, out);
    case Encoding::kSigned24:
      return DecodeWith<Signed24>(in, frames, channels, choice, out);
    case Encoding::kSigned32:
      return DecodeWith<Signed32>(in, frames, channels, choice, out);
    case Encoding::kFloat32:
      return DecodeWith<Float32>(in, frames, channels, choice, out);
    case Encoding::kFloat64:
      return DecodeWith<Float64>(in, frames, channels, choice, out);
  }
}

// Frames per ReadValues read: large enough that a read costs little per byte, small enough that
// the block stays in the cache.
constexpr size_t kMaxFramesPerRead = size_t{1} << 16;

const char* EncodingName(Encoding encoding) {
  switch (encoding) {
    case Encoding::kUnsigned8:
      return "8-bit unsigned PCM";
    case Encoding::kUnsigned16:
      return "16-bit PCM taken as unsigned";
    case Encoding::kSigned16:
      return "16-bit signed PCM";
    case Encoding::kSigned24:
      return "24-bit signed PCM";
    case Encoding::kSigned32:
      return "32-bit signed PCM";
    case Encoding::kFloat32:
      return "32-bit float";
    case Encoding::kFloat64:
      return "64-bit float";
  }
  return "";
}

}  // namespace

void InvertPhase(uint16_t* values, size_t count) {
  for (size_t i = 0; i < count; ++i) values[i] = static_cast<uint16_t>(0xFFFFu - values[i]);
}

SampleLevel FinalFrameValue(const WaveHeader& header, ChannelChoice choice, const uint8_t* rest,
                            size_t count) {
  RemainingBytes in(rest, count);
  return DecodeFrame(in, header, choice);
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
  standard_ = false;
  channel_ = ChannelChoice::kMix;
  dataStart_ = kDataOffset;
  dataSize_ = remaining_ = kToEndOfFile;
  ended_ = false;
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
  encoding_ = header_.bitsPerSample == 8 ? Encoding::kUnsigned8 : Encoding::kUnsigned16;
}

Status WaveFile::ChooseReading(const ReadOptions& options) {
  channel_ = options.channel;
  if (!options.standard && IsSupported(header_)) return {};
  RiffFormat format;
  if (Status status = ReadRiffFormat(*this, &format); !status.ok()) return status;
  standard_ = true;
  header_ = format.header;
  encoding_ = format.encoding;
  dataStart_ = format.dataStart;
  dataSize_ = remaining_ = format.dataSize;
  return {};
}

SampleLevel WaveFile::ReadSample() { return DecodeFrame(*this, header_, channel_); }

bool WaveFile::SeekFrame(uint64_t index) {
  const uint64_t offset = index * frameSize();
  ended_ = false;
  remaining_ = dataSize_ == kToEndOfFile ? kToEndOfFile
               : offset < dataSize_      ? dataSize_ - offset
                                         : 0;
  return Seek(dataStart_ + static_cast<int64_t>(offset));
}

size_t WaveFile::BytesFor(size_t frames) const {
  const uint64_t wanted = uint64_t{frames} * frameSize();
  return static_cast<size_t>(wanted < remaining_ ? wanted : remaining_);
}

void WaveFile::Consumed(size_t got, size_t wanted) {
  if (remaining_ != kToEndOfFile) remaining_ -= got;
  // Short of what was asked (the file ended), or less than a frame left: the data has ended.
  if (got < wanted || remaining_ < frameSize()) ended_ = true;
}

size_t WaveFile::ReadValues(uint16_t* out, size_t capacity) {
  if (!readable() || capacity == 0 || AtEnd() || ended_ || HasError()) return 0;
  const size_t size = frameSize();
  const size_t frames = capacity < kMaxFramesPerRead ? capacity : kMaxFramesPerRead;
  const size_t wanted = standard_ ? BytesFor(frames) : frames * size;
  // 16-bit mono samples taken as stored are the values themselves: on a little-endian host the
  // output can take the file's bytes as they are.
  const bool direct = header_.channels == 1 && encoding_ == Encoding::kUnsigned16 &&
                      std::endian::native == std::endian::little;
  uint8_t* raw = reinterpret_cast<uint8_t*>(out);
  if (!direct) {
    bytes_.resize(frames * size);
    raw = bytes_.data();
  }
  const size_t got = wanted == 0 ? 0 : ReadBytes(raw, wanted);
  const size_t whole = got / size;
  if (!direct) DecodeFrames(encoding_, raw, whole, header_.channels, channel_, out);
  if (standard_) {
    Consumed(got, wanted);
    return whole;
  }
  if (got == wanted || HasError()) return whole;
  // The file ended: the last frame is what remains, completed by failed reads.
  out[whole] = static_cast<uint16_t>(
      FinalFrameValue(header_, channel_, raw + whole * size, got - whole * size));
  return whole + 1;
}

bool WaveFile::HasByteValues() const {
  return readable() && header_.channels == 1 && encoding_ == Encoding::kUnsigned8;
}

size_t WaveFile::ReadByteValues(uint8_t* out, size_t capacity) {
  if (!HasByteValues() || capacity == 0 || AtEnd() || ended_ || HasError()) return 0;
  const size_t frames = capacity < kMaxFramesPerRead ? capacity : kMaxFramesPerRead;
  const size_t wanted = standard_ ? BytesFor(frames) : frames;
  const size_t got = wanted == 0 ? 0 : ReadBytes(out, wanted);
  if (standard_) {
    Consumed(got, wanted);
    return got;
  }
  if (got == wanted || HasError()) return got;
  out[got] = static_cast<uint8_t>(FinalFrameValue(header_, channel_, nullptr, 0) >> 8);
  return got + 1;
}

uint64_t WaveFile::CountValues() {
  const int64_t length = Length();
  if (length < 0 || !readable()) return 0;
  const uint64_t after = length > dataStart_ ? static_cast<uint64_t>(length - dataStart_) : 0;
  if (!standard_) return after / frameSize() + 1;  // and the frame built from failed reads
  return (after < dataSize_ ? after : dataSize_) / frameSize();
}

double WaveFile::FirstValueFrame() {
  if (standard_) return 0;
  RiffFormat format;
  const int64_t dataStart =
      ReadRiffFormat(*this, &format).ok() ? format.dataStart : kCanonicalDataStart;
  return static_cast<double>(kDataOffset - dataStart) / static_cast<double>(frameSize());
}

std::string WaveFile::DescribeReading() {
  const char* choice = channel_ == ChannelChoice::kMix     ? "the mix of"
                       : channel_ == ChannelChoice::kFirst ? "the first of"
                       : header_.channels == 1             ? "the only one of"
                                                           : "the second of";
  std::string frames = "frames to the end of the file";
  const int64_t length = Length();
  if (length >= 0) frames = std::to_string(CountValues()) + " frames";
  return std::string("Standard reading: ") + EncodingName(encoding_) + ", " + choice + " " +
         std::to_string(header_.channels) + (header_.channels == 1 ? " channel" : " channels") +
         ", data from byte " + std::to_string(dataStart_) + ", " + frames;
}

}  // namespace pulsecut
