// Family B: the base system of family A (y1..y10) with its derivatives in the
// scale H (y11..y20); H itself is the first unknown and y3(0) = P is swept.
#pragma once

#include "models/base_system.hpp"
#include "models/params.hpp"
#include "shooting/model.hpp"
#include "shooting/segments.hpp"

namespace zanfel {

struct FamilyB {
  static constexpr int N = 9;
  static constexpr int NEQN = 20;
  static constexpr int NOUT = 19;
  using Params = ParamsB;
  using Globals = ModelState<N, NOUT, Params>;

  static void DIFEQN(Globals &g, REAL t, View1<const REAL> y, View1<REAL> yp) {
    RightHandSide(g, t, SoleView1<const REAL>{y.p}, SoleView1<REAL>{yp.p});
  }

  static void RightHandSide(Globals &g, REAL t, SoleView1<const REAL> y, SoleView1<REAL> yp) {
    const REAL H = g.H;
    const REAL PR = g.par.PR;
    const REAL PD = g.par.PD;
    // Each base bracket is used by its equation and by its sensitivity.
    const REAL A0 = 2.0L * y[1] * y[4] + 1.5L * y[3] + t * y[4] / 2.0L;
    yp[14] =
        (2.0L * y[1] * y[14] + 2.0L * y[4] * y[11] + 1.5L * y[13] + t * 0.5L * y[14]) * ((-H) * H) -
        A0 * (H * 2.0L);
    yp[4] = A0 * ((-H) * H);
    const REAL B0 = 2.0L * y[2] * y[5] - 2.0L * y[1] * y[6] - 1.5L * y[5] - t * y[6] / 2.0L;
    yp[16] = (2.0L * y[2] * y[15] - 2.0L * y[1] * y[16] - 1.5L * y[15] - t * 0.5L * y[16] +
              2.0L * y[12] * y[5] - 2.0L * y[11] * y[6]) *
                 (H * H * PR) +
             B0 * (H * 2.0L * PR);
    yp[6] = B0 * (H * PR * H);
    const REAL C0 = 2.0L * y[2] * y[7] - 2.0L * y[1] * y[8] - y[7] - t * y[8] / 2.0L;
    yp[20] = (2.0L * y[2] * y[19] - 2.0L * y[1] * y[20] - y[19] - t * 0.5L * y[20] +
              2.0L * y[12] * y[7] - 2.0L * y[11] * y[8]) *
                 (H * H) +
             C0 * (H * 2.0L);
    yp[8] = C0 * (H * H);
    const REAL D0 = 2.0L * y[2] * y[9] - 2.0L * y[1] * y[10] - 1.5L * y[9] - t * y[10] / 2.0L;
    yp[18] = (2.0L * y[2] * y[17] - 2.0L * y[1] * y[18] - 1.5L * y[17] - t * 0.5L * y[18] +
              2.0L * y[12] * y[9] - 2.0L * y[11] * y[10]) *
                 (H * H * PD) +
             D0 * (H * 2.0L * PD);
    yp[10] = D0 * (H * PD * H);
    BaseSystemCopies(y, yp);
    CopyReal(yp[11], y[12]);
    CopyReal(yp[12], y[13]);
    CopyReal(yp[13], y[14]);
    CopyReal(yp[15], y[16]);
    CopyReal(yp[17], y[18]);
    CopyReal(yp[19], y[20]);
    // The scale follows the program-wide unknown, perturbed in place while a
    // difference trajectory runs.
    CopyReal(g.H, g.X[1]);
  }

  static void INITVAL(Globals &g, const GLNARRAY<N> &X, View1<REAL> y) {
    y[3] = g.P;
    g.H = X[1];
    y[1] = 0.0L;
    y[2] = 0.0L;
    y[4] = X[2];
    y[5] = X[3];
    y[6] = g.H * X[5];
    y[7] = 0.0L;
    y[8] = 1.0L;
    y[9] = g.par.GAM1;
    y[10] = X[4];
    y[11] = 0.0L;
    y[12] = 0.0L;
    y[13] = X[6];
    y[14] = X[7];
    y[15] = X[8];
    y[16] = X[5];
    y[17] = 0.0L;
    y[18] = X[9];
    y[19] = 0.0L;
    y[20] = 0.0L;
    // Set twice on purpose, as the system always did: harmless, and kept so
    // that the order of writes stays the reference one.
    y[3] = g.P;
    g.H = X[1];
  }

  static void OUTVAL(Globals &g, const GLNARRAY<N> &, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    g.H = g.X[1];
    const REAL H = g.H;
    YOUT[1] = H * y[5] + y[3] - H * y[9];
    YOUT[2] = 0.25L + y[1];
    YOUT[3] = y[6];
    YOUT[4] = y[10];
    YOUT[5] = y[8];
    YOUT[6] = H * y[15] + y[13] - H * y[17] + y[5] - y[9];
    YOUT[7] = y[11];
    YOUT[8] = y[16];
    YOUT[9] = y[18];
    YOUT[10] = y[2];
    YOUT[11] = y[8];
    YOUT[12] = y[20];
    // H assigned again after the end values, deliberately: it is the H the
    // next trajectory and the driver find.
    g.H = g.X[1];
  }

  // H on entry to the next trajectory: the program-wide first unknown as the
  // one before saw it, whatever its integration did. INITVAL sets H before
  // reading it, so only the H left after the last trajectory depends on it.
  static REAL HAfterTrajectory(const Globals &g, const GLNARRAY<N> &, REAL) { return g.X[1]; }
};

static_assert(ShootingModel<FamilyB>);

// Every trajectory runs with H = its own first unknown, from INITVAL on: a
// segment from a node sees the H a whole trajectory would (--segments).
template <> inline constexpr bool kTakesSegments<FamilyB> = true;
// H, the first unknown, scales every segment's equations.
template <> inline constexpr int kUnknownsInEverySegment<FamilyB> = 1;

} // namespace zanfel
