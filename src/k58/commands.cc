#include "k58/commands.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "base/output_file.h"
#include "base/platform.h"
#include "k58/image_diff.h"
#include "k58/json.h"
#include "k58/plot.h"
#include "k58/render.h"
#include "k58/stretches.h"
#include "tape/image_format.h"
#include "tape/image_reader.h"
#include "wav/wave_file.h"

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

// "k58 SUBCOMMAND: ", the start of every message of a subcommand.
std::string Prefix(const Options& o) {
  const SubcommandSpec* spec = FindSubcommand(o.subcommand);
  return std::string("k58 ") + (spec != nullptr ? spec->name : "") + ": ";
}

// Opens the output `path` of a subcommand that reads the image `input`, complete or nothing (see
// OutputFile). The input itself is refused: status 2, its bytes untouched. Returns null with
// the exit status in `status` when the output cannot be opened.
std::FILE* OpenOutput(const Options& o, OutputFile& output, const std::string& input,
                      const std::string& path, std::FILE* err, int& status) {
  if (SameFile(input, path)) {
    std::fprintf(err, "%s%s: is the input image; it is not overwritten\n", Prefix(o).c_str(),
                 path.c_str());
    status = kExitArguments;
    return nullptr;
  }
  std::FILE* stream = output.Open(path);
  if (stream == nullptr) {
    std::fprintf(err, "%s%s: %s\n", Prefix(o).c_str(), path.c_str(), std::strerror(errno));
    status = kExitImage;
  }
  return stream;
}

// Puts the output in place when everything was written (`error` is 0), or reports why not.
int FinishOutput(const Options& o, OutputFile& output, const std::string& path, int error,
                 std::FILE* err) {
  if (error == 0) error = output.Commit();
  if (error != 0) {
    output.Abandon();
    std::fprintf(err, "%s%s: %s\n", Prefix(o).c_str(), path.c_str(), std::strerror(error));
    return kExitImage;
  }
  return kExitOk;
}

// Reads `path` or reports why not.
bool Load(const Options& o, const std::string& path, ImageContents& image, std::FILE* err) {
  const ImageReadResult r = ReadImageFile(path);
  if (!r.ok) {
    std::fprintf(err, "%s%s: %s\n", Prefix(o).c_str(), path.c_str(), r.error.c_str());
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
  if (!Load(o, o.files[0], image, err)) return kExitImage;
  const std::vector<Stretch> stretches = ToStretches(image.records);
  size_t continuations = 0;
  for (const Stretch& s : stretches) continuations += s.records - 1;
  const Extremes high = ExtremesOf(stretches, true);
  const Extremes low = ExtremesOf(stretches, false);
  const int64_t total = TotalTicks(stretches);
  const Histogram histogram = MakeHistogram(stretches);
  const std::optional<uint32_t> rate = InferSampleRate(stretches);
  size_t runts = 0;
  const int64_t runtTicks = LongestRuntTicks(rate);
  for (const Stretch& s : stretches) runts += s.ticks <= runtTicks ? 1u : 0u;

  if (o.json) {
    std::fprintf(
        out,
        "{\"image\":%s,\"records\":%zu,\"continuation_records\":%zu,"
        "\"stretches\":{\"high\":%zu,\"low\":%zu},\"duration_seconds\":%.6f,"
        "\"duration\":\"%s\",\"shortest_us\":{\"high\":%s,\"low\":%s},"
        "\"longest_us\":{\"high\":%s,\"low\":%s},\"sample_rate\":%s,"
        "\"runts\":%zu,\"odd_trailing_byte\":%s,\"histogram\":{\"bin_us\":%lld,\"high\":%s,"
        "\"low\":%s,\"high_overflow\":%llu,\"low_overflow\":%llu}}\n",
        JsonString(o.files[0]).c_str(), image.records.size(), continuations, high.count, low.count,
        TicksToSeconds(total), Clock(total).c_str(), JsonMicros(high.shortest).c_str(),
        JsonMicros(low.shortest).c_str(), JsonMicros(high.longest).c_str(),
        JsonMicros(low.longest).c_str(), rate ? std::to_string(*rate).c_str() : "null", runts,
        image.oddTrailingByte ? "true" : "false", static_cast<long long>(histogram.binMicroseconds),
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
  // More than 1% of runts: the conversion went wrong somewhere.
  constexpr size_t kRuntsPerHundred = 1;
  if (runts * 100 > stretches.size() * kRuntsPerHundred) {
    std::fprintf(out,
                 "warning       %zu of the stretches (%.1f%%) last one or two samples: a 16-bit "
                 "recording read\n"
                 "              without -s, hiss (try -a), or a wrong phase or level setting?\n",
                 runts, 100.0 * static_cast<double>(runts) / static_cast<double>(stretches.size()));
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
  if (!Load(o, o.files[0], image, err)) return kExitImage;
  OutputFile output;
  int status = kExitOk;
  std::FILE* out = OpenOutput(o, output, o.files[0], o.files[1], err, status);
  if (out == nullptr) return status;
  const bool written = RenderWav(ToStretches(image.records), o.rate, o.bits, out);
  return FinishOutput(o, output, o.files[1], written ? 0 : (errno != 0 ? errno : EIO), err);
}

// "B starts 2.300 ms later than A", for B's time of an edge less A's.
std::string StartsText(int64_t offsetTicks) {
  if (offsetTicks == 0) return "A and B start together";
  char text[96];
  std::snprintf(text, sizeof text, "B starts %.3f ms %s than A",
                static_cast<double>(TicksToMicroseconds(std::abs(offsetTicks))) / 1000.0,
                offsetTicks > 0 ? "earlier" : "later");
  return text;
}

int Diff(const Options& o, std::FILE* out, std::FILE* err) {
  ImageContents a;
  ImageContents b;
  // An image that cannot be read is trouble (2), as for diff and cmp; 1 means they differ.
  if (!Load(o, o.files[0], a, err) || !Load(o, o.files[1], b, err)) return kExitArguments;
  const std::vector<Stretch> stretchesA = ToStretches(a.records);
  const std::vector<Stretch> stretchesB = ToStretches(b.records);
  // The tolerance in whole ticks, rounded down: an edge is off by a whole number of ticks.
  const int64_t tolerance = o.toleranceMicroseconds / kMicrosecondsPerTick;
  // Two takes never start at the same moment: the offset between them, unless told.
  int64_t offset = 0;
  std::string alignment;
  if (o.offsetMilliseconds) {
    offset = std::llround(*o.offsetMilliseconds * 1000.0 / kMicrosecondsPerTick);
    alignment = StartsText(offset) + " (as given)";
  } else if (o.align) {
    const std::optional<int64_t> found = FindOffset(stretchesA, stretchesB);
    offset = found.value_or(0);
    alignment = found ? StartsText(offset) : "no common start found: compared from the starts";
  }
  const DiffResult r = DiffEdges(Edges(stretchesA), Edges(stretchesB), tolerance, offset);
  std::fprintf(out, "A %s: %zu edges\nB %s: %zu edges\n", o.files[0].c_str(), r.edgesA,
               o.files[1].c_str(), r.edgesB);
  if (!alignment.empty()) std::fprintf(out, "%s\n", alignment.c_str());
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

// Where the image's first value lies in its recording, as an audio editor counts the frames
// (from the first of the data chunk), and the recording's rate.
struct Placement {
  uint32_t rate = 0;
  double firstFrame = 0;  // a classic reading of 16-bit stereo starts half way into a frame
};

// The placement that `--recording` gives: the file's rate and the frame of its first value.
// False, with `error`, when the recording cannot be read.
bool PlaceRecording(const std::string& path, bool standard, Placement& placement,
                    std::string& error) {
  WaveFile file;
  if (!file.Open(path.c_str(), ModeRead | ModeBinary)) {
    error = std::strerror(file.ErrorNumber());
    return false;
  }
  if (const Status chosen = file.ChooseReading({standard, ChannelChoice::kMix}); !chosen.ok()) {
    error = chosen.message();
    return false;
  }
  placement.rate = file.header().sampleRate;
  placement.firstFrame = file.FirstValueFrame();
  return true;
}

int Labels(const Options& o, std::FILE* out, std::FILE* err) {
  ImageContents image;
  if (!Load(o, o.files[0], image, err)) return kExitImage;
  const std::vector<Stretch> stretches = ToStretches(image.records);
  LabelBounds bounds = DefaultLabelBounds(MakeHistogram(stretches));
  if (o.shorterThanMicroseconds) bounds.shorterThanMicroseconds = *o.shorterThanMicroseconds;
  if (o.longerThanMicroseconds) bounds.longerThanMicroseconds = *o.longerThanMicroseconds;

  // Where the labels go: from the recording, from --rate, or assumed.
  Placement placement;
  std::string how;
  if (o.recording) {
    std::string error;
    if (!PlaceRecording(*o.recording, o.standardReading, placement, error)) {
      std::fprintf(err, "%s%s: %s\n", Prefix(o).c_str(), o.recording->c_str(), error.c_str());
      return kExitArguments;
    }
    how = "on the samples of " + *o.recording;
  } else {
    // Without the recording: its rate as given or as the durations tell, and the classic
    // reading of the most common recording, 8-bit mono, which starts 14 samples into the data.
    const std::optional<uint32_t> rate =
        o.recordingRate ? o.recordingRate : InferSampleRate(stretches);
    placement.rate = rate.value_or(0);
    placement.firstFrame =
        o.standardReading ? 0.0 : static_cast<double>(kDataOffset - kCanonicalDataStart);
    how = std::string("assuming the ") +
          (o.standardReading ? "standard reading (-s)"
                             : "classic reading of an 8-bit mono recording (14 samples in)");
  }
  // Each stretch's sample count at the rate gives exact times; a rate that does not fit every
  // stretch is no rate of this image.
  std::vector<std::optional<uint64_t>> counts;
  if (placement.rate != 0) counts = SampleCounts(stretches, placement.rate);
  const size_t misfits = static_cast<size_t>(
      std::count_if(counts.begin(), counts.end(), [](const auto& c) { return !c.has_value(); }));
  if (placement.rate != 0 && misfits > 0) {
    if (o.recording || o.recordingRate) {
      std::fprintf(err,
                   "%sa rate of %u Hz does not fit the image: %zu of its %zu stretches are no "
                   "whole number of samples at that rate\n",
                   Prefix(o).c_str(), placement.rate, misfits, stretches.size());
      return kExitArguments;
    }
    placement.rate = 0;
  }
  const bool exact = placement.rate != 0;
  if (!exact) {
    how = "in image ticks: the rate is not known (give --rate or --recording)";
  } else {
    how = "at " + std::to_string(placement.rate) + " Hz, " + how;
  }

  OutputFile output;
  int status = kExitOk;
  std::FILE* labels = OpenOutput(o, output, o.files[0], o.files[1], err, status);
  if (labels == nullptr) return status;
  // Runts (one or two samples) are labelled whatever the histogram says.
  const int64_t runtTicks = LongestRuntTicks(exact ? std::optional(placement.rate) : std::nullopt);
  size_t written = 0;
  double sample = placement.firstFrame;
  for (size_t i = 0; i < stretches.size(); ++i) {
    const Stretch& s = stretches[i];
    const double start = exact ? sample / placement.rate : TicksToSeconds(s.start);
    const double length =
        exact ? static_cast<double>(*counts[i]) / placement.rate : TicksToSeconds(s.ticks);
    if (exact) sample += static_cast<double>(*counts[i]);
    const int64_t us = TicksToMicroseconds(s.ticks);
    const char* kind = s.ticks <= runtTicks || us < bounds.shorterThanMicroseconds ? "short"
                       : us > bounds.longerThanMicroseconds                        ? "long"
                                                                                   : nullptr;
    if (kind == nullptr) continue;
    std::fprintf(labels, "%.6f\t%.6f\t%s %s %lld us (record %zu)\n", start, start + length, kind,
                 s.high ? "high" : "low", static_cast<long long>(us), s.firstRecord);
    ++written;
  }
  if (const int finished = FinishOutput(o, output, o.files[1], 0, err); finished != kExitOk) {
    return finished;
  }
  std::string what = "runts of one or two samples";
  if (bounds.shorterThanMicroseconds > 0) {
    what += ", stretches shorter than " + std::to_string(bounds.shorterThanMicroseconds) + " us";
  }
  if (bounds.longerThanMicroseconds != INT64_MAX) {
    what += ", stretches longer than " + std::to_string(bounds.longerThanMicroseconds) + " us";
  }
  std::fprintf(out, "%zu labels (%s), times %s\n", written, what.c_str(), how.c_str());
  return kExitOk;
}

}  // namespace

int Plot(const Options& o, std::FILE* /*out*/, std::FILE* err) {
  std::string svg;
  std::string input = o.files[0];
  if (o.histogram) {
    ImageContents image;
    if (!Load(o, o.files[0], image, err)) return kExitImage;
    svg = RenderHistogramSvg(o.files[0] + ": stretch durations",
                             MakeHistogram(ToStretches(image.records)));
  } else {
    // pulsecut's own options, parsed by pulsecut's own parser.
    std::vector<const char*> argv{"pulsecut", o.files[0].c_str(), o.files[1].c_str()};
    for (const std::string& c : o.conversion) argv.push_back(c.c_str());
    const ParseResult parsed = ParseArguments(static_cast<int>(argv.size()), argv.data());
    if (parsed.outcome != ParseOutcome::kRun) {
      std::fprintf(err, "%sthe conversion options are not a run's (see pulsecut -h)\n",
                   Prefix(o).c_str());
      return kExitArguments;
    }
    PlotWindow window;
    std::string error;
    bool pastEnd = false;
    if (!CollectWindow(o.files[0], parsed.settings, *o.atSeconds, o.spanMilliseconds, window, error,
                       pastEnd)) {
      std::fprintf(err, "%s%s\n", Prefix(o).c_str(), error.c_str());
      return pastEnd ? kExitArguments : kExitImage;
    }
    if (o.image) {
      // Where that image's edges fall: each stretch's samples at the recording's rate.
      ImageContents image;
      if (!Load(o, *o.image, image, err)) return kExitImage;
      const std::vector<Stretch> stretches = ToStretches(image.records);
      const auto counts = SampleCounts(stretches, window.sampleRate);
      const double from =
          (window.firstFrame + static_cast<double>(window.first)) / window.sampleRate;
      const double to = from + static_cast<double>(window.values.size()) / window.sampleRate;
      double frames = window.firstFrame;
      for (size_t i = 0; i < stretches.size(); ++i) {
        const double edge = counts[i]
                                ? (frames += static_cast<double>(*counts[i])) / window.sampleRate
                                : window.firstFrame / window.sampleRate +
                                      TicksToSeconds(stretches[i].start + stretches[i].ticks);
        if (edge >= from && edge <= to) window.imageEdges.push_back(edge);
      }
      window.title += "   image " + *o.image;
    }
    svg = RenderWindowSvg(window);
  }
  OutputFile output;
  int status = kExitOk;
  std::FILE* stream = OpenOutput(o, output, input, o.files[1], err, status);
  if (stream == nullptr) return status;
  const bool written = std::fwrite(svg.data(), 1, svg.size(), stream) == svg.size();
  return FinishOutput(o, output, o.files[1], written ? 0 : (errno != 0 ? errno : EIO), err);
}

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
      {"diff", Subcommand::kDiff, 2, kToleranceOption | kAlignOption,
       "  diff A B [--tolerance US] [...]     compare two takes edge by edge\n",
       "Usage: k58 diff A B [--tolerance US] [--offset MS | --no-align]\n"
       "Compares two images edge by edge: edges matched within the tolerance (default 45\n"
       "microseconds, five ticks), edges only in A or only in B, the largest deviation and\n"
       "the first disagreement. Two takes never start at the same moment: the offset between\n"
       "them is found first, by lining up their stretches, and said (\"B starts 2.300 ms\n"
       "later than A\"); --offset MS gives it (B's time of an edge less A's), --no-align\n"
       "compares from both starts. Exit status 0 when the images agree, 1 when they differ,\n"
       "2 for trouble (bad arguments, an image that cannot be read).\n",
       Diff},
      {"labels", Subcommand::kLabels, 2, kBoundsOption | kRecordingRateOption | kRecordingOption,
       "  labels IMAGE OUT.txt [...]          Audacity labels for odd stretches\n",
       "Usage: k58 labels IMAGE OUT.txt [--shorter-than US] [--longer-than US]\n"
       "                  [--recording REC.wav [-s] | --rate HZ [-s]]\n"
       "Writes an Audacity label file (start and end in seconds, a label) for every runt\n"
       "(a stretch of one or two samples) and every stretch shorter or longer than the\n"
       "bounds: by default shorter than half the shortest peak of the duration histogram\n"
       "or longer than twice the longest (dropouts, silences). With the recording the image\n"
       "was converted from (and -s if it was read with -s) the labels sit on its own\n"
       "samples; otherwise the rate is --rate or read from the durations, and the image is\n"
       "taken to start where the classic reading of an 8-bit mono recording starts (14\n"
       "samples in; at the data's start with -s). A rate that does not fit is an error.\n",
       Labels},
      {"plot", Subcommand::kPlot, 2, kPlotOption,
       "  plot REC.wav OUT.svg --at S [...]   draw the conversion at a moment, as SVG\n",
       "Usage: k58 plot RECORDING.wav OUT.svg --at SECONDS [--span MS] [--image IMAGE.k58]\n"
       "                [-s] [-cl|-cr|-cm] [-pr] [-thHEX] [-tlHEX] [-a]\n"
       "       k58 plot --histogram IMAGE.k58 OUT.svg\n"
       "Draws SPAN milliseconds (default 20) of the recording from SECONDS on (its own time,\n"
       "as k58 labels gives it) as pulsecut converts it with those options: the values the\n"
       "comparator sees, the thresholds in force, its output, the duration of each stretch\n"
       "that ends there (runts of one or two samples in red), and with --image where that\n"
       "image's edges fall. --histogram draws an image's duration histogram instead.\n",
       Plot},
  };
  return kTable;
}

int RunSubcommand(const Options& o, std::FILE* out, std::FILE* err) {
  const SubcommandSpec* spec = FindSubcommand(o.subcommand);
  return spec == nullptr ? kExitArguments : spec->run(o, out, err);
}

}  // namespace pulsecut::k58
