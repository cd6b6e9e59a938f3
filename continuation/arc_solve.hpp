// The solve of a point of the curve in (X, P) and what its Jacobian tells:
// the distance along the curve, the point at a given distance from another,
// the slope of P there and the orientation of the curve (the sign of the
// determinant of the bordered Jacobian, which a branch point flips).
#pragma once

#include <cmath>

#include "continuation/arc_segments.hpp"
#include "continuation/arc_vector.hpp"
#include "shooting/parameter_column.hpp"

namespace zanfel {

// The point of the curve at distance `step` from `base` along `dir`, both
// in the coordinates scaled by `scale` (dir . (Z - base) / scale = step),
// from the guess base + step dir scale. On success the
// program state is the point's, with the end values of its own trajectory,
// and `jacobian` the augmented (negated) Jacobian of the last iteration; on
// failure the state is undefined. With `trace`, the solve is traced there
// for the diagnosis of a failure that ends the run. On segments, the node
// states start from `nodes`, and `jacobian` is condensed onto (X, P).
template <class Model>
[[nodiscard]] Attempt SolveAlong(Program<Model> &s, const ArcVector<Model> &base,
                                 const ArcVector<Model> &dir, REAL step,
                                 const ArcVector<Model> &scale, const ArcNodes<Model> &nodes,
                                 ArcMatrix<Model> &jacobian, NewtonTrace *trace = nullptr) {
  if constexpr (kTakesSegments<Model>)
    if (s.segments)
      return SolveAlongOnSegments(s, base, dir, step, scale, nodes, jacobian, trace);
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
  if (const Attempt a = AttemptOf(MNEWT(s.g.solve.NTRIAL, Z, static_cast<INT16>(NA), s.g.solve.TOLX,
                                        s.g.solve.TOLF, s.g.ITER, usrfun, trace));
      a != Attempt::Solved)
    return a;
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
  ArcNodes<Model> nodes; // on segments, the node states solved with it
};

} // namespace zanfel
