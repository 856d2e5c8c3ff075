// Writes the seed corpus of the fuzz targets from the test fixtures:
//   make_corpus DIR        (writes DIR/convert/* and DIR/options/*)
#include <cstdio>
#include <string>
#include <vector>

#include "../examples/tape_signal.h"
#include "wav_fixture.h"

namespace {

using pulsecut::testing::Bytes;
using pulsecut::testing::Format;
using pulsecut::testing::Wav;
using pulsecut::testing::WriteFile;

std::string Tape(const Format& format, uint64_t frames) {
  tape_signal::Options options;
  options.sampleRate = format.sampleRate;
  return Wav(
      format,
      tape_signal::Recording(format.channels, format.bitsPerSample, frames, options).substr(44));
}

}  // namespace

using namespace std::string_literals;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_corpus DIR\n", stderr);
    return 2;
  }
  const std::string convert = std::string(argv[1]) + "/convert/";
  const std::string options = std::string(argv[1]) + "/options/";
  const std::string wholeRun =
      Wav({1, 8, 44100}, Bytes({0x80, 0x80, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  WriteFile(convert + "whole-run.wav", wholeRun);
  WriteFile(convert + "mono8.wav", Tape({1, 8, 44100}, 3000));
  WriteFile(convert + "stereo8.wav", Tape({2, 8, 22050}, 3000));
  WriteFile(convert + "mono16.wav", Tape({1, 16, 48000}, 3000));
  WriteFile(convert + "stereo16.wav", Tape({2, 16, 96000}, 3000));
  WriteFile(convert + "stereo16-odd-end.wav", Tape({2, 16, 44100}, 500) + Bytes({1, 2, 3}));
  WriteFile(convert + "one-hertz.wav",
            Wav({1, 8, 1}, std::string(300, '\0') + Bytes({0xFF, 0x00})));
  WriteFile(convert + "above-tick-rate.wav", Tape({1, 16, 200000}, 2000));
  WriteFile(convert + "long-mono8.wav", Tape({1, 8, 44100}, 70000));
  WriteFile(convert + "header-only.wav", wholeRun.substr(0, 44));
  WriteFile(convert + "header-cut.wav", wholeRun.substr(0, 30));
  WriteFile(convert + "three-channels.wav", Wav({3, 8, 44100}, Bytes({1, 2, 3})));
  WriteFile(convert + "24-bits.wav", Wav({1, 24, 44100}, Bytes({1, 2, 3})));
  WriteFile(convert + "rate-0.wav", Wav({1, 8, 0}, Bytes({1, 2, 3})));

  const std::vector<std::pair<std::string, std::string>> commandLines = {
      {"run", "in.wav\0out.k58\0-v\0-th8400\0-tl7d00"s},
      {"help", "in.wav\0out.k58\0-h"s},
      {"one-argument", "in.wav"s},
      {"level-error", "in.wav\0out.k58\0-tl8000\0-th7000"s},
      {"odd-options", "/home/in.wav\0/proj/out\0-prev\0-thG\0/TL1g\0-px\0-\0/"s},
  };
  for (const auto& [name, bytes] : commandLines) WriteFile(options + name, bytes);
  return 0;
}
