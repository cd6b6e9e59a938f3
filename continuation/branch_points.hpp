// Branch points in a natural sweep (--branch-points): where the determinant
// of the N x N Jacobian changes sign between two records (the sweep cannot
// pass a fold, so no fold explains it), located in P by regula falsi and
// written as a record of its own, branch1, branch2, ..., before the step's
// record. Along the arclength the bordered Jacobian's determinant is watched
// instead (continuation/arclength.hpp). The test is the Jacobian the solve
// has already made: finding none costs no trajectory.
#pragma once

#include <cmath>

#include "continuation/arc_solve.hpp"
#include "nonlinear/regula_falsi.hpp"

namespace zanfel {

// A branch point of a natural sweep is located when the bracket round it is
// narrower than this times the step it was found in, or after
// kNaturalBranchIterations solves.
constexpr REAL kNaturalBranchTolerance = 1.0E-12L;
constexpr int kNaturalBranchIterations = 40;

// The determinant of the Jacobian of the solve just made (s.ALPHA, of the
// converged unknowns); 0 for one with a row of zeros.
template <class Model> REAL JacobianDeterminant(const Program<Model> &s) {
  GLNBYN<Model::N> LU = s.ALPHA;
  GLINDX<Model::N> INDX;
  REAL D;
  if (!LUDCMP(LU, static_cast<INT16>(Model::N), INDX, D))
    return 0.0L;
  return DeterminantOfFactors(LU, static_cast<INT16>(Model::N), D);
}

// The solve at P from the unknowns on the line between the last record and
// the point just solved; the determinant there in `det`.
template <class Model>
[[nodiscard]] Failure SolveBetween(Program<Model> &s, const typename Model::Globals &atNext, REAL P,
                                   REAL &det) {
  const NaturalBranchWatch<Model::N> &w = s.branchWatch;
  const REAL weight = (P - w.P) / (atNext.P - w.P);
  s.g = atNext;
  s.g.P = P;
  for (int I = 1; I <= Model::N; ++I)
    s.g.X[I] = w.X[I] + weight * (atNext.X[I] - w.X[I]);
  s.observer.AtSafePoint(P);
  if (const Failure failure = Solve(s); failure != Failure::None)
    return failure;
  det = JacobianDeterminant(s);
  return Failure::None;
}

// The point just solved has the determinant `det`: where its sign is not the
// last record's, the branch point between them is located and recorded. The
// ends are solved again from the two records, so that the search depends on
// them alone (a resumed sweep has only their rows). The program state is the
// point's again afterwards; the watch holds it for the next step. The
// messages of the location are the branch point's, not the step's: they
// move `stepMessagesBefore` on.
template <class Model>
[[nodiscard]] Failure PassNaturalBranchPoint(Program<Model> &s, const SweepRules<Model> &rules,
                                             unsigned long &stepMessagesBefore) {
  NaturalBranchWatch<Model::N> &w = s.branchWatch;
  const REAL det = JacobianDeterminant(s);
  const typename Model::Globals atNext = s.g;
  const bool flipped = w.have && std::signbit(det) != std::signbit(w.det);
  Failure failure = Failure::None;
  const unsigned long before = MessageCount();
  if (flipped)
    failure = LocateNaturalBranchPoint(s, rules, atNext);
  stepMessagesBefore += MessageCount() - before;
  s.g = atNext;
  w = {det, atNext.P, atNext.X, true};
  return failure;
}

// A resumed sweep watches from its last record: solved again for the
// determinant, the program state the record's again after.
template <class Model> [[nodiscard]] Failure WatchFromLastRecord(Program<Model> &s) {
  const typename Model::Globals atLast = s.g;
  const Failure failure = Solve(s);
  if (failure == Failure::None)
    s.branchWatch = {JacobianDeterminant(s), atLast.P, atLast.X, true};
  s.g = atLast;
  return failure;
}

template <class Model>
[[nodiscard]] Failure LocateNaturalBranchPoint(Program<Model> &s, const SweepRules<Model> &rules,
                                               const typename Model::Globals &atNext) {
  const unsigned long messagesBefore = MessageCount();
  FalsiBracket f{s.branchWatch.P, atNext.P, 0.0L, 0.0L};
  if (const Failure failure = SolveBetween(s, atNext, f.lo, f.fLo); failure != Failure::None)
    return failure;
  if (const Failure failure = SolveBetween(s, atNext, f.hi, f.fHi); failure != Failure::None)
    return failure;
  if (std::signbit(f.fLo) == std::signbit(f.fHi))
    return Failure::None;
  const REAL width = fabsl(f.hi - f.lo);
  for (int k = 0; k < kNaturalBranchIterations; ++k) {
    const REAL P = f.Next();
    REAL det = 0.0L;
    if (const Failure failure = SolveBetween(s, atNext, P, det); failure != Failure::None)
      return failure;
    if (det == 0.0L || fabsl(f.hi - f.lo) <= kNaturalBranchTolerance * width)
      break;
    f.Take(P, det);
  }
  RecordPoint(s, rules, messagesBefore, RecordKind::Branch);
  return Failure::None;
}

} // namespace zanfel
