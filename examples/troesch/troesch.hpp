// Troesch's problem y'' = mu sinh(mu y), y(0) = 0, y(1) = 1, followed in mu
// from 0 upwards by shooting on s = y'(0). For large mu, s is about 8 e^-mu
// and the trajectory of a slightly larger s has a pole just past x = 1
// (near x = ln(8/s)/mu): single shooting reaches only moderate mu.
#pragma once

#include <cmath>

#include "continuation/own_problem.hpp"

struct Troesch {
  static constexpr int N = 1;    // the unknown s = y'(0)
  static constexpr int NEQN = 2; // y1 = y, y2 = y'
  static constexpr int NOUT = 4; // y(1) - 1, then s, y'(1) and the drift of the first integral
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
    const R mu = R(g.P);
    yp[1] = y[2];
    yp[2] = mu * zanfel::Sinh(mu * y[1]);
  }
  // y'^2/2 - cosh(mu y) is constant along an exact solution: its change over
  // the trajectory shows the integrator's error.
  template <class R>
  static void OUTVAL(Globals &g, const zanfel::Array1<R, 1, N> &X, zanfel::View1<const R> y,
                     zanfel::Array1<R, 1, NOUT> &YOUT) {
    const R mu = R(g.P), half = R(0.5L), one = R(1);
    YOUT[1] = y[1] - one;
    YOUT[2] = X[1];
    YOUT[3] = y[2];
    YOUT[4] = (half * y[2] * y[2] - zanfel::Cosh(mu * y[1])) - (half * X[1] * X[1] - one);
  }
};

inline constexpr zanfel::OwnProblem<Troesch> kOwnProblem{
    "Troesch's problem y'' = mu sinh(mu y), y(0) = 0, y(1) = 1, by shooting on\n"
    "s = y'(0): mu = P from 0 upwards by 1/32. The curve is s against mu. The\n"
    "record shows y(1) - 1 and s, then v= s, DG= y'(1) and E= the change of\n"
    "y'^2/2 - cosh(mu y) over the trajectory.",
    {},
    {0.0L, {1.0L}},
    {1.0L, 0.2L, 0, 10, 0, 5},
    {0.03125L, 0.0L, 20.0L},
    {"dy_0", "dy_1", "dE", "E="}};
