// Writes the example recording examples/tape.wav: 3 seconds of the synthetic tape signal
// (a silence, a 2400 Hz leader, a burst of 1200/2400 Hz bits), 8-bit mono at 44100 Hz.
//   make_example OUT.wav
#include <cstdio>

#include "tape_signal.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_example OUT.wav\n", stderr);
    return 2;
  }
  const tape_signal::Options options;
  const std::string wav = tape_signal::Recording(1, 8, 3 * uint64_t{options.sampleRate}, options);
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(wav.data(), 1, wav.size(), out) != wav.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
