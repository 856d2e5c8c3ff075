// End to end: k58 plot draws what the conversion does.
#include "k58/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "program_test.h"
#include "tape/image_reader.h"
#include "wav_fixture.h"

namespace pulsecut {
namespace {

using testing::Outcome;

class PlotTest : public testing::ProgramTest {
 protected:
  // xmllint's verdict on a file, where xmllint is installed (CI installs it).
  void ExpectWellFormed(const std::string& name) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) return;
    EXPECT_EQ(std::system(("xmllint --noout '" + Path(name) + "'").c_str()), 0) << name;
  }
};

// The points of the polyline of `kind` in `svg`.
std::vector<std::pair<double, double>> Points(const std::string& svg, const std::string& kind) {
  const size_t at = svg.find("<polyline class=\"" + kind + "\"");
  std::vector<std::pair<double, double>> points;
  if (at == std::string::npos) return points;
  const size_t from = svg.find("points=\"", at) + 8;
  std::istringstream in(svg.substr(from, svg.find('"', from) - from));
  double x = 0, y = 0;
  char comma = 0;
  while (in >> x >> comma >> y) points.push_back({x, y});
  return points;
}

size_t Changes(const std::vector<std::pair<double, double>>& points) {
  size_t changes = 0;
  for (size_t i = 1; i < points.size(); ++i) changes += points[i].second != points[i - 1].second;
  return changes;
}

// The square trace changes exactly where the image of the same conversion has its edges: the
// classic and the adaptive comparator, both readings, at the start, in the middle and at the
// end of the recording.
TEST_F(PlotTest, TheSquareTraceHasTheImagesEdges) {
  testing::WriteFile(Path("tape.wav"), testing::ReadFile(std::string(EXAMPLES_DIR) + "/tape.wav"));
  const double rate = 44100;
  const double duration = 132300 / rate;
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"-s"}, {"-a"}, {"-s", "-a", "-pr"}}) {
    std::vector<std::string> convert{"tape.wav", "tape.k58"};
    convert.insert(convert.end(), options.begin(), options.end());
    ASSERT_EQ(Pulsecut(convert).status, 0);
    const ImageReadResult image = ReadImageFile(Path("tape.k58"));
    ASSERT_TRUE(image.ok);
    const auto stretches = k58::ToStretches(image.image.records);
    const auto counts = k58::SampleCounts(stretches, 44100);
    const bool standard = !options.empty() && options[0] == "-s";
    const double first = standard ? 0 : 14;  // the classic reading starts 14 frames in
    for (const double at : {0.0, 0.6, duration - 0.004}) {
      std::vector<std::string> plot{"plot",   "tape.wav", "p.svg", "--at", std::to_string(at),
                                    "--span", "5"};
      plot.insert(plot.end(), options.begin(), options.end());
      const Outcome o = K58(plot);
      ASSERT_EQ(o.status, 0) << o.err;
      ExpectWellFormed("p.svg");
      // The window's values, counted from the conversion's first; an edge between two of them
      // shows as a change of the trace.
      const double begin = std::max(0.0, std::ceil(std::stod(std::to_string(at)) * rate - first));
      const double end = std::min(std::ceil((std::stod(std::to_string(at)) + 0.005) * rate - first),
                                  132300.0 - first);
      size_t inside = 0;
      double values = 0;
      for (const auto& c : counts) {
        ASSERT_TRUE(c.has_value());
        values += static_cast<double>(*c);
        inside += values > begin && values < end;
      }
      EXPECT_EQ(Changes(Points(Read("p.svg"), "output")), inside)
          << "at " << at << " with"
          << (options.empty() ? std::string(" no options") : " " + options[0]);
    }
  }
}

// The classic thresholds sit where the levels put them: -th9000 -tl7000 give 0x8800 and 0x7800.
TEST_F(PlotTest, TheThresholdsAreDrawnWhereTheLevelsPutThem) {
  testing::WriteFile(Path("tape.wav"), testing::ReadFile(std::string(EXAMPLES_DIR) + "/tape.wav"));
  ASSERT_EQ(K58({"plot", "tape.wav", "p.svg", "--at", "1", "-th9000", "-tl7000"}).status, 0);
  const std::string svg = Read("p.svg");
  for (const auto& [kind, value] : {std::pair{"upper", 0x8800}, std::pair{"lower", 0x7800}}) {
    const auto points = Points(svg, kind);
    ASSERT_FALSE(points.empty()) << kind;
    for (const auto& p : points) ASSERT_NEAR(p.second, k58::ValueY(value), 0.006) << kind;
  }
  EXPECT_NE(svg.find("levels 0x9000 / 0x7000"), std::string::npos);
}

TEST_F(PlotTest, AWindowPastTheEndIsAClearError) {
  testing::WriteFile(Path("tape.wav"), testing::ReadFile(std::string(EXAMPLES_DIR) + "/tape.wav"));
  const Outcome o = K58({"plot", "tape.wav", "p.svg", "--at", "3.5"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err,
            "k58 plot: the window starts at 3.500000 s, past the end of the recording (3.000023 "
            "s)\n");
  EXPECT_EQ(K58({"plot", "tape.wav", "p.svg"}).status, 2);  // no --at
}

TEST_F(PlotTest, TheHistogramLabelsThePulseClasses) {
  testing::WriteFile(Path("tape.wav"), testing::ReadFile(std::string(EXAMPLES_DIR) + "/tape.wav"));
  ASSERT_EQ(Pulsecut({"tape.wav", "tape.k58"}).status, 0);
  ASSERT_EQ(K58({"plot", "--histogram", "tape.k58", "h.svg"}).status, 0);
  ExpectWellFormed("h.svg");
  // 2400 Hz half-waves last about 208 us, 1200 Hz ones about 417 us.
  const std::string svg = Read("h.svg");
  EXPECT_NE(svg.find("class=\"peak\""), std::string::npos);
  EXPECT_NE(svg.find(">190 &#181;s<"), std::string::npos) << svg.substr(0, 2000);
  EXPECT_NE(svg.find(">410 &#181;s<"), std::string::npos);
}

// The picture in the README is what the documented command draws today.
TEST_F(PlotTest, TheReadmePictureIsUpToDate) {
  // Run as documented, from a folder with the project's example recording in examples/.
  std::filesystem::create_directory(Path("examples"));
  std::filesystem::copy_file(std::string(EXAMPLES_DIR) + "/tape.wav", Path("examples/tape.wav"));
  const Outcome o = K58({"plot", "examples/tape.wav", "plot.svg", "--at", "0.6", "--span", "5"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Read("plot.svg"), testing::ReadFile(std::string(SOURCE_DIR) + "/doc/plot.svg"))
      << "regenerate it: ./build/k58 plot examples/tape.wav doc/plot.svg --at 0.6 --span 5";
}

}  // namespace
}  // namespace pulsecut
