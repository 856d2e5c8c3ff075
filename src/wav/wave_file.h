// Reading a WAVE recording as the passes do: each frame of its data turned into one value.
//
// Two readings. The classic one takes the header from the fixed offsets of the canonical 44-byte
// layout and the frames from byte 58 to the end of the file, 8-bit or 16-bit, the 16-bit samples
// as stored (unsigned), and ends with one value built from failed reads. The standard one walks
// the RIFF chunks (see riff_header.h), reads the data chunk's whole frames and nothing else, and
// takes each encoding's samples onto the value scale with their sign.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "wav/binary_file.h"
#include "wav/wave_format.h"

namespace pulsecut {

// Reverse phase: every value v becomes 0xFFFF - v before the analysis or the comparator
// sees it.
void InvertPhase(uint16_t* values, size_t count);

// Decodes one classic frame from `in`, which offers ReadByte and ReadWord with the end-of-file
// rules of BinaryFile. These rules decide the value of the frame that a pass reads past the end
// of the file: 8-bit reads stop at the first failed byte (0xFF, later bytes 0), 16-bit reads
// count every missing byte as 0xFF. A stereo frame reads both channels whatever `choice` takes.
template <typename ByteSource>
SampleLevel DecodeFrame(ByteSource& in, const WaveHeader& header,
                        ChannelChoice choice = ChannelChoice::kMix) {
  auto channel = [&]() -> uint32_t {
    if (header.bitsPerSample == 8) return uint32_t{in.ReadByte()} << 8;
    if (header.bitsPerSample == 16) return in.ReadWord();
    return 0;
  };
  if (header.channels == 2) {
    const uint32_t first = channel();
    const uint32_t second = channel();
    if (choice == ChannelChoice::kFirst) return first;
    if (choice == ChannelChoice::kSecond) return second;
    return (first + second) >> 1;
  }
  if (header.channels == 1) return channel();
  return 0;
}

// The value of the last frame of a classic pass: the `count` bytes that remain of the data
// (fewer than a frame, possibly none) completed by failed reads.
SampleLevel FinalFrameValue(const WaveHeader& header, ChannelChoice choice, const uint8_t* rest,
                            size_t count);

class WaveFile : public BinaryFile {
 public:
  WaveFile() = default;
  ~WaveFile() override;

  // Resets the header to its defaults; with ModeRead, opens the file and reads the header at the
  // fixed offsets. The classic reading of the mix is in force.
  bool Open(const char* name, int mode) override;
  // Takes over `stream` and reads the header from it.
  bool Attach(std::FILE* stream, int mode) override;
  void Close() override;

  // Reads the header fields from their fixed offsets and returns to the position before the
  // call. A file too short for a field builds it from failed reads.
  void ReadHeader();

  // Chooses the reading: the standard one with `options.standard`, or when the classic reading
  // cannot read the header at the fixed offsets; the classic one otherwise. Fails, with the
  // standard reading's message, when the standard reading is chosen and cannot read the file.
  // Afterwards header() holds the format in use.
  Status ChooseReading(const ReadOptions& options);

  // Reads one classic frame byte by byte and returns its value.
  SampleLevel ReadSample();

  // Positions the file at frame `index` of the data (0: its start); a later read gives that
  // frame's value first. False when the seek fails.
  bool SeekFrame(uint64_t index);

  // Reads up to `capacity` frames (at least 1) into `out` and returns how many values it stored;
  // 0 once the data has ended or when nothing can be read. Classic: when the file ends inside
  // this call, the last value stored is the frame built from failed reads (as ReadSample would
  // return it) and AtEnd() becomes true. Standard: the whole frames of the data chunk, cut at
  // the end of the file. On a read error it stores the whole frames read and HasError() becomes
  // true.
  size_t ReadValues(uint16_t* out, size_t capacity);

  // For recordings whose every value is a byte shifted left by 8 (HasByteValues): ReadValues
  // storing each value v as the byte v >> 8.
  bool HasByteValues() const;
  size_t ReadByteValues(uint8_t* out, size_t capacity);

  // How many values a pass over a regular file reads. 0 when the length is unknown (not a
  // regular file).
  uint64_t CountValues();

  // Where the reading's first value lies among the frames of the data, as an audio editor
  // counts them from the first of the data chunk: 0 for the standard reading; for the classic
  // one, byte 58's frame, counted from the data chunk that the standard reading finds (byte 44
  // when it finds none). Half way into a frame for 16-bit stereo. Moves the file's position.
  double FirstValueFrame();

  // One line on how the standard reading reads the file (encoding, channel choice, where the
  // data starts, how many frames).
  std::string DescribeReading();

  const WaveHeader& header() const { return header_; }
  bool standard() const { return standard_; }
  Encoding encoding() const { return encoding_; }
  ChannelChoice channel() const { return channel_; }
  // Bytes per frame of a readable format.
  size_t frameSize() const { return size_t{header_.channels} * BytesPerSample(encoding_); }
  // Whether the reading in force can read the format.
  bool readable() const { return standard_ || IsSupported(header_); }

 private:
  // The bytes to read for `frames` frames, no more than remain of the data chunk.
  size_t BytesFor(size_t frames) const;
  // Books `got` bytes read of `wanted` for the standard reading.
  void Consumed(size_t got, size_t wanted);

  WaveHeader header_;
  bool standard_ = false;
  Encoding encoding_ = Encoding::kUnsigned16;
  ChannelChoice channel_ = ChannelChoice::kMix;
  int64_t dataStart_ = kDataOffset;
  uint64_t dataSize_ = kToEndOfFile;   // bytes of the data chunk
  uint64_t remaining_ = kToEndOfFile;  // bytes of the data chunk after the position
  bool ended_ = false;                 // the standard reading has read its last frame
  std::vector<uint8_t> bytes_;         // raw frames of ReadValues
};

}  // namespace pulsecut
