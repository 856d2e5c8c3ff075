// A synthetic cassette signal: bursts of two tones, as a tape stores bits, with noise and a small
// DC offset. Pure arithmetic on IEEE doubles and a fixed random generator, so the same options
// give the same samples on every machine (the example recording and the tests rely on that).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wav/wave_writer.h"

namespace tape_signal {

struct Options {
  uint32_t sampleRate = 44100;
  double amplitude = 0.6;    // of full scale
  double noise = 0.0025;     // standard deviation, of full scale
  double dcOffset = 0.01;    // of full scale
  double lowTone = 1200.0;   // Hz; one cycle is a 0 bit
  double highTone = 2400.0;  // Hz; two cycles are a 1 bit, and the leader is made of it
  uint32_t seed = 1;
};

// Produces the signal one sample at a time, in the range -1..1: a silence, a leader, a burst of
// random bits, again and again.
class Generator {
 public:
  explicit Generator(const Options& options) : options_(options), random_(options.seed) {}

  double Next() {
    if (remaining_ == 0) StartSegment();
    --remaining_;
    double square = 0.0;
    if (tone_ > 0.0) {
      phase_ += tone_ / options_.sampleRate;
      if (phase_ >= 1.0) {
        phase_ -= 1.0;
        if (--cycles_ == 0) NextBit();
      }
      square = phase_ < 0.5 ? options_.amplitude : -options_.amplitude;
    }
    // A one-pole low-pass rounds the edges the way a tape head does.
    filtered_ += 0.7 * (square - filtered_);
    return filtered_ + options_.dcOffset + Noise();
  }

 private:
  enum Segment { kSilence, kLeader, kData };

  void StartSegment() {
    segment_ = segment_ == kSilence ? kLeader : segment_ == kLeader ? kData : kSilence;
    const double seconds = segment_ == kSilence ? 0.15 : segment_ == kLeader ? 0.4 : 0.9;
    remaining_ = static_cast<uint64_t>(seconds * options_.sampleRate) + 1;
    phase_ = 0.0;
    if (segment_ == kSilence) {
      tone_ = 0.0;
    } else if (segment_ == kLeader) {
      tone_ = options_.highTone;
      cycles_ = ~uint32_t{0};
    } else {
      NextBit();
    }
  }

  void NextBit() {
    if (segment_ != kData) return;
    const bool one = (Random() >> 16) & 1;
    tone_ = one ? options_.highTone : options_.lowTone;
    cycles_ = one ? 2 : 1;
  }

  uint32_t Random() {
    random_ = random_ * 1664525u + 1013904223u;
    return random_;
  }

  // Roughly Gaussian: the sum of four uniform values, scaled to the standard deviation.
  double Noise() {
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) sum += (Random() >> 8) / 16777216.0 - 0.5;
    return sum * options_.noise * 1.7320508075688772;
  }

  Options options_;
  uint32_t random_;
  Segment segment_ = kData;  // the first segment is a silence
  uint64_t remaining_ = 0;
  double tone_ = 0.0;
  double phase_ = 0.0;
  uint32_t cycles_ = 0;
  double filtered_ = 0.0;
};

// One sample on the unsigned scale of the file: 8-bit around 0x80, 16-bit around 0x8000
// (offset binary, which is how the converter reads 16-bit samples).
inline uint32_t Quantize(double value, uint16_t bitsPerSample) {
  const double top = bitsPerSample == 8 ? 255.0 : 65535.0;
  double scaled = (value + 1.0) * 0.5 * top + 0.5;
  if (scaled < 0.0) scaled = 0.0;
  if (scaled > top) scaled = top;
  return static_cast<uint32_t>(scaled);
}

// A whole recording of `frames` frames: header and samples.
inline std::string Recording(uint16_t channels, uint16_t bitsPerSample, uint64_t frames,
                             const Options& options) {
  const uint32_t dataLength = static_cast<uint32_t>(frames * channels * bitsPerSample / 8);
  std::string out =
      pulsecut::CanonicalHeader(channels, bitsPerSample, options.sampleRate, dataLength);
  Generator generator(options);
  for (uint64_t i = 0; i < frames; ++i) {
    pulsecut::AppendFrame(out, Quantize(generator.Next(), bitsPerSample), channels, bitsPerSample);
  }
  return out;
}

}  // namespace tape_signal
