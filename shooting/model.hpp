// What a model is to the shooting layer: its sizes, its program-wide state
// and four hooks, stated as a concept so that a model that breaks the
// contract does not compile.
#pragma once

#include <concepts>

#include "runtime/types.hpp"
#include "shooting/solve_settings.hpp"

namespace zanfel {

// The solver state every program has, shared by reference between the
// model, the shooting layer and the driver.
template <int N_, int NOUT_> struct SolverState {
  static constexpr int N = N_;
  static constexpr int NOUT = NOUT_;

  GLNARRAY<N> X;        // the shooting unknowns, iterated in place by MNEWT
  GLNARRAY1<NOUT> YOUT; // residuals and end values of the latest trajectory
  REAL H = 0.0L;        // the scale of the equations
  REAL P = 0.0L;        // the swept parameter
  INT16 ITER = 0;       // written only by MNEWT
  SolveSettings solve;  // the limits of every solve, set by the driver
};

// A model's program-wide variables: the solver state and the parameters of
// its family (`par`), which only the driver writes.
template <int N_, int NOUT_, class Params_> struct ModelState : SolverState<N_, NOUT_> {
  using Params = Params_;
  Params par;
};

// The contract of a model M with G = M::Globals (a ModelState or a struct
// with the same solver members):
//
// - M::N unknowns, M::NEQN equations, M::NOUT end values (YOUT[1..N] are the
//   residuals the unknowns must bring to zero).
// - INITVAL(g, X, y) fills the initial values y[1..NEQN] from the unknowns X
//   (the trajectory's own copy) and g; it may write g.H and reads the H the
//   previous trajectory left.
// - DIFEQN(g, t, y, yp) writes yp[1..NEQN]. It reads g.H and the parameters,
//   and may read the program-wide unknowns g.X, not the trajectory's copy:
//   while a difference trajectory runs, g.X holds the raised unknown exactly
//   when the caller iterates the program-wide vector. It may write g.H (the
//   families leave it at what the trajectory ends with). Nothing else.
// - OUTVAL(g, X, y, YOUT) writes YOUT from the end values y and may write g.H;
//   it reads what DIFEQN may read.
// - HAfterTrajectory(g, X, hBefore) is the g.H a trajectory at unknowns X
//   leaves behind, given the H it started from (g as it stood when it
//   started). It must not depend on the integration: the parallel path uses
//   it to give each trajectory the H the one before it would have left, and
//   to leave g.H as a one-at-a-time USRFUN call leaves it. Where INITVAL sets
//   H before reading it, the value only matters for the H left after the
//   last trajectory.
template <class M>
concept ShootingModel = requires {
  { M::N } -> std::convertible_to<int>;
  { M::NEQN } -> std::convertible_to<int>;
  { M::NOUT } -> std::convertible_to<int>;
  typename M::Globals;
}
&&requires(typename M::Globals &g, const typename M::Globals &cg, REAL t, View1<const REAL> y,
           View1<REAL> yp, const GLNARRAY<M::N> &X, GLNARRAY1<M::NOUT> &YOUT) {
  M::DIFEQN(g, t, y, yp);
  M::INITVAL(g, X, yp);
  M::OUTVAL(g, X, y, YOUT);
  { M::HAfterTrajectory(cg, X, t) } -> std::same_as<REAL>;
  { g.X } -> std::same_as<GLNARRAY<M::N> &>;
  { g.YOUT } -> std::same_as<GLNARRAY1<M::NOUT> &>;
  { g.H } -> std::same_as<REAL &>;
  { g.P } -> std::same_as<REAL &>;
  { g.solve } -> std::same_as<SolveSettings &>;
};

} // namespace zanfel
