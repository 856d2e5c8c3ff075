#include "tape/tape_image.h"

#include <algorithm>
#include <bit>
#include <span>
#include <vector>

#include "tape/pipeline.h"

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
// returns the number of groups. `values` must have room for `count` rounded up to a multiple of
// kGroup; the padding is overwritten and never changes the output. The cost is a few
// instructions per group rather than a branch per value.
template <typename Value>
size_t FindMoves(const SchmittTrigger& trigger, Value* values, uint8_t lowByte, size_t count,
                 bool& state, uint64_t* moves) {
  const size_t groups = (count + kGroup - 1) / kGroup;
  std::fill(values + count, values + groups * kGroup, Value{0});
  const bool toggling = trigger.HasTogglingValues();
  uint64_t high = state ? 1 : 0;
  for (size_t g = 0; g < groups; ++g) {
    ChangeMasks masks;
    if constexpr (sizeof(Value) == 1) {
      masks = trigger.Masks(values + g * kGroup, lowByte);
    } else {
      masks = trigger.Masks(values + g * kGroup);
    }
    if (count - g * kGroup < kGroup) {  // the padding neither rises nor falls
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

void InvertBytes(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(0xFF - bytes[i]);
}

// One block of the recording on its way from the reading stage to the writing stage.
struct Block {
  std::vector<uint16_t> levels;    // the values, for every format but 8-bit mono
  std::vector<uint8_t> highBytes;  // the values' high bytes, for 8-bit mono
  std::vector<uint64_t> moves;     // where the values change the output, a mask per group
  size_t count = 0;                // values read
  size_t groups = 0;               // groups of moves
  bool startState = false;         // the output before the block
  PassStatus status;               // a failed read ends the pass with this block
};

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
  const uint8_t lowByte = phaseNormal ? 0x00 : 0xFF;
  // Two stages share the work about evenly: reading and comparing on a second thread, listing
  // the changes and writing the records on this one. A few blocks in flight keep both busy.
  // Each stage takes the blocks in file order, so the image and the first failure reported
  // are those of a plain loop over the blocks. A recording of one block needs no thread.
  constexpr size_t kBlocksInFlight = 3;
  std::vector<Block> ring(values != 0 && values <= block ? 1 : kBlocksInFlight);
  for (Block& b : ring) {
    bytes ? b.highBytes.resize(block) : b.levels.resize(block);
    b.moves.resize(block / kGroup);
  }

  bool state = trigger.state();  // the reading stage's comparator output
  auto read = [&](Block& b) {
    b.groups = 0;
    b.status = {};
    b.count = source.AtEnd() ? 0
              : bytes        ? source.ReadMono8Levels(b.highBytes.data(), block)
                             : source.ReadLevels(b.levels.data(), block);
    if (source.HasError()) {
      b.status = {PassStatus::kSourceRead, source.ErrorNumber()};
      return false;
    }
    if (b.count == 0) return false;
    if (!phaseNormal) {
      // 0xFFFF - (b << 8) is ((0xFF - b) << 8) | 0xFF.
      bytes ? InvertBytes(b.highBytes.data(), b.count) : InvertPhase(b.levels.data(), b.count);
    }
    b.startState = state;
    b.groups = bytes
                   ? FindMoves(trigger, b.highBytes.data(), lowByte, b.count, state, b.moves.data())
                   : FindMoves(trigger, b.levels.data(), lowByte, b.count, state, b.moves.data());
    return !source.AtEnd();
  };

  std::vector<uint32_t> changes(block);
  PassStatus status;
  uint64_t base = 0;   // index of the block's first value, counted from the recording's start
  uint64_t start = 0;  // index of the first value of the stretch in progress
  auto write = [&](Block& b) {
    if (!b.status.ok()) {
      status = b.status;
      return false;
    }
    // Each change ends the stretch before it, the changing value included; the states of the
    // stretches alternate. A short stretch is one record, written through a local cursor.
    bool stretchState = b.startState;
    const size_t found = ListChanges(b.moves.data(), b.groups, changes.data());
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
    if (writer.failed()) {
      status = {PassStatus::kDestinationWrite, writer.errorNumber()};
      return false;
    }
    base += b.count;
    return true;
  };

  RunPipeline(std::span<Block>(ring), read, write);
  if (!status.ok()) return status;
  if (!writer.Flush()) return {PassStatus::kDestinationWrite, writer.errorNumber()};
  return {};
}

}  // namespace pulsecut
