// The base system that families A and B share: the fourth-order equation
// (y1..y4) and the three second-order equations (y5,y6; y7,y8; y9,y10), their
// highest derivatives scaled by H squared. Each bracket is summed left to
// right, then multiplied by its scale factor formed first.
#pragma once

#include "runtime/types.hpp"

namespace zanfel {

// Coupled adds 2*y7*y8 at the end of the y4 bracket (shoot_a2).
template <bool Coupled>
inline void BaseSystemComputed(REAL H, REAL PR, REAL PD, REAL T, SoleView1<const REAL> y,
                               SoleView1<REAL> yp) {
  REAL s4 = 2.0L * y[1] * y[4] + 1.5L * y[3] + T * y[4] / 2.0L;
  if constexpr (Coupled)
    s4 = s4 + 2.0L * y[7] * y[8];
  yp[4] = s4 * ((-H) * H);
  yp[6] = (2.0L * y[2] * y[5] - 2.0L * y[1] * y[6] - 1.5L * y[5] - T * y[6] / 2.0L) * (H * PR * H);
  yp[8] = (2.0L * y[2] * y[7] - 2.0L * y[1] * y[8] - y[7] - T * y[8] / 2.0L) * (H * H);
  yp[10] =
      (2.0L * y[2] * y[9] - 2.0L * y[1] * y[10] - 1.5L * y[9] - T * y[10] / 2.0L) * (H * PD * H);
}

// The components that are plain copies of others: y1' = y2, y2' = y3,
// y3' = y4 and the first of each second-order pair. Moved as bytes, after
// the computed ones, so that the compiler keeps no copy of these elements in
// the few floating-point registers.
inline void BaseSystemCopies(SoleView1<const REAL> y, SoleView1<REAL> yp) {
  CopyReal(yp[1], y[2]);
  CopyReal(yp[2], y[3]);
  CopyReal(yp[3], y[4]);
  CopyReal(yp[5], y[6]);
  CopyReal(yp[7], y[8]);
  CopyReal(yp[9], y[10]);
}

template <bool Coupled>
inline void BaseSystem(REAL H, REAL PR, REAL PD, REAL T, SoleView1<const REAL> y,
                       SoleView1<REAL> yp) {
  BaseSystemComputed<Coupled>(H, PR, PD, T, y, yp);
  BaseSystemCopies(y, yp);
}

} // namespace zanfel
