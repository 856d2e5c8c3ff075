// Drawing what the conversion does: the values of a window of the recording, the thresholds in
// force, the comparator's output and the stretches it completes, as a self-contained SVG; and an
// image's duration histogram.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/options.h"
#include "k58/stretches.h"

namespace pulsecut::k58 {

// One window of a conversion, as the conversion itself saw it.
struct PlotWindow {
  std::string title;  // the file, the options and the levels or the survey
  uint32_t sampleRate = 0;
  double firstFrame = 0;         // the recording's frame of the conversion's first value
  uint64_t first = 0;            // index of the window's first value, counted from the first value
  std::vector<uint16_t> values;  // after reading, channel choice and phase
  std::vector<bool> high;        // the comparator's output after each value
  std::vector<double> upper;     // the thresholds in force at each value, on the value scale
  std::vector<double> lower;
  // The stretches that end in the window: the value that ends each (counted from the first
  // value), its length in values and its ticks in the image.
  struct Stretch {
    uint64_t end;
    uint64_t values;
    int64_t ticks;
    bool high;
  };
  std::vector<Stretch> stretches;
  std::vector<double> imageEdges;  // --image: where its edges fall, in seconds
};

// Runs the reading, the first pass and the comparator of `settings` (pulsecut's own code) over
// `recording` up to the end of the window [atSeconds, atSeconds + spanMs) on the recording's
// time axis (frames from the start of its data). Returns false with `error` when the recording
// cannot be read or the window starts past its end.
// `pastEnd` tells the second case from the first.
bool CollectWindow(const std::string& recording, const Settings& settings, double atSeconds,
                   double spanMs, PlotWindow& window, std::string& error, bool& pastEnd);

// The window as an SVG 1.1 document of 1200 x 600.
std::string RenderWindowSvg(const PlotWindow& window);

// The duration histogram of each state as bars, with its peaks labelled.
std::string RenderHistogramSvg(const std::string& title, const Histogram& histogram);

// The vertical position of a value on the plot's 16-bit scale (exposed for tests).
double ValueY(double value);

}  // namespace pulsecut::k58
