// The shooting layer: one trajectory from the unknowns to the residuals (RKF)
// and the residuals with their forward-difference Jacobian (USRFUN), written
// once for every model.
#pragma once

#include <atomic>
#include <string>

#include "integrator/rkf45.hpp"
#include "runtime/console.hpp"
#include "runtime/deferred_end.hpp"
#include "runtime/fault.hpp"
#include "runtime/types.hpp"
#include "shooting/model.hpp"
#include "shooting/trajectory_pool.hpp"

namespace zanfel {

// The tolerance reported as the one to answer status 5 or 6 with.
constexpr REAL kToleranceLoosening = 10.0L;
// The forward-difference step of the Jacobian: 1.0E-14 relative to 1 + |x|,
// formed as ten times 1.0E-15.
constexpr REAL kDifferenceStepTens = 10.0L;
constexpr REAL kDifferenceStepUnit = 1.0E-15L;

// The integrator's reaction messages, in the order they are written.
void ReportTooManySteps();
void ReportTolerance(REAL RELERR, REAL ABSERR);
void ReportInvalidCall();

// How one trajectory ended: at t = 1, cut short by its last budget (end
// values of an unfinished integration), or refused by the integrator as an
// invalid call (no end values at all; the run cannot go on).
enum class TrajectoryEnd { Reached, CutShort, InvalidCall };

// What one USRFUN call's trajectories came to: how many were cut short, and
// whether one was an invalid call (the call then stopped there, its
// residuals and Jacobian unfinished).
struct UsrfunResult {
  int cutShort = 0;
  bool invalidCall = false;
  void Note(TrajectoryEnd end) {
    cutShort += end == TrajectoryEnd::CutShort;
    invalidCall = invalidCall || end == TrajectoryEnd::InvalidCall;
  }
};

// Right-hand-side evaluations of all trajectories so far (benchmarks).
inline std::atomic<unsigned long> rightHandSideEvaluations{0};
inline void CountEvaluations(INT16 NFE) {
  rightHandSideEvaluations.fetch_add(static_cast<unsigned long>(NFE), std::memory_order_relaxed);
}

template <ShootingModel Model> struct Trajectory {
  using Globals = typename Model::Globals;
  static constexpr int N = Model::N;
  static constexpr int NEQN = Model::NEQN;

  // The right-hand side as the integrator calls it.
  struct RightHandSide {
    Globals &g;
    void operator()(REAL T, View1<const REAL> YI, View1<REAL> YPI) const {
      Model::DIFEQN(g, T, YI, YPI);
    }
  };
};

// The integration of one trajectory with up to `budgets` runs of the
// integrator's evaluation budget: each return 4 but the last is answered
// with 4, which goes on from where it stopped with a fresh budget. Every
// run's evaluations are counted before the next one resets them. `log`
// hears of every accepted step of all the runs.
template <PROCTYPE F, class Log = NoStepLog>
void IntegrateWithBudgets(F &f, INT16 NEQN, ARRAYTYPE Y, REAL &T, REAL TOUT, REAL &RELERR,
                          REAL ABSERR, INT16 &IFLAG, ARRAYTYPE WORK, View1<INT16> IWORK,
                          INT16 budgets, Log &&log = Log{}) {
  RKF45(f, NEQN, Y, T, TOUT, RELERR, ABSERR, IFLAG, WORK, IWORK, kRunRelerrFloor, log);
  for (INT16 used = 1; IFLAG == 4 && used < budgets; ++used) {
    CountEvaluations(IWORK[1]);
    RKF45(f, NEQN, Y, T, TOUT, RELERR, ABSERR, IFLAG, WORK, IWORK, kRunRelerrFloor, log);
  }
  CountEvaluations(IWORK[1]);
}

// A step log that is told how the integration ended, too (its last IFLAG).
template <class Log>
concept EndingStepLog = requires(Log &log, INT16 IFLAG) {
  log.Ended(IFLAG);
};

// The integration of y[1..NEQN] from T to TOUT with the tolerances and
// budgets of g.solve, the integrator's work areas fresh. Its reactions are
// reported as they come; an invalid call leaves Y as the integrator left it.
// `log` hears of every accepted step (and, if it asks, of the last IFLAG).
template <ShootingModel Model, class Log = NoStepLog>
TrajectoryEnd IntegrateSpan(typename Model::Globals &g, Array1<REAL, 1, Model::NEQN> &Y, REAL T,
                            const REAL TOUT, Log &&log = Log{}) {
  constexpr int NEQN = Model::NEQN;
  Array1<REAL, 1, 3 + 6 * NEQN> WORK;
  Array1<INT16, 1, 5> IWORK;
  REAL RELERR = g.solve.RELERR;
  REAL ABSERR = g.solve.ABSERR;
  INT16 IFLAG = 1;

  typename Trajectory<Model>::RightHandSide f{g};
  IntegrateWithBudgets(f, static_cast<INT16>(NEQN), ARRAYTYPE{Y.data()}, T, TOUT, RELERR, ABSERR,
                       IFLAG, ARRAYTYPE{WORK.data()}, View1<INT16>{IWORK.data()}, g.solve.budgets,
                       log);
  if constexpr (EndingStepLog<Log>)
    log.Ended(IFLAG);

  switch (StatusOf(IFLAG)) {
  case RkfStatus::RelErrRaised:
    ReportTolerance(RELERR, ABSERR);
    break;
  case RkfStatus::TooManyEvaluations:
    ReportTooManySteps();
    return TrajectoryEnd::CutShort;
  case RkfStatus::AbsErrNeeded:
    ABSERR = ABSERR * kToleranceLoosening;
    ReportTolerance(RELERR, ABSERR);
    break;
  case RkfStatus::StepTooSmall:
    RELERR = RELERR * kToleranceLoosening;
    ReportTolerance(RELERR, ABSERR);
    break;
  case RkfStatus::InvalidInput:
    ReportInvalidCall();
    return TrajectoryEnd::InvalidCall;
  case RkfStatus::OneStepTaken:
  case RkfStatus::ToutReached:
  case RkfStatus::StepsCutShort:
    break;
  }
  return TrajectoryEnd::Reached;
}

// One trajectory over 0 <= t <= 1 at the unknowns X (a copy: nothing done to
// it reaches the caller), with the tolerances and budgets of g.solve. The integrator's work
// areas are fresh every call. An invalid call returns at once, its message
// written and YOUT untouched.
template <ShootingModel Model>
TrajectoryEnd RKF(typename Model::Globals &g, GLNARRAY<Model::N> X, GLNARRAY1<Model::NOUT> &YOUT) {
  Array1<REAL, 1, Model::NEQN> Y;
  Model::INITVAL(g, X, View1<REAL>{Y.data()});
  const TrajectoryEnd end = IntegrateSpan<Model>(g, Y, 0.0L, 1.0L);
  if (end == TrajectoryEnd::InvalidCall)
    return end;
  Model::OUTVAL(g, X, View1<const REAL>{Y.data()}, YOUT);
  return end;
}

// The forward-difference step of unknown I: 1.0E-14 relative to 1 + |X[I]|.
inline REAL DifferenceStep(REAL x) {
  return (1.0L + fabsl(x)) * kDifferenceStepTens * kDifferenceStepUnit;
}

// Residuals BETA and the negated forward-difference Jacobian ALPHA at X, one
// trajectory after the other. Each unknown in turn is raised in place while
// its trajectory runs and lowered again by subtraction. This is the
// reference for the parallel path. An invalid call stops it there.
template <ShootingModel Model>
UsrfunResult SequentialUSRFUN(typename Model::Globals &g, GLNARRAY<Model::N> &X, INT16 N,
                              GLNBYN<Model::N> &ALPHA, GLNARRAY<Model::N> &BETA) {
  GLNARRAY<Model::N> XDLT;
  UsrfunResult result;
  result.Note(RKF<Model>(g, X, g.YOUT));
  if (result.invalidCall)
    return result;
  for (int I = 1; I <= N; ++I)
    XDLT[I] = DifferenceStep(X[I]);
  for (int I = 1; I <= N; ++I)
    BETA[I] = g.YOUT[I];
  for (int J = 1; J <= N; ++J) {
    if (J > 1)
      X[J - 1] = X[J - 1] - XDLT[J - 1];
    X[J] = X[J] + XDLT[J];
    result.Note(RKF<Model>(g, X, g.YOUT));
    if (result.invalidCall)
      return result;
    for (int I = 1; I <= N; ++I)
      ALPHA(I, J) = -(g.YOUT[I] - BETA[I]) / XDLT[J];
  }
  // Lowered by subtraction, not restored: the round-off stays in X.
  X[N] = X[N] - XDLT[N];
  return result;
}

// work(ctx) on this thread with its messages captured in `messages` (their
// count in `count`) and any end of the program held back: one trajectory of
// a batch, run on a worker thread or the caller's.
inline DeferredEnd RunCapturingMessages(std::string &messages, unsigned long &count,
                                        void (*work)(void *), void *ctx) {
  CaptureMessages(&messages);
  const unsigned long before = CapturedMessageCount();
  DeferredEnd end = RunDeferringEnds(work, ctx);
  count = CapturedMessageCount() - before;
  CaptureMessages(nullptr);
  return end;
}

// The trajectories of one USRFUN call (N+1 of them unless said otherwise),
// each with what a one-at-a-time run would give it: its own copy of the
// program-wide variables with the unknowns as they stand when it starts and
// the H it would find on entry.
template <ShootingModel Model, int Count = Model::N + 1> struct TrajectoryBatch {
  static constexpr int NP = Model::N;
  typename Model::Globals g[Count];
  GLNARRAY<NP> X[Count];
  std::string messages[Count];
  unsigned long messageCount[Count] = {};
  DeferredEnd end[Count];
  TrajectoryEnd ends[Count] = {};

  static void Run(void *ctx, int j) {
    auto &b = *static_cast<TrajectoryBatch *>(ctx);
    struct Work {
      TrajectoryBatch *batch;
      int index;
    } work{&b, j};
    b.end[j] = RunCapturingMessages(
        b.messages[j], b.messageCount[j],
        [](void *p) {
          const auto &w = *static_cast<Work *>(p);
          w.batch->ends[w.index] =
              RKF<Model>(w.batch->g[w.index], w.batch->X[w.index], w.batch->g[w.index].YOUT);
        },
        &work);
  }
};

// Trajectories 0..N of a batch: trajectory J at X with unknown J raised by
// XDLT[J] (the one before it lowered again by subtraction), each with its own
// copy of g and the H the trajectory before it leaves (the first `H`).
// Returns the unknowns as a one-at-a-time run leaves them.
template <ShootingModel Model, int Count>
GLNARRAY<Model::N> LoadDifferenceTrajectories(TrajectoryBatch<Model, Count> &b,
                                              const typename Model::Globals &g,
                                              const GLNARRAY<Model::N> &X,
                                              const GLNARRAY<Model::N> &XDLT, INT16 N, REAL H) {
  GLNARRAY<Model::N> XS = X;
  for (int J = 0; J <= N; ++J) {
    if (J > 1)
      XS[J - 1] = XS[J - 1] - XDLT[J - 1];
    if (J > 0)
      XS[J] = XS[J] + XDLT[J];
    b.X[J] = XS;
    b.g[J] = g;
    b.g[J].X = XS;
    b.g[J].H = H;
    H = Model::HAfterTrajectory(b.g[J], b.X[J], H);
  }
  XS[N] = XS[N] - XDLT[N];
  return XS;
}

// USRFUN with its trajectories run side by side on `threads` threads. What
// it computes, writes and leaves behind is what SequentialUSRFUN does: the
// messages, an invalid call and any end of the program come in trajectory
// order.
template <ShootingModel Model>
UsrfunResult ParallelUSRFUN(typename Model::Globals &g, GLNARRAY<Model::N> &X, INT16 N,
                            GLNBYN<Model::N> &ALPHA, GLNARRAY<Model::N> &BETA, int threads) {
  TrajectoryBatch<Model> b;
  GLNARRAY<Model::N> XDLT;
  for (int I = 1; I <= N; ++I)
    XDLT[I] = DifferenceStep(X[I]);
  const GLNARRAY<Model::N> XS = LoadDifferenceTrajectories(b, g, X, XDLT, N, g.H);

  RunOnPool(N + 1, threads < N + 1 ? threads : N + 1, TrajectoryBatch<Model>::Run, &b);

  UsrfunResult result;
  for (int J = 0; J <= N; ++J) {
    if (!b.messages[J].empty())
      WriteCapturedMessages(b.messages[J], b.messageCount[J]);
    if (b.end[J].kind != DeferredEnd::Kind::None)
      EndAsDeferred(b.end[J]);
    result.Note(b.ends[J]);
    if (result.invalidCall)
      return result;
  }
  for (int I = 1; I <= N; ++I)
    BETA[I] = b.g[0].YOUT[I];
  for (int J = 1; J <= N; ++J)
    for (int I = 1; I <= N; ++I)
      ALPHA(I, J) = -(b.g[J].YOUT[I] - BETA[I]) / XDLT[J];
  g.YOUT = b.g[N].YOUT;
  g.H = b.g[N].H;
  X = XS;
  return result;
}

// Residuals and Jacobian at the program-wide unknowns g.X (MNEWT's vector
// and the drivers'), on all the threads the process may use, one at a time
// when that is one.
template <ShootingModel Model>
UsrfunResult USRFUN(typename Model::Globals &g, INT16 N, GLNBYN<Model::N> &ALPHA,
                    GLNARRAY<Model::N> &BETA) {
  const int threads = TrajectoryThreads();
  if (threads > 1)
    return ParallelUSRFUN<Model>(g, g.X, N, ALPHA, BETA, threads);
  return SequentialUSRFUN<Model>(g, g.X, N, ALPHA, BETA);
}

} // namespace zanfel
