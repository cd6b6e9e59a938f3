// Euler's elastica theta'' + lambda sin(theta) = 0, theta'(0) = theta'(1) = 0,
// followed in lambda by shooting on theta(0). The trivial branch theta = 0
// loses stability at lambda = (k pi)^2, k = 1, 2, ..., where the buckled
// branches leave it; on the first of them lambda = 4 K(m)^2 with
// m = sin(theta(0)/2) and K the complete elliptic integral of the first kind.
#pragma once

#include <cmath>

#include "continuation/own_problem.hpp"

struct Elastica {
  static constexpr int N = 1;    // the unknown theta(0)
  static constexpr int NEQN = 2; // y1 = theta, y2 = theta'
  static constexpr int NOUT =
      4; // theta'(1), then theta(0), theta(1) and the first integral's drift
  using Globals = zanfel::ModelState<N, NOUT, zanfel::NoParams>;
  using REAL = zanfel::REAL;

  // The state is carried in units of 1e-12 rad: on the trivial branch the
  // Jacobian's difference trajectories start 1e-14 rad off zero, and the
  // integrator's absolute tolerance (1e-15) would otherwise be most of them.
  // In these units the relative tolerance holds them as it holds the buckled
  // branch.
  static constexpr REAL kUnit = 1.0E12L;

  template <class R>
  static void INITVAL(Globals &, const zanfel::Array1<R, 1, N> &X, zanfel::View1<R> y) {
    y[1] = X[1] * R(kUnit);
    y[2] = R(0);
  }
  template <class R>
  static void DIFEQN(Globals &g, R, zanfel::View1<const R> y, zanfel::View1<R> yp) {
    yp[1] = y[2];
    yp[2] = -R(g.P) * zanfel::Sin(y[1] / R(kUnit)) * R(kUnit);
  }
  // theta'^2/2 - lambda cos(theta) is constant along an exact solution: its
  // change over the trajectory shows the integrator's error.
  template <class R>
  static void OUTVAL(Globals &g, const zanfel::Array1<R, 1, N> &X, zanfel::View1<const R> y,
                     zanfel::Array1<R, 1, NOUT> &YOUT) {
    const R P = R(g.P), half = R(0.5L), theta = y[1] / R(kUnit), dtheta = y[2] / R(kUnit);
    YOUT[1] = dtheta;
    YOUT[2] = X[1];
    YOUT[3] = theta;
    YOUT[4] = (half * dtheta * dtheta - P * zanfel::Cos(theta)) + P * zanfel::Cos(X[1]);
  }
};

inline constexpr zanfel::OwnProblem<Elastica> kOwnProblem{
    "Euler's elastica theta'' + lambda sin(theta) = 0, theta'(0) = theta'(1) = 0,\n"
    "by shooting on theta(0): lambda = P from 1 upwards by 0.25 along the trivial\n"
    "branch theta = 0, whose branch points lie at lambda = (k pi)^2. The curve is\n"
    "theta(0) against lambda. The record shows theta'(1) and theta(0), then v=\n"
    "theta(0), DG= theta(1) and E= the change of theta'^2/2 - lambda cos(theta).",
    {},
    {1.0L, {0.0L}},
    {10.0L, 1.0L, 0, 10, -4, 4},
    {0.25L, 0.0L, 100.0L},
    {"theta_0", "theta_1", "dE", "E="},
    {},
    // A tenth of the built-in relative tolerance: near theta(0) = 180 degrees
    // the buckled branch magnifies the integrator's error in lambda.
    {100, 1.0E-15L, 1.0E-15L, 1, 1.0E-10L, 1.0E-15L}};
