#include "wav/riff_header.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "base/platform.h"

namespace pulsecut {
namespace {

// The chunk header: a 4-byte id and a 4-byte size.
constexpr size_t kChunkHeaderSize = 8;
// The RIFF header: the container id, its size and the form type "WAVE".
constexpr int64_t kFirstChunk = 12;
// The "fmt " body of the canonical layout, and of the extensible one.
constexpr size_t kFmtSize = 16;
constexpr size_t kExtensibleFmtSize = 40;
// Format tags.
constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
// A chunk size of all ones: "see ds64" in RF64 and BW64, "to the end of the file" elsewhere.
constexpr uint32_t kSizeUnknown = 0xFFFFFFFF;
// The 14 bytes that end every standard sub-format GUID (KSDATAFORMAT_SUBTYPE_*); its first two
// bytes are the format tag.
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint32_t Le(const uint8_t* p, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= uint32_t{p[i]} << (8 * i);
  return value;
}

uint64_t Le64(const uint8_t* p) { return Le(p, 4) | (uint64_t{Le(p + 4, 4)} << 32); }

bool IdIs(const uint8_t* id, const char* name) { return std::memcmp(id, name, 4) == 0; }

// An id as text for a message: printable ASCII as it is, other bytes as \xNN.
std::string Quoted(const uint8_t* id) {
  std::string text = "\"";
  for (size_t i = 0; i < 4; ++i) {
    if (id[i] >= 0x20 && id[i] < 0x7F && id[i] != '"' && id[i] != '\\') {
      text += static_cast<char>(id[i]);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", id[i]);
      text += escaped;
    }
  }
  return text + "\"";
}

std::string Hex4(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

// Reads up to `size` bytes at `offset`; returns how many arrived, or nullopt with `status` set
// when the seek or the read failed.
std::optional<size_t> ReadAt(BinaryFile& file, int64_t offset, uint8_t* out, size_t size,
                             Status& status) {
  if (!file.Seek(offset)) {
    status = Status::SystemError(Status::Code::kSourceSeek, file.ErrorNumber());
    return std::nullopt;
  }
  const size_t got = file.ReadBytes(out, size);
  if (file.HasError()) {
    status = Status::SystemError(Status::Code::kSourceRead, file.ErrorNumber());
    return std::nullopt;
  }
  return got;
}

// The checks of the "fmt " fields, in the order of the messages.
Status CheckFormat(const WaveHeader& h, Encoding& encoding) {
  if (h.formatTag != kTagPcm && h.formatTag != kTagFloat) {
    return Status::SourceFormat("unsupported format tag " + Hex4(h.formatTag) + "; supported are " +
                                "0x0001 (integer PCM) and 0x0003 (IEEE float)");
  }
  const uint16_t bits = h.bitsPerSample;
  if (h.formatTag == kTagPcm) {
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
      return Status::SourceFormat("unsupported sample size of " + std::to_string(bits) +
                                  " bits for integer PCM; supported are 8, 16, 24 or 32 bits");
    }
    encoding = bits == 8    ? Encoding::kUnsigned8
               : bits == 16 ? Encoding::kSigned16
               : bits == 24 ? Encoding::kSigned24
                            : Encoding::kSigned32;
  } else {
    if (bits != 32 && bits != 64) {
      return Status::SourceFormat("unsupported sample size of " + std::to_string(bits) +
                                  " bits for IEEE float; supported are 32 or 64 bits");
    }
    encoding = bits == 32 ? Encoding::kFloat32 : Encoding::kFloat64;
  }
  if (h.channels == 0) return Status::SourceFormat("0 channels; at least 1 is needed");
  if (h.sampleRate == 0) return Status::SourceFormat("a sample rate of 0 Hz; it must be above 0");
  const uint32_t frameSize = uint32_t{h.channels} * bits / 8;
  if (h.blockAlign != frameSize) {
    return Status::SourceFormat("a block align of " + std::to_string(h.blockAlign) +
                                " bytes, which does not match " + std::to_string(h.channels) +
                                " channels of " + std::to_string(bits) + " bits (" +
                                std::to_string(frameSize) + " bytes)");
  }
  return {};
}

}  // namespace

Status ReadRiffFormat(BinaryFile& file, RiffFormat* format) {
  Status status;
  uint8_t riff[kFirstChunk];
  const std::optional<size_t> got = ReadAt(file, 0, riff, sizeof riff, status);
  if (!got) return status;
  const bool wide = *got >= 4 && (IdIs(riff, "RF64") || IdIs(riff, "BW64"));
  if (*got < sizeof riff || !(IdIs(riff, "RIFF") || wide) || !IdIs(riff + 8, "WAVE")) {
    if (*got < sizeof riff) {
      return Status::SourceFormat("not a RIFF WAVE file (" + std::to_string(*got) +
                                  " bytes, shorter than a RIFF header)");
    }
    return Status::SourceFormat("not a RIFF WAVE file (it starts " + Quoted(riff) + " and " +
                                Quoted(riff + 8) +
                                "; supported are \"RIFF\", \"RF64\" or \"BW64\" with \"WAVE\")");
  }

  // The walk: the first "fmt " and "data" chunks, and "ds64" where it leads an RF64 file.
  std::optional<uint64_t> ds64DataSize;
  uint8_t fmt[kExtensibleFmtSize];
  std::optional<size_t> fmtSize;  // the bytes of its body that the file holds, up to 40
  uint32_t fmtDeclared = 0;
  std::optional<int64_t> dataStart;
  uint64_t dataSize = 0;
  uint32_t dataDeclared = 0;
  for (int64_t offset = kFirstChunk;;) {
    uint8_t chunk[kChunkHeaderSize];
    const std::optional<size_t> header = ReadAt(file, offset, chunk, sizeof chunk, status);
    if (!header) return status;
    if (*header < sizeof chunk) break;
    const uint32_t declared = Le(chunk + 4, 4);
    const int64_t body = offset + static_cast<int64_t>(kChunkHeaderSize);
    uint64_t size = declared;
    if (offset == kFirstChunk && wide && IdIs(chunk, "ds64")) {
      uint8_t ds64[16];
      const std::optional<size_t> n =
          ReadAt(file, body, ds64, declared < sizeof ds64 ? declared : sizeof ds64, status);
      if (!n) return status;
      if (*n == sizeof ds64) ds64DataSize = Le64(ds64 + 8);
    } else if (IdIs(chunk, "fmt ") && !fmtSize) {
      fmtSize = ReadAt(file, body, fmt, declared < sizeof fmt ? declared : sizeof fmt, status);
      if (!fmtSize) return status;
      fmtDeclared = declared;
    } else if (IdIs(chunk, "data") && !dataStart) {
      dataStart = body;
      dataDeclared = declared;
      if (declared == kSizeUnknown) size = ds64DataSize ? *ds64DataSize : kToEndOfFile;
      dataSize = size;
    }
    if (fmtSize && dataStart) break;  // later chunks cannot change what counts
    // The next chunk, after the body and its pad byte; none beyond the largest offset.
    if (size > static_cast<uint64_t>(INT64_MAX - body) - 1) break;
    offset = body + static_cast<int64_t>(size + (size & 1));
  }

  if (!fmtSize) return Status::SourceFormat("no \"fmt \" chunk");
  WaveHeader h;
  h.fmtLength = fmtDeclared;
  const bool extensible = *fmtSize >= 2 && Le(fmt, 2) == kTagExtensible;
  if (*fmtSize < kFmtSize || (extensible && *fmtSize < kExtensibleFmtSize)) {
    return Status::SourceFormat("the \"fmt \" chunk is too short (" + std::to_string(*fmtSize) +
                                " bytes; at least 16, and 40 for the extensible format tag)");
  }
  if (!dataStart) return Status::SourceFormat("no \"data\" chunk");
  h.formatTag = static_cast<uint16_t>(Le(fmt, 2));
  h.channels = static_cast<uint16_t>(Le(fmt + 2, 2));
  h.sampleRate = Le(fmt + 4, 4);
  h.byteRate = Le(fmt + 8, 4);
  h.blockAlign = static_cast<uint16_t>(Le(fmt + 12, 2));
  h.bitsPerSample = static_cast<uint16_t>(Le(fmt + 14, 2));
  h.dataLength = dataDeclared;
  if (extensible) {
    const uint8_t* guid = fmt + 24;
    if (std::memcmp(guid + 2, kGuidTail, sizeof kGuidTail) != 0) {
      std::string text;
      for (size_t i = 0; i < 16; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", guid[i]);
        text += byte;
      }
      return Status::SourceFormat("unsupported extensible sub-format (GUID bytes " + text +
                                  "); supported are integer PCM and IEEE float");
    }
    h.formatTag = static_cast<uint16_t>(Le(guid, 2));
  }
  Encoding encoding = Encoding::kUnsigned8;
  if (Status checked = CheckFormat(h, encoding); !checked.ok()) return checked;
  format->header = h;
  format->encoding = encoding;
  format->dataStart = *dataStart;
  format->dataSize = dataSize;
  return {};
}

bool IsWaveRecording(const char* path) {
  // Only a regular file: opening a FIFO to look would wait for a writer.
  if (!IsRegularFile(path)) return false;
  BinaryFile file;
  if (!file.Open(path, ModeRead | ModeBinary)) return false;
  uint8_t riff[kFirstChunk];
  return file.ReadBytes(riff, sizeof riff) == sizeof riff &&
         (IdIs(riff, "RIFF") || IdIs(riff, "RF64") || IdIs(riff, "BW64")) && IdIs(riff + 8, "WAVE");
}

}  // namespace pulsecut
