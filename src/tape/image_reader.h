// Reading a K58 tape image back: the header checked, the records decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pulsecut {

struct PulseRecord {
  bool high;       // bit 15
  uint16_t ticks;  // bits 14-0; 0 is possible in a file, never written by pulsecut
};

struct ImageContents {
  std::vector<PulseRecord> records;
  bool oddTrailingByte = false;  // a last byte that is not a whole record (ignored)
};

struct ImageReadResult {
  bool ok = false;
  std::string error;  // when !ok: what is wrong, as a sentence fragment for a message
  ImageContents image;
};

// Decodes the bytes of an image. Fails when they are shorter than the 18-byte header, do not
// start with the magic "RQ5 TAPE IMAGE 0", or bytes 16 and 17 are not zero.
ImageReadResult ParseImage(const std::string& bytes);

// Reads and decodes the image file `path`; a file that cannot be read fails with the system's
// description of the reason.
ImageReadResult ReadImageFile(const std::string& path);

}  // namespace pulsecut
