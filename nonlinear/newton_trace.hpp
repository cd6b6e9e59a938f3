// What one solve leaves behind for the diagnosis of an iteration-limit end:
// the residual and correction norms of its last iterations, the largest
// unknown it reached, the trajectories its residual calls cut short and how
// often the sign of the Jacobian's determinant changed between iterates.
// Fixed storage, filled by plain stores: nothing is allocated per iteration.
#pragma once

#include <cmath>
#include <utility>

#include "runtime/masked_traps.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// The sign of the determinant of A[1..N][1..N] (0 when it is singular), by
// elimination with partial pivoting on a copy. Traps are masked: the sign is
// a diagnosis and must never end the run that asks for it.
template <int NP> int DeterminantSign(const GLNBYN<NP> &A, int N) {
  const MaskedTraps masked;
  GLNBYN<NP> a = A;
  int sign = 1;
  for (int j = 1; j <= N; ++j) {
    int pivot = j;
    for (int i = j + 1; i <= N; ++i)
      if (fabsl(a(i, j)) > fabsl(a(pivot, j)))
        pivot = i;
    if (!(a(pivot, j) != 0.0L)) // zero or NaN: no sign to tell
      return 0;
    if (pivot != j) {
      sign = -sign;
      for (int k = j; k <= N; ++k)
        std::swap(a(pivot, k), a(j, k));
    }
    if (a(j, j) < 0.0L)
      sign = -sign;
    for (int i = j + 1; i <= N; ++i) {
      const REAL f = a(i, j) / a(j, j);
      for (int k = j + 1; k <= N; ++k)
        a(i, k) = a(i, k) - f * a(j, k);
    }
  }
  return sign;
}

struct NewtonTrace {
  static constexpr int kKept = 8;

  // One iteration: the residual norm ERRF and, when a correction followed,
  // its norm ERRX and the scale 1 + |X[N]| of the correction test.
  struct Iteration {
    REAL ERRF = 0.0L;
    REAL ERRX = 0.0L;
    REAL scale = 0.0L;
    bool corrected = false;
  };

  int iterations = 0;    // residual evaluations of the solve
  Iteration ring[kKept]; // iteration k at (k - 1) % kKept
  REAL largestX = 0.0L;  // the largest |X[I]| after a correction
  long trajectories = 0; // trajectories of the solve
  long cutShort = 0;     // of them, cut short by the evaluation budget
  int trajectoriesLastJacobian = 0;
  int cutShortLastJacobian = 0;
  // The sign of the latest Jacobian's determinant (0: none yet, or
  // singular), and how often it flipped between two iterates: iterates on
  // both sides of a singular Jacobian, over and over, are what a solve beyond
  // a fold of the curve gives, where no solution is near.
  int jacobianSign = 0;
  int signChanges = 0;
  // With multiple shooting: the segments (bit k - 1 for segment k) where a
  // trajectory was cut short, and the segment of an invalid call (0: none).
  unsigned long segmentsCut = 0;
  int invalidSegment = 0;

  void Start() { *this = NewtonTrace{}; }

  // From the caller's residual routine: the trajectories one call ran and
  // those of them that were cut short.
  void NoteTrajectories(int run, int cut) {
    trajectories += run;
    cutShort += cut;
    trajectoriesLastJacobian = run;
    cutShortLastJacobian = cut;
  }

  // From the caller's segmented residual routine: where its trajectories
  // were cut short or refused.
  void NoteSegments(unsigned long cut, int invalid) {
    segmentsCut |= cut;
    if (invalid != 0)
      invalidSegment = invalid;
  }

  // From the caller's residual routine: the (negated) Jacobian it returns.
  template <int NP> void NoteJacobian(const GLNBYN<NP> &ALPHA, INT16 N) {
    const int sign = DeterminantSign(ALPHA, N);
    if (sign != 0 && jacobianSign != 0 && sign != jacobianSign)
      ++signChanges;
    if (sign != 0)
      jacobianSign = sign;
  }

  void NoteResiduals(REAL ERRF) {
    ring[iterations % kKept] = Iteration{ERRF, 0.0L, 0.0L, false};
    ++iterations;
  }

  template <int NP> void NoteCorrection(REAL ERRX, const GLNARRAY<NP> &X, INT16 N) {
    Iteration &it = ring[(iterations - 1) % kKept];
    it.ERRX = ERRX;
    it.scale = 1.0L + fabsl(X[N]);
    it.corrected = true;
    for (int I = 1; I <= N; ++I) {
      const REAL a = fabsl(X[I]);
      if (a > largestX || std::isnan(a)) // a NaN stays: it tells of divergence
        largestX = a;
    }
  }

  // The iterations kept, and the k-th of them counted from the oldest.
  int Kept() const { return iterations < kKept ? iterations : kKept; }
  const Iteration &Oldest(int k) const { return ring[(iterations - Kept() + k) % kKept]; }
};

} // namespace zanfel
