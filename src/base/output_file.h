// A destination written completely or not at all.
//
// The bytes go to a new temporary file beside the destination, which replaces the destination
// only when the last byte is written, flushed to the disk and the file closed without error.
// Until then an existing destination is untouched; a failed or abandoned output, and a run
// ended by SIGINT, SIGTERM or SIGHUP, removes the temporary file. Destinations that cannot be
// replaced that way are written directly, as a plain open would: a device or FIFO (/dev/null,
// /dev/stdout), a file with more than one hard link (the other names must keep seeing it), and
// a file in a folder where no temporary file can be made. A symbolic link stays a link: the file
// it points to is replaced.
#pragma once

#include <cstdio>
#include <string>

namespace pulsecut {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Abandons an output that was not committed.
  ~OutputFile();

  // Opens `path` for writing in binary mode. Returns the stream to write to, or null with errno
  // set as opening the destination itself would set it (an existing destination that cannot be
  // written is refused, never replaced). The stream belongs to this object.
  std::FILE* Open(const std::string& path);

  // Flushes and closes the stream and puts the bytes in place of the destination. Returns 0, or
  // the errno of the first failure (the destination then stays as it was).
  int Commit();

  // Closes the stream and removes the temporary file; the destination stays as it was.
  void Abandon();

 private:
  std::FILE* stream_ = nullptr;
  std::string target_;     // the file to replace (a symbolic link's target)
  std::string temporary_;  // empty when writing directly
};

}  // namespace pulsecut
