#include "analysis/level_analyzer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "wav/wave_file.h"

namespace pulsecut {
namespace {

constexpr size_t kWindow = 10;
constexpr size_t kLookback = kWindow - 1;
constexpr size_t kBlock = size_t{1} << 16;
constexpr size_t kGroup = 64;
constexpr int32_t kCentre = 0x8000;
// A window moves the high level only with a mean above kHighMeans, the low level only with a
// mean below kLowMeans.
constexpr int32_t kHighMeans = kCentre + static_cast<int32_t>(kMinDeviation);
constexpr int32_t kLowMeans = kCentre - static_cast<int32_t>(kMinDeviation);

// What a stretch of windows does to the levels, as the range of levels it can end with. Each
// update (level + mean) >> 1 is monotone in the level, so applying it to the lowest and the
// highest level the stretch can start with bounds every outcome; once both ends meet, the
// level no longer depends on anything before the stretch. (They need not meet: a long run of
// one mean m keeps the range m - 1 .. m apart, as both ends are fixed points of the update.)
struct LevelRange {
  uint32_t highMin, highMax, lowMin, lowMax;

  // The exact start of a whole-file scan.
  static LevelRange Start() { return {0x8000, 0x8000, 0x8000, 0x8000}; }
  // Any level a scan can hold at some point: the high level stays within 0x8000..0xFFFF and the
  // low level within 0..0x8000, because every mean that moves them lies on their side.
  static LevelRange Unknown() { return {0x8000, 0xFFFF, 0, 0x8000}; }

  // The levels a scan can hold after reading values within smallest..largest (and the 0x8000
  // padding): each update moves a level half way to a mean, rounding down, and a mean lies
  // within its window's values, so the high level stays below the largest value (or at
  // 0x8000) and the low level at or above the smallest (or at 0x8000).
  static LevelRange Within(uint16_t smallest, uint16_t largest) {
    const uint32_t top = largest > 0x8000 ? largest - 1u : 0x8000u;
    const uint32_t bottom = smallest < 0x8000 ? smallest : 0x8000u;
    return {0x8000, top, bottom, 0x8000};
  }

  bool HighSettled() const { return highMin == highMax; }
  bool LowSettled() const { return lowMin == lowMax; }

  void Accept(int32_t mean) {
    const uint32_t m = static_cast<uint32_t>(mean);
    if (mean > kCentre) {
      highMin = (highMin + m) >> 1;
      highMax = (highMax + m) >> 1;
    } else {
      lowMin = (lowMin + m) >> 1;
      lowMax = (lowMax + m) >> 1;
    }
  }
};

// Which levels a scan follows; a level known already need not be followed.
struct Tracked {
  bool high;
  bool low;
};

// The incremental mean alone, as ComputeWindow forms it; cheap enough to reject most windows
// before the squares are computed.
int32_t WindowMean(const uint16_t* newest) {
  int32_t mean = 0;
#pragma GCC unroll 10
  for (int32_t k = 1; k <= 10; ++k) mean += (int32_t{newest[1 - k]} - mean) / k;
  return mean;
}

// Judges the windows that end at values[0, count): values[-9, 0) are their history.
void JudgeWindows(const uint16_t* values, size_t count, Tracked tracked, LevelRange& range) {
  for (size_t group = 0; group < count; group += kGroup) {
    const size_t end = std::min(count, group + kGroup);
    // Each step of the incremental mean stays between the mean before and the new value, so a
    // window's mean lies between its smallest and its largest value. Groups of windows that
    // cannot reach either side are skipped whole (silence, or a side already known).
    const auto [smallest, largest] = std::minmax_element(values + group - kLookback, values + end);
    const bool high = tracked.high && *largest > kHighMeans;
    const bool low = tracked.low && *smallest < kLowMeans;
    if (!high && !low) continue;
    // `same`: how many of the values before value i equal their predecessor, in a row (up
    // to 9). A window of ten equal values has that value as its mean and no spread, so the
    // long plateaus of a clipped or quiet recording cost one comparison per window.
    size_t same = 0;
    const uint16_t* first = values + group;
    for (ptrdiff_t back = 1; back <= 8 && first[-back] == first[-back - 1]; ++back) ++same;
    for (size_t i = group; i < end; ++i) {
      const uint16_t* at = values + i;  // at[-1] is in the history when i is 0
      same = at[0] == at[-1] ? std::min<size_t>(same + 1, 9) : 0;
      int32_t mean = values[i];
      if (same < 9) {
        mean = WindowMean(values + i);
        if (!(high && mean > kHighMeans) && !(low && mean < kLowMeans)) continue;
        if (!IsSteady(ComputeWindow(values + i).squares)) continue;
      } else if (!(high && mean > kHighMeans) && !(low && mean < kLowMeans)) {
        continue;
      }
      range.Accept(mean);
    }
  }
}

// The smallest and largest of the next `count` values of `file` (after the phase).
PassStatus ValueBounds(WaveFile& file, bool phaseNormal, uint64_t count, uint16_t& smallest,
                       uint16_t& largest) {
  std::vector<uint16_t> block(kBlock);
  smallest = 0xFFFF;
  largest = 0;
  while (count > 0 && !file.AtEnd()) {
    const size_t n = file.ReadLevels(block.data(), count < kBlock ? count : kBlock);
    if (file.HasError()) return {PassStatus::kSourceRead, file.ErrorNumber()};
    if (n == 0) break;
    if (!phaseNormal) InvertPhase(block.data(), n);
    const auto [low, high] = std::minmax_element(block.data(), block.data() + n);
    smallest = std::min(smallest, *low);
    largest = std::max(largest, *high);
    count -= n;
  }
  return {};
}

// Feeds every window of the values from the current position of `file` to the end into
// `range`. With `padded`, the first nine windows are filled up with 0x8000 as at the start of
// the recording; otherwise the first nine values only fill the window and are not judged.
PassStatus ScanWindows(WaveFile& file, bool phaseNormal, bool padded, Tracked tracked,
                       LevelRange& range) {
  const uint64_t total = file.CountLevels();
  const size_t block = total == 0 || total >= kBlock ? kBlock : static_cast<size_t>(total);
  std::vector<uint16_t> buffer(kLookback + block, 0x8000);
  size_t unjudged = padded ? 0 : kLookback;
  while (!file.AtEnd()) {
    const size_t count = file.ReadLevels(buffer.data() + kLookback, block);
    if (file.HasError()) return {PassStatus::kSourceRead, file.ErrorNumber()};
    if (count == 0) break;
    uint16_t* values = buffer.data() + kLookback;
    if (!phaseNormal) InvertPhase(values, count);
    const size_t skipped = std::min(unjudged, count);
    unjudged -= skipped;
    JudgeWindows(values + skipped, count - skipped, tracked, range);
    // The last nine values become the history of the next block's first windows.
    std::memmove(buffer.data(), buffer.data() + count, kLookback * sizeof(uint16_t));
  }
  return {};
}

}  // namespace

WindowStats ComputeWindow(const uint16_t* newest) {
  int32_t mean = 0;
  uint32_t squares = 0;
#pragma GCC unroll 10
  for (int32_t k = 1; k <= 10; ++k) {
    const int32_t d = int32_t{newest[1 - k]} - mean;
    mean += d / k;
    const uint32_t product =
        static_cast<uint32_t>(d) * static_cast<uint32_t>(d) * static_cast<uint32_t>(k - 1);
    squares += static_cast<uint32_t>(static_cast<int32_t>(product) / k);
  }
  return {mean, static_cast<int32_t>(squares)};
}

PassStatus LevelAnalyzer::Analyze(const char* fileName, uint32_t* minDeviation, uint32_t* highLevel,
                                  uint32_t* lowLevel, bool phaseNormal) {
  WaveFile file;
  if (!file.Open(fileName, ModeRead | ModeBinary)) {
    return {PassStatus::kSourceOpen, file.ErrorNumber()};
  }
  const WaveHeader& header = file.header();
  if (!IsSupported(header)) return {PassStatus::kSourceFormat, 0};

  // Every accepted window halves the weight of the level before it, so the levels at the end
  // usually depend on the last few dozen steady windows alone. Scan ever longer tails of the
  // recording until the levels no longer depend on where the tail starts. A level that no tail
  // settles comes from a scan of the whole recording, which need not follow the other one.
  const uint64_t values = file.CountLevels();
  const uint64_t frameSize = FrameSize(header);
  // A level settled by one tail is settled by every longer one: later scans skip it.
  LevelRange result = LevelRange::Unknown();
  Tracked tracked{true, true};
  LevelRange tail = LevelRange::Unknown();
  // Scans the tail from value `first` on, starting from `start`, and keeps what it settles.
  auto scanTail = [&](uint64_t first, LevelRange start) {
    if (!file.Seek(kDataOffset + static_cast<int64_t>(first * frameSize))) {
      return PassStatus{PassStatus::kSourceSeek, file.ErrorNumber()};
    }
    tail = start;
    const PassStatus status = ScanWindows(file, phaseNormal, /*padded=*/false, tracked, tail);
    if (!status.ok()) return status;
    if (tracked.high && tail.HighSettled()) {
      result.highMin = result.highMax = tail.highMin;
      tracked.high = false;
    }
    if (tracked.low && tail.LowSettled()) {
      result.lowMin = result.lowMax = tail.lowMin;
      tracked.low = false;
    }
    return status;
  };
  bool bounded = false;  // whether the values before a tail have been used yet
  for (uint64_t size = uint64_t{1} << 16; size + kLookback < values; size *= 8) {
    const uint64_t first = values - size - kLookback;
    if (const PassStatus status = scanTail(first, LevelRange::Unknown()); !status.ok()) {
      return status;
    }
    if (!tracked.high && !tracked.low) break;
    // A long run of one mean (a clipped plateau, say) leaves a range one value wide, which no
    // longer tail narrows. The values before the tail bound the levels it can start from; that
    // settles such a run, for the price of reading them once.
    const bool narrow = (tracked.high && tail.highMax - tail.highMin <= 1) ||
                        (tracked.low && tail.lowMax - tail.lowMin <= 1);
    if (narrow && !bounded) {
      bounded = true;
      uint16_t smallest = 0;
      uint16_t largest = 0;
      if (!file.Seek(kDataOffset)) return {PassStatus::kSourceSeek, file.ErrorNumber()};
      PassStatus status = ValueBounds(file, phaseNormal, first + kLookback, smallest, largest);
      if (!status.ok()) return status;
      status = scanTail(first, LevelRange::Within(smallest, largest));
      if (!status.ok()) return status;
      if (!tracked.high && !tracked.low) break;
    }
  }
  if (tracked.high || tracked.low) {
    if (!file.Seek(kDataOffset)) return {PassStatus::kSourceSeek, file.ErrorNumber()};
    LevelRange whole = LevelRange::Start();
    const PassStatus status = ScanWindows(file, phaseNormal, /*padded=*/true, tracked, whole);
    if (!status.ok()) return status;
    if (tracked.high) result.highMin = whole.highMin;
    if (tracked.low) result.lowMin = whole.lowMin;
  }
  file.Close();
  *minDeviation = kMinDeviation;
  *highLevel = result.highMin;
  *lowLevel = result.lowMin;
  return {};
}

}  // namespace pulsecut
