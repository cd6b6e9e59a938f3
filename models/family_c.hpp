// Family C: the base system (1..10) with its first (11..20) and second
// (21..30) sensitivities in H, from fixed start values X1..X9; the unknowns
// are four initial second sensitivities, and H follows the swept P.
#pragma once

#include <array>

#include "models/params.hpp"
#include "shooting/model.hpp"
#include "shooting/segments.hpp"

namespace zanfel {

struct FamilyC {
  static constexpr int N = 4;
  static constexpr int NEQN = 30;
  static constexpr int NOUT = 24;
  using Params = ParamsC;
  using Globals = ModelState<N, NOUT, Params>;

  static void DIFEQN(Globals &g, REAL t, View1<const REAL> y, View1<REAL> yp) {
    RightHandSide(g, t, SoleView1<const REAL>{y.p}, SoleView1<REAL>{yp.p});
  }

  // Each of the four equations (A: y1..y4, B: y5,y6, C: y7,y8, D: y9,y10)
  // in turn: its bracket and those of its first and second sensitivities,
  // each used as soon as it is formed, so that few values are live at once.
  // The copied components are moved last, as bytes.
  static void RightHandSide(Globals &g, REAL t, SoleView1<const REAL> y, SoleView1<REAL> yp) {
    const REAL H = g.H;
    const REAL PR = g.par.PR;
    const REAL PD = g.par.PD;
    const REAL th = t * 0.5L;
    const REAL H2 = H * H;
    {
      const REAL A0 = 2.0L * y[1] * y[4] + 1.5L * y[3] + th * y[4];
      yp[4] = -(H2 * A0);
      const REAL A1 = 2.0L * y[1] * y[14] + 2.0L * y[4] * y[11] + 1.5L * y[13] + th * y[14];
      yp[14] = -(H2 * A1) - 2.0L * H * A0;
      const REAL A2 = 2.0L * y[1] * y[24] + 2.0L * y[4] * y[21] + 1.5L * y[23] + th * y[24] +
                      4.0L * y[11] * y[14];
      yp[24] = -(H2 * A2) - 4.0L * H * A1 - (4.0L * y[1] * y[4] + 3.0L * y[3] + t * y[4]);
    }
    {
      const REAL B0 = 2.0L * y[2] * y[5] - 2.0L * y[1] * y[6] - 1.5L * y[5] - th * y[6];
      yp[6] = H2 * PR * B0;
      const REAL B1 = 2.0L * y[2] * y[15] - 2.0L * y[1] * y[16] - 1.5L * y[15] - th * y[16] +
                      2.0L * y[12] * y[5] - 2.0L * y[11] * y[6];
      yp[16] = H2 * PR * B1 + 2.0L * H * PR * B0;
      const REAL B2 = 2.0L * y[2] * y[25] - 2.0L * y[1] * y[26] - 1.5L * y[25] - th * y[26] +
                      4.0L * y[12] * y[15] - 4.0L * y[11] * y[16] + 2.0L * y[22] * y[5] -
                      2.0L * y[21] * y[6];
      yp[26] = H2 * PR * B2 + 4.0L * H * PR * B1 + 2.0L * PR * B0;
    }
    {
      const REAL C0 = 2.0L * y[2] * y[7] - 2.0L * y[1] * y[8] - y[7] - th * y[8];
      yp[8] = H2 * C0;
      const REAL C1 = 2.0L * y[2] * y[19] - 2.0L * y[1] * y[20] - y[19] - th * y[20] +
                      2.0L * y[12] * y[7] - 2.0L * y[11] * y[8];
      yp[20] = H2 * C1 + 2.0L * H * C0;
      const REAL C2 = 2.0L * y[2] * y[29] - 2.0L * y[1] * y[30] - y[29] - th * y[30] +
                      4.0L * y[12] * y[19] - 4.0L * y[11] * y[20] + 2.0L * y[22] * y[7] -
                      2.0L * y[21] * y[8];
      yp[30] = H2 * C2 + 4.0L * H * C1 +
               (4.0L * y[2] * y[7] - 4.0L * y[1] * y[8] - 2.0L * y[7] - t * y[8]);
    }
    {
      const REAL D0 = 2.0L * y[2] * y[9] - 2.0L * y[1] * y[10] - 1.5L * y[9] - th * y[10];
      yp[10] = H2 * PD * D0;
      const REAL D1 = 2.0L * y[2] * y[17] - 2.0L * y[1] * y[18] - 1.5L * y[17] - th * y[18] +
                      2.0L * y[12] * y[9] - 2.0L * y[11] * y[10];
      yp[18] = H2 * PD * D1 + 2.0L * H * PD * D0;
      const REAL D2 = 2.0L * y[2] * y[27] - 2.0L * y[1] * y[28] - 1.5L * y[27] - th * y[28] +
                      4.0L * y[12] * y[17] - 4.0L * y[11] * y[18] + 2.0L * y[22] * y[9] -
                      2.0L * y[21] * y[10];
      yp[28] = H2 * PD * D2 + 4.0L * H * PD * D1 + 2.0L * PD * D0;
    }
    // y1' = y2, y2' = y3, y3' = y4 and the first of each second-order pair,
    // in the base system and in both sensitivity systems.
#pragma GCC unroll 3
    for (int s = 0; s <= 20; s += 10) {
      CopyReal(yp[s + 1], y[s + 2]);
      CopyReal(yp[s + 2], y[s + 3]);
      CopyReal(yp[s + 3], y[s + 4]);
      CopyReal(yp[s + 5], y[s + 6]);
      CopyReal(yp[s + 7], y[s + 8]);
      CopyReal(yp[s + 9], y[s + 10]);
    }
    CopyReal(g.H, g.P);
  }

  static void INITVAL(Globals &g, const GLNARRAY<N> &X, View1<REAL> y) {
    const auto &XS = g.par.XS;
    y[1] = 0.0L;
    y[2] = 0.0L;
    y[3] = XS[1];
    y[4] = XS[2];
    y[5] = XS[3];
    y[6] = g.H * XS[5];
    y[7] = 0.0L;
    y[8] = 1.0L;
    y[9] = g.par.GAM1;
    y[10] = XS[4];
    y[11] = 0.0L;
    y[12] = 0.0L;
    y[13] = XS[6];
    y[14] = XS[7];
    y[15] = XS[8];
    y[16] = XS[5];
    y[17] = 0.0L;
    y[18] = XS[9];
    y[19] = 0.0L;
    y[20] = 0.0L;
    y[21] = 0.0L;
    y[22] = 0.0L;
    y[23] = X[1];
    y[24] = X[2];
    y[25] = X[3];
    y[26] = 0.0L;
    y[27] = 0.0L;
    y[28] = X[4];
    y[29] = 0.0L;
    y[30] = 0.0L;
  }

  // The end values YOUT[1..7] at the scale H, in the arithmetic R.
  template <class R, class Ends> static void EndValues(R H, View1<const R> y, Ends &YOUT) {
    const R two = R(2);
    YOUT[1] = ((y[25] - y[27]) * H + y[23]) + two * y[15] - two * y[17];
    YOUT[2] = y[21];
    YOUT[3] = y[26];
    YOUT[4] = y[28];
    YOUT[5] = y[2];
    YOUT[6] = y[8];
    YOUT[7] = y[30];
  }

  static void OUTVAL(Globals &g, const GLNARRAY<N> &, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    EndValues<REAL>(g.H, y, YOUT);
    g.H = g.P;
  }

  // The same system over any real type R, for the check of a record in
  // binary128 (--check-digits-precision 128). The runs use the REAL
  // functions above, which overload resolution prefers for REAL arguments:
  // the 80-bit path is not touched.
  template <class R> static void DIFEQN(Globals &g, R t, View1<const R> y, View1<R> yp) {
    const R H = R(g.H), PR = R(g.par.PR), PD = R(g.par.PD);
    const R th = t * R(0.5L), H2 = H * H, two = R(2), four = R(4), c = R(1.5L);
    const R A0 = two * y[1] * y[4] + c * y[3] + th * y[4];
    const R A1 = two * y[1] * y[14] + two * y[4] * y[11] + c * y[13] + th * y[14];
    const R A2 =
        two * y[1] * y[24] + two * y[4] * y[21] + c * y[23] + th * y[24] + four * y[11] * y[14];
    yp[4] = -(H2 * A0);
    yp[14] = -(H2 * A1) - two * H * A0;
    yp[24] = -(H2 * A2) - four * H * A1 - (four * y[1] * y[4] + R(3) * y[3] + t * y[4]);
    // The pairs B (y5,y6, scale PR), C (y7,y8, scale 1) and D (y9,y10, scale
    // PD) share one form: the bracket of (y[k], y[k+1]) with the damping a,
    // and those of its sensitivities at k1 and k2.
    auto pair = [&](int k, int k1, int k2, R a, R scale) {
      const R B0 = two * y[2] * y[k] - two * y[1] * y[k + 1] - a * y[k] - th * y[k + 1];
      const R B1 = two * y[2] * y[k1] - two * y[1] * y[k1 + 1] - a * y[k1] - th * y[k1 + 1] +
                   two * y[12] * y[k] - two * y[11] * y[k + 1];
      const R B2 = two * y[2] * y[k2] - two * y[1] * y[k2 + 1] - a * y[k2] - th * y[k2 + 1] +
                   four * y[12] * y[k1] - four * y[11] * y[k1 + 1] + two * y[22] * y[k] -
                   two * y[21] * y[k + 1];
      yp[k + 1] = H2 * scale * B0;
      yp[k1 + 1] = H2 * scale * B1 + two * H * scale * B0;
      yp[k2 + 1] = H2 * scale * B2 + four * H * scale * B1 + two * scale * B0;
    };
    pair(5, 15, 25, c, PR);
    pair(7, 19, 29, R(1), R(1));
    pair(9, 17, 27, c, PD);
    for (int s = 0; s <= 20; s += 10) {
      yp[s + 1] = y[s + 2];
      yp[s + 2] = y[s + 3];
      yp[s + 3] = y[s + 4];
      yp[s + 5] = y[s + 6];
      yp[s + 7] = y[s + 8];
      yp[s + 9] = y[s + 10];
    }
    g.H = g.P;
  }

  template <class R> static void INITVAL(Globals &g, const Array1<R, 1, N> &X, View1<R> y) {
    GLNARRAY<N> start;
    for (int i = 1; i <= N; ++i)
      start[i] = 0.0L;
    std::array<REAL, NEQN> y0{};
    INITVAL(g, start, View1<REAL>{y0.data()});
    for (int i = 1; i <= NEQN; ++i)
      y[i] = R(y0[i - 1]);
    y[23] = X[1];
    y[24] = X[2];
    y[25] = X[3];
    y[28] = X[4];
  }

  template <class R>
  static void OUTVAL(Globals &g, const Array1<R, 1, N> &, View1<const R> y,
                     Array1<R, 1, NOUT> &YOUT) {
    EndValues<R>(R(g.H), y, YOUT);
    for (int i = 8; i <= NOUT; ++i)
      YOUT[i] = R(0);
    g.H = g.P;
  }

  // H on entry to the next trajectory: every trajectory ends with H = P. The
  // first trajectory of a run starts from H = 0 (INITVAL reads it for y6).
  static REAL HAfterTrajectory(const Globals &g, const GLNARRAY<N> &, REAL) {
    return g.P;
  }
};

static_assert(ShootingModel<FamilyC>);

// Every trajectory after a run's first starts with H = P and leaves it so: a
// segment from a node sees the H a whole trajectory would (--segments).
template <> inline constexpr bool kTakesSegments<FamilyC> = true;

} // namespace zanfel
