#include "plot/curve_pen.hpp"

#include <cmath>

#include "graph/graph.hpp"
#include "plot/syskord.hpp"
#include "runtime/checked.hpp"
#include "runtime/masked_traps.hpp"

namespace zanfel {

namespace {

// What Round16 takes without a fault.
bool Fits16(REAL v) {
  return v >= kMin16 - 0.5L && v <= kMax16 + 0.5L && std::nearbyintl(v) >= kMin16 &&
         std::nearbyintl(v) <= kMax16;
}

bool Fits16(PixelPoint p) {
  return Fits16(p.x) && Fits16(p.y);
}

bool Finite(PixelPoint p) {
  return std::isfinite(p.x) && std::isfinite(p.y);
}

// Lines are cut at this box around the 640 x 480 window: far enough out that
// rounding the cut end moves nothing visible, near enough that the graphics
// library's own clipping stays well inside its integer range.
constexpr REAL kBoxLow = -8192.0L, kBoxHigh = 8191.0L;

// Liang and Barsky's parameters of the part of a + t (b - a), 0 <= t <= 1,
// inside the box; false when no part is.
bool CutToBox(PixelPoint a, PixelPoint b, REAL &t0, REAL &t1) {
  const REAL dx = b.x - a.x, dy = b.y - a.y;
  if (!std::isfinite(dx) || !std::isfinite(dy))
    return false;
  t0 = 0.0L;
  t1 = 1.0L;
  const REAL p[4] = {-dx, dx, -dy, dy};
  const REAL q[4] = {a.x - kBoxLow, kBoxHigh - a.x, a.y - kBoxLow, kBoxHigh - a.y};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0.0L) {
      if (q[k] < 0.0L)
        return false;
      continue;
    }
    const REAL t = q[k] / p[k];
    if (p[k] < 0.0L)
      t0 = t > t0 ? t : t0;
    else
      t1 = t < t1 ? t : t1;
  }
  return t0 <= t1;
}

PixelPoint At(PixelPoint a, PixelPoint b, REAL t) {
  return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
}

void Move(PixelPoint p) {
  graph::MoveTo(Round16(p.x), Round16(p.y));
}

void Draw(PixelPoint p) {
  graph::LineTo(Round16(p.x), Round16(p.y));
}

} // namespace

PixelPoint PlotPoint(const Frame &f, REAL u, REAL XI, INT16 MX1, REAL v, REAL YI, INT16 MY2) {
  const MaskedTraps masked;
  return {REAL(f.X0) + f.MX * (u / XI - REAL(MX1)), REAL(f.Y0) - f.MY * (v / YI - REAL(MY2))};
}

void CurvePen::MoveTo(PixelPoint p) {
  haveLast_ = Finite(p);
  penAtLast_ = haveLast_ && Fits16(p);
  last_ = p;
  if (penAtLast_)
    Move(p);
}

void CurvePen::LineTo(PixelPoint p) {
  if (!haveLast_) {
    MoveTo(p);
    return;
  }
  if (!Finite(p)) {
    haveLast_ = penAtLast_ = false;
    return;
  }
  const MaskedTraps masked;
  const PixelPoint from = last_;
  last_ = p;
  if (Fits16(from) && Fits16(p)) {
    if (!penAtLast_)
      Move(from);
    Draw(p);
    penAtLast_ = true;
    return;
  }
  const bool penAtFrom = penAtLast_;
  penAtLast_ = false;
  REAL t0, t1;
  if (!CutToBox(from, p, t0, t1))
    return;
  if (t0 > 0.0L || !penAtFrom)
    Move(At(from, p, t0));
  Draw(t1 < 1.0L ? At(from, p, t1) : p);
  penAtLast_ = t1 >= 1.0L;
}

} // namespace zanfel
