// Bratu's problem u'' + lambda e^u = 0, u(0) = u(L) = 0, followed in lambda
// from 0 upwards by shooting on s = u'(0). The lower branch has the closed
// form s = theta tanh(theta/4), lambda = theta^2 / (2 cosh^2(theta/4)) at
// L = 1; it folds at lambda = 3.51383071912516 (s = 4) into the upper
// branch. The length L (--param L=V, default 1) is scaled out: with x = L t
// the problem on [0, L] is u_tt + lambda L^2 e^u = 0 on [0, 1] with
// u_t(0) = L s, so the fold lies at lambda L^2 = 3.51383071912516. Every
// factor of L is a multiplication or division by 1 when L = 1: the runs
// are bit for bit those of the problem on [0, 1].
#pragma once

#include <cmath>

#include "continuation/own_problem.hpp"

struct Bratu {
  static constexpr int N = 1;    // the unknown s = u'(0)
  static constexpr int NEQN = 2; // y1 = u, y2 = u'
  static constexpr int NOUT = 4; // u(L), then s, u'(L) and the drift of the first integral
  using REAL = zanfel::REAL;
  struct Params {
    REAL L = 1.0L; // the length of the interval
  };
  using Globals = zanfel::ModelState<N, NOUT, Params>;

  // The start, step, range and frame of lambda scale with 1/L^2, so that
  // the built-in sweep reaches the fold at every L (settings.hpp,
  // ScaleSweepToParams).
  static REAL SweepScale(const Params &p) { return 1.0L / (p.L * p.L); }

  // Written over any real type R, so that its records can be checked in
  // binary128 (--check-digits-precision 128); R = REAL is every run.
  template <class R>
  static void INITVAL(Globals &g, const zanfel::Array1<R, 1, N> &X, zanfel::View1<R> y) {
    y[1] = R(0);
    y[2] = X[1] * R(g.par.L); // u_t = L u_x
  }
  template <class R>
  static void DIFEQN(Globals &g, R, zanfel::View1<const R> y, zanfel::View1<R> yp) {
    const R L = R(g.par.L);
    yp[1] = y[2];
    yp[2] = -(R(g.P) * (L * L)) * zanfel::Exp(y[1]);
  }
  // u'^2/2 + lambda e^u is constant along an exact solution: its change over
  // the trajectory shows the integrator's error.
  template <class R>
  static void OUTVAL(Globals &g, const zanfel::Array1<R, 1, N> &X, zanfel::View1<const R> y,
                     zanfel::Array1<R, 1, NOUT> &YOUT) {
    const R P = R(g.P), half = R(0.5L);
    const R du = y[2] / R(g.par.L); // u'(L) = u_t(1) / L
    YOUT[1] = y[1];
    YOUT[2] = X[1];
    YOUT[3] = du;
    YOUT[4] = (half * du * du + P * zanfel::Exp(y[1])) - (half * X[1] * X[1] + P);
  }
};

// The parameters --param sets.
inline constexpr zanfel::NamedParam<Bratu::Params> kBratuParams[] = {
    {"L", &Bratu::Params::L,
     "the length L of the interval [0, L]; the start, step and\n"
     "                range of lambda scale by 1/L^2, as the fold does (lambda L^2 =\n"
     "                3.5138307191)",
     true}};

inline constexpr zanfel::OwnProblem<Bratu> kOwnProblem{
    "Bratu's problem u'' + lambda e^u = 0, u(0) = u(1) = 0, by shooting on s = u'(0):\n"
    "lambda = P from 0 upwards by 0.0625 along the lower branch. The curve is s\n"
    "against lambda. The record shows u(1) and s, then v= s, DG= u'(1) and E= the\n"
    "change of u'^2/2 + lambda e^u over the trajectory.",
    {1.0L},
    {0.0L, {0.0L}},
    {1.0L, 2.0L, 0, 4, 0, 6},
    {0.0625L, 0.0L, 10.0L},
    {"du_0", "du_1", "dE", "E="},
    kBratuParams};
