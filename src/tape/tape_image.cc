#include "tape/tape_image.h"

#include <algorithm>
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

// Finds the values of `values[0, count)` (16-bit values, or the high bytes of values whose low
// byte is `lowByte`) at which the comparator, starting in `state`, changes its output; stores
// their indexes in `changes` (room for `count`), sets `state` to the state after the last value
// and returns how many there are. `values` must have room for `count` rounded up to a multiple
// of kGroup; the padding is overwritten. Works on groups of 64 values with bit masks, so that
// the cost is a few instructions per group and per change rather than a branch per value.
template <typename Value>
size_t FindChanges(const SchmittTrigger& trigger, Value* values, uint8_t lowByte, size_t count,
                   bool& state, uint32_t* changes) {
  const size_t padded = (count + kGroup - 1) / kGroup * kGroup;
  std::fill(values + count, values + padded, Value{0});
  const bool toggling = trigger.HasTogglingValues();
  uint64_t high = state ? 1 : 0;
  size_t found = 0;
  for (size_t group = 0; group < padded; group += kGroup) {
    ChangeMasks masks;
    if constexpr (sizeof(Value) == 1) {
      masks = trigger.Masks(values + group, lowByte);
    } else {
      masks = trigger.Masks(values + group);
    }
    if (count - group < kGroup) {  // the padding neither rises nor falls
      const uint64_t valid = (uint64_t{1} << (count - group)) - 1;
      masks.rises &= valid;
      masks.falls &= valid;
    }
    if (!toggling) {
      const uint64_t states = GroupStates(masks, high);
      for (uint64_t moves = states ^ ((states << 1) | high); moves != 0; moves &= moves - 1) {
        changes[found++] =
            static_cast<uint32_t>(group + static_cast<size_t>(std::countr_zero(moves)));
      }
      high = states >> 63;
      continue;
    }
    // With toggling values the state decides which mask applies: hop from change to change.
    uint64_t pending = high ? masks.falls : masks.rises;
    while (pending != 0) {
      const int bit = std::countr_zero(pending);
      changes[found++] = static_cast<uint32_t>(group + static_cast<size_t>(bit));
      high ^= 1;
      pending = (high ? masks.falls : masks.rises) & ((~uint64_t{0} << bit) << 1);
    }
  }
  state = high != 0;
  return found;
}

void InvertBytes(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(0xFF - bytes[i]);
}

}  // namespace

PassStatus ConvertToImage(WaveFile& source, std::FILE* destination, const SchmittTrigger& trigger,
                          bool phaseNormal) {
  if (!IsSupported(source.header())) return {PassStatus::kSourceFormat, 0};
  // Buffers no larger than the recording needs: short recordings convert at once.
  const uint64_t values = source.CountLevels();
  const size_t block = values == 0 || values >= kBlock
                           ? kBlock
                           : static_cast<size_t>((values + kGroup - 1) / kGroup * kGroup);
  StretchClock clock(source.header().sampleRate);
  ImageWriter writer(destination, block);
  writer.WriteHeader();
  if (!source.Seek(kDataOffset)) return {PassStatus::kSourceSeek, source.ErrorNumber()};

  // 8-bit mono is taken byte by byte as it is stored: its values are the bytes shifted left,
  // and the comparator can test sixteen of them at a time.
  const bool bytes = source.header().channels == 1 && source.header().bitsPerSample == 8;
  std::vector<uint16_t> levels(bytes ? 0 : block);
  std::vector<uint8_t> highBytes(bytes ? block : 0);
  const uint8_t lowByte = phaseNormal ? 0x00 : 0xFF;
  std::vector<uint32_t> changes(block);
  bool state = trigger.state();
  uint64_t base = 0;   // index of levels[0], counted from the recording's first sample
  uint64_t start = 0;  // index of the first value of the stretch in progress
  while (!source.AtEnd()) {
    const size_t count = bytes ? source.ReadMono8Levels(highBytes.data(), block)
                               : source.ReadLevels(levels.data(), block);
    if (source.HasError()) return {PassStatus::kSourceRead, source.ErrorNumber()};
    if (count == 0) break;
    if (!phaseNormal) {
      // 0xFFFF - (b << 8) is ((0xFF - b) << 8) | 0xFF.
      bytes ? InvertBytes(highBytes.data(), count) : InvertPhase(levels.data(), count);
    }

    // Each change ends the stretch before it, the changing value included; the states of the
    // stretches alternate. A short stretch is one record, written through a local cursor.
    bool stretchState = state;
    const size_t found =
        bytes ? FindChanges(trigger, highBytes.data(), lowByte, count, state, changes.data())
              : FindChanges(trigger, levels.data(), lowByte, count, state, changes.data());
    const std::span<const int64_t> shortTicks = clock.ShortTicks();
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
    if (writer.failed()) return {PassStatus::kDestinationWrite, writer.errorNumber()};
    base += count;
  }
  if (!writer.Flush()) return {PassStatus::kDestinationWrite, writer.errorNumber()};
  return {};
}

}  // namespace pulsecut
