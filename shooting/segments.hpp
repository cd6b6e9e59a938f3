// Multiple shooting: the trajectory cut at the nodes of SegmentCuts into
// segments, each integrated from its own start state. The unknowns Z are the
// model's X[1..N] followed by the state y[1..NEQN] at each interior node; the
// residuals are the model's (OUTVAL at the end of the last segment) followed
// by the jump of y at each node. A difference trajectory runs only over the
// one segment its unknown starts, so the Jacobian is block-structured and a
// column costs one segment, not the whole interval.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>

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

// The forward-difference step of a segmented unknown: (1 + |z|) times the
// square root of the integrator's relative tolerance. A segment's end state
// carries an error of about RELERR that changes as its start moves (the
// steps adapt), and a difference quotient's error is about that error over
// the step plus the step times the curvature: smallest near the square root.
// The step of single shooting, 1e-14, lies far below that noise where the
// solution is steep (Troesch's boundary layer), and Newton's method then
// creeps instead of converging.
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
  // The most trajectories of one call: the base, one per unknown, and the
  // later segments of the columns that reach every segment.
  static constexpr int kPieces = MMAX + NZ + KE * (MMAX - 1);
  using Globals = typename Model::Globals;
  using State = Array1<REAL, 1, NEQN>;

  // One trajectory over one segment: from INITVAL at X (the first segment),
  // or from the state y; y holds its end state afterwards.
  struct Piece {
    Globals g;
    int segment = 1;
    bool fromStart = true;
    GLNARRAY<N> X;
    State y;
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

  explicit SegmentedShooting(const SegmentCuts &c) : cuts(c) {}

  int Order() const { return N + (cuts.M - 1) * NEQN; }
  // The piece of segment k (2..M) of the column of unknown J <= KE.
  int WholeColumnPiece(int J, int k) const {
    return cuts.M + Order() + (J - 1) * (cuts.M - 1) + (k - 2);
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
        q.end = IntegrateSpan<Model>(q.g, q.y, w.cuts->t[q.segment - 1], w.cuts->t[q.segment]);
      },
      &work);
}

template <ShootingModel Model> struct PieceBatch {
  SegmentedShooting<Model> *ms;
  static void Run(void *ctx, int j) {
    auto &ms = *static_cast<PieceBatch *>(ctx)->ms;
    RunPiece<Model>(ms.pieces[j], ms.cuts);
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

// Pieces 0..M-1: the segments at Z, each from its own start.
template <ShootingModel Model>
void LoadBase(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
              const GLNARRAY<SegmentedShooting<Model>::NZ> &Z) {
  const GLNARRAY<Model::N> X = ModelUnknowns<Model>(Z);
  LoadPiece(ms, 0, g, 1, X, nullptr);
  for (int k = 2; k <= ms.cuts.M; ++k) {
    const auto y = NodeState<Model>(Z, k - 1);
    LoadPiece(ms, k - 1, g, k, X, &y);
  }
}

// Runs pieces 0..count-1 on the pool, then writes their messages and plays
// any held-back end in piece order, so that the output is the same at every
// thread count. Stops at an invalid call, noting its segment.
template <ShootingModel Model>
UsrfunResult RunPieces(SegmentedShooting<Model> &ms, int count, SegmentEnds &ends) {
  PieceBatch<Model> batch{&ms};
  const int threads = TrajectoryThreads();
  RunOnPool(count, std::min(threads, count), PieceBatch<Model>::Run, &batch);
  UsrfunResult result;
  for (int j = 0; j < count; ++j) {
    auto &p = ms.pieces[j];
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
  const UsrfunResult result = RunPieces(ms, ms.cuts.M, ends);
  if (!result.invalidCall)
    SegmentResiduals(ms, g, Z, BETA);
  return result;
}

// Column J of the negated Jacobian from its piece (segment 1 for a model
// unknown, the segment after node k for a state of node k): the rows of the
// jumps and residuals that the raised unknown reaches, every other row 0.
template <ShootingModel Model>
void JacobianColumn(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
                    const GLNARRAY<SegmentedShooting<Model>::NZ> &Z,
                    const GLNARRAY<SegmentedShooting<Model>::NZ> &BETA, int J, REAL XDLT,
                    GLNBYN<SegmentedShooting<Model>::NZ> &ALPHA) {
  using MS = SegmentedShooting<Model>;
  constexpr int N = Model::N, NEQN = Model::NEQN;
  const int M = ms.cuts.M, n = ms.Order();
  const auto &p = ms.pieces[M - 1 + J];
  for (int I = 1; I <= n; ++I)
    ALPHA(I, J) = 0.0L;
  GLNARRAY<MS::NZ> ZD = Z;
  ZD[J] = Z[J] + XDLT;
  const GLNARRAY<N> X = ModelUnknowns<Model>(ZD);
  const auto column = [&](int row, REAL F) { ALPHA(row, J) = -(F - BETA[row]) / XDLT; };
  // The jump at the node the raised state belongs to.
  if (J > N) {
    const int k = MS::NodeOf(J);
    for (int i = 1; i <= NEQN; ++i)
      column(MS::NodeAt(k) + i, ms.pieces[k - 1].y[i] - ZD[MS::NodeAt(k) + i]);
  }
  if (J <= MS::KE) {
    // The raised unknown reaches every segment: every jump, and the model's
    // residuals from its own last segment.
    for (int node = 1; node < M; ++node) {
      const auto &q = node == 1 ? p : ms.pieces[ms.WholeColumnPiece(J, node)];
      for (int i = 1; i <= NEQN; ++i)
        column(MS::NodeAt(node) + i, q.y[i] - ZD[MS::NodeAt(node) + i]);
    }
    GLNARRAY1<Model::NOUT> YOUT;
    EndValues<Model>(g, X, M == 1 ? p.y : ms.pieces[ms.WholeColumnPiece(J, M)].y, YOUT);
    for (int I = 1; I <= N; ++I)
      column(I, YOUT[I]);
    return;
  }
  // The jump at the end of the piece's segment, or the model's residuals
  // when it is the last; those see a raised model unknown directly too.
  const int k = p.segment;
  if (k < M)
    for (int i = 1; i <= NEQN; ++i)
      column(MS::NodeAt(k) + i, p.y[i] - ZD[MS::NodeAt(k) + i]);
  if (k == M || J <= N) {
    GLNARRAY1<Model::NOUT> YOUT;
    EndValues<Model>(g, X, k == M ? p.y : ms.pieces[M - 1].y, YOUT);
    for (int I = 1; I <= N; ++I)
      column(I, YOUT[I]);
  }
}

// Residuals BETA and the negated forward-difference Jacobian ALPHA of the
// segmented equations at Z, order ms.Order(): the M base pieces and one
// piece per unknown, all side by side on the pool. The model's end values
// of the base are left in ms.YOUT. An invalid call stops it there.
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
  const GLNARRAY<N> X = ModelUnknowns<Model>(Z);
  for (int J = 1; J <= n; ++J) {
    GLNARRAY<MS::NZ> ZD = Z;
    ZD[J] = Z[J] + XDLT[J];
    if (J <= N) {
      LoadPiece(ms, M - 1 + J, g, 1, ModelUnknowns<Model>(ZD), nullptr);
    } else {
      const int k = MS::NodeOf(J);
      const auto y = NodeState<Model>(ZD, k);
      LoadPiece(ms, M - 1 + J, g, k + 1, X, &y);
    }
  }
  for (int J = 1; J <= std::min(MS::KE, N); ++J) {
    GLNARRAY<MS::NZ> ZD = Z;
    ZD[J] = Z[J] + XDLT[J];
    for (int k = 2; k <= M; ++k) {
      const auto y = NodeState<Model>(Z, k - 1);
      LoadPiece(ms, ms.WholeColumnPiece(J, k), g, k, ModelUnknowns<Model>(ZD), &y);
    }
  }
  const UsrfunResult result = RunPieces(ms, M + n + MS::KE * (M - 1), ends);
  if (result.invalidCall)
    return result;
  SegmentResiduals(ms, g, Z, BETA);
  for (int J = 1; J <= n; ++J)
    JacobianColumn(ms, g, Z, BETA, J, XDLT[J], ALPHA);
  ms.ZIn = Z;
  ms.PIn = g.P;
  ms.haveCall = true;
  return result;
}

} // namespace zanfel
