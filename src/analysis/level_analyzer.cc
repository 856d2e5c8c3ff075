#include "analysis/level_analyzer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "analysis/level_map.h"
#include "wav/wave_file.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Which levels a scan follows; a level known already need not be followed.
struct Tracked {
  bool high;
  bool low;
};

// Both levels' maps over one stretch of windows.
struct LevelMaps {
  LevelMap high;
  LevelMap low;

  // The exact start of a scan from the recording's first value.
  static LevelMaps Start() { return {{0x8000, 0x8000}, {0x8000, 0x8000}}; }
  // Every level a scan can hold at some point: the high level stays within 0x8000..0xFFFF and
  // the low level within 0..0x8000, because every mean that moves them lies on their side.
  static LevelMaps Unknown() { return {{0x8000, 0xFFFF}, {0, 0x8000}}; }

  void Accept(int32_t mean) {
    const uint32_t m = static_cast<uint32_t>(mean);
    mean > kCentre ? high.Accept(m) : low.Accept(m);
  }

  // Puts the stretch of `earlier` in front, for the levels still followed.
  void After(const LevelMaps& earlier, Tracked tracked) {
    if (tracked.high) high.After(earlier.high);
    if (tracked.low) low.After(earlier.low);
  }
};

// The smallest and the largest of values[0, count), count at least 1.
struct ValueRange {
  uint16_t smallest;
  uint16_t largest;
};
ValueRange RangeOf(const uint16_t* values, size_t count) {
  size_t i = 0;
  uint16_t smallest = 0xFFFF;
  uint16_t largest = 0;
#if defined(__SSE2__)
  // SSE2 has signed 16-bit minimum and maximum only; flipping the top bit maps the unsigned
  // order onto the signed one.
  if (count >= 8) {
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    __m128i low = _mm_set1_epi16(0x7FFF);
    __m128i high = _mm_set1_epi16(static_cast<short>(0x8000));
    for (; i + 8 <= count; i += 8) {
      const __m128i v =
          _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i)), flip);
      low = _mm_min_epi16(low, v);
      high = _mm_max_epi16(high, v);
    }
    alignas(16) uint16_t lows[8];
    alignas(16) uint16_t highs[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lows), _mm_xor_si128(low, flip));
    _mm_store_si128(reinterpret_cast<__m128i*>(highs), _mm_xor_si128(high, flip));
    for (size_t k = 0; k < 8; ++k) {
      smallest = std::min(smallest, lows[k]);
      largest = std::max(largest, highs[k]);
    }
  }
#endif
  for (; i < count; ++i) {
    smallest = std::min(smallest, values[i]);
    largest = std::max(largest, values[i]);
  }
  return {smallest, largest};
}

// The incremental mean alone, as ComputeWindow forms it; cheap enough to reject most windows
// before the squares are computed.
int32_t WindowMean(const uint16_t* newest) {
  int32_t mean = 0;
#pragma GCC unroll 10
  for (int32_t k = 1; k <= 10; ++k) mean += (int32_t{newest[1 - k]} - mean) / k;
  return mean;
}

// Judges the windows that end at values[0, count): values[-9, 0) are their history.
void JudgeWindows(const uint16_t* values, size_t count, Tracked tracked, LevelMaps& maps) {
  for (size_t group = 0; group < count; group += kGroup) {
    const size_t end = std::min(count, group + kGroup);
    // Each step of the incremental mean stays between the mean before and the new value, so a
    // window's mean lies between its smallest and its largest value. Groups of windows that
    // cannot reach either side are skipped whole (silence, or a side already known).
    const ValueRange range = RangeOf(values + group - kLookback, end - group + kLookback);
    const bool high = tracked.high && range.largest > kHighMeans;
    const bool low = tracked.low && range.smallest < kLowMeans;
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
      maps.Accept(mean);
    }
  }
}

Status ReadError(const WaveFile& file) {
  return Status::SystemError(Status::Code::kSourceRead, file.ErrorNumber());
}
Status SeekError(const WaveFile& file) {
  return Status::SystemError(Status::Code::kSourceSeek, file.ErrorNumber());
}

// The smallest and largest of the next `count` values of `file` (after the phase).
Status ValueBounds(WaveFile& file, bool phaseNormal, uint64_t count, uint16_t& smallest,
                   uint16_t& largest) {
  std::vector<uint16_t> block(kBlock);
  smallest = 0xFFFF;
  largest = 0;
  while (count > 0) {
    const size_t n = file.ReadValues(block.data(), count < kBlock ? count : kBlock);
    if (file.HasError()) return ReadError(file);
    if (n == 0) break;
    if (!phaseNormal) InvertPhase(block.data(), n);
    const ValueRange range = RangeOf(block.data(), n);
    smallest = std::min(smallest, range.smallest);
    largest = std::max(largest, range.largest);
    count -= n;
  }
  return {};
}

// Feeds the windows of the next `count` values of `file` (all to the end when the length is
// unknown) into `maps`. With `padded`, the first nine windows are filled up with 0x8000 as at
// the start of the recording; otherwise the first nine values only fill the window and are not
// judged.
Status ScanWindows(WaveFile& file, bool phaseNormal, bool padded, uint64_t count, Tracked tracked,
                   LevelMaps& maps) {
  const size_t block = count >= kBlock ? kBlock : static_cast<size_t>(count);
  std::vector<uint16_t> buffer(kLookback + block, 0x8000);
  size_t unjudged = padded ? 0 : kLookback;
  while (count > 0) {
    const size_t n = file.ReadValues(buffer.data() + kLookback, count < block ? count : block);
    if (file.HasError()) return ReadError(file);
    if (n == 0) break;
    count -= n;
    uint16_t* values = buffer.data() + kLookback;
    if (!phaseNormal) InvertPhase(values, n);
    const size_t skipped = std::min(unjudged, n);
    unjudged -= skipped;
    JudgeWindows(values + skipped, n - skipped, tracked, maps);
    // The last nine values become the history of the next block's first windows.
    std::memmove(buffer.data(), buffer.data() + n, kLookback * sizeof(uint16_t));
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

Status LevelAnalyzer::Analyze(const char* fileName, uint32_t* minDeviation, uint32_t* highLevel,
                              uint32_t* lowLevel, bool phaseNormal, const ReadOptions& reading) {
  WaveFile file;
  if (!file.Open(fileName, ModeRead | ModeBinary)) {
    return Status::SystemError(Status::Code::kSourceOpen, file.ErrorNumber());
  }
  if (Status chosen = file.ChooseReading(reading); !chosen.ok()) return chosen;

  // Every accepted window halves the weight of the level before it, so the levels at the end
  // usually depend on the last few dozen steady windows alone. The recording is taken in
  // pieces from its end backwards, each eight times the one after it: each piece's windows give
  // the exact map from the levels it may start with to the levels it ends with, and the maps
  // compose into the map from the start of the piece to the end of the recording. A level is
  // known once its map sends every start to one level; the piece that reaches the recording's
  // first value is scanned from the exact start. So every window is judged once at most, and
  // usually only those of the last piece.
  const uint64_t values = file.CountValues();
  LevelMaps toEnd = LevelMaps::Unknown();  // from the level before window `first` to the end
  uint64_t first = values;
  Tracked tracked{true, true};
  auto settle = [&] {
    tracked.high = tracked.high && !toEnd.high.Constant();
    tracked.low = tracked.low && !toEnd.low.Constant();
  };
  bool bounded = false;  // whether the values before a piece have been used yet
  for (uint64_t size = uint64_t{1} << 16; tracked.high || tracked.low; size *= 8) {
    if (values == 0 || first <= size + kLookback) {
      // The rest reaches the recording's start (or the length is unknown: all of it).
      if (!file.SeekFrame(0)) return SeekError(file);
      LevelMaps piece = LevelMaps::Start();
      const uint64_t count = values == 0 ? UINT64_MAX : first;
      const Status status = ScanWindows(file, phaseNormal, /*padded=*/true, count, tracked, piece);
      if (!status.ok()) return status;
      toEnd.After(piece, tracked);
      break;
    }
    // The windows of values first - size .. first - 1; the nine values before them fill the
    // first window.
    first -= size;
    if (!file.SeekFrame(first - kLookback)) return SeekError(file);
    LevelMaps piece = LevelMaps::Unknown();
    const Status status =
        ScanWindows(file, phaseNormal, /*padded=*/false, size + kLookback, tracked, piece);
    if (!status.ok()) return status;
    toEnd.After(piece, tracked);
    settle();
    // A long run of one mean (a clipped plateau, say) leaves two end levels one apart, which
    // no earlier piece may separate. The values before the piece bound the levels it can start
    // with: each update moves a level half way to a mean, rounding down, and a mean lies within
    // its window's values, so the high level stays below the largest value (or at 0x8000) and
    // the low level at or above the smallest (or at 0x8000). That settles such a run, for the
    // price of reading those values once.
    const bool narrow = (tracked.high && toEnd.high.HighestEnd() - toEnd.high.LowestEnd() <= 1) ||
                        (tracked.low && toEnd.low.HighestEnd() - toEnd.low.LowestEnd() <= 1);
    if (narrow && !bounded) {
      bounded = true;
      uint16_t smallest = 0;
      uint16_t largest = 0;
      if (!file.SeekFrame(0)) return SeekError(file);
      const Status bounds = ValueBounds(file, phaseNormal, first, smallest, largest);
      if (!bounds.ok()) return bounds;
      const uint32_t top = largest > 0x8000 ? largest - 1u : 0x8000u;
      const uint32_t bottom = smallest < 0x8000 ? smallest : 0x8000u;
      // A level known this way keeps its map as one level from now on.
      if (tracked.high && toEnd.high.ConstantWithin(0x8000, top)) {
        const uint32_t level = toEnd.high.Apply(top);
        toEnd.high = LevelMap(level, level);
      }
      if (tracked.low && toEnd.low.ConstantWithin(bottom, 0x8000)) {
        const uint32_t level = toEnd.low.Apply(bottom);
        toEnd.low = LevelMap(level, level);
      }
      settle();
    }
  }
  file.Close();
  *minDeviation = kMinDeviation;
  *highLevel = toEnd.high.LowestEnd();
  *lowLevel = toEnd.low.LowestEnd();
  return {};
}

}  // namespace pulsecut
