// Which of the system's own fatal ends ended the run, for the summary that
// tells the person how it ended, and the exit status of each: a sweep that
// stopped short on a failure must not look like a success to a script.
#pragma once

namespace zanfel {

enum class FatalCause {
  Unknown,
  IterationLimit,
  InvalidIntegratorCall,
  SingularMatrix,
  StartNotSolved,
};

// Distinct from the run-time error numbers, the command-line statuses
// (64-66) and the ends by signal (128+N).
constexpr int kIterationLimitStatus = 10;        // "ntial malo"
constexpr int kInvalidIntegratorCallStatus = 11; // the integrator's bad-call end
constexpr int kSingularMatrixStatus = 12;        // reported as run-time error 200
constexpr int kStartNotSolvedStatus = 13;        // along the arclength, before any record

// Noted just before the fatal end. Async-signal-safe to read.
void NoteFatalCause(FatalCause cause);
FatalCause NotedFatalCause();

} // namespace zanfel
