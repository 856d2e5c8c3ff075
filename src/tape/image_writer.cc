#include "tape/image_writer.h"

#include <cerrno>

namespace pulsecut {

ImageWriter::ImageWriter(std::FILE* destination)
    : destination_(destination), buffer_(size_t{1} << 16) {}

void ImageWriter::WriteHeader() {
  for (size_t i = 0; i + 1 < sizeof kImageMagic; ++i) Put(static_cast<uint8_t>(kImageMagic[i]));
  Put(0);
  Put(0);
}

void ImageWriter::WriteStretch(bool high, int64_t ticks) {
  const uint8_t stateBit = high ? 0x80 : 0x00;
  while (ticks > 0) {
    const int64_t part = ticks < kMaxRecordTicks ? ticks : kMaxRecordTicks;
    Put(static_cast<uint8_t>(stateBit | ((part >> 8) & 0x7F)));
    Put(static_cast<uint8_t>(part & 0xFF));
    ticks -= part;
  }
}

void ImageWriter::Drain() {
  if (used_ != 0 && errorNumber_ == 0 &&
      std::fwrite(buffer_.data(), 1, used_, destination_) != used_) {
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
