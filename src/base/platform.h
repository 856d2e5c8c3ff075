// The few file operations that differ between POSIX systems and Windows. Names are UTF-8
// everywhere; on Windows they go to the wide (UTF-16) API, so that any file name works.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pulsecut {

// fopen by a UTF-8 name.
std::FILE* OpenFile(const std::string& name, const char* mode);

// An absolute seek with 64-bit offsets, the end-of-file indicator cleared; false on failure
// (errno set).
bool SeekTo(std::FILE* stream, int64_t offset);
// The position with 64-bit offsets, -1 on failure.
int64_t PositionOf(std::FILE* stream);
// The length of the regular file behind `stream`, or -1 for anything else.
int64_t RegularFileLength(std::FILE* stream);

// Whether `name` is a regular file.
bool IsRegularFile(const std::string& name);
// Whether two names are the same existing file: the same device and inode, or on Windows the
// same volume and file index (so .\a.wav, A.WAV and dir\..\a.wav are a.wav).
bool SameFile(const std::string& a, const std::string& b);

// How many names the existing file `name` has (hard links); 0 when there is no such file.
int LinkCount(const std::string& name);

// Puts the file's written bytes on the disk. Returns 0 or errno.
int SyncToDisk(std::FILE* stream);
// Renames `from` to `to`, replacing `to` if it exists (on Windows, written through to the
// disk). Returns 0 or errno.
int ReplaceFile(const std::string& from, const std::string& to);

// The program's arguments as UTF-8: `argv` itself on POSIX systems, the wide command line on
// Windows (where argv holds them in the ANSI code page).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

#if defined(_WIN32)
// A UTF-8 name as the wide API takes it.
std::wstring WideName(const std::string& utf8);
#endif

}  // namespace pulsecut
