// The curve of a run drawn in the window's frame when the frame is not the
// program's own: a point whose pixel position does not fit a 16-bit window
// coordinate is not an error there, the line towards it is cut where the
// window cannot show it and the run goes on.
#pragma once

#include "runtime/types.hpp"

namespace zanfel {

// A pixel position before rounding, as the frame's mapping gives it.
struct PixelPoint {
  REAL x, y;
};

// The unrounded column and row of world point (u, v) in frame f: the
// mapping of PlotColumn and PlotRow, computed with traps masked (a value far
// beyond the frame gives an infinite position, not a fault).
struct Frame;
PixelPoint PlotPoint(const Frame &f, REAL u, REAL XI, INT16 MX1, REAL v, REAL YI, INT16 MY2);

// Draws with MoveTo and LineTo. Where both ends of a line fit 16 bits the
// calls are those of the plain mapping, rounded the same way; a line with an
// end beyond them is cut at the edge of a box far outside the window (the
// part inside keeps its direction), and a point that is not finite breaks
// the curve.
class CurvePen {
public:
  void MoveTo(PixelPoint p);
  void LineTo(PixelPoint p);

private:
  PixelPoint last_{0.0L, 0.0L};
  bool haveLast_ = false;  // a finite point to draw from
  bool penAtLast_ = false; // the window's current position is last_, rounded
};

} // namespace zanfel
