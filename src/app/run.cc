#include "app/run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "analysis/level_analyzer.h"
#include "tape/tape_image.h"
#include "wav/wave_file.h"

namespace pulsecut {
namespace {

// "text: description of the error number", as perror prints it.
void ReportSystemError(std::FILE* err, const char* text, int errorNumber) {
  std::fprintf(err, "%s: %s\n", text, std::strerror(errorNumber));
}

// Whether `a` and `b` name the same existing file (same device and inode).
bool SameFile(const char* a, const char* b) {
  struct stat first;
  struct stat second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Reports a failed pass and returns its exit status.
int ReportPassFailure(const PassStatus& status, const WaveHeader& header, std::FILE* err) {
  switch (status.code) {
    case PassStatus::kSourceOpen:
      ReportSystemError(err, "Source file open", status.errorNumber);
      return kExitSource;
    case PassStatus::kSourceFormat:
      std::fprintf(err, "Source file format: %s\n", FormatProblem(header).c_str());
      return kExitSource;
    case PassStatus::kSourceSeek:
      ReportSystemError(err, "Source file seek", status.errorNumber);
      return kExitSource;
    case PassStatus::kSourceRead:
      ReportSystemError(err, "Source file read", status.errorNumber);
      return kExitSource;
    case PassStatus::kDestinationWrite:
      ReportSystemError(err, "Destination file write", status.errorNumber);
      return kExitDestination;
    case PassStatus::kOk:
      break;
  }
  return kExitOk;
}

// Everything about the source that would make a pass fail or harm the recording, found before
// any pass reads a sample. A source that cannot be opened is left to the conversion step, which
// reports it.
int CheckSource(const Settings& settings, std::FILE* err) {
  WaveFile source;
  if (!source.Open(settings.source.c_str(), ModeRead | ModeBinary)) return kExitOk;
  // The format fields end at byte 36; a shorter file names no format at all.
  const int64_t length = source.Length();
  if (length >= 0 && length < 36 && !source.HasError()) {
    std::fprintf(err, "Source file format: the file ends inside its header (%lld bytes)\n",
                 static_cast<long long>(length));
    return kExitSource;
  }
  PassStatus status;
  if (source.HasError()) {
    status = {PassStatus::kSourceRead, source.ErrorNumber()};
  } else if (!source.Seek(kDataOffset)) {
    status = {PassStatus::kSourceSeek, source.ErrorNumber()};
  } else if (!IsSupported(source.header())) {
    status = {PassStatus::kSourceFormat, 0};
  }
  if (!status.ok()) return ReportPassFailure(status, source.header(), err);
  if (SameFile(settings.source.c_str(), settings.destination.c_str())) {
    std::fprintf(err, "Destination file is the source file: %s\n", settings.destination.c_str());
    return kExitDestination;
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
    case ParseOutcome::kRun:
      break;
  }
  return kExitOk;
}

int Run(const Settings& settings, std::FILE* out, std::FILE* err) {
  const bool verbose = settings.verbose;
  if (verbose) {
    std::fputs("WAV to K58 converter v0.3\n", out);
    std::fputs("by the pulsecut developers, for RQ5 tape preservation\n", out);
  }
  if (const int status = CheckSource(settings, err); status != kExitOk) return status;

  uint32_t highLevel = settings.highLevel;
  uint32_t lowLevel = settings.lowLevel;
  if (highLevel == kDefaultHighLevel && lowLevel == kDefaultLowLevel) {
    LevelAnalyzer analyzer;
    if (verbose) std::fputs("\nPASS1: Analyzing record level...\n", out);
    uint32_t minDeviation = 0;
    const PassStatus status = analyzer.Analyze(settings.source.c_str(), &minDeviation, &highLevel,
                                               &lowLevel, settings.phaseNormal);
    // A source that cannot be opened is reported by the conversion step below.
    if (!status.ok() && status.code != PassStatus::kSourceOpen) {
      return ReportPassFailure(status, WaveHeader{}, err);
    }
  }
  if (verbose) std::fprintf(out, "Record Level  High 0x%04x   Low 0x%04x\n", highLevel, lowLevel);

  SchmittTrigger trigger(highLevel, lowLevel);
  WaveFile source;
  if (!source.Open(settings.source.c_str(), ModeRead | ModeBinary)) {
    ReportSystemError(err, "Source file open", source.ErrorNumber());
    return kExitSource;
  }
  if (!IsSupported(source.header())) {
    return ReportPassFailure({PassStatus::kSourceFormat, 0}, source.header(), err);
  }
  std::FILE* destination = std::fopen(settings.destination.c_str(), "wb");
  if (destination == nullptr) {
    ReportSystemError(err, "Destination file open", errno);
    return kExitDestination;
  }
  if (verbose) {
    const WaveHeader& header = source.header();
    std::fprintf(out, "Sample freq %d[Hz]   Channel %d[ch]  Quantize bit %d[bit]  Phase %s\n",
                 static_cast<int>(header.sampleRate), header.channels, header.bitsPerSample,
                 settings.phaseNormal ? "Normal" : "Reverse");
    std::fputs("PASS2: Converting...\n", out);
  }
  PassStatus status = ConvertToImage(source, destination, trigger, settings.phaseNormal);
  if (std::fclose(destination) != 0 && status.ok()) {
    status = {PassStatus::kDestinationWrite, errno};
  }
  source.Close();
  if (!status.ok()) return ReportPassFailure(status, source.header(), err);
  if (verbose) std::fputs("Done.\n", out);
  return kExitOk;
}

}  // namespace pulsecut
