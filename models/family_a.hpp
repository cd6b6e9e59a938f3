// Family A: a nonlinear fourth-order equation (y1..y4) and three second-order
// equations (y5,y6; y7,y8; y9,y10) on 0 <= T <= 1, scaled by H squared.
// N = 4 is shoot_a1; N = 5 (shoot_a2) adds the coupling 2*y7*y8, the unknown
// y8(0) and the residual y8(1).
#pragma once

#include "models/base_system.hpp"
#include "models/params.hpp"
#include "shooting/model.hpp"
#include "shooting/segments.hpp"

namespace zanfel {

template <int N_> struct FamilyA {
  static_assert(N_ == 4 || N_ == 5);
  static constexpr int N = N_;
  static constexpr int NEQN = 10;
  static constexpr int NOUT = N_ == 4 ? 14 : 15;
  using Params = ParamsA;
  using Globals = ModelState<N, NOUT, Params>;

  static void DIFEQN(Globals &g, REAL T, View1<const REAL> y, View1<REAL> yp) {
    const REAL H = g.H;
    BaseSystem<N == 5>(H, g.par.PR, g.par.PD, T, SoleView1<const REAL>{y.p}, SoleView1<REAL>{yp.p});
    AssignH(g, g.X);
  }

  static void INITVAL(Globals &g, const GLNARRAY<N> &X, View1<REAL> y) {
    if (g.par.K1 == 1) {
      y[3] = X[1];
    } else if (g.par.K1 == 2) {
      y[3] = g.P;
      g.H = X[1];
    }
    y[1] = 0.0L;
    y[2] = 0.0L;
    y[4] = X[2];
    y[5] = X[3];
    y[6] = g.H * g.par.ALF1;
    y[7] = 0.0L;
    if constexpr (N == 4)
      y[8] = 1.0L;
    else
      y[8] = X[5];
    y[9] = g.par.GAM1;
    y[10] = X[4];
  }

  // H follows the mode: the swept P in mode 1, the first unknown in mode 2.
  static void AssignH(Globals &g, const GLNARRAY<N> &X) {
    if (g.par.K1 == 1)
      g.H = g.P;
    else if (g.par.K1 == 2)
      g.H = X[1];
  }

  static void OUTVAL(Globals &g, const GLNARRAY<N> &X, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    AssignH(g, X);
    const REAL H = g.H;
    YOUT[1] = (H * y[5] + y[3]) - H * y[9];
    YOUT[2] = 0.25L + y[1];
    YOUT[3] = y[6];
    YOUT[4] = y[10];
    YOUT[5] = y[8];
    YOUT[6] = y[2];
    YOUT[7] = y[8];
    YOUT[8] = y[7];
    // Assigned again after the end values, deliberately: it is the H the next
    // trajectory and the driver find.
    AssignH(g, X);
  }

  // H on entry to the next trajectory, from the unknowns the previous one ran
  // with: the assignments that end every trajectory do not depend on its
  // integration.
  static REAL HAfterTrajectory(const Globals &g, const GLNARRAY<N> &X, REAL hBefore) {
    if (g.par.K1 == 1)
      return g.P;
    if (g.par.K1 == 2)
      return X[1];
    return hBefore;
  }
};

static_assert(ShootingModel<FamilyA<4>> && ShootingModel<FamilyA<5>>);

// Every trajectory runs with the H its mode gives (P, its own first unknown,
// or the H it found), from INITVAL on: a segment from a node sees the H a
// whole trajectory would (--segments). In mode 2 that H is the first
// unknown, which then scales every segment's equations.
template <int N> inline constexpr bool kTakesSegments<FamilyA<N>> = true;
template <int N> inline constexpr int kUnknownsInEverySegment<FamilyA<N>> = 1;

} // namespace zanfel
