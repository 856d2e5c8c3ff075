#include "tape/adaptive_comparator.h"

#include <algorithm>
#include <cmath>

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
// ... but only from a millisecond after the last group that swung across both halves of the
// envelope: longer than the longest half-wave (0.42 ms at 1200 Hz), so that the envelope holds
// while the tones go on.
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
// Where the envelope spans less than three times the noise floor there is no signal, only
// hiss, and the output holds: over a group, hiss swings about 1.5 times as far as in the
// quietest millisecond of it, a tape's tones far more.
constexpr int64_t kGateTimesNoise = 3;
// Nor is there a signal where the envelope spans under 5% of the loud stretches' swing (26 dB
// below them): a slow drift of the offset in a silence, or the recovery of an AC-coupled
// recording after a block, is no tone.
constexpr int64_t kGatePercent = 5;
// The first pass measures the swing of every millisecond (longer than a cycle of the slowest
// tone, 1200 Hz), ...
constexpr double kSurveySeconds = 1e-3;
// ... over at most 4 Mi values spread over the recording, in blocks of 64 Ki (a few seconds of
// each part of a long tape tell its noise and its loudness), ...
constexpr uint64_t kSurveyValues = uint64_t{1} << 22;
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

int64_t Percentile(std::vector<int64_t>& swings, size_t percent) {
  if (swings.empty()) return 0;
  const size_t at = (swings.size() - 1) * percent / 100;
  std::nth_element(swings.begin(), swings.begin() + static_cast<ptrdiff_t>(at), swings.end());
  return swings[at];
}

// The swings of every stretch of the survey, after a moving sum of `smoothing` values.
class Swings {
 public:
  Swings(uint32_t smoothing, uint64_t stretch) : smoothing_(smoothing), stretch_(stretch) {}

  // Each block starts its moving sum afresh: its first values are not judged.
  void Block(const uint16_t* values, size_t count) {
    MovingSum smooth(smoothing_);
    int64_t low = INT64_MAX;
    int64_t high = INT64_MIN;
    uint64_t inStretch = 0;
    for (size_t i = 0; i < count; ++i) {
      const int64_t s = smooth.Add(values[i]);
      if (i + 1 < smoothing_) continue;
      total_ += s;
      ++counted_;
      low = std::min(low, s);
      high = std::max(high, s);
      if (++inStretch == stretch_) {
        swings_.push_back(high - low);
        low = INT64_MAX;
        high = INT64_MIN;
        inStretch = 0;
      }
    }
    if (swings_.empty() && inStretch > 0) swings_.push_back(high - low);  // a short recording
  }

  // The start, with the noise at least one step of the recording's quantisation.
  AdaptiveStart Start(int64_t quantum) {
    AdaptiveStart start;
    start.smoothing = smoothing_;
    start.centre = counted_ == 0 ? 0 : total_ / static_cast<int64_t>(counted_);
    start.noise =
        std::max(Percentile(swings_, kNoisePercentile), quantum * static_cast<int64_t>(smoothing_));
    start.amplitude = Percentile(swings_, kLoudPercentile);
    return start;
  }

 private:
  uint32_t smoothing_;
  uint64_t stretch_;
  std::vector<int64_t> swings_;
  int64_t total_ = 0;
  uint64_t counted_ = 0;
};

}  // namespace

Status SurveyRecording(WaveFile& file, bool phaseNormal, AdaptiveStart* start) {
  const uint32_t rate = file.header().sampleRate;
  const auto stretch = static_cast<uint64_t>(std::max(1L, std::lround(rate * kSurveySeconds)));
  // Whole blocks spread evenly when the recording is longer than the survey.
  const uint64_t values = file.CountValues();
  const uint64_t blocks = (values + kSurveyBlock - 1) / kSurveyBlock;
  const uint64_t wanted = kSurveyValues / kSurveyBlock;
  const uint64_t step = blocks > wanted ? blocks / wanted : 1;

  std::vector<uint16_t> block(kSurveyBlock);
  Swings raw(1, stretch);
  Swings smoothed(SmoothingFor(rate), stretch);
  for (uint64_t b = 0;; b += step) {
    if (values != 0 && b >= blocks) break;
    if ((b == 0 || step > 1) && !file.SeekFrame(b * kSurveyBlock)) {
      return Status::SystemError(Status::Code::kSourceSeek, file.ErrorNumber());
    }
    const size_t n = file.ReadValues(block.data(), kSurveyBlock);
    if (file.HasError()) return Status::SystemError(Status::Code::kSourceRead, file.ErrorNumber());
    if (n == 0) break;
    if (!phaseNormal) InvertPhase(block.data(), n);
    raw.Block(block.data(), n);
    smoothed.Block(block.data(), n);
    if (values == 0 && n < kSurveyBlock) break;
  }
  // An 8-bit value moves by steps of 0x100.
  const int64_t quantum = file.encoding() == Encoding::kUnsigned8 ? 0x100 : 1;
  const AdaptiveStart plain = raw.Start(quantum);
  *start =
      plain.noise * 100 > plain.amplitude * kSmoothAbovePercent ? smoothed.Start(quantum) : plain;
  return {};
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
  gate_ = std::max(start.noise * kGateTimesNoise, start.amplitude * kGatePercent / 100);
  group_.reserve(kGroup);
}

void AdaptiveComparator::Feed(const uint16_t* values, size_t count,
                              std::vector<uint64_t>& changes) {
  for (size_t i = 0; i < count; ++i) {
    group_.push_back(smooth_.Add(values[i]));
    if (group_.size() == kGroup) RunGroup(kGroup, changes);
  }
}

void AdaptiveComparator::Finish(std::vector<uint64_t>& changes) {
  if (!group_.empty()) RunGroup(group_.size(), changes);
}

void AdaptiveComparator::RunGroup(size_t count, std::vector<uint64_t>& changes) {
  const auto [smallest, largest] = std::minmax_element(group_.begin(), group_.end());
  // Each side of the envelope takes the group's peak on its side. A millisecond after the last
  // group that swung across both halves of the envelope, it also relaxes towards that peak: in
  // a dropout the thresholds come down to the quieter signal, in a silence both sides come to
  // the signal itself, which then lies in the middle. (Relaxing while the tones go on would let
  // the group that ends a block pull one side in before the other.)
  const int64_t before = (high_ + low_) >> 1;
  if (*largest >= before + ((high_ - before) >> 1) &&
      *smallest <= before - ((before - low_) >> 1)) {
    lastSwing_ = next_ + count;  // the end of the group
  }
  if (next_ - lastSwing_ >= hold_) {
    high_ = *largest + (((high_ - *largest) * decay_) >> kDecayShift);
    low_ = *smallest - (((*smallest - low_) * decay_) >> kDecayShift);
  }
  high_ = std::max(high_, *largest);
  low_ = std::min(low_, *smallest);
  const int64_t centre = (high_ + low_) >> 1;
  const int64_t span = high_ - low_;
  const int64_t hysteresis = std::max(span * kHysteresisPercent / 100, floor_);
  upper_ = centre + hysteresis / 2;
  lower_ = upper_ - hysteresis;
  if (span < gate_) {  // no signal: the output holds
    next_ += count;
    group_.clear();
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    const bool next = state_ ? group_[i] >= lower_ : group_[i] > upper_;
    if (next != state_) changes.push_back(next_ + i);
    state_ = next;
  }
  next_ += count;
  group_.clear();
}

}  // namespace pulsecut
