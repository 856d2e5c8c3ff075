#include "tape/image_writer.h"

#include <cerrno>

namespace pulsecut {

ImageWriter::ImageWriter(std::FILE* destination, size_t capacity)
    : destination_(destination), buffer_(capacity) {}

void ImageWriter::WriteHeader() {
  // The 18 header bytes are nine words: the magic's byte pairs and the two zero bytes.
  for (size_t i = 0; i < kImageHeaderSize; i += 2) {
    const auto high = static_cast<uint8_t>(i < kImageMagicSize ? kImageMagic[i] : 0);
    const auto low = static_cast<uint8_t>(i < kImageMagicSize ? kImageMagic[i + 1] : 0);
    if (used_ == buffer_.size()) Drain();
    buffer_[used_++] = InFileOrder(static_cast<uint16_t>((high << 8) | low));
  }
}

void ImageWriter::WriteLongStretch(bool high, int64_t ticks) {
  while (ticks > 0) {
    const int64_t part = ticks < kMaxRecordTicks ? ticks : kMaxRecordTicks;
    PutRecord(high, static_cast<uint32_t>(part));
    ticks -= part;
  }
}

void ImageWriter::Drain() {
  if (used_ != 0 && errorNumber_ == 0 &&
      std::fwrite(buffer_.data(), sizeof buffer_[0], used_, destination_) != used_) {
    errorNumber_ = errno != 0 ? errno : EIO;
  }
  used_ = 0;
}

bool ImageWriter::Flush() {
  Drain();
  if (errorNumber_ == 0 && std::fflush(destination_) != 0) errorNumber_ = errno != 0 ? errno : EIO;
  return errorNumber_ == 0;
}

}  // namespace pulsecut
