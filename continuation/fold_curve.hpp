// --continuation fold --free NAME: the fold a run starts at (--start-at
// FILE:foldK) followed in the plane of P and the model's parameter NAME.
// The unknowns are W = (X, P, q), q the value of NAME; the equations are
// the residuals F(X; P, q) = 0, the fold condition det(dF/dX) = 0 and the
// distance along the secant of the last two points, as along the arclength.
// dF/dX comes from forward differences of trajectories with a step of 1e-9
// (1 + |X|), not the solver's 1e-14: the determinant is differentiated once
// more, and with the larger step its rounding noise (about 1e-19 / step) is
// 1e-10 instead of 1e-5. The Jacobian of the whole system is the forward
// differences of (F, det) with steps of 1e-6 (1 + |W|). Every record is a
// fold (label foldK); the CSV has a column for NAME; the picture shows NAME
// against P.
#pragma once

#include <cmath>
#include <string>

#include "continuation/arclength.hpp"
#include "continuation/model_params.hpp"
#include "continuation/program.hpp"
#include "nonlinear/ludcmp.hpp"

namespace zanfel {

// The difference step of dF/dX in the fold condition, and of the
// fold system's own Jacobian, relative to 1 + |value|.
constexpr REAL kFoldInnerStep = 1.0E-9L;
constexpr REAL kFoldOuterStep = 1.0E-6L;
// A point of the fold curve is solved when Newton's correction, measured as
// the steps are, is at most this.
constexpr REAL kFoldCorrection = 1.0E-10L;

// The head's note on how the sweep follows its curve.
inline std::string FoldCurveNote(const ContinuationChoice &c) {
  std::string note = "continuation: fold of P and " + c.free +
                     " along its arclength; residuals and det(dF/dX) = 0, dF/dX by forward "
                     "differences of 1E-9(1 + |X|); step from |DP|, between ";
  note += c.minStep > 0.0L ? ShortReal(c.minStep) : std::string("|DP|/1024");
  note += " and ";
  note += c.maxStep > 0.0L ? ShortReal(c.maxStep) : std::string("10|DP|");
  return note;
}

template <class Model> class FoldCurve {
public:
  static constexpr int N = Model::N;
  static constexpr int NF = N + 1; // the equations F and det
  static constexpr int NW = N + 2; // the unknowns X, P, q
  using Params = typename Model::Globals::Params;
  using Vec = GLNARRAY<NW>;

  FoldCurve(Program<Model> &s, const SweepRules<Model> &rules, const NamedParam<Params> &free,
            REAL programStep, bool reverse)
      : s_(s), rules_(rules), free_(free), step_(fabsl(programStep)),
        minStep_(s.continuation.MinStep(programStep)),
        maxStep_(s.continuation.MaxStep(programStep)) {
    dir_[NW] = reverse ? -1.0L : 1.0L; // the first step moves the free parameter
  }

  // From the start (the fold record's P and X, the run's parameters): the
  // fold at the start's value of the free parameter first, then the curve.
  [[nodiscard]] Failure Run() {
    Vec start = Point();
    Vec W;
    const unsigned long messagesBefore = MessageCount();
    if (const Failure failure = StartFailure(SolveAlong(start, dir_, 0.0L, W));
        failure != Failure::None)
      return failure;
    last_ = W;
    Record(W, W, messagesBefore);
    for (;;) {
      if (s_.recordLimit > 0 && s_.records - s_.passFirst >= s_.recordLimit)
        return End(SweepEnd::Records);
      if (s_.observer.KeyPressed())
        return End(SweepEnd::Key);
      s_.observer.AtSafePoint(s_.g.P);
      const unsigned long before = MessageCount();
      Vec next;
      switch (AfterAttempt(SolveAlong(last_, dir_, step_, next), step_, minStep_)) {
      case NextMove::Singular:
        return Failure::SingularMatrix;
      case NextMove::MinStep:
        return End(SweepEnd::MinStep);
      case NextMove::Retry:
        continue;
      case NextMove::Solved:
        break;
      }
      if (next[N + 1] > s_.P2 || next[N + 1] < s_.P1 || (free_.positive && !(next[NW] > 0.0L)))
        return End(SweepEnd::LeftRange);
      const REAL length = Distance(last_, next, ScaleOf(last_));
      if (length > 0.0L)
        s_.slope = (next[N + 1] - last_[N + 1]) / length;
      dir_ = Direction(last_, next, ScaleOf(next));
      Record(last_, next, before);
      last_ = next;
      if (iterations_ <= kFewIterations)
        step_ = fminl(2.0L * step_, maxStep_);
    }
  }

private:
  // Distances measure each unknown in units of its size (in its own units
  // below 1), P and the free parameter as they are.
  static Vec ScaleOf(const Vec &W) {
    Vec scale;
    for (int I = 1; I <= N; ++I)
      scale[I] = fmaxl(1.0L, fabsl(W[I]));
    scale[N + 1] = 1.0L;
    scale[NW] = 1.0L;
    return scale;
  }

  Vec Point() const {
    Vec W;
    for (int I = 1; I <= N; ++I)
      W[I] = s_.g.X[I];
    W[N + 1] = s_.g.P;
    W[NW] = s_.g.par.*(free_.member);
    return W;
  }

  void Load(const Vec &W) {
    for (int I = 1; I <= N; ++I)
      s_.g.X[I] = W[I];
    s_.g.P = W[N + 1];
    s_.g.par.*(free_.member) = W[NW];
    s_.freeValue = W[NW];
  }

  // F and det(dF/dX) at W; false when a trajectory did not reach the end.
  bool Equations(const Vec &W, GLNARRAY<NF> &G) {
    Load(W);
    TrajectoryBatch<Model, N + 1> b;
    GLNARRAY<N> XDLT;
    for (int I = 1; I <= N; ++I)
      XDLT[I] = kFoldInnerStep * (1.0L + fabsl(s_.g.X[I]));
    LoadDifferenceTrajectories(b, s_.g, s_.g.X, XDLT, N, EntryH<Model>(s_.g));
    const int threads = TrajectoryThreads();
    RunOnPool(N + 1, threads < N + 1 ? threads : N + 1, TrajectoryBatch<Model, N + 1>::Run, &b);
    if (!AllReachedTheEnd(b, N + 1))
      return false;
    GLNBYN<N> A;
    for (int J = 1; J <= N; ++J) {
      const REAL h = b.X[J][J] - s_.g.X[J];
      for (int I = 1; I <= N; ++I)
        A(I, J) = (b.g[J].YOUT[I] - b.g[0].YOUT[I]) / h;
    }
    for (int I = 1; I <= N; ++I)
      G[I] = b.g[0].YOUT[I];
    GLINDX<N> INDX;
    REAL D = 0.0L, det = 0.0L; // a row of zeros: singular
    if (LUDCMP(A, static_cast<INT16>(N), INDX, D)) {
      det = D;
      for (int I = 1; I <= N; ++I)
        det *= A(I, I);
    }
    G[NF] = det;
    return true;
  }

  // The point of the fold curve at distance `step` from `base` along
  // `dir`, by Newton's method on (F, det, the distance); the program state
  // is the point's, with its trajectory's end values, when solved.
  Attempt SolveAlong(const Vec &base, const Vec &dir, REAL step, Vec &W) {
    const Vec scale = ScaleOf(base);
    for (int I = 1; I <= NW; ++I)
      W[I] = base[I] + step * dir[I] * scale[I];
    for (int k = 1; k <= s_.g.solve.NTRIAL; ++k) {
      s_.observer.AtSafePoint(W[N + 1]);
      GLNARRAY<NF> G0;
      if (!Equations(W, G0))
        return Attempt::InvalidCall;
      GLNBYN<NW> J;
      Vec R;
      REAL along = -step;
      for (int I = 1; I <= NW; ++I) {
        along += dir[I] * (W[I] - base[I]) / scale[I];
        J(NW, I) = dir[I] / scale[I];
      }
      for (int I = 1; I <= NF; ++I)
        R[I] = -G0[I];
      R[NW] = -along;
      for (int c = 1; c <= NW; ++c) {
        Vec Wc = W;
        Wc[c] = W[c] + kFoldOuterStep * (1.0L + fabsl(W[c]));
        const REAL h = Wc[c] - W[c];
        GLNARRAY<NF> Gc;
        if (!Equations(Wc, Gc))
          return Attempt::InvalidCall;
        for (int I = 1; I <= NF; ++I)
          J(I, c) = (Gc[I] - G0[I]) / h;
      }
      GLINDX<NW> INDX;
      REAL D;
      if (!LUDCMP(J, static_cast<INT16>(NW), INDX, D))
        return Attempt::SingularMatrix;
      LUBKSB(J, static_cast<INT16>(NW), INDX, R);
      REAL correction = 0.0L;
      for (int I = 1; I <= NW; ++I) {
        W[I] += R[I];
        correction = fmaxl(correction, fabsl(R[I]) / scale[I]);
      }
      if (!std::isfinite(correction))
        return Attempt::IterationLimit;
      if (correction <= kFoldCorrection) {
        iterations_ = static_cast<INT16>(k);
        Load(W);
        s_.g.ITER = iterations_;
        return TrajectoryAtPoint<Model>(s_.g) ? Attempt::Solved : Attempt::InvalidCall;
      }
    }
    return Attempt::IterationLimit;
  }

  void Record(const Vec &from, const Vec &W, unsigned long messagesBefore) {
    s_.arclength += Distance(from, W, ScaleOf(from));
    s_.DP = step_;
    Load(W);
    RecordPoint(s_, rules_, messagesBefore, RecordKind::Fold);
  }

  Failure End(SweepEnd why) {
    s_.observer.SweepEnded(why);
    return Failure::None;
  }

  Program<Model> &s_;
  const SweepRules<Model> &rules_;
  const NamedParam<Params> &free_;
  REAL step_, minStep_, maxStep_;
  Vec last_, dir_;
  INT16 iterations_ = 0;
};

// A pass along the fold curve from the start record loaded in `s`: the
// frame with the free parameter up, then the curve.
template <class Model>
[[nodiscard]] Failure FoldCurvePass(Program<Model> &s, const SweepRules<Model> &rules,
                                    const NamedParam<typename Model::Globals::Params> &free,
                                    const FrameSettings &frame, const SweepSettings &sweep,
                                    bool reverse) {
  ++s.pass;
  s.passFirst = s.records;
  s.freeName = free.name;
  s.freeValue = s.g.par.*(free.member);
  s.P1 = sweep.P1;
  s.P2 = sweep.P2;
  s.observer.PassBegun({s.pass, frame, false, free.name, s.g.P, sweep.P1, sweep.P2, rules.addStep,
                        true, true, false, ProfiledComponent(s.special)});
  s.g.H = rules.scale(s);
  s.observer.CurveStarted(s.g.H, s.freeValue);
  const Failure failure = FoldCurve<Model>(s, rules, free, sweep.DP, reverse).Run();
  LabelSweepEnd(s, rules);
  return failure;
}

} // namespace zanfel
