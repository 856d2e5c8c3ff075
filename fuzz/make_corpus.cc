// Writes the seed corpus of the fuzz targets from the test fixtures:
//   make_corpus DIR        (writes DIR/convert/*, DIR/options/* and DIR/riff/*)
#include <cstdio>
#include <string>
#include <vector>

#include "../examples/tape_signal.h"
#include "wav_fixture.h"

namespace {

using pulsecut::testing::Bytes;
using pulsecut::testing::Chunk;
using pulsecut::testing::Format;
using pulsecut::testing::Layout;
using pulsecut::testing::StandardWav;
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
  const std::string riff = std::string(argv[1]) + "/riff/";
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

  // Standard layouts: every encoding, chunks around the data, extensible, RF64.
  const std::string signed16 = pulsecut::testing::Signed16({0, 32767, -32768, -1, 1, 100});
  Layout plain;
  WriteFile(riff + "signed16.wav", StandardWav(plain, signed16));
  Layout chunks;
  chunks.channels = 2;
  chunks.beforeFmt = {Chunk("JUNK", std::string(28, '\0'))};
  chunks.beforeData = {Chunk("LIST", "INFOISFT\x05\0\0\0odd!!")};
  chunks.afterData = {Chunk("id3 ", "tag")};
  WriteFile(riff + "chunks.wav", StandardWav(chunks, signed16));
  WriteFile(convert + "standard-chunks.wav",
            StandardWav(chunks, Tape({2, 16, 44100}, 800).substr(58)));
  Layout wide;
  wide.rf64 = true;
  wide.extensible = true;
  wide.formatTag = 3;
  wide.bitsPerSample = 32;
  WriteFile(riff + "rf64-float.wav",
            StandardWav(wide, pulsecut::testing::Float32({0.0f, 1.0f, -1.0f, 0.99999f, 0.5f})));
  Layout deep;
  deep.bitsPerSample = 24;
  deep.channels = 3;
  deep.dataFirst = true;
  WriteFile(riff + "data-first-24.wav",
            StandardWav(deep, pulsecut::testing::Signed24({8388607, -8388608, 0, 1, -1, 256})));
  Layout doubles;
  doubles.formatTag = 3;
  doubles.bitsPerSample = 64;
  WriteFile(convert + "float64.wav",
            StandardWav(doubles, pulsecut::testing::Float64({0.5, 0.5, -0.5, -0.5, 0.7, 0.7})));

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
