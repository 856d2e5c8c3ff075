// The exact effect of a stretch of level updates on one record level.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace pulsecut {

// The exact effect of a stretch of windows on one level: for each level the stretch may start
// with, the level it ends with. Each update (level + mean) >> 1 is monotone in the level, so
// the map is a non-decreasing step function, kept as its steps in order. An update at least
// halves the spread of the end levels, so a few dozen accepted windows leave one or two steps.
// (Not always one: a long run of one mean m keeps the ends m - 1 and m apart, as both are fixed
// points of the update; which one the level takes depends on where it came from.)
class LevelMap {
 public:
  // The map of a stretch that moves nothing, over the starts first..last.
  LevelMap(uint32_t first, uint32_t last) : first_(first), last_(last) {}

  // Appends an accepted window with mean `mean` to the stretch: the level becomes
  // (level + mean) >> 1.
  void Accept(uint32_t mean) {
    if (steps_.size() == 1) {
      steps_[0].end = (steps_[0].end + mean) >> 1;
    } else {
      AcceptEverywhere(mean);
    }
  }

  // Puts the stretch of `earlier` in front of this one; the end levels of `earlier` must be
  // starts of this map. The map then takes the starts of `earlier`.
  void After(const LevelMap& earlier);

  // The end level of the start `level`, which must be one of the map's starts.
  uint32_t Apply(uint32_t level) const {
    if (steps_.empty()) return level;
    const auto after =
        std::upper_bound(steps_.begin(), steps_.end(), level,
                         [](uint32_t l, const Step& step) { return l < step.start; });
    return std::prev(after)->end;
  }

  // Whether all starts within first..last that the map has end at the same level.
  bool ConstantWithin(uint32_t first, uint32_t last) const {
    return Apply(std::max(first, first_)) == Apply(std::min(last, last_));
  }

  bool Constant() const { return steps_.empty() ? first_ == last_ : steps_.size() == 1; }
  uint32_t LowestEnd() const { return steps_.empty() ? first_ : steps_.front().end; }
  uint32_t HighestEnd() const { return steps_.empty() ? last_ : steps_.back().end; }

 private:
  struct Step {
    uint32_t start;  // the step runs from here to the next step's start
    uint32_t end;
  };
  void AcceptEverywhere(uint32_t mean);

  uint32_t first_;           // the first start
  uint32_t last_;            // the last start
  std::vector<Step> steps_;  // none while the map moves nothing: most pieces move one level only
};

}  // namespace pulsecut
