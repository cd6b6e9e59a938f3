// The shooting layer: one trajectory from the unknowns to the residuals (RKF)
// and the residuals with their forward-difference Jacobian (USRFUN), written
// once for every model.
#pragma once

#include <atomic>
#include <string>

#include "integrator/rkf45.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "runtime/types.hpp"
#include "shooting/model.hpp"
#include "shooting/trajectory_pool.hpp"

namespace zanfel {

constexpr REAL RKF_RELERR = 1.0E-9L;
constexpr REAL RKF_ABSERR = 1.0E-15L;

// The integrator's reaction messages, in the order they are written; the
// report of status 8 is followed by the end of the program.
void ReportTooManySteps();
void ReportTolerance(REAL RELERR, REAL ABSERR);
[[noreturn]] void ReportInvalidCallAndEnd();

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

// One trajectory over 0 <= t <= 1 at the unknowns X (a copy: nothing done to
// it reaches the caller). The integrator's work areas are fresh every call.
template <ShootingModel Model>
void RKF(typename Model::Globals &g, GLNARRAY<Model::N> X, GLNARRAY1<Model::NOUT> &YOUT) {
  constexpr int NEQN = Model::NEQN;
  Array1<REAL, 1, NEQN> Y;
  Array1<REAL, 1, 3 + 6 * NEQN> WORK;
  Array1<INT16, 1, 5> IWORK;
  REAL RELERR = RKF_RELERR;
  REAL ABSERR = RKF_ABSERR;
  INT16 IFLAG = 1;
  REAL T = 0.0L;
  const REAL TOUT = 1.0L;
  Model::INITVAL(g, X, View1<REAL>{Y.data()});

  typename Trajectory<Model>::RightHandSide f{g};
  RKF45(f, static_cast<INT16>(NEQN), ARRAYTYPE{Y.data()}, T, TOUT, RELERR, ABSERR, IFLAG,
        ARRAYTYPE{WORK.data()}, View1<INT16>{IWORK.data()});

  CountEvaluations(IWORK[1]);
  switch (IFLAG) {
  case 3:
    ReportTolerance(RELERR, ABSERR);
    break;
  case 4:
    ReportTooManySteps();
    break;
  case 5:
    ABSERR = ABSERR * 10.0L;
    ReportTolerance(RELERR, ABSERR);
    break;
  case 6:
    RELERR = RELERR * 10.0L;
    ReportTolerance(RELERR, ABSERR);
    break;
  case 8:
    ReportInvalidCallAndEnd();
  default:
    break;
  }
  Model::OUTVAL(g, X, View1<const REAL>{Y.data()}, YOUT);
}

// The forward-difference step of unknown I: 1.0E-14 relative to 1 + |X[I]|.
inline REAL DifferenceStep(REAL x) {
  return (1.0L + fabsl(x)) * 10.0L * 1.0E-15L;
}

// Whose unknowns a USRFUN call perturbs: the program-wide vector g.X, which
// the models read while a difference trajectory runs, or a caller's other
// vector, which they never see (g.X stays as it is for them).
enum class Unknowns { ProgramWide, Apart };

// Residuals BETA and the negated forward-difference Jacobian ALPHA at X, one
// trajectory after the other. Each unknown in turn is raised in place while
// its trajectory runs and lowered again by subtraction. This is the
// reference for the parallel path.
template <ShootingModel Model>
void SequentialUSRFUN(typename Model::Globals &g, GLNARRAY<Model::N> &X, INT16 N,
                      GLNBYN<Model::N> &ALPHA, GLNARRAY<Model::N> &BETA) {
  GLNARRAY<Model::N> XDLT;
  RKF<Model>(g, X, g.YOUT);
  for (int I = 1; I <= N; ++I)
    XDLT[I] = DifferenceStep(X[I]);
  for (int I = 1; I <= N; ++I)
    BETA[I] = g.YOUT[I];
  for (int J = 1; J <= N; ++J) {
    if (J > 1)
      X[J - 1] = X[J - 1] - XDLT[J - 1];
    X[J] = X[J] + XDLT[J];
    RKF<Model>(g, X, g.YOUT);
    for (int I = 1; I <= N; ++I)
      ALPHA(I, J) = -(g.YOUT[I] - BETA[I]) / XDLT[J];
  }
  // Lowered by subtraction, not restored: the round-off stays in X.
  X[N] = X[N] - XDLT[N];
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
  DeferredEnd end[Count];

  static void Run(void *ctx, int j) {
    auto &b = *static_cast<TrajectoryBatch *>(ctx);
    struct Work {
      TrajectoryBatch *batch;
      int index;
    } work{&b, j};
    CaptureMessages(&b.messages[j]);
    b.end[j] = RunDeferringEnds(
        [](void *p) {
          const auto &w = *static_cast<Work *>(p);
          RKF<Model>(w.batch->g[w.index], w.batch->X[w.index], w.batch->g[w.index].YOUT);
        },
        &work);
    CaptureMessages(nullptr);
  }
};

// USRFUN with its trajectories run side by side on `threads` threads. What
// it computes, writes and leaves behind is what SequentialUSRFUN does: the
// messages and any end of the program come in trajectory order.
template <ShootingModel Model, Unknowns Whose>
void ParallelUSRFUN(typename Model::Globals &g, GLNARRAY<Model::N> &X, INT16 N,
                    GLNBYN<Model::N> &ALPHA, GLNARRAY<Model::N> &BETA, int threads) {
  TrajectoryBatch<Model> b;
  GLNARRAY<Model::N> XDLT;
  for (int I = 1; I <= N; ++I)
    XDLT[I] = DifferenceStep(X[I]);
  GLNARRAY<Model::N> XS = X;
  REAL H = g.H;
  for (int J = 0; J <= N; ++J) {
    if (J > 1)
      XS[J - 1] = XS[J - 1] - XDLT[J - 1];
    if (J > 0)
      XS[J] = XS[J] + XDLT[J];
    b.X[J] = XS;
    b.g[J] = g;
    if constexpr (Whose == Unknowns::ProgramWide)
      b.g[J].X = XS;
    b.g[J].H = H;
    H = Model::HAfterTrajectory(b.g[J], b.X[J], H);
  }
  XS[N] = XS[N] - XDLT[N];

  RunOnPool(N + 1, threads < N + 1 ? threads : N + 1, TrajectoryBatch<Model>::Run, &b);

  for (int J = 0; J <= N; ++J) {
    if (!b.messages[J].empty())
      WriteMessage(b.messages[J]);
    if (b.end[J].kind != DeferredEnd::Kind::None)
      EndAsDeferred(b.end[J]);
  }
  for (int I = 1; I <= N; ++I)
    BETA[I] = b.g[0].YOUT[I];
  for (int J = 1; J <= N; ++J)
    for (int I = 1; I <= N; ++I)
      ALPHA(I, J) = -(b.g[J].YOUT[I] - BETA[I]) / XDLT[J];
  g.YOUT = b.g[N].YOUT;
  g.H = b.g[N].H;
  X = XS;
}

template <ShootingModel Model, Unknowns Whose>
void USRFUN(typename Model::Globals &g, GLNARRAY<Model::N> &X, INT16 N, GLNBYN<Model::N> &ALPHA,
            GLNARRAY<Model::N> &BETA) {
  const int threads = TrajectoryThreads();
  if (threads > 1)
    ParallelUSRFUN<Model, Whose>(g, X, N, ALPHA, BETA, threads);
  else
    SequentialUSRFUN<Model>(g, X, N, ALPHA, BETA);
}

// Residuals and Jacobian at the program-wide unknowns g.X (MNEWT's vector
// and the drivers'), on all the threads the process may use, one at a time
// when that is one.
template <ShootingModel Model>
void USRFUN(typename Model::Globals &g, INT16 N, GLNBYN<Model::N> &ALPHA,
            GLNARRAY<Model::N> &BETA) {
  USRFUN<Model, Unknowns::ProgramWide>(g, g.X, N, ALPHA, BETA);
}

// The same at a vector of the caller's that the models never read.
template <ShootingModel Model>
void USRFUNApart(typename Model::Globals &g, GLNARRAY<Model::N> &X, INT16 N,
                 GLNBYN<Model::N> &ALPHA, GLNARRAY<Model::N> &BETA) {
  USRFUN<Model, Unknowns::Apart>(g, X, N, ALPHA, BETA);
}

} // namespace zanfel
