// The solve of a point of the curve in (X, P) and what its Jacobian tells:
// the distance along the curve, the point at a given distance from another,
// the slope of P there and the orientation of the curve (the sign of the
// determinant of the bordered Jacobian, which a branch point flips).
#pragma once

#include <cmath>

#include "continuation/program.hpp"
#include "shooting/parameter_column.hpp"

namespace zanfel {

// An N+1 vector (X, P) of the curve; P is the last element.
template <class Model> using ArcVector = GLNARRAY<Model::N + 1>;
template <class Model> using ArcMatrix = GLNBYN<Model::N + 1>;

// How a solve along the curve ended: solved; failed (Newton's method ran out
// of iterations, or a trajectory was refused: a shorter step may do); or at a
// singular matrix, which ends the run as it ends a natural sweep.
enum class Attempt { Solved, IterationLimit, InvalidCall, SingularMatrix };

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

// The point of the curve at distance `step` from `base` along `dir`, both
// in the coordinates scaled by `scale` (dir . (Z - base) / scale = step),
// from the guess base + step dir scale. On success the
// program state is the point's, with the end values of its own trajectory,
// and `jacobian` the augmented (negated) Jacobian of the last iteration; on
// failure the state is undefined. With `trace`, the solve is traced there
// for the diagnosis of a failure that ends the run.
template <class Model>
[[nodiscard]] Attempt SolveAlong(Program<Model> &s, const ArcVector<Model> &base,
                                 const ArcVector<Model> &dir, REAL step,
                                 const ArcVector<Model> &scale, ArcMatrix<Model> &jacobian,
                                 NewtonTrace *trace = nullptr) {
  constexpr int NA = Model::N + 1;
  ArcVector<Model> Z;
  for (int I = 1; I <= NA; ++I)
    Z[I] = base[I] + step * dir[I] * scale[I];
  s.g.ITER = 0;
  auto usrfun = [&](GLNARRAY<NA> &Zi, INT16, ArcMatrix<Model> &A, GLNARRAY<NA> &B) {
    s.observer.AtSafePoint(Zi[NA]);
    LoadPoint(s, Zi);
    if (!USRFUNWithParameter<Model>(s.g, A, B))
      return false;
    if (trace) {
      trace->NoteTrajectories(Model::N + 2, 0);
      trace->NoteJacobian(A, Model::N);
    }
    REAL along = -step;
    for (int J = 1; J <= NA; ++J) {
      along += dir[J] * (Zi[J] - base[J]) / scale[J];
      A(NA, J) = -dir[J] / scale[J];
    }
    B[NA] = along;
    jacobian = A;
    return true;
  };
  switch (MNEWT(s.g.solve.NTRIAL, Z, static_cast<INT16>(NA), s.g.solve.TOLX, s.g.solve.TOLF,
                s.g.ITER, usrfun, trace)) {
  case NewtonStatus::Converged:
    break;
  case NewtonStatus::SingularMatrix:
    return Attempt::SingularMatrix;
  case NewtonStatus::IterationLimit:
    return Attempt::IterationLimit;
  case NewtonStatus::ResidualsFailed:
    return Attempt::InvalidCall;
  }
  LoadPoint(s, Z);
  return TrajectoryAtPoint<Model>(s.g) ? Attempt::Solved : Attempt::InvalidCall;
}

// The determinant of a matrix from its LU factors (LUDCMP's D and U's
// diagonal).
template <int NA> REAL DeterminantOfFactors(const GLNBYN<NA> &LU, INT16 n, REAL D) {
  REAL det = D;
  for (int I = 1; I <= n; ++I)
    det = det * LU(I, I);
  return det;
}

// dP/ds at a solved point, along the tangent that goes the way of the solve's
// direction, s measured with `scale`: from the augmented Jacobian, whose last
// row is -dir / scale; and that Jacobian's determinant, whose sign is the
// curve's orientation wherever dir and the tangent agree in sign (a branch
// point flips it, a fold does not). False for a Jacobian with an all-zero
// row.
template <int NA>
[[nodiscard]] bool SlopeOfP(GLNBYN<NA> jacobian, const GLNARRAY<NA> &scale, REAL &slope,
                            REAL &det) {
  GLINDX<NA> INDX;
  REAL D;
  if (!LUDCMP(jacobian, static_cast<INT16>(NA), INDX, D))
    return false;
  det = DeterminantOfFactors(jacobian, static_cast<INT16>(NA), D);
  // J tau = 0 and dir . tau = 1: tau is a tangent with dir . tau > 0.
  GLNARRAY<NA> tau;
  tau[NA] = -1.0L;
  LUBKSB(jacobian, static_cast<INT16>(NA), INDX, tau);
  REAL norm = 0.0L;
  for (int I = 1; I <= NA; ++I) {
    const REAL t = tau[I] / scale[I];
    norm += t * t;
  }
  slope = tau[NA] / sqrtl(norm);
  return true;
}

// A solved point of the curve with the slope of P there and the
// determinant of its bordered Jacobian.
template <class Model> struct ArcPoint {
  ArcVector<Model> Z;
  REAL slope = 0.0L;
  REAL det = 0.0L;
};

} // namespace zanfel
