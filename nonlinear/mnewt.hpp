// Newton's method for the shooting equations: residual and correction tests
// on 1-norms, the full correction every iteration, no damping.
#pragma once

#include <cmath>

#include "nonlinear/ludcmp.hpp"
#include "nonlinear/newton_trace.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// The iteration limit: the message, then the program ends with
// kIterationLimitStatus.
[[noreturn]] void IterationLimitEnd();

// At most NTRIAL iterations on X[1..N], each with the full Newton correction.
// USRFUN(X, N, ALPHA, BETA) fills the residuals BETA and the negated Jacobian
// ALPHA at X, so that the solution d of ALPHA * d = BETA is the correction to
// add; it may change X during the call but hands it back at its input value
// (up to rounding). The call returns true when the 1-norm of BETA is at most
// TOLF (X as USRFUN left it), or after a correction whose 1-norm is at most
// TOLX * (1 + |X[N]|), with the corrected X[N]; both tests include equality.
// ITER receives the number of the latest iteration that applied a correction
// and is not touched otherwise, so a return by the residual test in the first
// iteration keeps the caller's count. Running out of iterations (at once when
// NTRIAL < 1) returns false, with X as the last correction left it. A trace,
// when given, is started afresh and receives the norms of every iteration, so
// that an end can be explained.
template <int NP, class Usrfun>
bool MNEWTWithin(INT16 NTRIAL, GLNARRAY<NP> &X, INT16 N, REAL TOLX, REAL TOLF, INT16 &ITER,
                 Usrfun &&USRFUN, NewtonTrace *trace = nullptr) {
  GLNBYN<NP> ALPHA;
  GLNARRAY<NP> BETA;
  GLINDX<NP> INDX;
  REAL D;
  if (trace)
    trace->Start();
  for (int K = 1; K <= NTRIAL; ++K) {
    USRFUN(X, N, ALPHA, BETA);
    REAL ERRF = 0.0L;
    for (int I = 1; I <= N; ++I)
      ERRF = ERRF + fabsl(BETA[I]);
    if (trace)
      trace->NoteResiduals(ERRF);
    if (ERRF <= TOLF)
      return true;
    LUDCMP(ALPHA, N, INDX, D);
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
      return true;
  }
  return false;
}

// The same, with running out of iterations the iteration limit's end.
template <int NP, class Usrfun>
void MNEWT(INT16 NTRIAL, GLNARRAY<NP> &X, INT16 N, REAL TOLX, REAL TOLF, INT16 &ITER,
           Usrfun &&USRFUN, NewtonTrace *trace = nullptr) {
  if (!MNEWTWithin(NTRIAL, X, N, TOLX, TOLF, ITER, USRFUN, trace))
    IterationLimitEnd();
}

} // namespace zanfel
