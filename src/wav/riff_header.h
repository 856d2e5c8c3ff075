// The standard reading's view of a WAVE file: its chunks walked, its "fmt " chunk parsed and its
// "data" chunk located, wherever they lie.
#pragma once

#include <cstdint>

#include "base/status.h"
#include "wav/binary_file.h"
#include "wav/wave_format.h"

namespace pulsecut {

// What the "fmt " and "data" chunks say.
struct RiffFormat {
  // The "fmt " fields, the format tag of an extensible header replaced by its sub-format's;
  // `fmtLength` is the chunk's size and `dataLength` the low 32 bits of the data chunk's.
  WaveHeader header;
  Encoding encoding = Encoding::kUnsigned8;
  int64_t dataStart = 0;  // the data chunk's first byte
  // The data chunk's size in bytes (from "ds64" in an RF64 or BW64 file when the chunk's own is
  // 0xFFFFFFFF); kToEndOfFile when the file gives none.
  uint64_t dataSize = 0;
};

// Walks the chunks of `file` from its start and fills `format`:
//  - bytes 0-3 are "RIFF", "RF64" or "BW64" and bytes 8-11 "WAVE";
//  - from byte 12, chunks of a 4-byte id, a 4-byte little-endian size, the body and one pad byte
//    after an odd size, up to the end of the file (a chunk header that does not fit ends the
//    walk); the first "fmt " and the first "data" chunk count, in either order; in an RF64 or
//    BW64 file a first chunk "ds64" gives the data size (its body's bytes 8-15);
//  - "fmt ": a body of at least 16 bytes (40 for the extensible tag 0xFFFE, whose sub-format
//    GUID must end in the standard 14 bytes and gives the tag in its first two); integer PCM
//    (tag 1) of 8, 16, 24 or 32 bits or IEEE float (tag 3) of 32 or 64 bits, at least one
//    channel, a sample rate above 0, a block align of channels * bits / 8.
// Anything else fails with a format status that names what was found and what is supported;
// a failed seek or read fails with its system error.
Status ReadRiffFormat(BinaryFile& file, RiffFormat* format);

// Whether `path` is a regular file that starts as a WAVE recording does: bytes 0-3 "RIFF",
// "RF64" or "BW64" and bytes 8-11 "WAVE".
bool IsWaveRecording(const char* path);

}  // namespace pulsecut
