#include "tape/tape_image.h"

#include <bit>
#include <span>
#include <vector>

namespace pulsecut {
namespace {

constexpr size_t kGroup = SchmittTrigger::kGroup;
// Values per read, a multiple of kGroup; no more than the writer's claim, as a block has at
// most one change per value.
constexpr size_t kBlock = size_t{1} << 16;
static_assert(kBlock <= ImageWriter::kMaxClaim);

// Runs the comparator, starting in `state`, over `values[0, count)` (16-bit values, or the high
// bytes of values whose low byte is `lowByte`): stores where it changes its output as one mask
// per group of kGroup values in `moves`, sets `state` to the state after the last value and
// returns the number of groups. `values` must be readable up to `count` rounded up to a
// multiple of kGroup; what lies beyond `count` is masked off. The cost is a few instructions per
// group rather than a branch per value.
template <typename Value>
size_t FindMoves(const SchmittTrigger& trigger, const Value* values, uint8_t lowByte, size_t count,
                 bool& state, uint64_t* moves) {
  const size_t groups = (count + kGroup - 1) / kGroup;
  const bool toggling = trigger.HasTogglingValues();
  uint64_t high = state ? 1 : 0;
  for (size_t g = 0; g < groups; ++g) {
    ChangeMasks masks;
    if constexpr (sizeof(Value) == 1) {
      masks = trigger.Masks(values + g * kGroup, lowByte);
    } else {
      masks = trigger.Masks(values + g * kGroup);
    }
    if (count - g * kGroup < kGroup) {  // the values beyond `count` neither rise nor fall
      const uint64_t valid = (uint64_t{1} << (count - g * kGroup)) - 1;
      masks.rises &= valid;
      masks.falls &= valid;
    }
    moves[g] = GroupMoves(masks, toggling, high);
  }
  state = high != 0;
  return groups;
}

// Writes the stretches that the changes in masks of kGroup values end, each change ending the
// stretch before it with the changing value included. The stretches alternate from low.
class StretchWriter {
 public:
  // `capacity`: the writer's, in words (a multiple of kGroup).
  StretchWriter(ImageWriter& writer, const StretchClock& clock, size_t capacity)
      : writer_(writer), clock_(clock), maxGroups_(capacity / kGroup) {
    // The record of each short stretch as it goes into the file, its state bit clear; 0 where
    // the stretch is no single record (0 ticks, or more than a record holds at very low rates).
    const std::span<const int64_t> ticks = clock.ShortTicks();
    shortRecords_.resize(ticks.size());
    for (size_t g = 0; g < ticks.size(); ++g) {
      if (ticks[g] >= 1 && ticks[g] <= kMaxRecordTicks) {
        shortRecords_[g] = ImageWriter::Record(false, static_cast<uint32_t>(ticks[g]));
      }
    }
  }

  // moves[0, groups): the masks of the groups from value `base` (a multiple of kGroup) on.
  // Returns false once a write failed.
  bool Write(const uint64_t* moves, size_t groups, uint64_t base) {
    for (; groups > maxGroups_; groups -= maxGroups_) {
      WriteGroups(moves, maxGroups_, base);
      moves += maxGroups_;
      base += maxGroups_ * kGroup;
    }
    WriteGroups(moves, groups, base);
    return !writer_.failed();
  }

 private:
  // No more groups than the writer has room for a record per value.
  void WriteGroups(const uint64_t* moves, size_t groups, uint64_t base) {
    // A short stretch is one record from the table, its state bit added, written through a local
    // cursor that has room for a record per value of the groups left (a count of the changes
    // would cost more than it saves). The loop keeps its state in locals.
    const uint16_t highBit = ImageWriter::Record(true, 0);
    const uint16_t* records = shortRecords_.data();
    const uint64_t shortLengths = shortRecords_.size();
    uint64_t start = start_;
    uint16_t state = high_ ? highBit : uint16_t{0};
    uint16_t* out = writer_.Claim(groups * kGroup);
    for (size_t g = 0; g < groups; ++g) {
      for (uint64_t m = moves[g]; m != 0; m &= m - 1) {
        const uint64_t end = base + g * kGroup + static_cast<uint64_t>(std::countr_zero(m));
        const uint64_t length = end + 1 - start;
        const uint16_t record = length < shortLengths ? records[length] : uint16_t{0};
        if (record != 0) {
          *out++ = static_cast<uint16_t>(record | state);
        } else {
          writer_.Commit(out);
          writer_.WriteStretch(state != 0, clock_.Ticks(length));
          out = writer_.Claim((groups - g) * kGroup);
        }
        start = end + 1;
        state ^= highBit;
      }
    }
    writer_.Commit(out);
    start_ = start;
    high_ = state != 0;
  }

  ImageWriter& writer_;
  const StretchClock& clock_;
  size_t maxGroups_;
  std::vector<uint16_t> shortRecords_;  // by length in values, in file order, state bit clear
  uint64_t start_ = 0;                  // index of the first value of the stretch in progress
  bool high_ = false;                   // the state of the stretch in progress
};

Status WriteError(const ImageWriter& writer) {
  return Status::SystemError(Status::Code::kDestinationWrite, writer.errorNumber());
}
Status ReadError(const WaveFile& source) {
  return Status::SystemError(Status::Code::kSourceRead, source.ErrorNumber());
}

// Reading a block and inverting its phase, for each value type.
size_t ReadBlock(WaveFile& source, uint16_t* values, size_t capacity) {
  return source.ReadValues(values, capacity);
}
size_t ReadBlock(WaveFile& source, uint8_t* highBytes, size_t capacity) {
  return source.ReadByteValues(highBytes, capacity);
}
void Invert(uint16_t* values, size_t count) { InvertPhase(values, count); }
// 0xFFFF - (b << 8) is ((0xFF - b) << 8) | 0xFF: the byte inverted, the low byte 0xFF.
void Invert(uint8_t* highBytes, size_t count) {
  for (size_t i = 0; i < count; ++i) highBytes[i] = static_cast<uint8_t>(0xFF - highBytes[i]);
}

// The conversion over values of type `Value`: uint16_t for the values themselves, uint8_t for
// the high bytes of recordings whose values are bytes shifted left by 8 (8-bit mono), which the
// comparator tests sixteen at a time.
template <typename Value>
Status Convert(WaveFile& source, ImageWriter& writer, const StretchClock& clock,
               const SchmittTrigger& trigger, bool phaseNormal, size_t block) {
  const uint8_t lowByte = phaseNormal ? 0x00 : 0xFF;
  std::vector<Value> values(block);
  std::vector<uint64_t> moves(block / kGroup);
  StretchWriter stretches(writer, clock, block);
  bool state = trigger.state();  // the comparator's output after the values read so far
  uint64_t base = 0;  // index of the block's first value, counted from the recording's start
  for (;;) {
    const size_t count = ReadBlock(source, values.data(), block);
    if (source.HasError()) return ReadError(source);
    if (count == 0) break;
    if (!phaseNormal) Invert(values.data(), count);
    const size_t groups = FindMoves(trigger, values.data(), lowByte, count, state, moves.data());
    if (!stretches.Write(moves.data(), groups, base)) return WriteError(writer);
    base += count;
  }
  if (!writer.Flush()) return WriteError(writer);
  return {};
}

}  // namespace

Status ConvertToImage(WaveFile& source, std::FILE* destination, const SchmittTrigger& trigger,
                      bool phaseNormal) {
  if (!source.readable()) return Status::SourceFormat("the passes cannot read this format");
  // Buffers no larger than the recording needs: short recordings convert at once.
  const uint64_t values = source.CountValues();
  const size_t block = values == 0 || values >= kBlock
                           ? kBlock
                           : static_cast<size_t>((values + kGroup - 1) / kGroup * kGroup);
  StretchClock clock(source.header().sampleRate);
  ImageWriter writer(destination, block);
  writer.WriteHeader();
  if (!source.SeekFrame(0)) {
    return Status::SystemError(Status::Code::kSourceSeek, source.ErrorNumber());
  }
  return source.HasByteValues()
             ? Convert<uint8_t>(source, writer, clock, trigger, phaseNormal, block)
             : Convert<uint16_t>(source, writer, clock, trigger, phaseNormal, block);
}

namespace {

// The stretch in progress starts after the last change in `moves`, the masks of the groups from
// value `position.next` on.
void NoteLastChange(const uint64_t* moves, size_t groups, ComparatorPosition& position) {
  for (size_t g = groups; g-- > 0;) {
    if (moves[g] != 0) {
      position.stretchStart =
          position.next + g * kGroup + static_cast<uint64_t>(63 - std::countl_zero(moves[g])) + 1;
      return;
    }
  }
}

}  // namespace

Status AdvanceComparator(WaveFile& source, const SchmittTrigger& trigger, bool phaseNormal,
                         uint64_t count, ComparatorPosition& position) {
  std::vector<uint16_t> values(kBlock);
  std::vector<uint64_t> moves(kBlock / kGroup);
  while (count > 0) {
    const size_t n = source.ReadValues(values.data(), count < kBlock ? count : kBlock);
    if (source.HasError()) return ReadError(source);
    if (n == 0) break;
    if (!phaseNormal) InvertPhase(values.data(), n);
    const size_t groups = FindMoves(trigger, values.data(), 0, n, position.high, moves.data());
    NoteLastChange(moves.data(), groups, position);
    position.next += n;
    count -= n;
  }
  return {};
}

Status AdvanceComparator(WaveFile& source, AdaptiveComparator& comparator, bool phaseNormal,
                         uint64_t count, ComparatorPosition& position) {
  std::vector<uint16_t> values(kBlock);
  std::vector<uint64_t> moves;
  while (count > 0) {
    const size_t n = source.ReadValues(values.data(), count < kBlock ? count : kBlock);
    if (source.HasError()) return ReadError(source);
    if (n == 0) break;
    if (!phaseNormal) InvertPhase(values.data(), n);
    moves.clear();
    comparator.Feed(values.data(), n, moves);
    // Each change toggles the output.
    for (const uint64_t m : moves) position.high ^= std::popcount(m) % 2 != 0;
    NoteLastChange(moves.data(), moves.size(), position);
    position.next += n;
    count -= n;
  }
  return {};
}

Status ConvertToImageAdaptive(WaveFile& source, std::FILE* destination, const AdaptiveStart& start,
                              bool phaseNormal) {
  if (!source.readable()) return Status::SourceFormat("the passes cannot read this format");
  StretchClock clock(source.header().sampleRate);
  ImageWriter writer(destination);
  writer.WriteHeader();
  if (!source.SeekFrame(0)) {
    return Status::SystemError(Status::Code::kSourceSeek, source.ErrorNumber());
  }
  AdaptiveComparator comparator(start, source.header().sampleRate);
  StretchWriter stretches(writer, clock, ImageWriter::kMaxClaim);
  std::vector<uint16_t> values(kBlock);
  std::vector<uint64_t> moves;
  uint64_t base = 0;  // index of the first value of the first group in `moves`
  for (;;) {
    const size_t count = source.ReadValues(values.data(), kBlock);
    if (source.HasError()) return ReadError(source);
    if (count == 0) break;
    if (!phaseNormal) InvertPhase(values.data(), count);
    moves.clear();
    comparator.Feed(values.data(), count, moves);
    if (!stretches.Write(moves.data(), moves.size(), base)) return WriteError(writer);
    base += moves.size() * kGroup;
  }
  moves.clear();
  comparator.Finish(moves);
  if (!stretches.Write(moves.data(), moves.size(), base) || !writer.Flush()) {
    return WriteError(writer);
  }
  return {};
}

}  // namespace pulsecut
