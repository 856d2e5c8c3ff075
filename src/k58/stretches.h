// An image seen as the stretches of the squared signal: what `k58` reports, renders, compares
// and labels.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tape/image_reader.h"

namespace pulsecut::k58 {

// One high or low stretch: neighbouring records with the same state (a stretch longer than
// 32767 ticks is written as several) are one stretch.
struct Stretch {
  bool high;
  int64_t ticks;
  int64_t start;       // ticks of all stretches before it
  size_t firstRecord;  // index of its first record in the image
  size_t records;      // how many records it spans
};

std::vector<Stretch> ToStretches(const std::vector<PulseRecord>& records);

// The end of the image in ticks (the sum of all records).
int64_t TotalTicks(const std::vector<Stretch>& stretches);

// A histogram of stretch durations in microseconds, one row of counts per state. Bins are
// `binMicroseconds` wide from 0; the width is a round number (1, 2 or 5 times a power of ten,
// at least one tick) chosen so that the durations up to about 1.25 times the 99th percentile
// fill some forty bins: pulse classes then show as separate peaks. Longer stretches are counted
// in `overflow`.
struct Histogram {
  int64_t binMicroseconds = 10;
  std::vector<uint64_t> high;
  std::vector<uint64_t> low;
  uint64_t highOverflow = 0;
  uint64_t lowOverflow = 0;
};
Histogram MakeHistogram(const std::vector<Stretch>& stretches);

// The centres, in microseconds, of the histogram's peaks over both states: bins that hold at
// least 5% of all stretches and no fewer than either neighbour. Shortest first.
std::vector<int64_t> Peaks(const Histogram& histogram);

// Stretches outside these bounds are labelled. By default shorter than half the shortest peak
// (runt pulses from noise) or longer than twice the longest peak (dropouts and silences); with
// no peak at all, nothing is labelled.
struct LabelBounds {
  int64_t shorterThanMicroseconds = 0;
  int64_t longerThanMicroseconds = INT64_MAX;
};
LabelBounds DefaultLabelBounds(const Histogram& histogram);

// The usual sample rates for which every stretch's tick count is one that pulsecut gives a
// whole number of samples at that rate. Only rates up to 111111 Hz (where each sample adds at
// least a tick) can be recognised, and only in images of 16 stretches or more. Returns the
// lowest such rate, if any.
std::optional<uint32_t> InferSampleRate(const std::vector<Stretch>& stretches);

// The ticks of the longest runt: a stretch of one or two samples (no tape records pulses that
// short) at `sampleRate`, or at 44100 Hz when the rate is not known.
int64_t LongestRuntTicks(std::optional<uint32_t> sampleRate);

// The sample count of each stretch at `sampleRate`: the number of samples whose duration
// pulsecut writes as the stretch's ticks, or nullopt for a stretch that no count gives.
std::vector<std::optional<uint64_t>> SampleCounts(const std::vector<Stretch>& stretches,
                                                  uint32_t sampleRate);

}  // namespace pulsecut::k58
