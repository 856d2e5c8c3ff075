#include "analysis/level_analyzer.h"

#include <cstring>
#include <vector>

#include "wav/wave_file.h"

namespace pulsecut {
namespace {

constexpr size_t kWindow = 10;
constexpr size_t kLookback = kWindow - 1;
constexpr size_t kBlock = size_t{1} << 15;
constexpr int32_t kCentre = 0x8000;

// What a stretch of windows does to the levels, as the range of levels it can end with. Each
// update (level + mean) >> 1 is monotone in the level, so applying it to the lowest and the
// highest level the stretch can start with bounds every outcome; once both ends meet, the
// levels no longer depend on anything before the stretch.
struct LevelRange {
  uint32_t highMin, highMax, lowMin, lowMax;

  // The exact start of a whole-file scan.
  static LevelRange Start() { return {0x8000, 0x8000, 0x8000, 0x8000}; }
  // Any level a scan can hold at some point: the high level stays within 0x8000..0xFFFF and the
  // low level within 0..0x8000, because every mean that moves them lies on their side.
  static LevelRange Unknown() { return {0x8000, 0xFFFF, 0, 0x8000}; }

  bool Settled() const { return highMin == highMax && lowMin == lowMax; }

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

// The incremental mean alone, as ComputeWindow forms it; cheap enough to reject most windows
// before the squares are computed.
int32_t WindowMean(const uint16_t* newest) {
  int32_t mean = 0;
#pragma GCC unroll 10
  for (int32_t k = 1; k <= 10; ++k) mean += (int32_t{newest[1 - k]} - mean) / k;
  return mean;
}

// Feeds every window of the values from the current position of `file` to the end into
// `range`. With `padded`, the first nine windows are filled up with 0x8000 as at the start of
// the recording; otherwise the first nine values only fill the window and are not judged.
PassStatus ScanWindows(WaveFile& file, bool phaseNormal, bool padded, LevelRange& range) {
  std::vector<uint16_t> buffer(kLookback + kBlock, 0x8000);
  size_t unjudged = padded ? 0 : kLookback;
  while (!file.AtEnd()) {
    const size_t count = file.ReadLevels(buffer.data() + kLookback, kBlock);
    if (file.HasError()) return {PassStatus::kSourceRead, file.ErrorNumber()};
    if (count == 0) break;
    uint16_t* values = buffer.data() + kLookback;
    if (!phaseNormal) InvertPhase(values, count);
    size_t i = 0;
    for (; unjudged > 0 && i < count; ++i) --unjudged;
    for (; i < count; ++i) {
      const int32_t mean = WindowMean(values + i);
      const int32_t distance = mean > kCentre ? mean - kCentre : kCentre - mean;
      if (static_cast<uint32_t>(distance) <= kMinDeviation) continue;
      const WindowStats stats = ComputeWindow(values + i);
      if (IsSteady(stats.squares)) range.Accept(stats.mean);
    }
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

  // Every accepted window halves the weight of the levels before it, so the levels at the end
  // usually depend on the last few dozen steady windows alone. Scan ever longer tails of the
  // recording until the result no longer depends on where the tail starts; a recording where
  // that never happens is scanned whole.
  const int64_t length = file.Length();
  const uint64_t frameSize = FrameSize(header);
  const uint64_t values =
      (length > kDataOffset ? static_cast<uint64_t>(length - kDataOffset) / frameSize : 0) + 1;
  LevelRange range = LevelRange::Start();
  bool settled = false;
  for (uint64_t tail = uint64_t{1} << 16; length >= 0 && tail + kLookback < values; tail *= 8) {
    const uint64_t first = values - tail - kLookback;
    if (!file.Seek(kDataOffset + static_cast<int64_t>(first * frameSize))) {
      return {PassStatus::kSourceSeek, file.ErrorNumber()};
    }
    range = LevelRange::Unknown();
    const PassStatus status = ScanWindows(file, phaseNormal, /*padded=*/false, range);
    if (!status.ok()) return status;
    if (range.Settled()) {
      settled = true;
      break;
    }
  }
  if (!settled) {
    if (!file.Seek(kDataOffset)) return {PassStatus::kSourceSeek, file.ErrorNumber()};
    range = LevelRange::Start();
    const PassStatus status = ScanWindows(file, phaseNormal, /*padded=*/true, range);
    if (!status.ok()) return status;
  }
  file.Close();
  *minDeviation = kMinDeviation;
  *highLevel = range.highMin;
  *lowLevel = range.lowMin;
  return {};
}

}  // namespace pulsecut
