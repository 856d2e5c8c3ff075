#include "analysis/level_map.h"

namespace pulsecut {

void LevelMap::AcceptEverywhere(uint32_t mean) {
  if (steps_.empty()) {  // every start its own step, merged as they meet
    for (uint32_t level = first_; level <= last_; ++level) {
      const uint32_t end = (level + mean) >> 1;
      if (steps_.empty() || steps_.back().end != end) steps_.push_back({level, end});
    }
    return;
  }
  size_t kept = 0;
  for (const Step& step : steps_) {
    const uint32_t end = (step.end + mean) >> 1;
    if (kept > 0 && steps_[kept - 1].end == end) continue;
    steps_[kept++] = {step.start, end};
  }
  steps_.resize(kept);
}

void LevelMap::After(const LevelMap& earlier) {
  if (steps_.empty()) {  // this stretch moves nothing
    *this = earlier;
    return;
  }
  std::vector<Step> steps;
  auto add = [&](uint32_t start, uint32_t level) {
    const uint32_t end = Apply(level);
    if (steps.empty() || steps.back().end != end) steps.push_back({start, end});
  };
  if (earlier.steps_.empty()) {
    // `earlier` moves nothing: this map over its starts, step by step.
    add(earlier.first_, earlier.first_);
    for (const Step& step : steps_) {
      if (step.start > earlier.first_ && step.start <= earlier.last_) add(step.start, step.start);
    }
  } else {
    for (const Step& step : earlier.steps_) add(step.start, step.end);
  }
  steps_ = std::move(steps);
  first_ = earlier.first_;
  last_ = earlier.last_;
}

}  // namespace pulsecut
