#include "tape/image_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/platform.h"
#include "tape/image_format.h"

namespace pulsecut {

ImageReadResult ParseImage(const std::string& bytes) {
  ImageReadResult result;
  const std::string magic(kImageMagic);
  if (bytes.size() < kImageHeaderSize) {
    result.error = "too short for an image header (" + std::to_string(bytes.size()) +
                   " bytes, the header alone is " + std::to_string(kImageHeaderSize) + ")";
    return result;
  }
  if (bytes.compare(0, magic.size(), magic) != 0) {
    result.error = "not a K58 tape image (it does not start with \"" + magic + "\")";
    return result;
  }
  if (bytes[kImageMagicSize] != 0 || bytes[kImageMagicSize + 1] != 0) {
    result.error = "not a K58 tape image (bytes 16 and 17 after the magic are not zero)";
    return result;
  }
  const size_t records = (bytes.size() - kImageHeaderSize) / 2;
  result.image.records.reserve(records);
  for (size_t i = 0; i < records; ++i) {
    const auto high = static_cast<uint8_t>(bytes[kImageHeaderSize + 2 * i]);
    const auto low = static_cast<uint8_t>(bytes[kImageHeaderSize + 2 * i + 1]);
    result.image.records.push_back({(high & (kHighBit >> 8)) != 0,
                                    static_cast<uint16_t>(((high << 8) | low) & kMaxRecordTicks)});
  }
  result.image.oddTrailingByte = (bytes.size() - kImageHeaderSize) % 2 != 0;
  result.ok = true;
  return result;
}

ImageReadResult ReadImageFile(const std::string& path) {
  ImageReadResult result;
  std::FILE* in = OpenFile(path, "rb");
  if (in == nullptr) {
    result.error = std::strerror(errno);
    return result;
  }
  std::string bytes;
  char block[1 << 16];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) bytes.append(block, got);
  const bool failed = std::ferror(in) != 0;
  const int error = errno;
  std::fclose(in);
  if (failed) {
    result.error = std::strerror(error);
    return result;
  }
  return ParseImage(bytes);
}

}  // namespace pulsecut
