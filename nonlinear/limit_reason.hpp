// Why a solve ran into its iteration limit, worked out from the solve's own
// counts (NewtonTrace), and said in words that tell the user what to change.
#pragma once

#include <string>
#include <string_view>

#include "nonlinear/newton_trace.hpp"
#include "shooting/solve_settings.hpp"

namespace zanfel {

// The kinds of iteration-limit end, in the order they are tested:
// - Budgets: trajectories of the solve ran out of integrator evaluations, so
//   its residuals are those of unfinished integrations; this outweighs all
//   else.
// - Diverged: a norm is no longer finite, or the residuals grew far above
//   the smallest of the last iterations and above where those started.
// - Stalled: the residuals of the last iterations stay near the tolerance
//   (within kNearTolerance of TOLF) and no longer decrease: the residual test
//   asks for more than the arithmetic of the trajectories gives.
// - Turning: the iterates wander without diverging while the Jacobian's
//   determinant keeps changing sign: they lie on both sides of where the
//   curve turns back in P, and no solution is near (a fold). No step of P
//   gets past it; following the curve along its arclength does.
// - NotConverged: anything else (slow or wandering iterations).
enum class LimitKind { Budgets, Diverged, Stalled, Turning, NotConverged };

struct LimitDiagnosis {
  LimitKind kind = LimitKind::NotConverged;
  SolveSettings settings; // the limits the solve ran with
  int iterations = 0;     // residual evaluations of the solve
  long trajectories = 0;  // of the solve
  long cutShort = 0;      // of the solve, cut short by the budget
  int cutShortLastJacobian = 0;
  unsigned long segmentsCut = 0; // with multiple shooting: bit k - 1 for segment k
  REAL lowestF = 0.0L;           // the smallest residual norm of the last iterations
  REAL highestF = 0.0L;          // the largest
  REAL latestF = 0.0L;           // the residual norm of the last iteration
  REAL largestX = 0.0L;          // the largest |X[I]| the solve reached
  int kept = 0;                  // the last iterations looked at
  int signChanges = 0;           // of the Jacobian's determinant between iterates
};

// A stall counts as near the tolerance within this factor of TOLF.
constexpr REAL kNearTolerance = 1.0E6L;
// Divergence: the last residual norm this far above the smallest.
constexpr REAL kGrowth = 1.0E3L;
// A turning curve: the determinant's sign back and forth at least this often.
constexpr int kTurningSignChanges = 2;

LimitDiagnosis DiagnoseIterationLimit(const NewtonTrace &trace, const SolveSettings &settings);

// The part after "iteration limit at P = ...: ", e.g. "443 trajectories of
// the last solve ran out of integrator evaluations (try --budgets 4)".
std::string IterationLimitDetail(const LimitDiagnosis &d);

// The whole reason: "iteration limit at P = <pText>: <detail>".
std::string IterationLimitReason(std::string_view pText, const LimitDiagnosis &d);

// "segment 3", "segments 2, 3": the segments of a mask, bit k - 1 for
// segment k.
std::string SegmentList(unsigned long mask);

// A value with two significant digits, as the reasons write them: 2.1e-15,
// 4.7e4, 0.5, 1e-15.
std::string TwoDigits(REAL v);

} // namespace zanfel
