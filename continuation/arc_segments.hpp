// A point of the curve solved on segments: Newton's method on the model's
// unknowns, the node states and P together, the last equation fixing the
// distance along the curve in (X, P) alone. What the sweep reads from the
// Jacobian (the slope of P, the orientation) comes from the bordered
// Jacobian condensed onto (X, P): the node states eliminated through the
// jumps at the nodes, which leaves the Jacobian a single trajectory would
// have had, and the same determinant (the jumps' block is the identity
// less the segments' sensitivities below it, whose determinant is 1).
#pragma once

#include "continuation/arc_vector.hpp"
#include "nonlinear/ludcmp.hpp"
#include "nonlinear/mnewt.hpp"
#include "runtime/console.hpp"
#include "shooting/segment_parameter.hpp"

namespace zanfel {

// Holds a piece's end back for the time of a solve along the curve.
template <class Model> class HeldEnds {
public:
  explicit HeldEnds(SegmentedShooting<Model> &ms) : ms_(ms) { ms_.holdEnds = true; }
  ~HeldEnds() { ms_.holdEnds = false; }
  HeldEnds(const HeldEnds &) = delete;
  HeldEnds &operator=(const HeldEnds &) = delete;

private:
  SegmentedShooting<Model> &ms_;
};

// The unknowns of a solve along the curve on segments, W: the model's X,
// then P, then the node states (Z's entries after X, one place on), so
// that Newton's test of a correction weighs it by a node state, as at fixed
// P. The rows: the model's residuals, the distance along the curve, the
// jumps.
template <int N> constexpr int PlaceInW(int J) {
  return J <= N ? J : J + 1;
}

// The bordered Jacobian of the latest call (order n + 1) condensed onto
// (X, P), its first N + 1 rows and columns: false when the jumps' block
// cannot be factored.
template <class Model>
[[nodiscard]] bool CondensedJacobian(SegmentedShooting<Model> &ms, ArcMatrix<Model> &jacobian) {
  using MS = SegmentedShooting<Model>;
  constexpr int NA = Model::N + 1;
  const int m = ms.Order() - Model::N;
  const auto &A = ms.bordered;
  GLNBYN<MS::NZ> &jumps = ms.ALPHA; // free once the solve is over
  for (int i = 1; i <= m; ++i)
    for (int j = 1; j <= m; ++j)
      jumps(i, j) = A(NA + i, NA + j);
  GLINDX<MS::NZ> INDX;
  REAL D;
  if (!LUDCMP(jumps, static_cast<INT16>(m), INDX, D))
    return false;
  for (int c = 1; c <= NA; ++c) {
    GLNARRAY<MS::NZ> v; // the node states' share of column c
    for (int i = 1; i <= m; ++i)
      v[i] = A(NA + i, c);
    LUBKSB(jumps, static_cast<INT16>(m), INDX, v);
    for (int r = 1; r <= NA; ++r) {
      REAL sum = A(r, c);
      for (int i = 1; i <= m; ++i)
        sum -= A(r, NA + i) * v[i];
      jacobian(r, c) = sum;
    }
  }
  return true;
}

// The end values of the solved point (W: the model's unknowns, the node
// states, P): those of the latest call's base when it was at W, else the
// base segments again. False when a segment had something to say.
template <class Model>
[[nodiscard]] bool EndValuesAtPoint(Program<Model> &s, const GLNARRAY<Model::N> &X,
                                    const GLNARRAY<SegmentedShooting<Model>::NZ> &Z) {
  auto &ms = *s.segments;
  if (!(ms.haveCall && SameBits(ms.ZIn, Z) && SameBits(ms.PIn, s.g.P))) {
    const unsigned long before = MessageCount();
    SegmentEnds ends;
    if (SegmentBase(ms, s.g, Z, ms.BETA, ends).invalidCall || ends.heldBack ||
        MessageCount() != before)
      return false;
  }
  ms.haveCall = false;
  s.g.X = X;
  s.g.YOUT = ms.YOUT;
  s.g.H = Model::HAfterTrajectory(s.g, X, s.g.H);
  return true;
}

// The node states of a sweep's first point, from its unknowns, when no
// solve and no file has given them.
template <class Model> void StartNodesIfUnknown(Program<Model> &s) {
  if constexpr (kTakesSegments<Model>)
    if (s.segments && !s.segments->nodesKnown) {
      for (int I = 1; I <= Model::N; ++I)
        s.segments->Z[I] = s.g.X[I];
      StartNodes(*s.segments, s.g);
    }
}

// The guess of W: X and P at distance `step` from `base` along `dir`, the
// node states at `nodes`.
template <class Model>
GLNARRAY<SegmentedShooting<Model>::NZ + 1>
GuessOnSegments(const SegmentedShooting<Model> &ms, const ArcVector<Model> &base,
                const ArcVector<Model> &dir, REAL step, const ArcVector<Model> &scale,
                const ArcNodes<Model> &nodes) {
  constexpr int N = Model::N, NA = N + 1;
  GLNARRAY<SegmentedShooting<Model>::NZ + 1> W;
  for (int I = 1; I <= NA; ++I)
    W[I] = base[I] + step * dir[I] * scale[I];
  for (int J = N + 1; J <= ms.Order(); ++J)
    W[PlaceInW<N>(J)] = nodes.Z[J];
  return W;
}

// The latest segmented call's Jacobian and residuals (ms.ALPHA, ms.BETA) and
// P's column, in the places of W.
template <class Model>
void PutSegmentedRows(const SegmentedShooting<Model> &ms,
                      const GLNARRAY<SegmentedShooting<Model>::NZ> &column,
                      GLNBYN<SegmentedShooting<Model>::NZ + 1> &A,
                      GLNARRAY<SegmentedShooting<Model>::NZ + 1> &B) {
  constexpr int N = Model::N;
  const int n = ms.Order();
  for (int I = 1; I <= n; ++I) {
    for (int J = 1; J <= n; ++J)
      A(PlaceInW<N>(I), PlaceInW<N>(J)) = ms.ALPHA(I, J);
    A(PlaceInW<N>(I), N + 1) = column[I];
    B[PlaceInW<N>(I)] = ms.BETA[I];
  }
}

// Row N + 1 of W's equations: the distance along the curve from `base`
// along `dir`, less `step`, summed in the order a single trajectory's solve
// sums it (the unknowns, then P); the node states do not count.
template <class Model>
void PutDistanceRow(int order, const GLNARRAY<SegmentedShooting<Model>::NZ + 1> &W,
                    const ArcVector<Model> &base, const ArcVector<Model> &dir, REAL step,
                    const ArcVector<Model> &scale, GLNBYN<SegmentedShooting<Model>::NZ + 1> &A,
                    GLNARRAY<SegmentedShooting<Model>::NZ + 1> &B) {
  constexpr int NA = Model::N + 1;
  REAL along = -step;
  for (int J = 1; J <= NA; ++J) {
    along += dir[J] * (W[J] - base[J]) / scale[J];
    A(NA, J) = -dir[J] / scale[J];
  }
  for (int J = NA + 1; J <= order + 1; ++J)
    A(NA, J) = 0.0L;
  B[NA] = along;
}

// SolveAlong on segments: the point at distance `step` from `base` along
// `dir` (in X and P), its node states started at `nodes`. A segment that
// has something to say (a message, a trap) fails the attempt, as a whole
// trajectory does along the curve. Solved, the program state and the node
// states are the point's, `jacobian` the condensed bordered Jacobian.
template <class Model>
[[nodiscard]] Attempt
SolveAlongOnSegments(Program<Model> &s, const ArcVector<Model> &base, const ArcVector<Model> &dir,
                     REAL step, const ArcVector<Model> &scale, const ArcNodes<Model> &nodes,
                     ArcMatrix<Model> &jacobian, NewtonTrace *trace) {
  using MS = SegmentedShooting<Model>;
  constexpr int N = Model::N, NA = N + 1, NW = MS::NZ + 1;
  auto &ms = *s.segments;
  const HeldEnds<Model> held(ms);
  const int n = ms.Order();
  GLNARRAY<NW> W = GuessOnSegments(ms, base, dir, step, scale, nodes);
  GLNARRAY<MS::NZ> Z;
  const auto load = [&](const GLNARRAY<NW> &Wi) {
    for (int J = 1; J <= n; ++J)
      Z[J] = Wi[PlaceInW<N>(J)];
    for (int I = 1; I <= N; ++I)
      s.g.X[I] = Wi[I];
    s.g.P = Wi[NA];
  };
  s.g.ITER = 0;
  auto usrfun = [&](GLNARRAY<NW> &Wi, INT16, GLNBYN<NW> &A, GLNARRAY<NW> &B) {
    s.observer.AtSafePoint(Wi[NA]);
    load(Wi);
    const unsigned long before = MessageCount();
    SegmentEnds ends;
    UsrfunResult r = SegmentedUSRFUN(ms, s.g, Z, ms.ALPHA, ms.BETA, ends);
    GLNARRAY<MS::NZ> column;
    if (!r.invalidCall && !ends.heldBack)
      r = SegmentedParameterColumn(ms, s.g, Z, ms.BETA, column, ends);
    if (trace) {
      trace->NoteTrajectories(ms.PiecesOfCall() + ms.cuts.M, r.cutShort);
      trace->NoteSegments(ends.cutShort, ends.invalidCall);
    }
    if (r.invalidCall || ends.heldBack || MessageCount() != before)
      return false;
    PutSegmentedRows(ms, column, A, B);
    PutDistanceRow<Model>(n, Wi, base, dir, step, scale, A, B);
    if (trace)
      trace->NoteJacobian(A, static_cast<INT16>(n + 1));
    for (int I = 1; I <= n + 1; ++I)
      for (int J = 1; J <= n + 1; ++J)
        ms.bordered(I, J) = A(I, J);
    return true;
  };
  if (const Attempt a = AttemptOf(MNEWT(s.g.solve.NTRIAL, W, static_cast<INT16>(n + 1),
                                        s.g.solve.TOLX, s.g.solve.TOLF, s.g.ITER, usrfun, trace));
      a != Attempt::Solved)
    return a;
  load(W);
  ms.Z = Z;
  ms.nodesKnown = true;
  if (!EndValuesAtPoint(s, ModelUnknowns<Model>(Z), Z))
    return Attempt::InvalidCall;
  return CondensedJacobian(ms, jacobian) ? Attempt::Solved : Attempt::SingularMatrix;
}

} // namespace zanfel
