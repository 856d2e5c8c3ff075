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

// The output states of a group from its change masks, for thresholds without toggling values:
// a rising value sets the output, a falling one clears it, any other keeps the state before it
// (`before` for the first). Adding the set bits to the set-or-keep bits sends a carry from each
// set bit through the keep bits after it and stops it at the next clear bit, so the carry into
// each bit is the state before that value.
uint64_t GroupStates(const ChangeMasks& masks, uint64_t before) {
  const uint64_t sets = masks.rises;
  const uint64_t keeps = ~(masks.rises | masks.falls);
  const uint64_t setsOrKeeps = sets | keeps;
  const uint64_t carries = (sets + setsOrKeeps + before) ^ sets ^ setsOrKeeps;
  return sets | (keeps & carries);
}

// The values of a group at which the comparator, starting in `high` (0 or 1), changes its
// output, as a bit mask; sets `high` to the state after the group. Thresholds without toggling
// values take the carry trick of GroupStates; with toggling values the state decides which mask
// applies at each value, so the walk hops from change to change.
uint64_t GroupMoves(const ChangeMasks& masks, bool toggling, uint64_t& high) {
  if (!toggling) {
    const uint64_t states = GroupStates(masks, high);
    const uint64_t moves = states ^ ((states << 1) | high);
    high = states >> 63;
    return moves;
  }
  uint64_t moves = 0;
  uint64_t pending = high ? masks.falls : masks.rises;
  while (pending != 0) {
    const int bit = std::countr_zero(pending);
    moves |= uint64_t{1} << bit;
    high ^= 1;
    pending = (high ? masks.falls : masks.rises) & ((~uint64_t{0} << bit) << 1);
  }
  return moves;
}

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

// Stores the index of every set bit of `moves[0, groups)`, bit i of group g being value
// g * kGroup + i, in `changes` and returns how many there are.
size_t ListChanges(const uint64_t* moves, size_t groups, uint32_t* changes) {
  size_t found = 0;
  for (size_t g = 0; g < groups; ++g) {
    for (uint64_t m = moves[g]; m != 0; m &= m - 1) {
      changes[found++] =
          static_cast<uint32_t>(g * kGroup + static_cast<size_t>(std::countr_zero(m)));
    }
  }
  return found;
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
  std::vector<uint32_t> changes(block);
  const std::span<const int64_t> shortTicks = clock.ShortTicks();
  bool state = trigger.state();  // the comparator's output after the values read so far
  uint64_t base = 0;   // index of the block's first value, counted from the recording's start
  uint64_t start = 0;  // index of the first value of the stretch in progress
  for (;;) {
    const size_t count = ReadBlock(source, values.data(), block);
    if (source.HasError()) {
      return Status::SystemError(Status::Code::kSourceRead, source.ErrorNumber());
    }
    if (count == 0) break;
    if (!phaseNormal) Invert(values.data(), count);
    bool stretchState = state;
    const size_t groups = FindMoves(trigger, values.data(), lowByte, count, state, moves.data());

    // Each change ends the stretch before it, the changing value included; the states of the
    // stretches alternate. A short stretch is one record, written through a local cursor.
    const size_t found = ListChanges(moves.data(), groups, changes.data());
    uint16_t* out = writer.Claim(found);
    for (size_t i = 0; i < found; ++i) {
      const uint64_t end = base + changes[i];
      const uint64_t length = end + 1 - start;
      const int64_t ticks = length < shortTicks.size() ? shortTicks[length] : -1;
      if (ticks >= 1 && ticks <= kMaxRecordTicks) {
        *out++ = ImageWriter::Record(stretchState, static_cast<uint32_t>(ticks));
      } else {
        writer.Commit(out);
        writer.WriteStretch(stretchState, clock.Ticks(length));
        out = writer.Claim(found - i);
      }
      start = end + 1;
      stretchState = !stretchState;
    }
    writer.Commit(out);
    if (writer.failed()) {
      return Status::SystemError(Status::Code::kDestinationWrite, writer.errorNumber());
    }
    base += count;
  }
  if (!writer.Flush()) {
    return Status::SystemError(Status::Code::kDestinationWrite, writer.errorNumber());
  }
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
  std::vector<uint16_t> values(kBlock);
  std::vector<uint64_t> changes;
  bool stretchState = false;
  uint64_t first = 0;  // index of the first value of the stretch in progress
  // Each change ends the stretch before it, the changing value included.
  auto write = [&] {
    for (const uint64_t end : changes) {
      writer.WriteStretch(stretchState, clock.Ticks(end + 1 - first));
      first = end + 1;
      stretchState = !stretchState;
    }
    changes.clear();
    return !writer.failed();
  };
  for (;;) {
    const size_t count = source.ReadValues(values.data(), kBlock);
    if (source.HasError()) {
      return Status::SystemError(Status::Code::kSourceRead, source.ErrorNumber());
    }
    if (count == 0) break;
    if (!phaseNormal) InvertPhase(values.data(), count);
    comparator.Feed(values.data(), count, changes);
    if (!write()) break;
  }
  comparator.Finish(changes);
  write();
  if (!writer.Flush()) {
    return Status::SystemError(Status::Code::kDestinationWrite, writer.errorNumber());
  }
  return {};
}

}  // namespace pulsecut
