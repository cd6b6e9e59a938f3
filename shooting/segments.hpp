// Multiple shooting: the trajectory cut at the nodes of SegmentCuts into
// segments, each integrated from its own start state. The unknowns Z are the
// model's X[1..N] followed by the state y[1..NEQN] at each interior node; the
// residuals are the model's (OUTVAL at the end of the last segment) followed
// by the jump of y at each node. A difference trajectory runs only over the
// one segment its unknown starts, so the Jacobian is block-structured and a
// column costs one segment, not the whole interval; and it runs over the
// accepted steps of that segment's base trajectory (frozen steps), so that
// it costs the stages of those steps alone.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "shooting/frozen_steps.hpp"
#include "shooting/segment_cuts.hpp"
#include "shooting/shooting.hpp"

namespace zanfel {

// The largest order of the segmented equations: a large system takes fewer
// segments, so that the dense factorisation stays small.
constexpr int kSegmentedOrderCap = 256;

// The most segments a model takes.
template <class Model> constexpr int MaxSegments() {
  return std::max(1, std::min(kSegmentCap, 1 + (kSegmentedOrderCap - Model::N) / Model::NEQN));
}

// The tolerances of a segment's reference trajectory, over whose steps the
// difference pieces of its unknowns run: the relative one the square root
// of the run's (at most 1e-4, and never tighter than the run's), the
// absolute one loosened in proportion. A Jacobian that good costs Newton's
// method no iteration, and its steps are several times longer than the
// base's.
constexpr REAL kReferenceRelerrCap = 1.0E-4L;
struct ReferenceTolerances {
  REAL RELERR, ABSERR;
};
inline ReferenceTolerances ReferenceTolerancesOf(REAL RELERR, REAL ABSERR) {
  const REAL r = std::max(RELERR, std::min(sqrtl(RELERR), kReferenceRelerrCap));
  return {r, ABSERR * (r / RELERR)};
}

// The forward-difference step of a segmented unknown: (1 + |z|) times the
// square root of the integrator's relative tolerance. A column whose steps
// adapt (where neither the reference nor the base of its segment reached
// the node by whole steps) has an end state with an error of about RELERR
// that changes as its start moves, and a difference quotient's error is
// about that error over the step plus the step times the curvature:
// smallest near the square root. The step of single shooting, 1e-14, lies
// far below that noise where the solution is steep (Troesch's boundary
// layer), and Newton's method then creeps instead of converging. Over
// frozen steps a smaller one would do, but saves Newton's method little.
inline REAL SegmentDifferenceStep(REAL z, REAL RELERR) {
  return (1.0L + fabsl(z)) * sqrtl(RELERR);
}

// Segments are for models whose trajectories all see the H that their own
// unknowns and P give (the programs made from a model header, families B
// and C): a segment that starts at a node then sees the H a whole
// trajectory would.
template <class Model> inline constexpr bool kTakesSegments = false;
template <ModelWithoutScale M> inline constexpr bool kTakesSegments<ScaleIsP<M>> = true;

// How many of the model's first unknowns reach every segment, not only the
// first (through the H every segment runs with): the columns of those run
// all M segments, from the nodes as they are, with the raised unknown.
template <class Model> inline constexpr int kUnknownsInEverySegment = 0;

// What the trajectories of a segmented call came to, segment by segment:
// the segments (bit k - 1 for segment k) of the trajectories cut short, and
// the segment of an invalid call (0: none).
struct SegmentEnds {
  unsigned long cutShort = 0;
  int invalidCall = 0;
  bool heldBack = false; // an end (a trap) of a piece held back, not played
};

template <ShootingModel Model> struct SegmentedShooting {
  static constexpr int N = Model::N;
  static constexpr int NEQN = Model::NEQN;
  static constexpr int MMAX = MaxSegments<Model>();
  static constexpr int NZ = N + (MMAX - 1) * NEQN; // the most unknowns
  static constexpr int KE = kUnknownsInEverySegment<Model>;
  // The most trajectories of one call: the base, the references, the
  // difference pieces, and the later segments of the columns that reach
  // every segment.
  static constexpr int kPieces = 2 * MMAX + NZ + KE * (MMAX - 1);
  using Globals = typename Model::Globals;
  using State = Array1<REAL, 1, NEQN>;

  // One trajectory over one segment: from INITVAL at X (the first segment),
  // or from the state y; y holds its end state afterwards. A base piece and
  // a reference keep their accepted steps in `steps`; a difference piece
  // with `frozen` runs over such steps instead of adapting its own. A
  // reference is integrated at ReferenceTolerancesOf the run's, quietly:
  // its messages and any end it would make are dropped, and where it does
  // not reach its node the segment's base piece stands in for it.
  struct Piece {
    Globals g;
    int segment = 1;
    bool fromStart = true;
    bool reference = false;
    GLNARRAY<N> X;
    State y;
    StepRecord steps;
    const StepRecord *frozen = nullptr;
    TrajectoryEnd end = TrajectoryEnd::Reached;
    std::string messages;
    unsigned long messageCount = 0;
    DeferredEnd deferred;
  };

  SegmentCuts cuts;
  GLNARRAY<NZ> Z;          // X[1..N], then the node states
  bool nodesKnown = false; // Z's node states are a solve's (or a start's)
  Piece pieces[kPieces];
  // The latest call's input, to take its base trajectories for the record.
  GLNARRAY<NZ> ZIn;
  REAL PIn = 0.0L;
  bool haveCall = false;
  GLNARRAY1<Model::NOUT> YOUT; // the model's end values of the latest call's base
  // Along the curve, a piece's end (a trap) fails the attempt, and a shorter
  // step may do; at fixed P it ends the run, as a whole trajectory's does.
  bool holdEnds = false;
  // Work areas of a solve along the curve: the Jacobian at fixed P and its
  // residuals, and the whole bordered Jacobian of the latest call.
  GLNBYN<NZ> ALPHA;
  GLNARRAY<NZ> BETA;
  GLNBYN<NZ + 1> bordered;
  // Room for the steps of the base pieces and the references, kFrozenStepCap
  // each.
  std::vector<REAL> stepRoom;

  explicit SegmentedShooting(const SegmentCuts &c)
      : cuts(c), stepRoom(static_cast<std::size_t>(2 * c.M) * kFrozenStepCap) {}

  int Order() const { return N + (cuts.M - 1) * NEQN; }
  // The pieces of a call: the base of segment k at k - 1, its reference at
  // M + k - 1, the difference piece of unknown J at 2M + J - 1.
  int ReferenceOf(int k) const { return cuts.M + k - 1; }
  int ColumnOf(int J) const { return 2 * cuts.M + J - 1; }
  // The segment whose start unknown J is part of.
  static int SegmentOf(int J) { return J <= N ? 1 : NodeOf(J) + 1; }
  // The trajectories (pieces) of one call of SegmentedUSRFUN.
  int PiecesOfCall() const { return 2 * cuts.M + Order() + std::min(KE, N) * (cuts.M - 1); }
  // The piece of segment k (2..M) of the column of unknown J <= KE, after
  // the difference pieces.
  int WholeColumnPiece(int J, int k) const {
    return ColumnOf(Order()) + 1 + (J - 1) * (cuts.M - 1) + (k - 2);
  }
  // Where the state of node k (1..M-1) starts in Z.
  static constexpr int NodeAt(int k) { return N + (k - 1) * NEQN; }
  static int NodeOf(int J) { return (J - N - 1) / NEQN + 1; }
};

// The integration of one piece, for a worker thread.
template <ShootingModel Model>
void RunPiece(typename SegmentedShooting<Model>::Piece &p, const SegmentCuts &cuts) {
  struct Work {
    typename SegmentedShooting<Model>::Piece *piece;
    const SegmentCuts *cuts;
  } work{&p, &cuts};
  p.deferred = RunCapturingMessages(
      p.messages, p.messageCount,
      [](void *ctx) {
        const auto &w = *static_cast<Work *>(ctx);
        auto &q = *w.piece;
        if (q.fromStart)
          Model::INITVAL(q.g, q.X, View1<REAL>{q.y.data()});
        const REAL t0 = w.cuts->t[q.segment - 1], t1 = w.cuts->t[q.segment];
        if (q.frozen) {
          IntegrateOverSteps<Model>(q.g, q.y, t0, q.frozen->H, q.frozen->count);
          q.end = TrajectoryEnd::Reached;
        } else if (q.reference) {
          if (!OneStepWithin<Model>(q.g, q.y, t0, t1, q.steps))
            IntegrateQuietly<Model>(q.g, q.y, t0, t1, q.steps);
        } else if (q.steps.H) {
          q.end = IntegrateSpan<Model>(q.g, q.y, t0, t1, q.steps);
        } else {
          q.end = IntegrateSpan<Model>(q.g, q.y, t0, t1);
        }
      },
      &work);
}

template <ShootingModel Model> struct PieceBatch {
  SegmentedShooting<Model> *ms;
  int first;
  static void Run(void *ctx, int j) {
    const auto &b = *static_cast<PieceBatch *>(ctx);
    RunPiece<Model>(b.ms->pieces[b.first + j], b.ms->cuts);
  }
};

// Piece j: segment k of the program-wide g, at the unknowns X, from the
// start (k = 1) or from y.
template <ShootingModel Model>
void LoadPiece(SegmentedShooting<Model> &ms, int j, const typename Model::Globals &g, int k,
               const GLNARRAY<Model::N> &X, const typename SegmentedShooting<Model>::State *y) {
  auto &p = ms.pieces[j];
  p.g = g;
  p.g.X = X;
  // What a segment from a node finds: the H a whole trajectory at X has
  // there (a model may read it from the unknowns of its own state).
  p.g.H = Model::HAfterTrajectory(p.g, X, g.H);
  p.segment = k;
  p.fromStart = y == nullptr;
  p.X = X;
  if (y)
    p.y = *y;
  p.reference = false;
  p.steps = StepRecord{};
  p.frozen = nullptr;
  p.messages.clear();
  p.messageCount = 0;
  p.deferred = DeferredEnd{};
}

// The model's unknowns and the state of node k in Z.
template <ShootingModel Model, int NZ> GLNARRAY<Model::N> ModelUnknowns(const GLNARRAY<NZ> &Z) {
  GLNARRAY<Model::N> X;
  for (int I = 1; I <= Model::N; ++I)
    X[I] = Z[I];
  return X;
}
template <ShootingModel Model, int NZ>
typename SegmentedShooting<Model>::State NodeState(const GLNARRAY<NZ> &Z, int k) {
  typename SegmentedShooting<Model>::State y;
  for (int i = 1; i <= Model::NEQN; ++i)
    y[i] = Z[SegmentedShooting<Model>::NodeAt(k) + i];
  return y;
}

// Pieces 0..M-1: the segments at Z, each from its own start, each keeping
// its steps.
template <ShootingModel Model>
void LoadBase(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
              const GLNARRAY<SegmentedShooting<Model>::NZ> &Z) {
  const GLNARRAY<Model::N> X = ModelUnknowns<Model>(Z);
  LoadPiece(ms, 0, g, 1, X, nullptr);
  for (int k = 2; k <= ms.cuts.M; ++k) {
    const auto y = NodeState<Model>(Z, k - 1);
    LoadPiece(ms, k - 1, g, k, X, &y);
  }
  for (int k = 1; k <= ms.cuts.M; ++k)
    ms.pieces[k - 1].steps.Start(ms.stepRoom.data() +
                                 static_cast<std::size_t>(k - 1) * kFrozenStepCap);
}

// Runs pieces first..count-1 on the pool, then writes their messages and
// plays any held-back end in piece order, so that the output is the same at
// every thread count. Stops at an invalid call, noting its segment.
template <ShootingModel Model>
UsrfunResult RunPieces(SegmentedShooting<Model> &ms, int first, int count, SegmentEnds &ends) {
  PieceBatch<Model> batch{&ms, first};
  const int threads = TrajectoryThreads();
  RunOnPool(count - first, std::min(threads, count - first), PieceBatch<Model>::Run, &batch);
  UsrfunResult result;
  for (int j = first; j < count; ++j) {
    auto &p = ms.pieces[j];
    if (p.reference)
      continue;
    if (!p.messages.empty())
      WriteCapturedMessages(p.messages, p.messageCount);
    if (p.deferred.kind != DeferredEnd::Kind::None) {
      if (!ms.holdEnds)
        EndAsDeferred(p.deferred);
      ends.heldBack = true;
    }
    result.Note(p.end);
    if (p.end == TrajectoryEnd::CutShort)
      ends.cutShort |= 1UL << (p.segment - 1);
    if (result.invalidCall) {
      ends.invalidCall = p.segment;
      return result;
    }
  }
  return result;
}

// The model's end values from the end state of the last segment, with the
// H the segment ran with (the program-wide g may still hold the H of the P
// before: family C reads it in OUTVAL).
template <ShootingModel Model>
void EndValues(const typename Model::Globals &g, const GLNARRAY<Model::N> &X,
               const typename SegmentedShooting<Model>::State &y, GLNARRAY1<Model::NOUT> &YOUT) {
  typename Model::Globals gc = g;
  gc.X = X;
  gc.H = Model::HAfterTrajectory(gc, X, g.H);
  Model::OUTVAL(gc, X, View1<const REAL>{y.data()}, YOUT);
}

// The residuals at Z from the base pieces: the model's, then the jumps.
template <ShootingModel Model>
void SegmentResiduals(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
                      const GLNARRAY<SegmentedShooting<Model>::NZ> &Z,
                      GLNARRAY<SegmentedShooting<Model>::NZ> &BETA) {
  const int M = ms.cuts.M;
  EndValues<Model>(g, ModelUnknowns<Model>(Z), ms.pieces[M - 1].y, ms.YOUT);
  for (int I = 1; I <= Model::N; ++I)
    BETA[I] = ms.YOUT[I];
  for (int k = 1; k < M; ++k)
    for (int i = 1; i <= Model::NEQN; ++i) {
      const int row = SegmentedShooting<Model>::NodeAt(k) + i;
      BETA[row] = ms.pieces[k - 1].y[i] - Z[row];
    }
}

// The base trajectories at Z: the model's end values in ms.YOUT, the
// residuals in BETA. Remembered as the latest call.
template <ShootingModel Model>
UsrfunResult SegmentBase(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
                         const GLNARRAY<SegmentedShooting<Model>::NZ> &Z,
                         GLNARRAY<SegmentedShooting<Model>::NZ> &BETA, SegmentEnds &ends) {
  LoadBase(ms, g, Z);
  const UsrfunResult result = RunPieces(ms, 0, ms.cuts.M, ends);
  if (!result.invalidCall)
    SegmentResiduals(ms, g, Z, BETA);
  return result;
}

// Column J of the negated Jacobian from its piece (segment 1 for a model
// unknown, the segment after node k for a state of node k): the rows of the
// jumps and residuals that the raised unknown reaches, every other row 0.
// What a piece's end state reaches is differenced against the end state of
// its segment from the unraised start over the piece's own steps: that of
// piece reference[k - 1] for segment k (the base piece's when those are its
// steps).
template <ShootingModel Model>
void JacobianColumn(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
                    const GLNARRAY<SegmentedShooting<Model>::NZ> &Z,
                    const GLNARRAY<SegmentedShooting<Model>::NZ> &BETA, int J, REAL XDLT,
                    const int *reference, GLNBYN<SegmentedShooting<Model>::NZ> &ALPHA) {
  using MS = SegmentedShooting<Model>;
  constexpr int N = Model::N, NEQN = Model::NEQN;
  const int M = ms.cuts.M, n = ms.Order();
  const auto &p = ms.pieces[ms.ColumnOf(J)];
  for (int I = 1; I <= n; ++I)
    ALPHA(I, J) = 0.0L;
  GLNARRAY<MS::NZ> ZD = Z;
  ZD[J] = Z[J] + XDLT;
  const GLNARRAY<N> X = ModelUnknowns<Model>(ZD);
  const auto column = [&](int row, REAL F, REAL F0) { ALPHA(row, J) = -(F - F0) / XDLT; };
  const auto referenceEnd = [&](int k) -> const typename MS::State & {
    return ms.pieces[reference[k - 1]].y;
  };
  // The jump at the node the raised state belongs to.
  if (J > N) {
    const int k = MS::NodeOf(J);
    for (int i = 1; i <= NEQN; ++i) {
      const int row = MS::NodeAt(k) + i;
      column(row, ms.pieces[k - 1].y[i] - ZD[row], BETA[row]);
    }
  }
  if (J <= MS::KE) {
    // The raised unknown reaches every segment: every jump, and the model's
    // residuals from its own last segment.
    for (int node = 1; node < M; ++node) {
      const auto &q = node == 1 ? p : ms.pieces[ms.WholeColumnPiece(J, node)];
      for (int i = 1; i <= NEQN; ++i) {
        const int row = MS::NodeAt(node) + i;
        column(row, q.y[i] - ZD[row], referenceEnd(node)[i] - Z[row]);
      }
    }
    GLNARRAY1<Model::NOUT> YOUT, YOUT0;
    EndValues<Model>(g, X, M == 1 ? p.y : ms.pieces[ms.WholeColumnPiece(J, M)].y, YOUT);
    EndValues<Model>(g, ModelUnknowns<Model>(Z), referenceEnd(M), YOUT0);
    for (int I = 1; I <= N; ++I)
      column(I, YOUT[I], YOUT0[I]);
    return;
  }
  const auto &reference0 = referenceEnd(p.segment);
  // The jump at the end of the piece's segment, or the model's residuals
  // when it is the last; those see a raised model unknown directly too.
  const int k = p.segment;
  if (k < M)
    for (int i = 1; i <= NEQN; ++i) {
      const int row = MS::NodeAt(k) + i;
      column(row, p.y[i] - ZD[row], reference0[i] - Z[row]);
    }
  if (k == M || J <= N) {
    GLNARRAY1<Model::NOUT> YOUT, YOUT0;
    if (k == M) {
      EndValues<Model>(g, X, p.y, YOUT);
      EndValues<Model>(g, ModelUnknowns<Model>(Z), reference0, YOUT0);
    } else {
      EndValues<Model>(g, X, ms.pieces[M - 1].y, YOUT);
    }
    for (int I = 1; I <= N; ++I)
      column(I, YOUT[I], k == M ? YOUT0[I] : BETA[I]);
  }
}

// The reference of segment k (piece ms.ReferenceOf(k)): its base piece's
// start at ReferenceTolerancesOf the run's, keeping its steps.
template <ShootingModel Model>
void LoadReference(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
                   const GLNARRAY<SegmentedShooting<Model>::NZ> &Z, int k) {
  const int j = ms.ReferenceOf(k);
  const GLNARRAY<Model::N> X = ModelUnknowns<Model>(Z);
  if (k == 1) {
    LoadPiece(ms, j, g, 1, X, nullptr);
  } else {
    const auto y = NodeState<Model>(Z, k - 1);
    LoadPiece(ms, j, g, k, X, &y);
  }
  auto &p = ms.pieces[j];
  const ReferenceTolerances tol = ReferenceTolerancesOf(g.solve.RELERR, g.solve.ABSERR);
  p.g.solve.RELERR = tol.RELERR;
  p.g.solve.ABSERR = tol.ABSERR;
  p.reference = true;
  p.steps.Start(ms.stepRoom.data() + static_cast<std::size_t>(j) * kFrozenStepCap);
}

// Whether the reference of segment k reached its node, by whole steps, to
// a finite state.
template <ShootingModel Model> bool ReferenceHolds(const SegmentedShooting<Model> &ms, int k) {
  const auto &p = ms.pieces[ms.ReferenceOf(k)];
  if (p.deferred.kind != DeferredEnd::Kind::None || !p.steps.complete)
    return false;
  for (int i = 1; i <= Model::NEQN; ++i)
    if (!std::isfinite(p.y[i]))
      return false;
  return true;
}

// Residuals BETA and the negated forward-difference Jacobian ALPHA of the
// segmented equations at Z, order ms.Order(). First the M base pieces and
// a reference per segment, side by side on the pool; then one difference
// piece per unknown, side by side, over the frozen steps of its segment's
// reference and differenced against the reference's end state (over the
// base piece's steps and against its end where the reference did not hold;
// adapting its own steps where neither reached the node by whole steps).
// The model's end values of the base are left in ms.YOUT. An invalid call
// stops it there.
template <ShootingModel Model>
UsrfunResult SegmentedUSRFUN(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
                             const GLNARRAY<SegmentedShooting<Model>::NZ> &Z,
                             GLNBYN<SegmentedShooting<Model>::NZ> &ALPHA,
                             GLNARRAY<SegmentedShooting<Model>::NZ> &BETA, SegmentEnds &ends) {
  using MS = SegmentedShooting<Model>;
  constexpr int N = Model::N;
  const int M = ms.cuts.M, n = ms.Order();
  GLNARRAY<MS::NZ> XDLT;
  for (int J = 1; J <= n; ++J)
    XDLT[J] = SegmentDifferenceStep(Z[J], g.solve.RELERR);
  LoadBase(ms, g, Z);
  for (int k = 1; k <= M; ++k)
    LoadReference(ms, g, Z, k);
  UsrfunResult result = RunPieces(ms, 0, 2 * M, ends);
  if (result.invalidCall)
    return result;
  // Per segment, the piece whose steps the difference pieces take and whose
  // end they are differenced against.
  int reference[MS::MMAX];
  for (int k = 1; k <= M; ++k)
    reference[k - 1] = ReferenceHolds(ms, k) ? ms.ReferenceOf(k) : k - 1;
  const GLNARRAY<N> X = ModelUnknowns<Model>(Z);
  for (int J = 1; J <= n; ++J) {
    GLNARRAY<MS::NZ> ZD = Z;
    ZD[J] = Z[J] + XDLT[J];
    const int k = MS::SegmentOf(J);
    if (J <= N) {
      LoadPiece(ms, ms.ColumnOf(J), g, 1, ModelUnknowns<Model>(ZD), nullptr);
    } else {
      const auto y = NodeState<Model>(ZD, k - 1);
      LoadPiece(ms, ms.ColumnOf(J), g, k, X, &y);
    }
    const StepRecord &steps = ms.pieces[reference[k - 1]].steps;
    if (steps.complete)
      ms.pieces[ms.ColumnOf(J)].frozen = &steps;
  }
  for (int J = 1; J <= std::min(MS::KE, N); ++J) {
    GLNARRAY<MS::NZ> ZD = Z;
    ZD[J] = Z[J] + XDLT[J];
    for (int k = 2; k <= M; ++k) {
      const auto y = NodeState<Model>(Z, k - 1);
      const int j = ms.WholeColumnPiece(J, k);
      LoadPiece(ms, j, g, k, ModelUnknowns<Model>(ZD), &y);
      const StepRecord &steps = ms.pieces[reference[k - 1]].steps;
      if (steps.complete)
        ms.pieces[j].frozen = &steps;
    }
  }
  const int count = ms.ColumnOf(n) + 1 + std::min(MS::KE, N) * (M - 1);
  const UsrfunResult columns = RunPieces(ms, ms.ColumnOf(1), count, ends);
  result.cutShort += columns.cutShort;
  result.invalidCall = columns.invalidCall;
  if (result.invalidCall)
    return result;
  SegmentResiduals(ms, g, Z, BETA);
  for (int J = 1; J <= n; ++J)
    JacobianColumn(ms, g, Z, BETA, J, XDLT[J], reference, ALPHA);
  ms.ZIn = Z;
  ms.PIn = g.P;
  ms.haveCall = true;
  return result;
}

} // namespace zanfel
