#include "tape/adaptive_comparator.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "tape/schmitt_trigger.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pulsecut {
namespace {

// The moving sum that smooths the values spans 100 microseconds: under half of the shortest
// half-wave a tape of this kind records (about 200 us at 2400 Hz), so edges keep their shape,
// while hiss above some 10 kHz is averaged away.
constexpr double kSmoothingSeconds = 100e-6;
// The values are smoothed only where the quietest stretches swing more than 10% of the loud
// ones: hiss that a comparator would feel. Otherwise the edges keep their exact timing.
constexpr int64_t kSmoothAbovePercent = 10;
// An envelope that no peak refreshes falls towards the signal by a factor e per millisecond:
// after a dropout or at the end of a block the thresholds come down to the quieter signal
// within a few milliseconds.
constexpr double kRelaxSeconds = 1e-3;
// ... but only a millisecond after the signal last reached half way to that side: longer than
// the longest half-wave (0.42 ms at 1200 Hz), so that the envelope holds while the tones go on.
constexpr double kHoldSeconds = 1e-3;
// The hysteresis is 10% of the envelope's span: the signal must swing from one side of the
// centre to 5% of the span beyond it on the other to change the output. Little enough that a
// half-wave rounded by a worn head (2 kHz) or drooping through AC coupling still crosses, and
// that every edge is taken at about the same point of its slope.
constexpr int64_t kHysteresisPercent = 10;
// ... and at least the swing of the quietest stretches (the silences between blocks), so that
// their hiss does not chatter once the signal is there, ...
constexpr int64_t kNoiseFloorTenths = 10;
// ... but no more than half the swing of the loud stretches, so that a signal always gets
// through, however noisy.
constexpr int64_t kFloorCapPercent = 50;
// Where a group swings less than three times the noise floor there is no signal, only hiss,
// and the output holds: over a group, hiss swings about 1.5 times as far as in the quietest
// millisecond of it, a tape's tones far more.
constexpr int64_t kGateTimesNoise = 3;
// Nor is there a signal where a group swings under 5% of the loud stretches' swing (26 dB
// below them): a slow drift of the offset in a silence, or the recovery of an AC-coupled
// recording after a block, is no tone.
constexpr int64_t kGatePercent = 5;
// A recording whose quietest stretches swing more than half as far as its loudest one has no
// silences (a long tone): its quietest stretches are no measure of its hiss.
constexpr int64_t kSilencePercent = 50;
// The first pass measures the swing of every millisecond (longer than a cycle of the slowest
// tone, 1200 Hz), ...
constexpr double kSurveySeconds = 1e-3;
// ... over at most 1 Mi values spread over the recording, in blocks of 64 Ki (some twenty
// seconds at 44100 Hz, in 16 pieces over a long tape: enough to tell its noise and its
// loudness), ...
constexpr uint64_t kSurveyValues = uint64_t{1} << 20;
constexpr size_t kSurveyBlock = size_t{1} << 16;
// ... and takes the noise from the quietest 5% of them and the loudness from the loudest 10%.
constexpr size_t kNoisePercentile = 5;
constexpr size_t kLoudPercentile = 90;
// The fixed point of the decay factor: 16 fractional bits.
constexpr int kDecayShift = 16;

uint32_t SmoothingFor(uint32_t sampleRate) {
  const auto n = static_cast<uint32_t>(std::lround(sampleRate * kSmoothingSeconds));
  return n < 1 ? 1 : n;
}

// The groups' values are smoothed values (int16_t), or for a recording that needs no smoothing
// the values themselves (uint16_t), centred as they are loaded: v - 0x8000 is v with its top
// bit flipped.
int16_t Centred(int16_t v) { return v; }
int16_t Centred(uint16_t v) { return static_cast<int16_t>(v ^ 0x8000); }
#if defined(__SSE2__)
template <typename Value>
__m128i LoadCentred(const Value* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if constexpr (std::is_same_v<Value, uint16_t>) {
    return _mm_xor_si128(v, _mm_set1_epi16(static_cast<short>(0x8000)));
  } else {
    return v;
  }
}
#endif

// The comparator's masks of kGroup centred values: bit i of `rises` is set when values[i] is
// above `upper`, bit i of `falls` when it is below `lower`. Thresholds beyond the 16-bit range
// are above or below every value.
template <typename Value>
ChangeMasks MasksOf(const Value* values, int64_t upper, int64_t lower) {
  const auto clamp = [](int64_t t) {
    return static_cast<int16_t>(std::clamp<int64_t>(t, INT16_MIN, INT16_MAX));
  };
  const bool noneRise = upper >= INT16_MAX;
  const bool noneFall = lower <= INT16_MIN;
  const int16_t rise = clamp(upper);
  const int16_t stay = clamp(lower - 1);  // a value above it does not fall
  uint64_t rises = 0;
  uint64_t stays = 0;
#if defined(__SSE2__)
  // Sixteen results packed into bytes and gathered at a time.
  const __m128i riseAbove = _mm_set1_epi16(rise);
  const __m128i stayAbove = _mm_set1_epi16(stay);
  for (size_t j = 0; j < AdaptiveComparator::kGroup / 16; ++j) {
    const __m128i a = LoadCentred(values + 16 * j);
    const __m128i b = LoadCentred(values + 16 * j + 8);
    const int r = _mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpgt_epi16(a, riseAbove), _mm_cmpgt_epi16(b, riseAbove)));
    const int k = _mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpgt_epi16(a, stayAbove), _mm_cmpgt_epi16(b, stayAbove)));
    rises |= uint64_t{static_cast<uint32_t>(r)} << (16 * j);
    stays |= uint64_t{static_cast<uint32_t>(k)} << (16 * j);
  }
#else
  for (size_t i = 0; i < AdaptiveComparator::kGroup; ++i) {
    rises |= uint64_t{Centred(values[i]) > rise} << i;
    stays |= uint64_t{Centred(values[i]) > stay} << i;
  }
#endif
  return {noneRise ? 0 : rises, noneFall ? 0 : ~stays};
}

// The smallest and the largest of the centred values[0, count).
template <typename Value>
std::pair<int16_t, int16_t> RangeOf(const Value* values, size_t count) {
  int16_t smallest = INT16_MAX;
  int16_t largest = INT16_MIN;
  size_t i = 0;
#if defined(__SSE2__)
  if (count >= 8) {
    __m128i low = _mm_set1_epi16(INT16_MAX);
    __m128i high = _mm_set1_epi16(INT16_MIN);
    for (; i + 8 <= count; i += 8) {
      const __m128i v = LoadCentred(values + i);
      low = _mm_min_epi16(low, v);
      high = _mm_max_epi16(high, v);
    }
    alignas(16) int16_t lows[8];
    alignas(16) int16_t highs[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lows), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(highs), high);
    for (size_t k = 0; k < 8; ++k) {
      smallest = std::min(smallest, lows[k]);
      largest = std::max(largest, highs[k]);
    }
  }
#endif
  for (; i < count; ++i) {
    smallest = std::min(smallest, Centred(values[i]));
    largest = std::max(largest, Centred(values[i]));
  }
  return {smallest, largest};
}

int64_t Percentile(std::vector<int64_t>& swings, size_t percent) {
  if (swings.empty()) return 0;
  const size_t at = (swings.size() - 1) * percent / 100;
  std::nth_element(swings.begin(), swings.begin() + static_cast<ptrdiff_t>(at), swings.end());
  return swings[at];
}

// The swings of every stretch of the survey, after smoothing over `smoothing` values.
class Swings {
 public:
  Swings(uint32_t smoothing, size_t stretch) : smoothing_(smoothing), stretch_(stretch) {}

  // Each block starts its smoothing afresh: its first values are not judged.
  void Block(const uint16_t* values, size_t count) {
    Smoother smoother(smoothing_);
    smoothed_.resize(count);
    smoother.Run(values, count, smoothed_.data());
    const size_t first = std::min<size_t>(smoothing_ - 1, count);
    for (size_t i = first; i < count; ++i) total_ += smoothed_[i];
    counted_ += count - first;
    for (size_t at = first; at < count; at += stretch_) {
      const size_t n = std::min(stretch_, count - at);
      if (n < stretch_ && !swings_.empty()) break;  // a whole stretch, unless it is all there is
      const auto [smallest, largest] = RangeOf(smoothed_.data() + at, n);
      swings_.push_back(int64_t{largest} - smallest);
    }
  }

  // The start, with the noise at least one step of the recording's quantisation.
  AdaptiveStart Start(int64_t quantum) {
    AdaptiveStart start;
    start.smoothing = smoothing_;
    start.centre = counted_ == 0 ? 0 : total_ / static_cast<int64_t>(counted_);
    start.noise = std::max(Percentile(swings_, kNoisePercentile), quantum);
    start.amplitude = Percentile(swings_, kLoudPercentile);
    start.largest = Percentile(swings_, 100);
    return start;
  }

 private:
  uint32_t smoothing_;
  size_t stretch_;
  std::vector<int16_t> smoothed_;
  std::vector<int64_t> swings_;
  int64_t total_ = 0;
  uint64_t counted_ = 0;
};

}  // namespace

Status SurveyRecording(WaveFile& file, bool phaseNormal, AdaptiveStart* start) {
  const uint32_t rate = file.header().sampleRate;
  const auto stretch = static_cast<size_t>(std::max(1L, std::lround(rate * kSurveySeconds)));
  // Whole blocks spread evenly when the recording is longer than the survey; the first
  // kSurveyValues when its length is unknown.
  const uint64_t values = file.CountValues();
  const uint64_t blocks =
      values == 0 ? kSurveyValues / kSurveyBlock : (values + kSurveyBlock - 1) / kSurveyBlock;
  const uint64_t wanted = kSurveyValues / kSurveyBlock;
  const uint64_t step = blocks > wanted ? blocks / wanted : 1;

  // The blocks are kept: the smoothed swings are measured only if the plain ones call for it.
  std::vector<std::vector<uint16_t>> survey;
  for (uint64_t b = 0; b < blocks; b += step) {
    if ((b == 0 || step > 1) && !file.SeekFrame(b * kSurveyBlock)) {
      return Status::SystemError(Status::Code::kSourceSeek, file.ErrorNumber());
    }
    std::vector<uint16_t> block(kSurveyBlock);
    const size_t n = file.ReadValues(block.data(), kSurveyBlock);
    if (file.HasError()) return Status::SystemError(Status::Code::kSourceRead, file.ErrorNumber());
    if (n == 0) break;
    block.resize(n);
    if (!phaseNormal) InvertPhase(block.data(), n);
    survey.push_back(std::move(block));
    if (n < kSurveyBlock) break;
  }
  // An 8-bit value moves by steps of 0x100.
  const int64_t quantum = file.encoding() == Encoding::kUnsigned8 ? 0x100 : 1;
  auto measure = [&](uint32_t smoothing) {
    Swings swings(smoothing, stretch);
    for (const std::vector<uint16_t>& block : survey) swings.Block(block.data(), block.size());
    return swings.Start(quantum);
  };
  *start = measure(1);
  if (start->noise * 100 > start->amplitude * kSmoothAbovePercent) {
    *start = measure(SmoothingFor(rate));
  }
  return {};
}

Smoother::Smoother(uint32_t length)
    : length_(length < 1 ? 1 : length),
      reciprocal_(((uint64_t{1} << 32) + length_ - 1) / length_),
      ring_(length_, 0) {}

void Smoother::Run(const uint16_t* values, size_t count, int16_t* out) {
  if (length_ == 1) {  // the values themselves: v - 0x8000 is v with the top bit flipped
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    for (; i + 8 <= count; i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_xor_si128(v, flip));
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<int16_t>(values[i] ^ 0x8000);
    return;
  }
  // The mean of sums from -0x8000 * length up, by the reciprocal: shifted to be positive.
  const int64_t offset = int64_t{0x8000} * length_;
  for (size_t i = 0; i < count; ++i) {
    const int32_t centred = int32_t{values[i]} - 0x8000;
    sum_ += centred - ring_[at_];
    ring_[at_] = centred;
    at_ = at_ + 1 == length_ ? 0 : at_ + 1;
    const auto shifted = static_cast<uint64_t>(sum_ + offset);
    out[i] = static_cast<int16_t>(static_cast<int64_t>((shifted * reciprocal_) >> 32) - 0x8000);
  }
}

AdaptiveComparator::AdaptiveComparator(const AdaptiveStart& start, uint32_t sampleRate)
    : start_(start),
      smooth_(start.smoothing),
      high_(start.centre + start.amplitude / 2),
      low_(start.centre - start.amplitude / 2) {
  const double perGroup = std::exp(-static_cast<double>(kGroup) / (sampleRate * kRelaxSeconds));
  decay_ = static_cast<int64_t>(perGroup * (1 << kDecayShift));
  floor_ = std::min(start.noise * kNoiseFloorTenths / 10, start.amplitude * kFloorCapPercent / 100);
  hold_ = static_cast<uint64_t>(std::lround(sampleRate * kHoldSeconds));
  // Quietest stretches that swing nearly as far as the loudest one are no silences: the hiss
  // is not known, and only the loudness sets the gate.
  const bool silences = start.noise * 100 < start.largest * kSilencePercent;
  gate_ =
      std::max(silences ? start.noise * kGateTimesNoise : 0, start.amplitude * kGatePercent / 100);
}

template <typename Value>
[[gnu::always_inline]] inline uint64_t AdaptiveComparator::RunGroup(const Value* group,
                                                                    size_t count) {
  const auto [smallest, largest] = RangeOf(group, count);
  // Each side of the envelope takes the group's peak on its side. A side that no group has
  // reached half way for kHoldSeconds also relaxes towards the group's peak on its side: in a
  // dropout the thresholds come down to the quieter signal, in a silence both sides come to the
  // signal itself, which then lies in the middle. (Relaxing while the tones go on would let
  // a group that holds one half-wave pull the other side in.)
  const int64_t before = (high_ + low_) >> 1;
  if (largest >= before + ((high_ - before) >> 1)) highSeen_ = next_ + count;
  if (smallest <= before - ((before - low_) >> 1)) lowSeen_ = next_ + count;
  if (next_ - highSeen_ >= hold_) high_ = largest + (((high_ - largest) * decay_) >> kDecayShift);
  if (next_ - lowSeen_ >= hold_) low_ = smallest - (((smallest - low_) * decay_) >> kDecayShift);
  high_ = std::max<int64_t>(high_, largest);
  low_ = std::min<int64_t>(low_, smallest);
  const int64_t centre = (high_ + low_) >> 1;
  const int64_t span = high_ - low_;
  const int64_t hysteresis = std::max(span * kHysteresisPercent / 100, floor_);
  upper_ = centre + hysteresis / 2;
  lower_ = upper_ - hysteresis;
  next_ += count;
  // A group that swings too little holds the output: it carries no signal (even while the
  // envelope of the block before it still relaxes).
  if (int64_t{largest} - smallest < gate_) return 0;

  ChangeMasks masks = MasksOf(group, upper_, lower_);
  if (count < kGroup) {  // the values beyond `count` neither rise nor fall
    const uint64_t valid = (uint64_t{1} << count) - 1;
    masks.rises &= valid;
    masks.falls &= valid;
  }
  uint64_t high = state_ ? 1 : 0;
  const uint64_t moves = GroupMoves(masks, /*toggling=*/false, high);
  state_ = high != 0;
  return moves;
}

void AdaptiveComparator::Feed(const uint16_t* values, size_t count, std::vector<uint64_t>& moves) {
  size_t i = 0;
  if (smooth_.length() == 1 && filled_ == 0) {  // whole groups straight from the values
    const size_t before = moves.size();
    moves.resize(before + count / kGroup);
    uint64_t* out = moves.data() + before;
    for (; i + kGroup <= count; i += kGroup) *out++ = RunGroup(values + i, kGroup);
  }
  while (i < count) {
    const size_t take = std::min(kGroup - filled_, count - i);
    smooth_.Run(values + i, take, group_ + filled_);
    filled_ += take;
    i += take;
    if (filled_ == kGroup) {
      moves.push_back(RunGroup(group_, kGroup));
      filled_ = 0;
    }
  }
}

void AdaptiveComparator::Finish(std::vector<uint64_t>& moves) {
  if (filled_ > 0) moves.push_back(RunGroup(group_, filled_));
  filled_ = 0;
}

}  // namespace pulsecut
