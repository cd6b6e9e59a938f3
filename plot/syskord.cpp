#include "plot/syskord.hpp"

#include <string>

#include "graph/graph.hpp"
#include "report/format.hpp"
#include "report/text_file.hpp"
#include "runtime/checked.hpp"
#include "runtime/fault.hpp"

namespace zanfel {

namespace {

// The frame's top-left corner; the frame keeps as much margin on the right
// and at the bottom.
constexpr INT16 kFrameLeft = 60;
constexpr INT16 kFrameTop = 30;
// Where the labels stand from the frame: the axis names beyond its far
// edges, the x tick labels above it, the y tick labels left of it.
constexpr INT16 kAxisNameAlong = 20;
constexpr INT16 kAxisNameOff = 10;
constexpr INT16 kXLabelLeft = 2;
constexpr INT16 kXLabelAbove = 20;
constexpr INT16 kYLabelLeft = 45;
constexpr INT16 kCanvasBlue = 1;

} // namespace

void SYSKORD(Frame &f, INT16 MX1, INT16 MX2, INT16 MY1, INT16 MY2, REAL XI, REAL YI,
             bool checkGraphResult) {
  INT16 GD = graph::Detect;
  INT16 GM = 0;
  graph::SetPicturePath(BesidePath("ZANFEL.PNG"));
  graph::InitGraph(GD, GM, "");
  if (checkGraphResult && graph::GraphResult() != graph::grOk)
    FatalEnd(1);
  f.X0 = kFrameLeft;
  f.Y0 = kFrameTop;
  graph::SetBkColor(kCanvasBlue);
  const INT16 MAXX = Sub16(graph::GetMaxX(), Mul16(2, f.X0));
  const INT16 MAXY = Sub16(graph::GetMaxY(), Mul16(2, f.Y0));
  const INT16 right = Add16(f.X0, MAXX);
  const INT16 bottom = Add16(f.Y0, MAXY);
  graph::Line(f.X0, f.Y0, right, f.Y0);
  graph::Line(f.X0, f.Y0, f.X0, bottom);
  graph::OutTextXY(Add16(right, kAxisNameOff), Add16(f.Y0, kAxisNameAlong), "P");
  graph::OutTextXY(Add16(f.X0, kAxisNameAlong), Add16(bottom, kAxisNameOff), "X");
  f.MX = REAL(MAXX) / REAL(Sub16(MX2, MX1));
  f.MY = REAL(MAXY) / REAL(Sub16(MY2, MY1));
  graph::SetLineStyle(0, 0, 1);
  // int counters: the last tick may be 32767 itself.
  for (int i = MX1; i <= MX2; ++i) {
    const INT16 I = INT16(i);
    const std::string SI = Fixed(REAL(I) * XI, 3, 1);
    const INT16 c = Round16(REAL(f.X0) + f.MX * REAL(Sub16(I, MX1)));
    graph::Line(c, f.Y0, c, bottom);
    graph::OutTextXY(Sub16(c, kXLabelLeft), Sub16(f.Y0, kXLabelAbove), SI);
  }
  for (int i = MY1; i <= MY2; ++i) {
    const INT16 I = INT16(i);
    const std::string SI = Fixed(REAL(I) * YI, 3, 1);
    const INT16 r = Round16(REAL(f.Y0) - f.MY * REAL(Sub16(I, MY2)));
    graph::Line(f.X0, r, right, r);
    graph::OutTextXY(Sub16(f.X0, kYLabelLeft), r, SI);
  }
  graph::SetLineStyle(0, 0, 1);
}

INT16 PlotColumn(const Frame &f, REAL u, REAL XI, INT16 MX1) {
  return Round16(REAL(f.X0) + f.MX * (u / XI - REAL(MX1)));
}

INT16 PlotRow(const Frame &f, REAL v, REAL YI, INT16 MY2) {
  return Round16(REAL(f.Y0) - f.MY * (v / YI - REAL(MY2)));
}

} // namespace zanfel
