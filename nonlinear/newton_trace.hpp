// What one solve leaves behind for the diagnosis of an iteration-limit end:
// the residual and correction norms of its last iterations, the largest
// unknown it reached and the trajectories its residual calls cut short.
// Fixed storage, filled by plain stores: nothing is allocated per iteration.
#pragma once

#include <cmath>

#include "runtime/types.hpp"

namespace zanfel {

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

  void Start() { *this = NewtonTrace{}; }

  // From the caller's residual routine: the trajectories one call ran and
  // those of them that were cut short.
  void NoteTrajectories(int run, int cut) {
    trajectories += run;
    cutShort += cut;
    trajectoriesLastJacobian = run;
    cutShortLastJacobian = cut;
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
