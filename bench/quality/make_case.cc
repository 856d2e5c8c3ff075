// Writes one case of the quality benchmark: a known pulse train rendered through a recording
// chain into a WAV file, and the true edges beside it.
//   make_case CASE BITS OUT.wav OUT.truth      (make_case list: the cases)
// CASE names the chain (see kCases); BITS is 8 (unsigned) or 16 (signed). The truth file holds
// one line per edge, "edge SECONDS 1" for a rise and "edge SECONDS 0" for a fall, and one line
// "silence FROM TO" per gap between blocks, and "end SECONDS", the recording's length, times on
// the recording's own clock.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "wav/wave_writer.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr double kPi = 3.14159265358979323846;
// The program on the tape: blocks of a leader (2400 Hz), one sync cycle (3000 Hz) and bytes
// whose bits are one 1200 Hz cycle (0) or two 2400 Hz cycles (1), between silences.
constexpr int kBlocks = 3;
constexpr double kSilenceSeconds = 0.3;
constexpr double kLeaderSeconds = 0.25;
constexpr int kBytesPerBlock = 48;
constexpr double kAmplitude = 0.5;  // of full scale

// A square cycle: high for its first half, low for the second.
struct Cycle {
  double start;
  double length;
};

struct Program {
  std::vector<Cycle> cycles;
  std::vector<std::pair<double, double>> silences;
  double end = 0;
};

Program MakeProgram() {
  Program p;
  uint32_t random = 12345;
  double t = 0;
  auto add = [&](double hz) {
    p.cycles.push_back({t, 1.0 / hz});
    t += 1.0 / hz;
  };
  for (int b = 0; b < kBlocks; ++b) {
    p.silences.push_back({t, t + kSilenceSeconds});
    t += kSilenceSeconds;
    while (t < p.silences.back().second + kLeaderSeconds) add(2400);
    add(3000);
    for (int byte = 0; byte < kBytesPerBlock; ++byte) {
      random = random * 1664525u + 1013904223u;
      const uint32_t bits = random >> 24;
      for (int bit = 0; bit < 8; ++bit) {
        if ((bits >> bit) & 1) {
          add(2400);
          add(2400);
        } else {
          add(1200);
        }
      }
    }
  }
  p.silences.push_back({t, t + kSilenceSeconds});
  p.end = t + kSilenceSeconds;
  return p;
}

// The ideal signal at tape position `x`: +1, -1 or 0 (silence).
double Ideal(const Program& p, double x) {
  // Binary search for the cycle holding x.
  size_t lo = 0, hi = p.cycles.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (p.cycles[mid].start + p.cycles[mid].length <= x) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == p.cycles.size() || x < p.cycles[lo].start) return 0;
  return x < p.cycles[lo].start + p.cycles[lo].length / 2 ? 1 : -1;
}

// The chain of one case.
struct Chain {
  double noiseDb = -1;         // SNR; negative: none
  double highPassHz = 0;       // AC coupling
  double lowPassHz = 0;        // a worn head (two one-pole stages)
  double fadeDb = 0;           // gain falls (or rises, negative) by this much over the tape
  double dropoutDb = 0;        // short dropouts of this depth
  double driftFraction = 0;    // slow DC drift, of the amplitude
  double flutterFraction = 0;  // speed variation
  bool invert = false;
  bool clip = false;  // hard clipping at half the amplitude
};

struct Case {
  const char* name;
  Chain chain;
};

const Case kCases[] = {
    {"clean", {}},
    {"noise-20dB", {.noiseDb = 20}},
    {"noise-12dB", {.noiseDb = 12}},
    {"noise-6dB", {.noiseDb = 6}},
    {"ac-20Hz", {.highPassHz = 20}},
    {"ac-60Hz", {.highPassHz = 60}},
    {"ac-150Hz", {.highPassHz = 150}},
    {"lowpass-6k", {.lowPassHz = 6000}},
    {"lowpass-3k", {.lowPassHz = 3000}},
    {"lowpass-2k", {.lowPassHz = 2000}},
    {"fade-6dB", {.fadeDb = 6}},
    {"fade-12dB", {.fadeDb = 12}},
    {"fade-20dB", {.fadeDb = 20}},
    {"rise-12dB", {.fadeDb = -12}},
    {"dropouts-20dB", {.dropoutDb = 20}},
    {"drift-10%", {.driftFraction = 0.1}},
    {"drift-30%", {.driftFraction = 0.3}},
    {"flutter-0.5%", {.flutterFraction = 0.005}},
    {"flutter-2%", {.flutterFraction = 0.02}},
    {"inverted", {.invert = true}},
    {"clipped", {.clip = true}},
    {"mix",
     {.noiseDb = 20,
      .highPassHz = 60,
      .lowPassHz = 3000,
      .fadeDb = 6,
      .driftFraction = 0.1,
      .flutterFraction = 0.005}},
};

// Flutter at 4 Hz: the tape position at real time t, and its inverse by Newton's method.
constexpr double kFlutterHz = 4;
double TapePosition(const Chain& c, double t) {
  return t + c.flutterFraction / (2 * kPi * kFlutterHz) * std::sin(2 * kPi * kFlutterHz * t);
}
double RealTime(const Chain& c, double x) {
  double t = x;
  for (int i = 0; i < 20; ++i) {
    const double f = TapePosition(c, t) - x;
    const double d = 1 + c.flutterFraction * std::cos(2 * kPi * kFlutterHz * t);
    t -= f / d;
  }
  return t;
}

// Gaussian noise from a fixed generator (Box-Muller).
class Noise {
 public:
  double Next() {
    const double u1 = (Uniform() + 1.0) / 4294967297.0;
    const double u2 = Uniform() / 4294967296.0;
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * kPi * u2);
  }

 private:
  double Uniform() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state_ >> 32);
  }
  uint64_t state_ = 42;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && argv[1] == std::string("list")) {
    for (const Case& c : kCases) std::printf("%s\n", c.name);
    return 0;
  }
  if (argc != 5) {
    std::fputs("usage: make_case CASE BITS OUT.wav OUT.truth\n", stderr);
    return 2;
  }
  const Case* found = nullptr;
  for (const Case& c : kCases) {
    if (std::strcmp(c.name, argv[1]) == 0) found = &c;
  }
  const int bits = std::atoi(argv[2]);
  if (found == nullptr || (bits != 8 && bits != 16)) {
    std::fputs("make_case: unknown case or bits (make_case list names the cases)\n", stderr);
    return 2;
  }
  const Chain& c = found->chain;
  const Program program = MakeProgram();

  // The truth, on the real clock. An inverted recording is converted with -pr, which gives
  // the edges back their direction.
  std::FILE* truth = std::fopen(argv[4], "w");
  if (truth == nullptr) return 1;
  for (const Cycle& cycle : program.cycles) {
    std::fprintf(truth, "edge %.9f 1\n", RealTime(c, cycle.start));
    std::fprintf(truth, "edge %.9f 0\n", RealTime(c, cycle.start + cycle.length / 2));
  }
  for (const auto& [from, to] : program.silences) {
    std::fprintf(truth, "silence %.9f %.9f\n", RealTime(c, from), RealTime(c, to));
  }
  const auto frames = static_cast<uint64_t>(RealTime(c, program.end) * kRate);
  std::fprintf(truth, "end %.9f\n", static_cast<double>(frames) / kRate);
  std::fclose(truth);

  const double lowPassA = c.lowPassHz > 0 ? 1 - std::exp(-2 * kPi * c.lowPassHz / kRate) : 1;
  const double highPassA = std::exp(-2 * kPi * c.highPassHz / kRate);
  const double noiseSigma = c.noiseDb >= 0 ? kAmplitude / std::pow(10, c.noiseDb / 20) : 0;
  // Dropouts: 20 ms each, one in every block's data.
  auto dropout = [&](double t) {
    for (int k = 0; k < kBlocks; ++k) {
      const double at = program.silences[static_cast<size_t>(k)].second + kLeaderSeconds + 0.1;
      if (t >= at && t < at + 0.02) return true;
    }
    return false;
  };
  Noise noise;
  double lp1 = 0, lp2 = 0, hpIn = 0, hpOut = 0;
  std::string data;
  for (uint64_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / kRate;
    double v = Ideal(program, TapePosition(c, t));
    lp1 += lowPassA * (v - lp1);
    lp2 += lowPassA * (lp1 - lp2);
    v = lp2;
    if (c.highPassHz > 0) {
      hpOut = highPassA * (hpOut + v - hpIn);
      hpIn = v;
      v = hpOut;
    }
    const double progress = t / (static_cast<double>(frames) / kRate);
    v *= kAmplitude * std::pow(10, -c.fadeDb * (c.fadeDb > 0 ? progress : progress - 1) / 20);
    if (c.dropoutDb > 0 && dropout(t)) v *= std::pow(10, -c.dropoutDb / 20);
    v += c.driftFraction * kAmplitude * std::sin(2 * kPi * 0.3 * t);
    if (c.clip) v = std::fmax(-kAmplitude / 2, std::fmin(kAmplitude / 2, v));
    if (c.invert) v = -v;
    v += noiseSigma * noise.Next();
    v = std::fmax(-1.0, std::fmin(1.0, v));
    if (bits == 8) {
      data += static_cast<char>(static_cast<uint8_t>(std::lround(v * 127.0) + 128));
    } else {
      const auto s = static_cast<int16_t>(std::lround(v * 32767.0));
      data += static_cast<char>(static_cast<uint16_t>(s) & 0xFF);
      data += static_cast<char>(static_cast<uint16_t>(s) >> 8);
    }
  }
  const std::string wav = pulsecut::CanonicalHeader(1, static_cast<uint16_t>(bits), kRate,
                                                    static_cast<uint32_t>(data.size())) +
                          data;
  std::FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr || std::fwrite(wav.data(), 1, wav.size(), out) != wav.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
