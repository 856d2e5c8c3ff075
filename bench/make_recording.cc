// Writes a recording of the synthetic tape signal of a given size, for the benchmark.
//   make_recording OUT.wav MEBIBYTES CHANNELS BITS [RATE]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../examples/tape_signal.h"

int main(int argc, char** argv) {
  if (argc < 5 || argc > 6) {
    std::fputs("usage: make_recording OUT.wav MEBIBYTES CHANNELS BITS [RATE]\n", stderr);
    return 2;
  }
  const uint64_t bytes = std::strtoull(argv[2], nullptr, 10) << 20;
  const auto channels = static_cast<uint16_t>(std::atoi(argv[3]));
  const auto bits = static_cast<uint16_t>(std::atoi(argv[4]));
  tape_signal::Options options;
  if (argc == 6) options.sampleRate = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));
  const uint64_t frameSize = uint64_t{channels} * bits / 8;
  if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || bytes < 64) {
    std::fputs("make_recording: 1 or 2 channels, 8 or 16 bits, at least 1 MiB\n", stderr);
    return 2;
  }
  const uint64_t frames = (bytes - 44) / frameSize;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  // The RIFF length fields are 32 bits; beyond 4 GiB they are cut, which the converter ignores.
  const std::string header = pulsecut::CanonicalHeader(channels, bits, options.sampleRate,
                                                       static_cast<uint32_t>(frames * frameSize));
  std::fwrite(header.data(), 1, header.size(), out);
  tape_signal::Generator generator(options);
  std::string block;
  for (uint64_t i = 0; i < frames; ++i) {
    pulsecut::AppendFrame(block, tape_signal::Quantize(generator.Next(), bits), channels, bits);
    if (block.size() >= (1u << 20)) {
      std::fwrite(block.data(), 1, block.size(), out);
      block.clear();
    }
  }
  std::fwrite(block.data(), 1, block.size(), out);
  if (std::ferror(out) || std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
