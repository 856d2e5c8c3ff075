#include "k58/plot.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/level_analyzer.h"
#include "tape/adaptive_comparator.h"
#include "tape/image_format.h"
#include "tape/image_reader.h"
#include "tape/schmitt_trigger.h"
#include "tape/stretch_clock.h"
#include "tape/tape_image.h"
#include "wav/wave_file.h"

namespace pulsecut::k58 {
namespace {

// The page: 1200 x 600, the signal above the comparator's output, the time axis below.
constexpr double kWidth = 1200;
constexpr double kHeight = 600;
constexpr double kLeft = 130;  // room for the value axis' labels
constexpr double kRight = 1180;
constexpr double kSignalTop = 70;
constexpr double kSignalBottom = 410;
constexpr double kOutputHigh = 440;
constexpr double kOutputLow = 475;
constexpr double kStretchText = 497;
constexpr double kImageMarks = 522;
constexpr double kAxis = 540;
// Samples are drawn as dots too when each has at least this many pixels.
constexpr double kDotPixels = 4;
// A stretch's duration is written beside it when it is at least this wide, on two alternating
// rows so that neighbours do not overlap.
constexpr double kTextPixels = 34;
// Colours (the usual categorical palette): signal, thresholds, output, runts, image marks.
constexpr char kSignalColour[] = "#1f77b4";
constexpr char kUpperColour[] = "#2ca02c";
constexpr char kLowerColour[] = "#9467bd";
constexpr char kOutputColour[] = "#333333";
constexpr char kRuntColour[] = "#d62728";
constexpr char kImageColour[] = "#ff7f0e";

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

std::string Hex(double v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(std::lround(v)));
  return text;
}

// Text as XML character data.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  return out;
}

std::string Header(const std::string& title) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
         Number(kWidth) + "\" height=\"" + Number(kHeight) + "\" viewBox=\"0 0 " + Number(kWidth) +
         " " + Number(kHeight) + "\" font-family=\"sans-serif\" font-size=\"12\">\n<title>" +
         Escaped(title) + "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

std::string Options(const Settings& s) {
  std::string text;
  if (s.reading.standard) text += " -s";
  if (s.reading.channel == ChannelChoice::kFirst) text += " -cl";
  if (s.reading.channel == ChannelChoice::kSecond) text += " -cr";
  if (!s.phaseNormal) text += " -pr";
  if (s.adaptive) text += " -a";
  return text;
}

}  // namespace

double ValueY(double value) {
  return kSignalTop + (65535.0 - value) / 65535.0 * (kSignalBottom - kSignalTop);
}

bool CollectWindow(const std::string& recording, const Settings& settings, double atSeconds,
                   double spanMs, PlotWindow& w, std::string& error, bool& pastEnd) {
  pastEnd = false;
  WaveFile file;
  if (!file.Open(recording.c_str(), ModeRead | ModeBinary)) {
    error = recording + ": " + std::strerror(file.ErrorNumber());
    return false;
  }
  if (const Status chosen = file.ChooseReading(settings.reading); !chosen.ok()) {
    error = recording + ": " + chosen.message();
    return false;
  }
  const uint32_t rate = file.header().sampleRate;
  w.sampleRate = rate;
  w.firstFrame = file.FirstValueFrame();
  const uint64_t total = file.CountValues();
  const double from = std::ceil(atSeconds * rate - w.firstFrame);
  const double to = std::ceil((atSeconds + spanMs / 1000.0) * rate - w.firstFrame);
  const uint64_t begin = from > 0 ? static_cast<uint64_t>(from) : 0;
  uint64_t end = to > 0 ? static_cast<uint64_t>(to) : 0;
  if (total != 0 && begin >= total) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the window starts at %.6f s, past the end of the recording (%.6f s)", atSeconds,
                  (static_cast<double>(total) + w.firstFrame) / rate);
    error = text;
    pastEnd = true;
    return false;
  }
  if (total != 0) end = std::min(end, total);
  w.first = begin;
  w.title = recording + Options(settings);

  // The first pass, as pulsecut runs it.
  uint32_t highLevel = settings.highLevel;
  uint32_t lowLevel = settings.lowLevel;
  AdaptiveStart start;
  if (settings.adaptive) {
    if (const Status surveyed = SurveyRecording(file, settings.phaseNormal, &start);
        !surveyed.ok()) {
      error = recording + ": " + surveyed.message();
      return false;
    }
    w.title += "   noise " + Hex(static_cast<double>(start.noise)) + ", swing " +
               Hex(static_cast<double>(start.amplitude));
  } else {
    if (highLevel == kDefaultHighLevel && lowLevel == kDefaultLowLevel) {
      uint32_t minDeviation = 0;
      const Status analysed =
          LevelAnalyzer().Analyze(recording.c_str(), &minDeviation, &highLevel, &lowLevel,
                                  settings.phaseNormal, settings.reading);
      if (!analysed.ok()) {
        error = recording + ": " + analysed.message();
        return false;
      }
    }
    w.title += "   levels " + Hex(highLevel) + " / " + Hex(lowLevel);
  }

  // The comparator from the first value to the window's end.
  if (!file.SeekFrame(0)) {
    error = recording + ": " + std::strerror(file.ErrorNumber());
    return false;
  }
  const StretchClock clock(rate);
  SchmittTrigger trigger(highLevel, lowLevel);
  AdaptiveComparator adaptive(start, rate);
  constexpr size_t kGroup = AdaptiveComparator::kGroup;
  bool state = false;
  uint64_t stretchStart = 0;
  uint64_t index = 0;
  std::vector<uint16_t> block(size_t{1} << 16);
  std::vector<uint64_t> moves;
  // One value's outcome: the thresholds in force and the output after it. The value at which
  // the output changes still counts in the stretch it ends: it is drawn at the old level.
  auto take = [&](uint16_t value, bool next, double upper, double lower) {
    if (index >= begin && index < end) {
      w.values.push_back(value);
      w.high.push_back(state);
      w.upper.push_back(upper);
      w.lower.push_back(lower);
    }
    if (next != state) {
      if (index >= begin && index < end) {
        w.stretches.push_back(
            {index, index + 1 - stretchStart, clock.Ticks(index + 1 - stretchStart), state});
      }
      stretchStart = index + 1;
      state = next;
    }
    ++index;
  };
  // The adaptive comparator's groups: fed one at a time, so that its thresholds are those of
  // the group.
  auto group = [&](const uint16_t* values, size_t count, bool last) {
    moves.clear();
    adaptive.Feed(values, count, moves);
    if (last) adaptive.Finish(moves);
    const double upper = static_cast<double>(adaptive.upper()) + 0x8000;
    const double lower = static_cast<double>(adaptive.lower()) + 0x8000;
    const uint64_t mask = moves.empty() ? 0 : moves[0];
    bool next = state;
    for (size_t i = 0; i < count; ++i) {
      if ((mask >> i) & 1) next = !next;
      take(values[i], next, upper, lower);
    }
  };
  // Up to the window, the conversion's own fast passes: the classic comparator's masks, or the
  // adaptive comparator's whole groups.
  ComparatorPosition position;
  const Status advanced =
      settings.adaptive ? AdvanceComparator(file, adaptive, settings.phaseNormal,
                                            begin / kGroup * kGroup, position)
                        : AdvanceComparator(file, trigger, settings.phaseNormal, begin, position);
  if (!advanced.ok()) {
    error = recording + ": " + advanced.message();
    return false;
  }
  state = position.high;
  stretchStart = position.stretchStart;
  index = position.next;
  trigger.set_state(state);
  const uint64_t stop = settings.adaptive ? (end + kGroup - 1) / kGroup * kGroup : end;
  while (index < stop) {
    const size_t n = file.ReadValues(block.data(), block.size());
    if (file.HasError()) {
      error = recording + ": " + std::strerror(file.ErrorNumber());
      return false;
    }
    if (n == 0) break;
    if (!settings.phaseNormal) InvertPhase(block.data(), n);
    if (settings.adaptive) {
      for (size_t at = 0; at < n && index < stop; at += kGroup) {
        const size_t count = std::min(kGroup, n - at);
        group(block.data() + at, count, count < kGroup);
      }
    } else {
      const auto upper = static_cast<double>(trigger.upper());
      const auto lower = static_cast<double>(trigger.lower());
      for (size_t i = 0; i < n && index < stop; ++i) {
        take(block[i], trigger.Process(block[i]), upper, lower);
      }
    }
  }
  return true;
}

std::string RenderWindowSvg(const PlotWindow& w) {
  const double rate = w.sampleRate;
  const size_t n = w.values.size();
  const double t0 = (w.firstFrame + static_cast<double>(w.first)) / rate;
  const double span = std::max<double>(static_cast<double>(n), 1) / rate;
  auto x = [&](double seconds) { return kLeft + (seconds - t0) / span * (kRight - kLeft); };
  auto valueX = [&](uint64_t k) {  // the left edge of value k's sample period
    return x((w.firstFrame + static_cast<double>(k)) / rate);
  };
  std::string svg = Header(w.title);
  svg += "<text x=\"" + Number(kLeft) + "\" y=\"22\" font-size=\"14\">" + Escaped(w.title) +
         "</text>\n";
  // The legend.
  struct Key {
    const char* colour;
    const char* name;
  };
  double legendX = kLeft;
  for (const Key& k : {Key{kSignalColour, "values"}, Key{kUpperColour, "upper threshold"},
                       Key{kLowerColour, "lower threshold"}, Key{kOutputColour, "output"},
                       Key{kRuntColour, "runt (1-2 samples)"}, Key{kImageColour, "image edges"}}) {
    svg += "<rect x=\"" + Number(legendX) + "\" y=\"34\" width=\"12\" height=\"12\" fill=\"" +
           k.colour + "\"/><text x=\"" + Number(legendX + 16) + "\" y=\"45\">" + k.name +
           "</text>\n";
    legendX += 170;
  }
  // The value axis: the 16-bit scale with the centre marked.
  for (const double v : {0.0, 16384.0, 32768.0, 49152.0, 65535.0}) {
    svg += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kRight) + "\" y1=\"" +
           Number(ValueY(v)) + "\" y2=\"" + Number(ValueY(v)) + "\" stroke=\"#dddddd\"" +
           (v == 32768.0 ? " stroke-dasharray=\"6,4\" stroke-width=\"1.5\"" : "") + "/>\n";
    svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(ValueY(v) + 4) +
           "\" text-anchor=\"end\">" + Hex(v) + (v == 32768.0 ? " centre" : "") + "</text>\n";
  }
  // The values: a line, dots when there is room, or each pixel's range when they crowd.
  const double pixels = kRight - kLeft;
  std::string line;
  if (static_cast<double>(n) > 2 * pixels) {
    for (double px = 0; px < pixels; ++px) {
      const auto a = static_cast<size_t>(px / pixels * static_cast<double>(n));
      const auto b =
          std::max(a + 1, static_cast<size_t>((px + 1) / pixels * static_cast<double>(n)));
      const auto [lo, hi] =
          std::minmax_element(w.values.begin() + static_cast<ptrdiff_t>(a),
                              w.values.begin() + static_cast<ptrdiff_t>(std::min(b, n)));
      line += Number(kLeft + px) + "," + Number(ValueY(*hi)) + " " + Number(kLeft + px) + "," +
              Number(ValueY(*lo)) + " ";
    }
  } else {
    for (size_t k = 0; k < n; ++k) {
      line += Number(valueX(w.first + k)) + "," + Number(ValueY(w.values[k])) + " ";
    }
  }
  svg += "<polyline class=\"values\" fill=\"none\" stroke=\"" + std::string(kSignalColour) +
         "\" stroke-width=\"1.2\" points=\"" + line + "\"/>\n";
  if (n > 0 && pixels / static_cast<double>(n) >= kDotPixels) {
    for (size_t k = 0; k < n; ++k) {
      svg += "<circle cx=\"" + Number(valueX(w.first + k)) + "\" cy=\"" +
             Number(ValueY(w.values[k])) + "\" r=\"2\" fill=\"" + kSignalColour + "\"/>\n";
    }
  }
  // The thresholds in force at each value: steps.
  struct Threshold {
    const char* name;
    const char* colour;
    const std::vector<double>* levels;
  };
  for (const Threshold& t :
       {Threshold{"upper", kUpperColour, &w.upper}, Threshold{"lower", kLowerColour, &w.lower}}) {
    const char* name = t.name;
    const char* colour = t.colour;
    const std::vector<double>* levels = t.levels;
    std::string steps;
    for (size_t k = 0; k < n; ++k) {
      const double y = ValueY(std::clamp((*levels)[k], 0.0, 65535.0));
      steps += Number(valueX(w.first + k)) + "," + Number(y) + " " +
               Number(valueX(w.first + k + 1)) + "," + Number(y) + " ";
    }
    svg += "<polyline class=\"" + std::string(name) + "\" fill=\"none\" stroke=\"" + colour +
           "\" stroke-width=\"1.5\" points=\"" + steps + "\"><title>" + name + " threshold" +
           (n > 0 ? " " + Hex((*levels)[0]) : "") + "</title></polyline>\n";
  }
  // The comparator's output, a square trace: each value at the level of the stretch it counts
  // in, so the trace changes where the image's edges are.
  std::string square;
  for (size_t k = 0; k < n; ++k) {
    const double y = w.high[k] ? kOutputHigh : kOutputLow;
    square += Number(valueX(w.first + k)) + "," + Number(y) + " " +
              Number(valueX(w.first + k + 1)) + "," + Number(y) + " ";
  }
  svg += "<polyline class=\"output\" fill=\"none\" stroke=\"" + std::string(kOutputColour) +
         "\" stroke-width=\"2\" points=\"" + square + "\"/>\n";
  svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(kOutputHigh + 4) +
         "\" text-anchor=\"end\">high</text><text x=\"" + Number(kLeft - 6) + "\" y=\"" +
         Number(kOutputLow + 4) + "\" text-anchor=\"end\">low</text>\n";
  // Each stretch that ends here: its duration (us and ticks) under it where there is room,
  // runts in the warning colour always.
  bool lowerRow = false;
  for (const PlotWindow::Stretch& s : w.stretches) {
    const bool runt = s.values <= 2;
    const double from = std::max(valueX(s.end + 1 - s.values), kLeft);
    const double to = valueX(s.end + 1);
    if (runt || to - from >= kTextPixels) {
      svg += "<text class=\"stretch\" x=\"" + Number((from + to) / 2) + "\" y=\"" +
             Number(kStretchText + (lowerRow ? 11 : 0)) +
             "\" text-anchor=\"middle\" font-size=\"10\" fill=\"" +
             (runt ? kRuntColour : kOutputColour) + "\">" +
             std::to_string(TicksToMicroseconds(s.ticks)) + "&#160;&#181;s/" +
             std::to_string(s.ticks) + "</text>\n";
      lowerRow = !lowerRow;
    }
    if (runt) {
      svg += "<rect x=\"" + Number(from) + "\" y=\"" + Number(kOutputHigh - 6) + "\" width=\"" +
             Number(std::max(to - from, 2.0)) + "\" height=\"" +
             Number(kOutputLow - kOutputHigh + 12) + "\" fill=\"" + kRuntColour +
             "\" fill-opacity=\"0.25\"/>\n";
    }
  }
  for (const double edge : w.imageEdges) {
    svg += "<line class=\"image\" x1=\"" + Number(x(edge)) + "\" x2=\"" + Number(x(edge)) +
           "\" y1=\"" + Number(kImageMarks - 8) + "\" y2=\"" + Number(kImageMarks + 4) +
           "\" stroke=\"" + kImageColour + "\" stroke-width=\"2\"/>\n";
  }
  // The time axis, in seconds on the recording's own clock.
  svg += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kRight) + "\" y1=\"" + Number(kAxis) +
         "\" y2=\"" + Number(kAxis) + "\" stroke=\"black\"/>\n";
  for (int i = 0; i <= 10; ++i) {
    const double t = t0 + span * i / 10;
    svg += "<line x1=\"" + Number(x(t)) + "\" x2=\"" + Number(x(t)) + "\" y1=\"" + Number(kAxis) +
           "\" y2=\"" + Number(kAxis + 5) + "\" stroke=\"black\"/><text x=\"" + Number(x(t)) +
           "\" y=\"" + Number(kAxis + 18) + "\" text-anchor=\"middle\">" +
           [&] {
             char text[32];
             std::snprintf(text, sizeof text, "%.6f", t);
             return std::string(text);
           }() +
           "</text>\n";
  }
  svg += "<text x=\"" + Number((kLeft + kRight) / 2) + "\" y=\"" + Number(kAxis + 40) +
         "\" text-anchor=\"middle\">time in the recording (s)</text>\n</svg>\n";
  return svg;
}

std::string RenderHistogramSvg(const std::string& title, const Histogram& h) {
  std::string svg = Header(title);
  svg +=
      "<text x=\"" + Number(kLeft) + "\" y=\"22\" font-size=\"14\">" + Escaped(title) + "</text>\n";
  const size_t bins = h.high.size();
  uint64_t most = 1;
  for (size_t i = 0; i < bins; ++i) most = std::max({most, h.high[i], h.low[i]});
  const double width = (kRight - kLeft) / static_cast<double>(std::max<size_t>(bins, 1));
  const double middle = (kSignalTop + kAxis) / 2;
  const double room = middle - kSignalTop - 10;
  for (size_t i = 0; i < bins; ++i) {
    const double x = kLeft + width * static_cast<double>(i);
    const double up = room * static_cast<double>(h.high[i]) / static_cast<double>(most);
    const double down = room * static_cast<double>(h.low[i]) / static_cast<double>(most);
    svg += "<rect class=\"high\" x=\"" + Number(x) + "\" y=\"" + Number(middle - up) +
           "\" width=\"" + Number(width * 0.9) + "\" height=\"" + Number(up) + "\" fill=\"" +
           kSignalColour + "\"/>\n";
    svg += "<rect class=\"low\" x=\"" + Number(x) + "\" y=\"" + Number(middle) + "\" width=\"" +
           Number(width * 0.9) + "\" height=\"" + Number(down) + "\" fill=\"" + kImageColour +
           "\"/>\n";
  }
  svg += "<line x1=\"" + Number(kLeft) + "\" x2=\"" + Number(kRight) + "\" y1=\"" + Number(middle) +
         "\" y2=\"" + Number(middle) + "\" stroke=\"black\"/>\n";
  svg += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(kSignalTop + 20) +
         "\" text-anchor=\"end\">high</text><text x=\"" + Number(kLeft - 6) + "\" y=\"" +
         Number(kAxis - 20) + "\" text-anchor=\"end\">low</text>\n";
  // The microsecond axis and the peaks (pulse classes).
  for (int i = 0; i <= 10; ++i) {
    const double us = static_cast<double>(h.binMicroseconds) * static_cast<double>(bins) * i / 10;
    const double x = kLeft + (kRight - kLeft) * i / 10;
    svg += "<text x=\"" + Number(x) + "\" y=\"" + Number(kAxis + 18) +
           "\" text-anchor=\"middle\">" + std::to_string(std::lround(us)) + "</text>\n";
  }
  svg += "<text x=\"" + Number((kLeft + kRight) / 2) + "\" y=\"" + Number(kAxis + 40) +
         "\" text-anchor=\"middle\">stretch duration (&#181;s), " +
         std::to_string(h.binMicroseconds) + " &#181;s per bar</text>\n";
  for (const int64_t peak : Peaks(h)) {
    const double x =
        kLeft + (kRight - kLeft) * static_cast<double>(peak) /
                    static_cast<double>(h.binMicroseconds * static_cast<int64_t>(bins));
    svg += "<text class=\"peak\" x=\"" + Number(x) + "\" y=\"" + Number(kSignalTop) +
           "\" text-anchor=\"middle\" fill=\"" + kRuntColour + "\">" + std::to_string(peak) +
           " &#181;s</text>\n";
  }
  return svg + "</svg>\n";
}

}  // namespace pulsecut::k58
