#include "tape/tape_image.h"

#include <cerrno>
#include <vector>

namespace pulsecut {

PassStatus ConvertToImage(WaveFile& source, std::FILE* destination, SchmittTrigger& trigger,
                          bool phaseNormal) {
  if (!IsSupported(source.header())) return {PassStatus::kSourceFormat, 0};
  const StretchClock clock(source.header().sampleRate);
  ImageWriter writer(destination);
  writer.WriteHeader();
  if (!source.Seek(kDataOffset)) return {PassStatus::kSourceSeek, source.ErrorNumber()};

  std::vector<uint16_t> levels(size_t{1} << 15);
  uint64_t stretch = 0;  // samples of the current stretch seen so far
  while (!source.AtEnd()) {
    const size_t count = source.ReadLevels(levels.data(), levels.size());
    if (source.HasError()) return {PassStatus::kSourceRead, source.ErrorNumber()};
    if (count == 0) break;
    if (!phaseNormal) InvertPhase(levels.data(), count);

    size_t next = 0;
    while (next < count) {
      const bool state = trigger.state();
      const size_t change = trigger.ProcessUntilChange(levels.data() + next, count - next);
      if (change == count - next) {
        stretch += change;
        break;
      }
      stretch += change + 1;
      writer.WriteStretch(state, clock.Ticks(stretch));
      stretch = 0;
      next += change + 1;
    }
    if (writer.failed()) return {PassStatus::kDestinationWrite, writer.errorNumber()};
  }
  if (!writer.Flush()) return {PassStatus::kDestinationWrite, writer.errorNumber()};
  return {};
}

}  // namespace pulsecut
