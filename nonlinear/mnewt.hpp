// Newton's method for the shooting equations: residual and correction tests
// on 1-norms, the full correction every iteration, no damping.
#pragma once

#include <cmath>
#include <type_traits>

#include "nonlinear/ludcmp.hpp"
#include "nonlinear/newton_trace.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// How a solve ended. Only Converged leaves a solution; the others are the
// caller's to act on (the programs end the run, the arclength tries a
// shorter step).
enum class NewtonStatus {
  Converged,       // a residual or a correction test was met
  IterationLimit,  // NTRIAL iterations without either
  SingularMatrix,  // a Jacobian with an all-zero row
  ResidualsFailed, // USRFUN could not give residuals (it returned false)
};

// At most NTRIAL iterations on X[1..N], each with the full Newton correction.
// USRFUN(X, N, ALPHA, BETA) fills the residuals BETA and the negated Jacobian
// ALPHA at X, so that the solution d of ALPHA * d = BETA is the correction to
// add; it may change X during the call but hands it back at its input value
// (up to rounding). It returns nothing, or false when it cannot give the
// residuals at X, which ends the solve at once (ResidualsFailed).
//
// Converged when the 1-norm of BETA is at most TOLF (X as USRFUN left it),
// or after a correction whose 1-norm is at most TOLX * (1 + |X[N]|), with the
// corrected X[N]; both tests include equality. ITER receives the number of
// the latest iteration that applied a correction and is not touched
// otherwise, so a return by the residual test in the first iteration keeps
// the caller's count. Running out of iterations (at once when NTRIAL < 1) is
// IterationLimit, with X as the last correction left it. A trace, when
// given, is started afresh and receives the norms of every iteration, so that
// an end can be explained.
template <int NP, class Usrfun>
[[nodiscard]] NewtonStatus MNEWT(INT16 NTRIAL, GLNARRAY<NP> &X, INT16 N, REAL TOLX, REAL TOLF,
                                 INT16 &ITER, Usrfun &&USRFUN, NewtonTrace *trace = nullptr) {
  GLNBYN<NP> ALPHA;
  GLNARRAY<NP> BETA;
  GLINDX<NP> INDX;
  REAL D;
  if (trace)
    trace->Start();
  for (int K = 1; K <= NTRIAL; ++K) {
    if constexpr (std::is_void_v<decltype(USRFUN(X, N, ALPHA, BETA))>) {
      USRFUN(X, N, ALPHA, BETA);
    } else if (!USRFUN(X, N, ALPHA, BETA)) {
      return NewtonStatus::ResidualsFailed;
    }
    REAL ERRF = 0.0L;
    for (int I = 1; I <= N; ++I)
      ERRF = ERRF + fabsl(BETA[I]);
    if (trace)
      trace->NoteResiduals(ERRF);
    if (ERRF <= TOLF)
      return NewtonStatus::Converged;
    if (!LUDCMP(ALPHA, N, INDX, D))
      return NewtonStatus::SingularMatrix;
    LUBKSB(ALPHA, N, INDX, BETA);
    REAL ERRX = 0.0L;
    for (int I = 1; I <= N; ++I) {
      ERRX = ERRX + fabsl(BETA[I]);
      X[I] = X[I] + BETA[I];
    }
    ITER = static_cast<INT16>(K);
    if (trace)
      trace->NoteCorrection(ERRX, X, N);
    if (ERRX <= (1.0L + fabsl(X[N])) * TOLX)
      return NewtonStatus::Converged;
  }
  return NewtonStatus::IterationLimit;
}

} // namespace zanfel
