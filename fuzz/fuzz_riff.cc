// Fuzz target: arbitrary bytes as a WAVE file for the standard reading alone: the chunk walk,
// the "fmt " parse and the data range. The reading must accept exactly what the reference
// reading accepts and give the same values, whatever the block size of the reads; a stream
// that fails part way must end in a read error, never in a crash or a hang.
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "memory_file.h"
#include "reference.h"
#include "wav/wave_file.h"

using pulsecut::ChannelChoice;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The last byte picks the channel and the block size of the reads, and where the failing
  // stream fails.
  const uint8_t knob = size > 0 ? data[size - 1] : 0;
  const auto choice = static_cast<ChannelChoice>(knob % 3);
  const size_t capacity = size_t{1} + (knob >> 2) * 37u;

  const pulsecut::testing::ReferenceRecording reference =
      pulsecut::testing::ReferenceReadStandard(bytes, choice);
  {
    pulsecut::WaveFile file;
    // A stream that seeks anywhere, as a file does (memory streams refuse to seek beyond their
    // end), and never fails.
    file.Attach(pulsecut::testing::StreamFailingAt(bytes, SIZE_MAX), pulsecut::ModeRead);
    const pulsecut::Status status = file.ChooseReading({true, choice});
    Check(status.ok() == reference.readable, "accepts what the reference accepts");
    if (status.ok()) {
      Check(file.header().sampleRate == reference.sampleRate, "the reference's sample rate");
      Check(file.SeekFrame(0), "seeks to the data");
      std::vector<uint16_t> block(capacity);
      std::vector<uint16_t> values;
      while (const size_t n = file.ReadValues(block.data(), capacity)) {
        Check(n <= capacity, "no more values than asked for");
        values.insert(values.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(n));
        Check(values.size() <= reference.values.size(), "no more values than the reference");
      }
      Check(values == reference.values, "the reference's values");
    } else {
      Check(status.code() == pulsecut::Status::Code::kSourceFormat, "a format error");
      Check(status.message().rfind("Source file format: ", 0) == 0, "the format message");
    }
  }
  {
    // The same bytes from a stream whose reads fail from some offset on.
    pulsecut::WaveFile file;
    file.Attach(pulsecut::testing::StreamFailingAt(bytes, size_t{knob} * 7u), pulsecut::ModeRead);
    const pulsecut::Status status = file.ChooseReading({true, choice});
    if (status.ok() && file.SeekFrame(0)) {
      std::vector<uint16_t> block(capacity);
      while (file.ReadValues(block.data(), capacity) > 0) {
      }
    }
  }
  return 0;
}
