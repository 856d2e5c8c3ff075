// A buffered writer of K58 tape images (the format: image_format.h).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tape/image_format.h"

namespace pulsecut {

// Writes an image to a stream it does not own. Bytes are collected in a buffer and written in
// blocks; every write is checked, and the first failure is kept (later output is dropped).
class ImageWriter {
 public:
  // `capacity`: the buffer's size in words, 64 to kMaxClaim; a larger claim is not allowed.
  explicit ImageWriter(std::FILE* destination, size_t capacity = kMaxClaim);

  void WriteHeader();
  // Writes a stretch of `ticks` ticks: records of 32767 ticks and then one with the remainder,
  // all with the same state bit. A stretch of 0 ticks (or fewer) writes nothing.
  void WriteStretch(bool high, int64_t ticks) {
    if (ticks >= 1 && ticks <= kMaxRecordTicks) {
      PutRecord(high, static_cast<uint32_t>(ticks));
    } else {
      WriteLongStretch(high, ticks);
    }
  }
  // Room for `words` records (at most the capacity) written through the returned cursor, which
  // Commit then takes back: the fast path of the conversion keeps its cursor in a register.
  // Nothing else may be written between the two calls.
  static constexpr size_t kMaxClaim = size_t{1} << 16;
  uint16_t* Claim(size_t words) {
    if (buffer_.size() - used_ < words) Drain();
    return buffer_.data() + used_;
  }
  void Commit(uint16_t* end) { used_ = static_cast<size_t>(end - buffer_.data()); }
  // The word of a record of 1..32767 ticks, as it goes into the claimed room.
  static uint16_t Record(bool high, uint32_t ticks) {
    return InFileOrder(static_cast<uint16_t>((high ? kHighBit : 0u) | ticks));
  }

  // Hands the buffered bytes to the stream and flushes it. Returns false once any write failed.
  bool Flush();

  bool failed() const { return errorNumber_ != 0; }
  // errno of the first failed write, 0 when none failed.
  int errorNumber() const { return errorNumber_; }

 private:
  // One record of 1..32767 ticks. The buffer holds 16-bit words already in the file's byte
  // order.
  void PutRecord(bool high, uint32_t ticks) {
    if (used_ == buffer_.size()) Drain();
    buffer_[used_++] = Record(high, ticks);
  }
  // A big-endian value as the word whose bytes in memory are high byte, then low byte.
  static uint16_t InFileOrder(uint16_t value) {
    if constexpr (std::endian::native == std::endian::little) {
      return static_cast<uint16_t>((value >> 8) | (value << 8));
    } else {
      return value;
    }
  }
  void WriteLongStretch(bool high, int64_t ticks);
  void Drain();

  std::FILE* destination_;
  std::vector<uint16_t> buffer_;  // whole words of the file, in file order
  size_t used_ = 0;               // words
  int errorNumber_ = 0;
};

}  // namespace pulsecut
