// Scores an image against the true edges of a quality benchmark case.
//   score IMAGE TRUTH RATE SKIP
// RATE is the recording's sample rate; SKIP the frames the reading skipped at the start (the
// classic reading starts 14 bytes after the canonical header). Each image edge is placed at its
// sample (the stretches' sample counts are recovered exactly from their ticks). Edges are
// matched in order, same direction, within a quarter of the shortest true half-wave, after
// taking off the comparator's constant delay (the median offset of nearby edges); an edge past
// the recording's end (at the value the classic reading builds from failed reads) is not
// counted. Prints one
// line: matched missed spurious score timing-error-us spurious-per-second-of-silence.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "k58/stretches.h"
#include "tape/image_reader.h"

namespace {

struct Edge {
  double time;
  bool rise;
};

// Margin kept off both ends of a silence when counting its spurious edges: the decay of the
// last half-wave and the leader's start are not silence.
constexpr double kSilenceMargin = 0.01;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: score IMAGE TRUTH RATE SKIP\n", stderr);
    return 2;
  }
  const double rate = std::atof(argv[3]);
  const double skip = std::atof(argv[4]);
  // SCORE_VERBOSE=1 lists the edges missed and the spurious ones on standard error.
  const bool verbose = std::getenv("SCORE_VERBOSE") != nullptr;
  std::vector<Edge> truth;
  std::vector<std::pair<double, double>> silences;
  double end = 1e300;
  std::ifstream in(argv[2]);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    fields >> kind;
    if (kind == "edge") {
      Edge e{};
      int rise = 0;
      fields >> e.time >> rise;
      e.rise = rise != 0;
      truth.push_back(e);
    } else if (kind == "end") {
      fields >> end;
    } else if (kind == "silence") {
      double from = 0, to = 0;
      fields >> from >> to;
      silences.push_back({from, to});
    }
  }
  double shortest = 1e9;
  for (size_t i = 1; i < truth.size(); ++i) {
    shortest = std::min(shortest, truth[i].time - truth[i - 1].time);
  }
  const double tolerance = shortest / 4;

  const pulsecut::ImageReadResult image = pulsecut::ReadImageFile(argv[1]);
  if (!image.ok) {
    std::fprintf(stderr, "score: %s: %s\n", argv[1], image.error.c_str());
    return 1;
  }
  const auto stretches = pulsecut::k58::ToStretches(image.image.records);
  const auto counts = pulsecut::k58::SampleCounts(stretches, static_cast<uint32_t>(rate));
  std::vector<Edge> found;
  double samples = skip;
  for (size_t i = 0; i < stretches.size(); ++i) {
    if (!counts[i]) {
      std::fprintf(stderr, "score: a stretch of %lld ticks is no whole number of samples\n",
                   static_cast<long long>(stretches[i].ticks));
      return 1;
    }
    samples += static_cast<double>(*counts[i]);
    // The stretch ends at the start of the sample after its last one; a low stretch ends in
    // a rise. An edge at the value that the classic reading builds from failed reads, past the
    // recording's end, is not in the recording.
    if (samples / rate > end) break;
    found.push_back({samples / rate, !stretches[i].high});
  }

  // The constant delay: the median offset from each found edge to the nearest true one of its
  // direction, within a shortest half-wave (the next edge of the same direction is a whole
  // cycle away).
  std::vector<double> offsets;
  size_t t = 0;
  for (const Edge& e : found) {
    while (t + 1 < truth.size() && truth[t + 1].time <= e.time) ++t;
    for (size_t k = t > 2 ? t - 2 : 0; k < std::min(truth.size(), t + 3); ++k) {
      if (truth[k].rise == e.rise && std::fabs(e.time - truth[k].time) < shortest) {
        offsets.push_back(e.time - truth[k].time);
      }
    }
  }
  double delay = 0;
  if (!offsets.empty()) {
    std::nth_element(offsets.begin(), offsets.begin() + static_cast<long>(offsets.size() / 2),
                     offsets.end());
    delay = offsets[offsets.size() / 2];
    if (verbose) std::fprintf(stderr, "delay %.1f us\n", delay * 1e6);
  }

  size_t matched = 0, missed = 0, spurious = 0;
  double squares = 0;
  size_t i = 0, j = 0;
  while (i < truth.size() || j < found.size()) {
    if (j == found.size()) {
      ++missed, ++i;
      continue;
    }
    if (i == truth.size()) {
      if (verbose)
        std::fprintf(stderr, "spurious %s at %.6f\n", found[j].rise ? "rise" : "fall",
                     found[j].time);
      ++spurious, ++j;
      continue;
    }
    const double d = found[j].time - delay - truth[i].time;
    if (std::fabs(d) <= tolerance && found[j].rise == truth[i].rise) {
      ++matched, ++i, ++j;
      squares += d * d;
    } else if (d < 0) {
      if (verbose)
        std::fprintf(stderr, "spurious %s at %.6f\n", found[j].rise ? "rise" : "fall",
                     found[j].time);
      ++spurious, ++j;
    } else {
      if (verbose)
        std::fprintf(stderr, "missed %s at %.6f\n", truth[i].rise ? "rise" : "fall", truth[i].time);
      ++missed, ++i;
    }
  }
  double silent = 0;
  size_t inSilence = 0;
  for (const auto& [from, to] : silences) {
    const double a = from + kSilenceMargin, b = to - kSilenceMargin;
    if (b <= a) continue;
    silent += b - a;
    for (const Edge& e : found) inSilence += e.time - delay >= a && e.time - delay < b;
  }
  const double score = static_cast<double>(matched) / static_cast<double>(truth.size() + spurious);
  std::printf("%zu %zu %zu %.4f %.1f %.2f\n", matched, missed, spurious, score,
              matched ? std::sqrt(squares / static_cast<double>(matched)) * 1e6 : 0.0,
              silent > 0 ? static_cast<double>(inSilence) / silent : 0.0);
  return 0;
}
