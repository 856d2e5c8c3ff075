// A buffered binary file with integer readers whose end-of-file rules fix the values that the
// passes build from reads past the end of a recording.
#pragma once

#include <cstdint>
#include <cstdio>

namespace pulsecut {

// Open-mode flags, combined with `|`. They become the stdio mode letters "r", "w", "t", "b".
enum OpenMode : int { ModeRead = 1, ModeWrite = 2, ModeText = 4, ModeBinary = 8 };

// One stdio stream opened by name. The object owns the stream: `Close` or the destructor closes
// it. Nothing throws; failures show in the results described below.
class BinaryFile {
 public:
  BinaryFile() = default;
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;
  virtual ~BinaryFile();

  // Opens `name` with the mode letters of `mode`, closing any stream held before. Returns whether
  // a stream was opened; on failure errno holds the reason.
  virtual bool Open(const char* name, int mode);
  // Takes over `stream` (any readable stdio stream, such as memory from fmemopen) as if Open had
  // opened it; returns false for a null stream.
  virtual bool Attach(std::FILE* stream, int mode);
  virtual void Close();
  // Absolute seek from the start of the file; clears the end-of-file indicator. Seeking beyond
  // the end succeeds. False without a stream or when the stream cannot seek (errno set).
  virtual bool Seek(int64_t offset);
  // The current position, or -1 without a stream or when the stream has none.
  virtual int64_t Tell();

  // One byte. 0 without a stream, and 0 without reading once the end-of-file indicator is set.
  // A read that fails sets the indicator and yields 0xFF.
  uint8_t ReadByte();
  // Two bytes read regardless of the indicator; each byte whose read fails counts as 0xFF.
  uint16_t ReadWord();
  // Four bytes; a byte is not read once the indicator is set and counts as 0, and a byte whose
  // read fails counts as 0xFF. 0 without a stream.
  uint32_t ReadDword();

  // Reads up to `size` bytes into `out` and returns how many arrived. Fewer than `size` means the
  // end of the file (AtEnd) or a read error (HasError).
  size_t ReadBytes(uint8_t* out, size_t size);

  // The length of a regular file in bytes, or -1 for anything else. Touches neither the
  // position nor the indicators.
  int64_t Length();

  bool IsOpen() const { return stream_ != nullptr; }
  // The stream's end-of-file indicator: set only by a read that failed at the end.
  bool AtEnd() const;
  // Whether a read failed for a reason other than the end of the file.
  bool HasError() const;
  // errno of the first failed read, seek or open, for the error report; 0 when none failed.
  int ErrorNumber() const { return errorNumber_; }

  int mode() const { return mode_; }
  bool bigEndian() const { return bigEndian_; }
  void setBigEndian(bool bigEndian) { bigEndian_ = bigEndian; }

 protected:
  // Reads one byte; returns -1 when the read fails, remembering errno of a read error.
  int Get();
  void NoteError(int errorNumber);

  std::FILE* stream_ = nullptr;

 private:
  int mode_ = 0;
  bool bigEndian_ = false;
  int errorNumber_ = 0;
};

}  // namespace pulsecut
