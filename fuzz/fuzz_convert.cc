// Fuzz target: arbitrary bytes as a recording, converted by the whole run with a fixed set of
// option mixes. On every input the run must end with a defined status (a source error exactly
// when the reference reading cannot read it), and a completed image must be well formed and
// equal, byte for byte, to the one the plain sample-by-sample reference passes give.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "app/run.h"
#include "check.h"
#include "reference.h"

namespace {

using pulsecut::ChannelChoice;
using pulsecut::ReadOptions;

struct Mix {
  uint32_t highLevel, lowLevel;
  bool phaseNormal;
  ReadOptions reading;
  bool adaptive = false;  // the reference has no adaptive comparator: invariants only
};

// Analysed and given levels, both phases, thresholds that toggle and ones that never rise, both
// readings and every channel choice.
constexpr Mix kMixes[] = {
    {0xFFFF, 0, true, {}},
    {0xFFFF, 0, false, {}},
    {0xC000, 0x4000, true, {}},
    {0x8400, 0x7D00, false, {}},
    {0xF000, 0x9000, true, {}},
    {0, 0, true, {}},
    {0xFFFF, 0, true, {false, ChannelChoice::kFirst}},
    {0xC000, 0x4000, true, {false, ChannelChoice::kSecond}},
    {0xFFFF, 0, true, {true, ChannelChoice::kMix}},
    {0xFFFF, 0, false, {true, ChannelChoice::kSecond}},
    {0x8400, 0x7D00, true, {true, ChannelChoice::kFirst}},
    {0xFFFF, 0, true, {}, true},
    {0xFFFF, 0, false, {true, ChannelChoice::kSecond}, true},
};

// The target's working folder, removed with its files when the process ends.
struct WorkDir {
  WorkDir() {
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
      const std::filesystem::path candidate =
          std::filesystem::temp_directory_path() /
          ("pulsecut-fuzz-" + std::to_string(seed()) + std::to_string(seed()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) path = candidate.string();
    }
    Check(!path.empty(), "a working folder");
  }
  ~WorkDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const WorkDir work;
  const std::string& dir = work.path;
  static std::FILE* sink = std::tmpfile();  // the runs' reports, unread
  const std::string source = dir + "/in.wav";
  const std::string destination = dir + "/out.k58";
  {
    std::FILE* f = std::fopen(source.c_str(), "wb");
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  for (const Mix& mix : kMixes) {
    std::remove(destination.c_str());
    pulsecut::Settings settings;
    settings.source = source;
    settings.destination = destination;
    settings.highLevel = mix.highLevel;
    settings.lowLevel = mix.lowLevel;
    settings.phaseNormal = mix.phaseNormal;
    settings.reading = mix.reading;
    settings.adaptive = mix.adaptive;
    settings.verbose = true;
    const int status = pulsecut::Run(settings, sink, sink);
    const pulsecut::testing::ReferenceRecording reference =
        pulsecut::testing::ReferenceRead(source, mix.reading);
    if (!reference.readable) {
      Check(status == pulsecut::kExitSource, "an unreadable recording is a source error");
      Check(!std::filesystem::exists(destination), "no image for an unreadable recording");
      continue;
    }
    Check(status == pulsecut::kExitOk, "a readable recording converts");
    const std::string image = ReadAll(destination);
    Check(image.size() >= 18 && image.size() % 2 == 0, "header and whole records");
    Check(image.compare(0, 18, std::string("RQ5 TAPE IMAGE 0\0\0", 18)) == 0, "the header");
    double ticks = 0;
    for (size_t i = 18; i + 1 < image.size(); i += 2) {
      const int duration = ((image[i] & 0x7F) << 8) | static_cast<uint8_t>(image[i + 1]);
      Check(duration >= 1, "every record lasts 1..32767 ticks");
      ticks += duration;
    }
    // The records cover at most the values there are.
    Check(ticks <= static_cast<double>(reference.values.size()) / reference.sampleRate *
                           111111.11111111111 +
                       1,
          "no more ticks than values");

    if (mix.adaptive) continue;
    uint32_t high = mix.highLevel;
    uint32_t low = mix.lowLevel;
    if (high == 0xFFFF && low == 0) {
      const pulsecut::testing::ReferenceLevels levels =
          pulsecut::testing::ReferenceAnalyze(reference.values, mix.phaseNormal);
      high = levels.high;
      low = levels.low;
    }
    Check(image == pulsecut::testing::ReferenceConvert(reference.values, reference.sampleRate, high,
                                                       low, mix.phaseNormal),
          "the image equals the reference's");
  }
  return 0;
}
