// The limits of one solve, read at run time: the Newton iteration's
// (NTRIAL, TOLX, TOLF), the integrator's tolerances and the trajectories'
// budgets of integrator evaluations. The defaults are the compiled-in values every program runs
// with unless told otherwise.
#pragma once

#include "runtime/types.hpp"

namespace zanfel {

struct SolveSettings {
  INT16 NTRIAL = 100;   // the most Newton iterations of a solve
  REAL TOLX = 1.0E-15L; // the correction test: 1-norm at most TOLX * (1 + |X[N]|)
  REAL TOLF = 1.0E-15L; // the residual test: 1-norm at most TOLF
  // Runs of MAXNFE evaluations one trajectory may use: at the end of each
  // but the last the integration goes on with a fresh one; only when the
  // last runs out is the trajectory cut short and reported.
  INT16 budgets = 1;
  // The integrator's tolerances of every trajectory. A RELERR below
  // kRunRelerrFloor is raised by the integrator itself, with its message.
  REAL RELERR = 1.0E-9L;
  REAL ABSERR = 1.0E-15L;
};

// The floor of a trajectory's RELERR above the arithmetic's own limit. The
// integrator's classic 1e-12 was chosen for 64-bit reals; 80-bit reals
// resolve 1.1e-19, and a RELERR of 1e-16 still leaves the step's error
// estimate a thousand units of the last place to work with. Only a --relerr
// below 1e-12 reaches the difference.
constexpr REAL kRunRelerrFloor = 1.0E-16L;

} // namespace zanfel
