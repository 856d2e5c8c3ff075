#include "app/run.h"

#include <cerrno>
#include <cstring>

#include "analysis/level_analyzer.h"
#include "base/output_file.h"
#include "base/platform.h"
#include "tape/tape_image.h"
#include "wav/riff_header.h"
#include "wav/wave_file.h"

namespace pulsecut {
namespace {

// "text: description of the error number", as perror prints it.
void ReportSystemError(std::FILE* err, const char* text, int errorNumber) {
  std::fprintf(err, "%s: %s\n", text, std::strerror(errorNumber));
}

// Reports a failed pass or step and returns its exit status.
int ReportFailure(const Status& status, std::FILE* err) {
  std::fprintf(err, "%s\n", status.message().c_str());
  return status.code() == Status::Code::kDestinationWrite ? kExitDestination : kExitSource;
}

// Everything about the source that would make a pass fail or harm the recording, found before
// any pass reads a frame. A source that cannot be opened is left to the conversion step, which
// reports it.
int CheckSource(const Settings& settings, std::FILE* err) {
  WaveFile source;
  if (!source.Open(settings.source.c_str(), ModeRead | ModeBinary)) return kExitOk;
  Status status;
  if (source.HasError()) {
    status = Status::SystemError(Status::Code::kSourceRead, source.ErrorNumber());
  } else if (!source.Seek(kDataOffset)) {
    status = Status::SystemError(Status::Code::kSourceSeek, source.ErrorNumber());
  } else {
    status = source.ChooseReading(settings.reading);
  }
  if (!status.ok()) return ReportFailure(status, err);
  if (SameFile(settings.source, settings.destination)) {
    std::fprintf(err, "Destination file is the source file: %s\n", settings.destination.c_str());
    return kExitDestination;
  }
  return kExitOk;
}

// The classic first pass: when both levels hold their defaults, the record levels are
// analysed. Returns an exit status, kExitOk to go on.
int AnalyseLevels(const Settings& settings, std::FILE* out, std::FILE* err, uint32_t& highLevel,
                  uint32_t& lowLevel) {
  if (highLevel == kDefaultHighLevel && lowLevel == kDefaultLowLevel) {
    LevelAnalyzer analyzer;
    if (settings.verbose) std::fputs("\nPASS1: Analyzing record level...\n", out);
    uint32_t minDeviation = 0;
    const Status status = analyzer.Analyze(settings.source.c_str(), &minDeviation, &highLevel,
                                           &lowLevel, settings.phaseNormal, settings.reading);
    // A source that cannot be opened is reported by the conversion step.
    if (!status.ok() && status.code() != Status::Code::kSourceOpen) {
      return ReportFailure(status, err);
    }
  }
  if (settings.verbose) {
    std::fprintf(out, "Record Level  High 0x%04x   Low 0x%04x\n", highLevel, lowLevel);
  }
  return kExitOk;
}

// The adaptive comparator's first pass: the noise floor, the loudness and the centre.
int Survey(const Settings& settings, std::FILE* out, std::FILE* err, AdaptiveStart& start) {
  if (settings.verbose) {
    if (settings.highLevel != kDefaultHighLevel || settings.lowLevel != kDefaultLowLevel) {
      std::fputs("The levels given with -th and -tl are ignored with -a\n", out);
    }
    std::fputs("\nPASS1: Surveying noise and loudness...\n", out);
  }
  WaveFile file;
  if (!file.Open(settings.source.c_str(), ModeRead | ModeBinary)) return kExitOk;
  Status status = file.ChooseReading(settings.reading);
  if (status.ok()) status = SurveyRecording(file, settings.phaseNormal, &start);
  if (!status.ok()) return ReportFailure(status, err);
  if (settings.verbose) {
    std::fprintf(out, "Adaptive  Noise 0x%04llx   Swing 0x%04llx   Centre 0x%04llx\n",
                 static_cast<long long>(start.noise), static_cast<long long>(start.amplitude),
                 static_cast<long long>(0x8000 + start.centre));
  }
  return kExitOk;
}

}  // namespace

int ReportParseOutcome(ParseOutcome outcome, std::FILE* out) {
  switch (outcome) {
    case ParseOutcome::kUsage:
      std::fputs(UsageText(), out);
      return kExitOk;
    case ParseOutcome::kHighBelowLow:
      std::fputs("Illegal parameter. th must be higher than tl.\n", out);
      return kExitSource;
    case ParseOutcome::kLowAboveHigh:
      std::fputs("Illegal parameter. tl must be lower than th.\n", out);
      return kExitSource;
    case ParseOutcome::kVersion:
      std::fputs("pulsecut " PULSECUT_VERSION "\n", out);
      return kExitOk;
    case ParseOutcome::kRun:
      break;
  }
  return kExitOk;
}

int Run(const Settings& settings, std::FILE* out, std::FILE* err) {
  const bool verbose = settings.verbose;
  if (verbose) {
    std::fputs("WAV to K58 converter v" PULSECUT_VERSION "\n", out);
    std::fputs("by the pulsecut developers, for RQ5 tape preservation\n", out);
  }
  if (const int status = CheckSource(settings, err); status != kExitOk) return status;

  // The first pass: the record levels of the classic comparator (unless both are given), or
  // what the adaptive comparator needs to know in advance.
  uint32_t highLevel = settings.highLevel;
  uint32_t lowLevel = settings.lowLevel;
  AdaptiveStart start;
  const int first = settings.adaptive ? Survey(settings, out, err, start)
                                      : AnalyseLevels(settings, out, err, highLevel, lowLevel);
  if (first != kExitOk) return first;

  WaveFile source;
  if (!source.Open(settings.source.c_str(), ModeRead | ModeBinary)) {
    ReportSystemError(err, "Source file open", source.ErrorNumber());
    return kExitSource;
  }
  if (const Status chosen = source.ChooseReading(settings.reading); !chosen.ok()) {
    return ReportFailure(chosen, err);
  }
  // A recording is never overwritten (pulsecut *.wav names one as the destination).
  if (IsWaveRecording(settings.destination.c_str())) {
    std::fprintf(err, "Destination file open: %s is a WAV recording; it is not overwritten\n",
                 settings.destination.c_str());
    return kExitDestination;
  }
  OutputFile output;
  std::FILE* destination = output.Open(settings.destination);
  if (destination == nullptr) {
    ReportSystemError(err, "Destination file open", errno);
    return kExitDestination;
  }
  if (verbose) {
    const WaveHeader& header = source.header();
    std::fprintf(out, "Sample freq %d[Hz]   Channel %d[ch]  Quantize bit %d[bit]  Phase %s\n",
                 static_cast<int>(header.sampleRate), header.channels, header.bitsPerSample,
                 settings.phaseNormal ? "Normal" : "Reverse");
    if (source.standard()) std::fprintf(out, "%s\n", source.DescribeReading().c_str());
    std::fputs("PASS2: Converting...\n", out);
  }
  Status status = settings.adaptive
                      ? ConvertToImageAdaptive(source, destination, start, settings.phaseNormal)
                      : ConvertToImage(source, destination, SchmittTrigger(highLevel, lowLevel),
                                       settings.phaseNormal);
  // The image takes the destination's place only when it is complete.
  if (status.ok()) {
    if (const int error = output.Commit(); error != 0) {
      status = Status::SystemError(Status::Code::kDestinationWrite, error);
    }
  } else {
    output.Abandon();
  }
  source.Close();
  if (!status.ok()) return ReportFailure(status, err);
  if (verbose) std::fputs("Done.\n", out);
  return kExitOk;
}

}  // namespace pulsecut
