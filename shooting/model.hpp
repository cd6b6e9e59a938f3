// What a model is to the shooting layer: its sizes, its program-wide state
// and four hooks, stated as a concept so that a model that breaks the
// contract does not compile.
#pragma once

#include <concepts>

#include "runtime/types.hpp"
#include "shooting/real_math.hpp"
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
// with the same solver members). This is the reference for writing a model
// of your own; the README's "Solving your own problem" walks through one.
//
// The problem. Shooting solves y' = f(t, y) on 0 <= t <= 1 (scale a problem
// on [a, b] to it) with NEQN components y[1..NEQN], of which N initial values
// (or other start data) are the unknowns X[1..N]. One trajectory is: INITVAL
// builds y(0) from X, the integrator carries y to t = 1 calling DIFEQN, and
// OUTVAL turns y(1) into the end values YOUT. Newton's method moves X until
// the residuals YOUT[1..N] vanish.
//
// The sizes: M::N unknowns, M::NEQN equations, M::NOUT end values; arrays
// count from 1 (X[1..N], y[1..NEQN], YOUT[1..NOUT]).
//
// P and H. P is the swept parameter: the program sets it before every solve
// and steps it between records; the hooks read it and never write it. H is
// a second scale of the equations that a model may carry in its state (the
// six built-in programs' families solve for it or tie it to P). A model
// without one (ModelWithoutScale below) never touches H: its program holds
// H = P, so the results file's `h:=` and the CSV's H column repeat P and the
// curve is drawn against P.
//
// The parameters g.par are fixed for a run: the program sets them from the
// settings, the hooks only read them.
//
// - INITVAL(g, X, y) fills the initial values y[1..NEQN] from the unknowns X
//   (the trajectory's own copy) and g; it may write g.H and reads the H the
//   previous trajectory left.
// - DIFEQN(g, t, y, yp) writes yp[1..NEQN] = f(t, y). It reads g.H, g.P and
//   the parameters, and may read the program-wide unknowns g.X, not the
//   trajectory's copy: while a difference trajectory runs, g.X holds the
//   raised unknown exactly when the caller iterates the program-wide vector.
//   It may write g.H (the families leave it at what the trajectory ends
//   with). Nothing else. It runs on the hot path, on several threads at once
//   (each trajectory with its own g): no allocation, no I/O, no shared state.
// - OUTVAL(g, X, y, YOUT) writes YOUT[1..NOUT] from the end values y[1..NEQN]
//   and may write g.H; it reads what DIFEQN may read. YOUT[1..N] are the
//   residuals; the rest are end values the record shows.
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

// A model without a second scale, the kind a program of your own takes
// (continuation/own_problem.hpp): the hooks above but HAfterTrajectory, and
// none of them writes g.H. YOUT[1..N] are the residuals and YOUT[N+1..N+3]
// the three end values its records show (NOUT is at least N + 3): `v=`
// YOUT[N+1], also the plotted curve, `DG=` YOUT[N+2], and YOUT[N+3] on the
// fifth line. The record's `h:=` shows P and `x[1]:=` the first unknown.
template <class M>
concept ModelWithoutScale = requires {
  { M::N } -> std::convertible_to<int>;
  { M::NEQN } -> std::convertible_to<int>;
  { M::NOUT } -> std::convertible_to<int>;
  typename M::Globals;
  typename M::Globals::Params;
}
&&(M::N >= 1 && M::NOUT >= M::N + 3) &&
    requires(typename M::Globals &g, REAL t, View1<const REAL> y, View1<REAL> yp,
             const GLNARRAY<M::N> &X, GLNARRAY1<M::NOUT> &YOUT) {
  M::DIFEQN(g, t, y, yp);
  M::INITVAL(g, X, yp);
  M::OUTVAL(g, X, y, YOUT);
  { g.X } -> std::same_as<GLNARRAY<M::N> &>;
  { g.YOUT } -> std::same_as<GLNARRAY1<M::NOUT> &>;
  { g.H } -> std::same_as<REAL &>;
  { g.P } -> std::same_as<REAL &>;
  { g.par } -> std::same_as<typename M::Globals::Params &>;
};

// Such a model as the shooting layer takes it: every trajectory starts with
// H = P and leaves it there.
template <ModelWithoutScale M> struct ScaleIsP : M {
  using Globals = typename M::Globals;
  using Params = typename Globals::Params;
  // Over the model's real type: a model generic over it stays generic.
  template <class Unknowns, class State>
  static void INITVAL(Globals &g, const Unknowns &X, State y) {
    g.H = g.P;
    M::INITVAL(g, X, y);
  }
  static REAL HAfterTrajectory(const Globals &g, const GLNARRAY<M::N> &, REAL) { return g.P; }
};

// A model whose three hooks are templates over the real type R, written with
// the functions of shooting/real_math.hpp (Exp, Sinh, ...) and with every
// constant and every value of its state converted to R (R(g.P)): the
// accuracy check can then solve it in R = WIDE. The unknowns, the state and
// the end values are R; P, H and the parameters stay REAL, which R holds
// exactly. A model written over REAL alone still runs and is checked in
// REAL.
template <class M, class R>
concept GenericOver = requires(typename M::Globals &g, R t, View1<const R> y, View1<R> yp,
                               const Array1<R, 1, M::N> &X, Array1<R, 1, M::NOUT> &YOUT) {
  M::DIFEQN(g, t, y, yp);
  M::INITVAL(g, X, yp);
  M::OUTVAL(g, X, y, YOUT);
};

// The parameters of a model that has none.
struct NoParams {};

} // namespace zanfel
