// The shooting equations with the swept parameter P as one more unknown: the
// residuals at (X, P) and the negated Jacobian with a column for P, from one
// more difference trajectory (P raised) run beside the others.
#pragma once

#include "shooting/shooting.hpp"

namespace zanfel {

// H on entry to a trajectory that starts the evaluation at P: what a
// trajectory at these unknowns and this P leaves, so that the first
// trajectory sees P through H exactly as the ones after it do.
template <ShootingModel Model> REAL EntryH(const typename Model::Globals &g) {
  return Model::HAfterTrajectory(g, g.X, g.H);
}

// Writes the trajectories' messages in order; false when any of them had
// something to say or was stopped short: its end values are not the
// trajectory's to t = 1.
template <ShootingModel Model, int Count>
bool AllReachedTheEnd(const TrajectoryBatch<Model, Count> &b, int count) {
  bool whole = true;
  for (int J = 0; J < count; ++J) {
    if (!b.messages[J].empty()) {
      WriteCapturedMessages(b.messages[J], b.messageCount[J]);
      whole = false;
    }
    if (b.end[J].kind != DeferredEnd::Kind::None)
      whole = false;
  }
  return whole;
}

// Residuals BETA[1..N] and ALPHA(1..N, 1..N+1) at the program-wide unknowns
// g.X and g.P, ALPHA's last column for P; row N+1 is left to the caller. The
// N+2 trajectories run on the trajectory pool, each with its own copy of the
// program-wide variables, so that the result is the same at every thread
// count. A trajectory that ends the program or writes a message (the
// integrator's budget or tolerance) makes the call fail instead: false, the
// messages written. g.YOUT and g.H are the undisturbed trajectory's.
template <ShootingModel Model>
bool USRFUNWithParameter(typename Model::Globals &g, GLNBYN<Model::N + 1> &ALPHA,
                         GLNARRAY<Model::N + 1> &BETA) {
  constexpr int N = Model::N;
  constexpr int count = N + 2;
  TrajectoryBatch<Model, count> b;
  GLNARRAY<N> XDLT;
  for (int I = 1; I <= N; ++I)
    XDLT[I] = DifferenceStep(g.X[I]);
  LoadDifferenceTrajectories(b, g, g.X, XDLT, N, EntryH<Model>(g));
  // The P column: the unknowns as they are, P raised; the step actually
  // taken is the divisor.
  b.X[N + 1] = g.X;
  b.g[N + 1] = g;
  b.g[N + 1].P = g.P + DifferenceStep(g.P);
  const REAL PDLT = b.g[N + 1].P - g.P;
  b.g[N + 1].H = EntryH<Model>(b.g[N + 1]);

  const int threads = TrajectoryThreads();
  RunOnPool(count, threads < count ? threads : count, TrajectoryBatch<Model, count>::Run, &b);
  if (!AllReachedTheEnd(b, count))
    return false;
  for (int I = 1; I <= N; ++I)
    BETA[I] = b.g[0].YOUT[I];
  for (int J = 1; J <= N; ++J)
    for (int I = 1; I <= N; ++I)
      ALPHA(I, J) = -(b.g[J].YOUT[I] - BETA[I]) / XDLT[J];
  for (int I = 1; I <= N; ++I)
    ALPHA(I, N + 1) = -(b.g[N + 1].YOUT[I] - BETA[I]) / PDLT;
  g.YOUT = b.g[0].YOUT;
  g.H = b.g[0].H;
  return true;
}

// The one trajectory at g.X and g.P, for the end values of a solved point:
// g.YOUT and g.H as it leaves them; false as above.
template <ShootingModel Model> bool TrajectoryAtPoint(typename Model::Globals &g) {
  TrajectoryBatch<Model, 1> b;
  b.X[0] = g.X;
  b.g[0] = g;
  b.g[0].H = EntryH<Model>(g);
  TrajectoryBatch<Model, 1>::Run(&b, 0);
  if (!AllReachedTheEnd(b, 1))
    return false;
  g.YOUT = b.g[0].YOUT;
  g.H = b.g[0].H;
  return true;
}

} // namespace zanfel
