// Bratu's problem u'' + lambda e^u = 0, u(0) = u(1) = 0, followed in lambda
// from 0 upwards by shooting on s = u'(0). The lower branch has the closed
// form s = theta tanh(theta/4), lambda = theta^2 / (2 cosh^2(theta/4)); it
// folds at lambda = 3.51383071912516 (s = 4) into the upper branch.
#pragma once

#include <cmath>

#include "continuation/own_problem.hpp"

struct Bratu {
  static constexpr int N = 1;    // the unknown s = u'(0)
  static constexpr int NEQN = 2; // y1 = u, y2 = u'
  static constexpr int NOUT = 4; // u(1), then s, u'(1) and the drift of the first integral
  using Globals = zanfel::ModelState<N, NOUT, zanfel::NoParams>;
  using REAL = zanfel::REAL;

  // Written over any real type R, so that its records can be checked in
  // binary128 (--check-digits-precision 128); R = REAL is every run.
  template <class R>
  static void INITVAL(Globals &, const zanfel::Array1<R, 1, N> &X, zanfel::View1<R> y) {
    y[1] = R(0);
    y[2] = X[1];
  }
  template <class R>
  static void DIFEQN(Globals &g, R, zanfel::View1<const R> y, zanfel::View1<R> yp) {
    yp[1] = y[2];
    yp[2] = -R(g.P) * zanfel::Exp(y[1]);
  }
  // u'^2/2 + lambda e^u is constant along an exact solution: its change over
  // the trajectory shows the integrator's error.
  template <class R>
  static void OUTVAL(Globals &g, const zanfel::Array1<R, 1, N> &X, zanfel::View1<const R> y,
                     zanfel::Array1<R, 1, NOUT> &YOUT) {
    const R P = R(g.P), half = R(0.5L);
    YOUT[1] = y[1];
    YOUT[2] = X[1];
    YOUT[3] = y[2];
    YOUT[4] = (half * y[2] * y[2] + P * zanfel::Exp(y[1])) - (half * X[1] * X[1] + P);
  }
};

inline constexpr zanfel::OwnProblem<Bratu> kOwnProblem{
    "Bratu's problem u'' + lambda e^u = 0, u(0) = u(1) = 0, by shooting on s = u'(0):\n"
    "lambda = P from 0 upwards by 0.0625 along the lower branch. The curve is s\n"
    "against lambda. The record shows u(1) and s, then v= s, DG= u'(1) and E= the\n"
    "change of u'^2/2 + lambda e^u over the trajectory.",
    {},
    {0.0L, {0.0L}},
    {1.0L, 2.0L, 0, 4, 0, 6},
    {0.0625L, 0.0L, 10.0L},
    {"du_0", "du_1", "dE", "E="}};
