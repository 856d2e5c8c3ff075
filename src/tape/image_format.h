// The K58 tape image format, shared by the writer, the reader and k58.
//
// An image is the 16 ASCII bytes "RQ5 TAPE IMAGE 0", two bytes 0x00, then 2-byte big-endian
// records to the end of the file: bit 15 is the state of a stretch (1 high, 0 low), bits 14-0
// its duration in 9-microsecond ticks, 1 to 32767. A longer stretch is several records of the
// same state, 32767 ticks each but the last. There is no end marker, count or checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pulsecut {

// The magic at the start of every image, written without the terminating 0.
inline constexpr char kImageMagic[] = "RQ5 TAPE IMAGE 0";
inline constexpr size_t kImageMagicSize = sizeof kImageMagic - 1;
// The magic and the two zero bytes after it.
inline constexpr size_t kImageHeaderSize = kImageMagicSize + 2;
// The largest duration of one record: the 15 bits below the state bit.
inline constexpr int64_t kMaxRecordTicks = 0x7FFF;
// The state bit of a record.
inline constexpr uint16_t kHighBit = 0x8000;

// The unit of the durations: 9 microseconds, 111111.11111111111 ticks per second (a double, so
// that durations are the same on every build).
inline constexpr int64_t kMicrosecondsPerTick = 9;
inline constexpr double kTicksPerSecond = 111111.11111111111;

inline constexpr int64_t TicksToMicroseconds(int64_t ticks) { return ticks * kMicrosecondsPerTick; }
inline constexpr double TicksToSeconds(int64_t ticks) {
  return static_cast<double>(TicksToMicroseconds(ticks)) * 1e-6;
}

}  // namespace pulsecut
