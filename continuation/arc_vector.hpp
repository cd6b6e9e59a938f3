// The points of a curve in (X, P) and their geometry: the way a solve along
// the curve ends, the distance between two points measured in the unknowns'
// sizes, the direction from one to another; and the node states that a
// solve on segments carries beside a point.
#pragma once

#include <cmath>

#include "continuation/program.hpp"

namespace zanfel {

// An N+1 vector (X, P) of the curve; P is the last element.
template <class Model> using ArcVector = GLNARRAY<Model::N + 1>;
template <class Model> using ArcMatrix = GLNBYN<Model::N + 1>;

// How a solve along the curve ended: solved; failed (Newton's method ran out
// of iterations, or a trajectory was refused: a shorter step may do); or at a
// singular matrix, which ends the run as it ends a natural sweep.
enum class Attempt { Solved, IterationLimit, InvalidCall, SingularMatrix };

// How a solve along the curve ended, from how Newton's method ended.
inline Attempt AttemptOf(NewtonStatus status) {
  switch (status) {
  case NewtonStatus::Converged:
    break;
  case NewtonStatus::SingularMatrix:
    return Attempt::SingularMatrix;
  case NewtonStatus::IterationLimit:
    return Attempt::IterationLimit;
  case NewtonStatus::ResidualsFailed:
    return Attempt::InvalidCall;
  }
  return Attempt::Solved;
}

inline bool Failed(Attempt a) {
  return a == Attempt::IterationLimit || a == Attempt::InvalidCall;
}

// What a start that could not be solved comes to: there is no shorter step
// to try. None for a solved one.
inline Failure StartFailure(Attempt a) {
  switch (a) {
  case Attempt::Solved:
    break;
  case Attempt::IterationLimit:
  case Attempt::InvalidCall:
    return Failure::StartNotSolved;
  case Attempt::SingularMatrix:
    return Failure::SingularMatrix;
  }
  return Failure::None;
}

// What a sweep along a curve does after an attempt at its next point: go
// on with the point, try again with the step halved, end at the least step,
// or end the run at a singular matrix.
enum class NextMove { Solved, Retry, MinStep, Singular };
inline NextMove AfterAttempt(Attempt a, REAL &step, REAL minStep) {
  if (a == Attempt::SingularMatrix)
    return NextMove::Singular;
  if (!Failed(a))
    return NextMove::Solved;
  step = step / 2.0L;
  return step < minStep ? NextMove::MinStep : NextMove::Retry;
}

template <class Model> ArcVector<Model> PointOf(const Program<Model> &s) {
  ArcVector<Model> Z;
  for (int I = 1; I <= Model::N; ++I)
    Z[I] = s.g.X[I];
  Z[Model::N + 1] = s.g.P;
  return Z;
}

template <class Model> void LoadPoint(Program<Model> &s, const ArcVector<Model> &Z) {
  for (int I = 1; I <= Model::N; ++I)
    s.g.X[I] = Z[I];
  s.g.P = Z[Model::N + 1];
}

// Lengths along the curve measure each unknown in units of its size at the
// base of the step (in its own units where it is below 1), P as it is: a step
// of a given length then moves P alike whether the unknowns are ones or
// thousands, and the step bounds, which come from the program's step of P,
// mean what they say. The scale of a point depends on that point alone, so a
// resumed sweep measures as the unstopped one did.
template <int NA> GLNARRAY<NA> ScaleAt(const GLNARRAY<NA> &Z) {
  GLNARRAY<NA> scale;
  for (int I = 1; I < NA; ++I)
    scale[I] = fmaxl(1.0L, fabsl(Z[I]));
  scale[NA] = 1.0L;
  return scale;
}

template <int NA>
REAL Distance(const GLNARRAY<NA> &a, const GLNARRAY<NA> &b, const GLNARRAY<NA> &scale) {
  REAL sum = 0.0L;
  for (int I = 1; I <= NA; ++I) {
    const REAL d = (b[I] - a[I]) / scale[I];
    sum += d * d;
  }
  return sqrtl(sum);
}

// The unit vector from a to b, in the scaled coordinates.
template <int NA>
GLNARRAY<NA> Direction(const GLNARRAY<NA> &a, const GLNARRAY<NA> &b, const GLNARRAY<NA> &scale) {
  const REAL length = Distance(a, b, scale);
  GLNARRAY<NA> d;
  for (int I = 1; I <= NA; ++I)
    d[I] = (b[I] - a[I]) / scale[I] / length;
  return d;
}

// The node states a solve on segments holds beside a point of the curve
// (the entries of its Z after the model's unknowns), or nothing for a model
// that takes no segments. They do not count in the distance along the
// curve; they are predicted as the unknowns are, base plus step times
// direction, the direction being their change per unit of that distance.
template <class Model> struct ArcNodes {};
template <class Model>
requires kTakesSegments<Model>
struct ArcNodes<Model> {
  GLNARRAY<SegmentedShooting<Model>::NZ> Z;
};

template <class Model> ArcNodes<Model> NodesOf(const Program<Model> &s) {
  ArcNodes<Model> nodes;
  if constexpr (kTakesSegments<Model>)
    if (s.segments)
      nodes.Z = s.segments->Z;
  return nodes;
}

template <class Model> void PutNodes(Program<Model> &s, const ArcNodes<Model> &nodes) {
  if constexpr (kTakesSegments<Model>)
    if (s.segments)
      s.segments->Z = nodes.Z;
}

// a + w (b - a).
template <class Model>
ArcNodes<Model> NodesBetween(const ArcNodes<Model> &a, const ArcNodes<Model> &b, REAL w) {
  ArcNodes<Model> nodes;
  if constexpr (kTakesSegments<Model>)
    for (int J = 1; J <= SegmentedShooting<Model>::NZ; ++J)
      nodes.Z[J] = a.Z[J] + w * (b.Z[J] - a.Z[J]);
  return nodes;
}

// base + step dir.
template <class Model>
ArcNodes<Model> NodesAlong(const ArcNodes<Model> &base, const ArcNodes<Model> &dir, REAL step) {
  ArcNodes<Model> nodes;
  if constexpr (kTakesSegments<Model>)
    for (int J = 1; J <= SegmentedShooting<Model>::NZ; ++J)
      nodes.Z[J] = base.Z[J] + step * dir.Z[J];
  return nodes;
}

// The change from a to b per unit of the distance `length` between them.
template <class Model>
ArcNodes<Model> NodeDirection(const ArcNodes<Model> &a, const ArcNodes<Model> &b, REAL length) {
  ArcNodes<Model> dir;
  if constexpr (kTakesSegments<Model>)
    for (int J = 1; J <= SegmentedShooting<Model>::NZ; ++J)
      dir.Z[J] = (b.Z[J] - a.Z[J]) / length;
  return dir;
}

} // namespace zanfel
