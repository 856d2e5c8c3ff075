#include "wav/binary_file.h"

#include <cerrno>
#include <string>

#include "base/platform.h"

namespace pulsecut {

BinaryFile::~BinaryFile() { BinaryFile::Close(); }

bool BinaryFile::Open(const char* name, int mode) {
  Close();
  std::string letters;
  if (mode & ModeRead) letters += 'r';
  if (mode & ModeWrite) letters += 'w';
  if (mode & ModeText) letters += 't';
  if (mode & ModeBinary) letters += 'b';
  mode_ = mode;
  errorNumber_ = 0;
  stream_ = OpenFile(name, letters.c_str());
  if (stream_ == nullptr) NoteError(errno);
  return stream_ != nullptr;
}

bool BinaryFile::Attach(std::FILE* stream, int mode) {
  Close();
  mode_ = mode;
  errorNumber_ = 0;
  stream_ = stream;
  return stream_ != nullptr;
}

void BinaryFile::Close() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
}

bool BinaryFile::Seek(int64_t offset) {
  if (stream_ == nullptr) return false;
  if (!SeekTo(stream_, offset)) {
    NoteError(errno);
    return false;
  }
  return true;
}

int64_t BinaryFile::Tell() {
  if (stream_ == nullptr) return -1;
  return PositionOf(stream_);
}

int BinaryFile::Get() {
  const int c = std::fgetc(stream_);
  if (c == EOF && std::ferror(stream_)) NoteError(errno);
  return c;
}

void BinaryFile::NoteError(int errorNumber) {
  if (errorNumber_ == 0) errorNumber_ = errorNumber != 0 ? errorNumber : EIO;
}

uint8_t BinaryFile::ReadByte() {
  if (stream_ == nullptr || std::feof(stream_)) return 0;
  const int c = Get();
  return c == EOF ? uint8_t{0xFF} : static_cast<uint8_t>(c);
}

uint16_t BinaryFile::ReadWord() {
  if (stream_ == nullptr) return 0;
  const int first = Get();
  const int second = Get();
  const uint32_t a = first == EOF ? 0xFFu : static_cast<uint32_t>(first);
  const uint32_t b = second == EOF ? 0xFFu : static_cast<uint32_t>(second);
  return static_cast<uint16_t>(bigEndian_ ? (a << 8) | b : a | (b << 8));
}

uint32_t BinaryFile::ReadDword() {
  if (stream_ == nullptr) return 0;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t byte = 0;
    if (!std::feof(stream_)) {
      const int c = Get();
      byte = c == EOF ? 0xFFu : static_cast<uint32_t>(c);
    }
    const int shift = bigEndian_ ? 24 - 8 * i : 8 * i;
    value |= byte << shift;
  }
  return value;
}

size_t BinaryFile::ReadBytes(uint8_t* out, size_t size) {
  if (stream_ == nullptr) return 0;
  const size_t got = std::fread(out, 1, size, stream_);
  if (got < size && std::ferror(stream_)) NoteError(errno);
  return got;
}

int64_t BinaryFile::Length() {
  if (stream_ == nullptr) return -1;
  return RegularFileLength(stream_);
}

bool BinaryFile::AtEnd() const { return stream_ != nullptr && std::feof(stream_) != 0; }

bool BinaryFile::HasError() const { return stream_ != nullptr && std::ferror(stream_) != 0; }

}  // namespace pulsecut
