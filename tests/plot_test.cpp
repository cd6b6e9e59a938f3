// The plot frame: the calls it makes, the picture they give, and the mapping
// of world points to pixels with its 16-bit checks.
#include "plot/syskord.hpp"

#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>

#include "graph/graph.hpp"
#include "plot/curve_pen.hpp"
#include "support/test_support.hpp"

namespace {

using namespace zanfel::testing;
using zanfel::Frame;
using zanfel::INT16;
using zanfel::REAL;

// The golden log's frame: everything up to the second solid-line selection.
std::string GoldenFrame(const std::string &program) {
  std::istringstream in(Golden(program, "plot.log"));
  std::string line, frame;
  int styles = 0;
  while (styles < 2 && std::getline(in, line)) {
    frame += line + "\n";
    styles += line == "SetLineStyle 0 0 1";
  }
  return frame;
}

std::string RecordedFrame(INT16 MX1, INT16 MX2, INT16 MY1, INT16 MY2, REAL XI, REAL YI,
                          bool check) {
  NoDisplay();
  const TempDir dir;
  const std::string log = dir.File("plot.log");
  graph::RecordCallsTo(log);
  Frame f;
  zanfel::SYSKORD(f, MX1, MX2, MY1, MY2, XI, YI, check);
  graph::RecordCallsTo("");
  return ReadFile(log);
}

TEST(Syskord, ReproducesTheGoldenFrames) {
  std::string a1 = GoldenFrame("shoot_a1");
  ASSERT_GT(a1.size(), 500u);
  EXPECT_EQ(RecordedFrame(0, 4, -4, 4, 1.0L, 1.0L, true), a1);
  EXPECT_EQ(RecordedFrame(1, 3, -5, 2, 0.5L, 1.0L, false), GoldenFrame("shoot_b1"));
  EXPECT_EQ(RecordedFrame(0, 5, -5, 1, 1.0L, 2.0L, false), GoldenFrame("shoot_c2"));
}

bool InkIn(int x0, int y0, int width, int height) {
  for (int y = y0; y < y0 + height; ++y)
    for (int x = x0; x < x0 + width; ++x)
      if (graph::CanvasPixel(x, y) == 15)
        return true;
  return false;
}

TEST(Syskord, DrawsTheRuledFrameOfShootA1) {
  NoDisplay();
  Frame f;
  zanfel::SYSKORD(f, 0, 4, -4, 4, 1.0L, 1.0L);
  EXPECT_EQ(f.X0, 60);
  EXPECT_EQ(f.Y0, 30);
  EXPECT_EQ(f.MX, 129.75L);
  EXPECT_EQ(f.MY, 52.375L);

  const int columns[] = {60, 190, 320, 449, 579};
  const int rows[] = {30, 82, 135, 187, 240, 292, 344, 397, 449};
  for (int c : columns) {
    for (int y = 30; y <= 449; ++y)
      ASSERT_EQ(graph::CanvasPixel(c, y), 15) << c << "," << y;
    EXPECT_EQ(graph::CanvasPixel(c, 29), 0) << c;
    EXPECT_EQ(graph::CanvasPixel(c, 450), 0) << c;
    EXPECT_EQ(graph::CanvasPixel(c + 1, 100), 0) << c;
    EXPECT_TRUE(InkIn(c - 2, 10, 24, 8)) << "label of column " << c;
  }
  for (int r : rows) {
    for (int x = 60; x <= 579; ++x)
      ASSERT_EQ(graph::CanvasPixel(x, r), 15) << x << "," << r;
    EXPECT_EQ(graph::CanvasPixel(59, r), 0) << r;
    EXPECT_EQ(graph::CanvasPixel(580, r), 0) << r;
    EXPECT_EQ(graph::CanvasPixel(100, r + 1), 0) << r;
    EXPECT_TRUE(InkIn(15, r, 32, 8)) << "label of row " << r;
  }
  EXPECT_TRUE(InkIn(589, 50, 8, 8)); // "P"
  EXPECT_TRUE(InkIn(80, 459, 8, 8)); // "X"
  // Nothing but grid and labels: the inside of a cell and the margins are
  // background, shown blue.
  EXPECT_FALSE(InkIn(61, 31, 129, 51));
  EXPECT_FALSE(InkIn(0, 0, 15, 480));
  EXPECT_FALSE(InkIn(601, 0, 39, 480));
  EXPECT_FALSE(InkIn(0, 467, 640, 13));
  EXPECT_EQ(graph::CanvasColour(100, 100), 0x0000AAu);
  EXPECT_EQ(graph::CanvasColour(0, 479), 0x0000AAu);
  EXPECT_EQ(graph::CanvasColour(320, 240), 0xFFFFFFu);
}

TEST(Syskord, MapsWorldPointsToPixels) {
  NoDisplay();
  Frame f;
  zanfel::SYSKORD(f, 1, 4, -4, 4, 0.5L, 1.0L); // shoot_a2
  EXPECT_EQ(f.MX, 173.0L);
  EXPECT_EQ(zanfel::PlotColumn(f, 1.1L, 0.5L, 1), 268);
  EXPECT_EQ(zanfel::PlotRow(f, 0.5L, 1.0L, 4), 213);
  // Tick values land on their grid lines; ties go to the even pixel.
  zanfel::SYSKORD(f, 0, 4, -4, 4, 1.0L, 1.0L);
  EXPECT_EQ(zanfel::PlotColumn(f, 2.0L, 1.0L, 0), 320); // 319.5
  EXPECT_EQ(zanfel::PlotColumn(f, 1.0L, 1.0L, 0), 190); // 189.75
  EXPECT_EQ(zanfel::PlotRow(f, 0.0L, 1.0L, 4), 240);    // 239.5
  EXPECT_EQ(zanfel::PlotRow(f, -4.0L, 1.0L, 4), 449);
  // No clipping by the mapping: beyond the last tick is beyond the frame.
  EXPECT_EQ(zanfel::PlotColumn(f, 5.0L, 1.0L, 0), 709); // 708.75
  EXPECT_EQ(zanfel::PlotRow(f, 50.0L, 1.0L, 4), -2379); // -2379.25
}

TEST(Syskord, CoordinatesBeyondSixteenBitsEndTheProgram) {
  const TempDir scratch;
  const std::string &dir = scratch.Path();
  ChildResult r = RunInChild(dir, Stdin::DevNull, [] {
    NoDisplay();
    Frame f;
    zanfel::SYSKORD(f, 0, 4, -4, 4, 1.0L, 1.0L);
    zanfel::PlotColumn(f, 252.0L, 1.0L, 0); // 32757: still fits
    zanfel::PlotColumn(f, 253.0L, 1.0L, 0); // 32886.75
    return 0;
  });
  EXPECT_EQ(r.status, 201);
  EXPECT_EQ(r.out, "Runtime error 201\n");
  EXPECT_EQ(access((dir + "/ZANFEL.PNG").c_str(), F_OK), 0) << "the picture so far is kept";

  r = RunInChild(dir, Stdin::DevNull, [] {
    NoDisplay();
    Frame f;
    zanfel::SYSKORD(f, 0, 4, -4, 4, 1.0L, 1.0L);
    zanfel::PlotRow(f, 1000.0L, 1.0L, 4); // -52135.5
    return 0;
  });
  EXPECT_EQ(r.status, 201);

  // The tick span itself overflows 16 bits.
  r = RunInChild(dir, Stdin::DevNull, [] {
    NoDisplay();
    Frame f;
    zanfel::SYSKORD(f, -32768, 32767, -4, 4, 1.0L, 1.0L);
    return 0;
  });
  EXPECT_EQ(r.status, 215);
  EXPECT_EQ(r.out, "Runtime error 215\n");
}

// Outside the programs' own runs the curve is clipped instead: a line towards
// a point beyond 16 bits is cut at a box far outside the window, keeping its
// direction; a line with both ends beyond the box draws nothing; a point
// that is not finite breaks the curve. Lines within 16 bits are the calls
// of the plain mapping. Traps are on, as in a run.
TEST(CurvePen, ClipsWhatTheWindowCannotPlaceAndGoesOn) {
  const TempDir scratch;
  const ChildResult r = RunInChild(scratch.Path(), Stdin::DevNull, [] {
    NoDisplay();
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    Frame f;
    zanfel::SYSKORD(f, 0, 4, -4, 4, 1.0L, 1.0L);
    graph::RecordCallsTo("plot.log");
    zanfel::CurvePen pen;
    const auto at = [&f](REAL u, REAL v) { return zanfel::PlotPoint(f, u, 1.0L, 0, v, 1.0L, 4); };
    pen.MoveTo(at(1.0L, 0.0L));
    pen.LineTo(at(2.0L, 1.0L));
    pen.LineTo(at(2.0L, 1000.0L)); // row -52135.5
    pen.LineTo(at(3.0L, 1000.0L));
    pen.LineTo(at(3.0L, 0.0L));
    pen.LineTo(at(4.0L, LDBL_MAX)); // an infinite row
    pen.LineTo(at(4.0L, 1.0L));
    pen.LineTo(at(3.0L, 2.0L));
    graph::RecordCallsTo("");
    // The line cut at the box still crosses the window up to its top row.
    return graph::CanvasPixel(320, 0) == 15 && graph::CanvasPixel(449, 0) == 15 ? 0 : 3;
  });
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ReadFile(scratch.File("plot.log")), "MoveTo 190 240\n"
                                                "LineTo 320 187\n"
                                                "LineTo 320 -8192\n"
                                                "MoveTo 449 -8192\n"
                                                "LineTo 449 240\n"
                                                "MoveTo 579 187\n"
                                                "LineTo 449 135\n");
}

} // namespace
