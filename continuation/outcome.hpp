// What a run of the engine comes to: a normal end (with the status of a
// normal end or of a resume that did not start), or the failure of a solve
// that the sweep cannot carry on from. The engine returns a failure, it never
// acts on it: what a failure does to the program (its message, the CSV's
// closing line, the pictures, the exit status) is the application's choice.
#pragma once

#include "nonlinear/mnewt.hpp"
#include "nonlinear/newton_trace.hpp"
#include "shooting/solve_settings.hpp"

namespace zanfel {

enum class Failure {
  None,
  IterationLimit,        // Newton's method ran out of iterations ("ntial malo")
  SingularMatrix,        // a Jacobian with an all-zero row
  InvalidIntegratorCall, // the integrator refused a trajectory
  StartNotSolved,        // along the arclength: the first point, before any step
};

struct RunOutcome {
  int status = 0; // of a normal end, or of a resume that did not start
  Failure failure = Failure::None;
  // The failed solve: its iterations and the limits it ran with, for the
  // explanation of an iteration-limit end.
  NewtonTrace trace;
  SolveSettings solve;
};

// The failure of a solve that ended as `status`; only a converged one is
// none. USRFUN fails only on an invalid integrator call.
inline Failure FailureOf(NewtonStatus status) {
  switch (status) {
  case NewtonStatus::Converged:
    break;
  case NewtonStatus::IterationLimit:
    return Failure::IterationLimit;
  case NewtonStatus::SingularMatrix:
    return Failure::SingularMatrix;
  case NewtonStatus::ResidualsFailed:
    return Failure::InvalidIntegratorCall;
  }
  return Failure::None;
}

// A normal end (or a refusal) with this status.
inline RunOutcome EndedWith(int status) {
  RunOutcome outcome;
  outcome.status = status;
  return outcome;
}

} // namespace zanfel
