#include "k58/commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "base/output_file.h"
#include "k58/image_diff.h"
#include "k58/render.h"
#include "k58/stretches.h"
#include "tape/image_format.h"
#include "tape/image_reader.h"

namespace pulsecut::k58 {
namespace {

// h:mm:ss.mmm of a duration in ticks, rounded to the millisecond.
std::string Clock(int64_t ticks) {
  const int64_t ms = (TicksToMicroseconds(ticks) + 500) / 1000;
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

// Opens the output `path` of a subcommand that reads the image `input`, complete or nothing (see
// OutputFile). The input itself is refused: status 2, its bytes untouched. Returns null with
// the exit status in `status` when the output cannot be opened.
std::FILE* OpenOutput(OutputFile& output, const std::string& input, const std::string& path,
                      std::FILE* err, int& status) {
  struct stat in;
  struct stat out;
  if (stat(input.c_str(), &in) == 0 && stat(path.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino) {
    std::fprintf(err, "k58: %s: is the input image; it is not overwritten\n", path.c_str());
    status = kExitArguments;
    return nullptr;
  }
  std::FILE* stream = output.Open(path);
  if (stream == nullptr) {
    std::fprintf(err, "k58: %s: %s\n", path.c_str(), std::strerror(errno));
    status = kExitImage;
  }
  return stream;
}

// Puts the output in place when everything was written (`error` is 0), or reports why not.
int FinishOutput(OutputFile& output, const std::string& path, int error, std::FILE* err) {
  if (error == 0) error = output.Commit();
  if (error != 0) {
    output.Abandon();
    std::fprintf(err, "k58: %s: %s\n", path.c_str(), std::strerror(error));
    return kExitImage;
  }
  return kExitOk;
}

// Reads `path` or reports why not.
bool Load(const std::string& path, ImageContents& image, std::FILE* err) {
  const ImageReadResult r = ReadImageFile(path);
  if (!r.ok) {
    std::fprintf(err, "k58: %s: %s\n", path.c_str(), r.error.c_str());
    return false;
  }
  image = r.image;
  return true;
}

struct Extremes {
  int64_t shortest = -1;
  int64_t longest = -1;
  size_t count = 0;
};

Extremes ExtremesOf(const std::vector<Stretch>& stretches, bool high) {
  Extremes e;
  for (const Stretch& s : stretches) {
    if (s.high != high) continue;
    ++e.count;
    if (e.shortest < 0 || s.ticks < e.shortest) e.shortest = s.ticks;
    if (s.ticks > e.longest) e.longest = s.ticks;
  }
  return e;
}

void PrintBars(std::FILE* out, const char* title, const std::vector<uint64_t>& bins,
               uint64_t overflow, int64_t width) {
  std::fprintf(out, "\n%s stretches (us)\n", title);
  const uint64_t most = bins.empty() ? 0 : *std::max_element(bins.begin(), bins.end());
  size_t first = 0;
  size_t last = bins.size();
  while (first < last && bins[first] == 0) ++first;
  while (last > first && bins[last - 1] == 0) --last;
  for (size_t i = first; i < last; ++i) {
    const int64_t from = static_cast<int64_t>(i) * width;
    const auto bar = static_cast<size_t>(most == 0 ? 0 : (bins[i] * 50 + most - 1) / most);
    std::fprintf(out, "  %7lld-%-7lld |%-50s %llu\n", static_cast<long long>(from),
                 static_cast<long long>(from + width - 1), std::string(bar, '#').c_str(),
                 static_cast<unsigned long long>(bins[i]));
  }
  if (overflow > 0) {
    std::fprintf(out, "  %7lld and more  %llu\n", static_cast<long long>(bins.size()) * width,
                 static_cast<unsigned long long>(overflow));
  }
}

std::string JsonList(const std::vector<uint64_t>& values) {
  std::string s = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    s += (i ? "," : "") + std::to_string(values[i]);
  }
  return s + "]";
}

std::string JsonMicros(int64_t ticks) {
  return ticks < 0 ? "null" : std::to_string(TicksToMicroseconds(ticks));
}

int Info(const Options& o, std::FILE* out, std::FILE* err) {
  ImageContents image;
  if (!Load(o.files[0], image, err)) return kExitImage;
  const std::vector<Stretch> stretches = ToStretches(image.records);
  size_t continuations = 0;
  for (const Stretch& s : stretches) continuations += s.records - 1;
  const Extremes high = ExtremesOf(stretches, true);
  const Extremes low = ExtremesOf(stretches, false);
  const int64_t total = TotalTicks(stretches);
  const Histogram histogram = MakeHistogram(stretches);
  const std::optional<uint32_t> rate = InferSampleRate(stretches);

  if (o.json) {
    std::fprintf(out,
                 "{\"image\":\"%s\",\"records\":%zu,\"continuation_records\":%zu,"
                 "\"stretches\":{\"high\":%zu,\"low\":%zu},\"duration_seconds\":%.6f,"
                 "\"duration\":\"%s\",\"shortest_us\":{\"high\":%s,\"low\":%s},"
                 "\"longest_us\":{\"high\":%s,\"low\":%s},\"sample_rate\":%s,"
                 "\"odd_trailing_byte\":%s,\"histogram\":{\"bin_us\":%lld,\"high\":%s,"
                 "\"low\":%s,\"high_overflow\":%llu,\"low_overflow\":%llu}}\n",
                 o.files[0].c_str(), image.records.size(), continuations, high.count, low.count,
                 TicksToSeconds(total), Clock(total).c_str(), JsonMicros(high.shortest).c_str(),
                 JsonMicros(low.shortest).c_str(), JsonMicros(high.longest).c_str(),
                 JsonMicros(low.longest).c_str(), rate ? std::to_string(*rate).c_str() : "null",
                 image.oddTrailingByte ? "true" : "false",
                 static_cast<long long>(histogram.binMicroseconds),
                 JsonList(histogram.high).c_str(), JsonList(histogram.low).c_str(),
                 static_cast<unsigned long long>(histogram.highOverflow),
                 static_cast<unsigned long long>(histogram.lowOverflow));
    return kExitOk;
  }
  std::fprintf(out, "image         %s\n", o.files[0].c_str());
  std::fprintf(out, "records       %zu (%zu of them 32767-tick continuations)\n",
               image.records.size(), continuations);
  std::fprintf(out, "stretches     %zu high, %zu low\n", high.count, low.count);
  std::fprintf(out, "duration      %.6f s (%s)\n", TicksToSeconds(total), Clock(total).c_str());
  for (const auto& [name, e] : {std::pair{"high", high}, std::pair{"low", low}}) {
    if (e.count == 0) {
      std::fprintf(out, "%-13s none\n", name);
    } else {
      std::fprintf(out, "%-13s shortest %lld us, longest %lld us\n", name,
                   static_cast<long long>(TicksToMicroseconds(e.shortest)),
                   static_cast<long long>(TicksToMicroseconds(e.longest)));
    }
  }
  if (rate) {
    std::fprintf(out, "sample rate   %u Hz (every duration is a whole number of samples)\n", *rate);
  } else {
    std::fprintf(out, "sample rate   not recognised\n");
  }
  if (image.oddTrailingByte) std::fprintf(out, "warning       an odd trailing byte is ignored\n");
  if (!stretches.empty()) {
    PrintBars(out, "high", histogram.high, histogram.highOverflow, histogram.binMicroseconds);
    PrintBars(out, "low", histogram.low, histogram.lowOverflow, histogram.binMicroseconds);
  }
  return kExitOk;
}

int Wav(const Options& o, std::FILE* /*out*/, std::FILE* err) {
  ImageContents image;
  if (!Load(o.files[0], image, err)) return kExitImage;
  OutputFile output;
  int status = kExitOk;
  std::FILE* out = OpenOutput(output, o.files[0], o.files[1], err, status);
  if (out == nullptr) return status;
  const bool written = RenderWav(ToStretches(image.records), o.rate, o.bits, out);
  return FinishOutput(output, o.files[1], written ? 0 : (errno != 0 ? errno : EIO), err);
}

int Diff(const Options& o, std::FILE* out, std::FILE* err) {
  ImageContents a;
  ImageContents b;
  if (!Load(o.files[0], a, err) || !Load(o.files[1], b, err)) return kExitImage;
  // The tolerance in whole ticks, rounded down: an edge is off by a whole number of ticks.
  const int64_t tolerance = o.toleranceMicroseconds / kMicrosecondsPerTick;
  const DiffResult r =
      DiffEdges(Edges(ToStretches(a.records)), Edges(ToStretches(b.records)), tolerance);
  std::fprintf(out, "A %s: %zu edges\nB %s: %zu edges\n", o.files[0].c_str(), r.edgesA,
               o.files[1].c_str(), r.edgesB);
  std::fprintf(out, "matched       %zu, largest deviation %lld us\n", r.matched,
               static_cast<long long>(TicksToMicroseconds(r.largestDeviationTicks)));
  std::fprintf(out, "only in A     %zu\nonly in B     %zu\n", r.onlyA, r.onlyB);
  if (r.firstDisagreementA) {
    std::fprintf(out, "first disagreement: an edge only in A, record %zu at %.6f s\n",
                 r.firstDisagreementA->record, TicksToSeconds(r.firstDisagreementA->time));
  } else if (r.firstDisagreementB) {
    std::fprintf(out, "first disagreement: an edge only in B, record %zu at %.6f s\n",
                 r.firstDisagreementB->record, TicksToSeconds(r.firstDisagreementB->time));
  }
  std::fprintf(out, "%s within %lld us\n", r.Agree() ? "agree" : "differ",
               static_cast<long long>(TicksToMicroseconds(tolerance)));
  return r.Agree() ? kExitOk : kExitImage;
}

int Labels(const Options& o, std::FILE* out, std::FILE* err) {
  ImageContents image;
  if (!Load(o.files[0], image, err)) return kExitImage;
  const std::vector<Stretch> stretches = ToStretches(image.records);
  LabelBounds bounds = DefaultLabelBounds(MakeHistogram(stretches));
  if (o.shorterThanMicroseconds) bounds.shorterThanMicroseconds = *o.shorterThanMicroseconds;
  if (o.longerThanMicroseconds) bounds.longerThanMicroseconds = *o.longerThanMicroseconds;

  // With the recording's rate, each stretch's sample count gives exact times; otherwise the
  // image's running ticks (which run short by the fraction of a tick each record dropped).
  const std::optional<uint32_t> rate =
      o.recordingRate ? o.recordingRate : InferSampleRate(stretches);
  std::vector<std::optional<uint64_t>> counts;
  if (rate) counts = SampleCounts(stretches, *rate);
  const bool exact = rate && std::all_of(counts.begin(), counts.end(),
                                         [](const auto& c) { return c.has_value(); });

  OutputFile output;
  int status = kExitOk;
  std::FILE* labels = OpenOutput(output, o.files[0], o.files[1], err, status);
  if (labels == nullptr) return status;
  size_t written = 0;
  uint64_t sample = 0;
  for (size_t i = 0; i < stretches.size(); ++i) {
    const Stretch& s = stretches[i];
    const double start = exact ? static_cast<double>(sample) / *rate : TicksToSeconds(s.start);
    const double length = exact ? static_cast<double>(*counts[i]) / *rate : TicksToSeconds(s.ticks);
    if (exact) sample += *counts[i];
    const int64_t us = TicksToMicroseconds(s.ticks);
    const char* kind = us < bounds.shorterThanMicroseconds  ? "short"
                       : us > bounds.longerThanMicroseconds ? "long"
                                                            : nullptr;
    if (kind == nullptr) continue;
    std::fprintf(labels, "%.6f\t%.6f\t%s %s %lld us (record %zu)\n", start, start + length, kind,
                 s.high ? "high" : "low", static_cast<long long>(us), s.firstRecord);
    ++written;
  }
  if (const int finished = FinishOutput(output, o.files[1], 0, err); finished != kExitOk) {
    return finished;
  }
  std::fprintf(
      out, "%zu labels (shorter than %lld us or longer than %lld us), times %s\n", written,
      static_cast<long long>(bounds.shorterThanMicroseconds),
      static_cast<long long>(bounds.longerThanMicroseconds),
      exact ? ("in samples at " + std::to_string(*rate) + " Hz").c_str() : "in image ticks");
  return kExitOk;
}

}  // namespace

std::span<const SubcommandSpec> Subcommands() {
  static constexpr SubcommandSpec kTable[] = {
      {"info", Subcommand::kInfo, 1, kJsonOption,
       "  info IMAGE [--json]                 what the image holds\n",
       "Usage: k58 info IMAGE [--json]\n"
       "Checks a K58 tape image and prints its records, stretches, duration, the\n"
       "shortest and longest stretch of each state, the 32767-tick continuation records,\n"
       "the recording's sample rate when the durations reveal it, and a histogram of\n"
       "stretch durations per state. --json prints the same facts as one JSON object.\n",
       Info},
      {"wav", Subcommand::kWav, 2, kRenderRateOption | kBitsOption,
       "  wav IMAGE OUT.wav [--rate] [--bits] render it as a square-wave WAV\n",
       "Usage: k58 wav IMAGE OUT.wav [--rate HZ] [--bits 8|16]\n"
       "Renders the image as a square-wave mono PCM WAV (default 44100 Hz, 8-bit), edges\n"
       "placed by the image's running time so that a long tape does not drift. pulsecut\n"
       "converts the render back (16-bit samples are stored as pulsecut reads them,\n"
       "unsigned, so as signed audio they play inverted).\n",
       Wav},
      {"diff", Subcommand::kDiff, 2, kToleranceOption,
       "  diff A B [--tolerance US]           compare two images edge by edge\n",
       "Usage: k58 diff A B [--tolerance US]\n"
       "Compares two images edge by edge: edges matched within the tolerance (default 45\n"
       "microseconds, five ticks), edges only in A or only in B, the largest deviation and\n"
       "the first disagreement. Exit status 0 when the images agree, 1 when they differ.\n",
       Diff},
      {"labels", Subcommand::kLabels, 2, kBoundsOption | kRecordingRateOption,
       "  labels IMAGE OUT.txt [...]          Audacity labels for odd stretches\n",
       "Usage: k58 labels IMAGE OUT.txt [--shorter-than US] [--longer-than US] [--rate HZ]\n"
       "Writes an Audacity label file (start and end in seconds, a label) for every\n"
       "stretch shorter or longer than the bounds: by default shorter than half the\n"
       "shortest peak of the duration histogram (runt pulses) or longer than twice the\n"
       "longest (dropouts, silences). Times count from the image's start; with the\n"
       "recording's sample rate (--rate, or inferred from the durations) each stretch's\n"
       "samples are recovered exactly and the times are the recording's own.\n",
       Labels},
  };
  return kTable;
}

int RunSubcommand(const Options& o, std::FILE* out, std::FILE* err) {
  const SubcommandSpec* spec = FindSubcommand(o.subcommand);
  return spec == nullptr ? kExitArguments : spec->run(o, out, err);
}

}  // namespace pulsecut::k58
