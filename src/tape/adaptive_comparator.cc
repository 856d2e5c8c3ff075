#include "tape/adaptive_comparator.h"

#include <algorithm>
#include <cmath>

namespace pulsecut {
namespace {

// The moving sum that smooths the values spans 100 microseconds: under half of the shortest
// half-wave a tape of this kind records (about 200 us at 2400 Hz), so edges keep their shape,
// while hiss above some 10 kHz is averaged away.
constexpr double kSmoothingSeconds = 100e-6;
// An envelope that no peak refreshes falls towards the centre by a factor e per millisecond:
// after a dropout or at the end of a block the thresholds come down to the quieter signal
// within a few milliseconds, yet over one half-wave (under 0.5 ms) they hardly move.
constexpr double kRelaxSeconds = 1e-3;
// The hysteresis is 30% of the envelope's span: the signal must swing from one side of the
// centre to 15% beyond it on the other to change the output, well clear of hiss on the plateaus
// and still crossed by a rounded, drooping half-wave.
constexpr int64_t kHysteresisPercent = 30;
// ... and at least 1.5 times the swing of the quietest stretches (the silences between blocks),
// so that their hiss does not chatter, ...
constexpr int64_t kNoiseFloorTenths = 15;
// ... but no more than half the swing of the loud stretches, so that a signal always gets
// through, however noisy.
constexpr int64_t kFloorCapPercent = 50;
// The first pass measures the swing of every millisecond (longer than a cycle of the slowest
// tone, 1200 Hz), ...
constexpr double kSurveySeconds = 1e-3;
// ... over at most 4 Mi values spread over the recording (a few seconds of each part of a long
// tape is enough to know its noise and its loudness), ...
constexpr uint64_t kSurveyValues = uint64_t{1} << 22;
constexpr size_t kSurveyBlock = size_t{1} << 16;
// ... and takes the noise from the quietest 5% of them and the loudness from the loudest 10%.
constexpr size_t kNoisePercentile = 5;
constexpr size_t kLoudPercentile = 90;
// The decay factor's fixed point.
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

}  // namespace

Status SurveyRecording(WaveFile& file, bool phaseNormal, AdaptiveStart* start) {
  const uint32_t rate = file.header().sampleRate;
  start->smoothing = SmoothingFor(rate);
  const auto stretch = static_cast<uint64_t>(std::max(1L, std::lround(rate * kSurveySeconds)));
  // Whole blocks spread evenly when the recording is longer than the survey.
  const uint64_t values = file.CountValues();
  const uint64_t blocks = (values + kSurveyBlock - 1) / kSurveyBlock;
  const uint64_t wanted = kSurveyValues / kSurveyBlock;
  const uint64_t step = blocks > wanted ? blocks / wanted : 1;

  std::vector<uint16_t> block(kSurveyBlock);
  std::vector<int64_t> swings;
  int64_t total = 0;
  uint64_t counted = 0;
  for (uint64_t b = 0;; b += step) {
    if (values != 0 && b >= blocks) break;
    if ((b == 0 || step > 1) && !file.SeekFrame(b * kSurveyBlock)) {
      return Status::SystemError(Status::Code::kSourceSeek, file.ErrorNumber());
    }
    const size_t n = file.ReadValues(block.data(), kSurveyBlock);
    if (file.HasError()) return Status::SystemError(Status::Code::kSourceRead, file.ErrorNumber());
    if (n == 0) break;
    if (!phaseNormal) InvertPhase(block.data(), n);
    // Each block starts its moving sum afresh: its first values are not judged.
    MovingSum smooth(start->smoothing);
    int64_t low = INT64_MAX;
    int64_t high = INT64_MIN;
    uint64_t inStretch = 0;
    for (size_t i = 0; i < n; ++i) {
      const int64_t s = smooth.Add(block[i]);
      if (i + 1 < start->smoothing) continue;
      total += s;
      ++counted;
      low = std::min(low, s);
      high = std::max(high, s);
      if (++inStretch == stretch) {
        swings.push_back(high - low);
        low = INT64_MAX;
        high = INT64_MIN;
        inStretch = 0;
      }
    }
    if (swings.empty() && inStretch > 0) swings.push_back(high - low);  // a very short recording
    if (values == 0 && n < kSurveyBlock) break;
  }
  start->centre = counted == 0 ? 0 : total / static_cast<int64_t>(counted);
  start->noise = Percentile(swings, kNoisePercentile);
  start->amplitude = Percentile(swings, kLoudPercentile);
  return {};
}

AdaptiveComparator::AdaptiveComparator(const AdaptiveStart& start, uint32_t sampleRate)
    : start_(start),
      smooth_(start.smoothing),
      high_(start.centre + start.amplitude / 2),
      low_(start.centre - start.amplitude / 2) {
  const double perGroup = std::exp(-static_cast<double>(kGroup) / (sampleRate * kRelaxSeconds));
  decay_ = static_cast<int64_t>(perGroup * (1 << kDecayShift));
  floor_ = std::min(start.noise * kNoiseFloorTenths / 10,
                    start.amplitude * kFloorCapPercent / 100);
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
  // The envelope relaxes towards the centre, then takes the group's peaks.
  int64_t centre = (high_ + low_) >> 1;
  high_ = std::max(*largest, centre + (((high_ - centre) * decay_) >> kDecayShift));
  low_ = std::min(*smallest, centre - (((centre - low_) * decay_) >> kDecayShift));
  centre = (high_ + low_) >> 1;
  const int64_t hysteresis = std::max((high_ - low_) * kHysteresisPercent / 100, floor_);
  upper_ = centre + hysteresis / 2;
  lower_ = upper_ - hysteresis;
  for (size_t i = 0; i < count; ++i) {
    const bool next = state_ ? group_[i] >= lower_ : group_[i] > upper_;
    if (next != state_) changes.push_back(next_ + i);
    state_ = next;
  }
  next_ += count;
  group_.clear();
}

}  // namespace pulsecut
