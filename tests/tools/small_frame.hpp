// Bratu's problem (examples/bratu) in a window frame a thousand times too
// small: u'(0) leaves the frame's 0..0.006 after a few records and runs to
// 4 at the fold, far beyond what a 16-bit window coordinate can place.
#pragma once

#include <cmath>

#include "continuation/own_problem.hpp"

struct SmallFrame {
  static constexpr int N = 1;
  static constexpr int NEQN = 2;
  static constexpr int NOUT = 4;
  using Globals = zanfel::ModelState<N, NOUT, zanfel::NoParams>;
  using REAL = zanfel::REAL;

  static void INITVAL(Globals &, const zanfel::GLNARRAY<N> &X, zanfel::View1<REAL> y) {
    y[1] = 0.0L;
    y[2] = X[1];
  }
  static void DIFEQN(Globals &g, REAL, zanfel::View1<const REAL> y, zanfel::View1<REAL> yp) {
    yp[1] = y[2];
    yp[2] = -g.P * expl(y[1]);
  }
  static void OUTVAL(Globals &, const zanfel::GLNARRAY<N> &X, zanfel::View1<const REAL> y,
                     zanfel::GLNARRAY1<NOUT> &YOUT) {
    YOUT[1] = y[1];
    YOUT[2] = X[1];
    YOUT[3] = y[2];
    YOUT[4] = y[1];
  }
};

inline constexpr zanfel::OwnProblem<SmallFrame> kOwnProblem{
    "Bratu's problem with a window frame far too small for its curve.",
    {},
    {0.0L, {0.0L}},
    {1.0L, 0.001L, 0, 4, 0, 6},
    {0.0625L, 0.0L, 10.0L},
    {"du_0", "du_1", "u_1", "u1="}};
