// Pseudo-arclength continuation: the unknowns X and P are solved for together
// (N+1 of them), the extra equation fixing the distance along the secant of
// the last two points. The sweep goes on round turning points of the curve in
// P (folds), locates each and records it; the step along the curve halves
// after a failed solve and grows after an easy one.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "continuation/special_points.hpp"
#include "report/format.hpp"
#include "shooting/parameter_column.hpp"

namespace zanfel {

// A solve in at most this many iterations lets the step grow (doubled, up
// to the largest step).
constexpr INT16 kFewIterations = 4;
// A fold is located when dP/ds there is at most kFoldTolerance in size, or
// when the bracket round it is narrower than kFoldTolerance times the step
// it was found in, or after kFoldIterations solves. The slope comes from
// forward differences of trajectories, good to about 1E-5: the place along
// the curve is found to about that, P at the fold (where it is flat) to the
// integrator's accuracy.
constexpr REAL kFoldTolerance = 1.0E-10L;
constexpr int kFoldIterations = 30;

// The head's note on how the sweep follows its curve.
inline std::string ArclengthNote(const ContinuationChoice &c) {
  std::string note = "continuation: arclength; step along the curve from |DP|, between ";
  note += c.minStep > 0.0L ? ShortReal(c.minStep) : std::string("|DP|/1024");
  note += " and ";
  note += c.maxStep > 0.0L ? ShortReal(c.maxStep) : std::string("10|DP|");
  note += "; a fold where dP/ds changes sign, located to |dP/ds| <= 1E-10";
  return note;
}

// An N+1 vector (X, P) of the curve; P is the last element.
template <class Model> using ArcVector = GLNARRAY<Model::N + 1>;
template <class Model> using ArcMatrix = GLNBYN<Model::N + 1>;

// How a solve along the curve ended: solved; failed (Newton's method ran out
// of iterations, or a trajectory was refused: a shorter step may do); or at a
// singular matrix, which ends the run as it ends a natural sweep.
enum class Attempt { Solved, IterationLimit, InvalidCall, SingularMatrix };

inline bool Failed(Attempt a) {
  return a == Attempt::IterationLimit || a == Attempt::InvalidCall;
}

template <class Model> ArcVector<Model> PointOf(const Program<Model> &s) {
  ArcVector<Model> Z;
  for (int I = 1; I <= Model::N; ++I)
    Z[I] = s.g.X[I];
  Z[Model::N + 1] = s.g.P;
  return Z;
}

template <class Model> void LoadPoint(Program<Model> &s, const ArcVector<Model> &Z) {
  for (int I = 1; I <= Model::N; ++I)
    s.g.X[I] = Z[I];
  s.g.P = Z[Model::N + 1];
}

// Lengths along the curve measure each unknown in units of its size at the
// base of the step (in its own units where it is below 1), P as it is: a step
// of a given length then moves P alike whether the unknowns are ones or
// thousands, and the step bounds, which come from the program's step of P,
// mean what they say. The scale of a point depends on that point alone, so a
// resumed sweep measures as the unstopped one did.
template <int NA> GLNARRAY<NA> ScaleAt(const GLNARRAY<NA> &Z) {
  GLNARRAY<NA> scale;
  for (int I = 1; I < NA; ++I)
    scale[I] = fmaxl(1.0L, fabsl(Z[I]));
  scale[NA] = 1.0L;
  return scale;
}

template <int NA>
REAL Distance(const GLNARRAY<NA> &a, const GLNARRAY<NA> &b, const GLNARRAY<NA> &scale) {
  REAL sum = 0.0L;
  for (int I = 1; I <= NA; ++I) {
    const REAL d = (b[I] - a[I]) / scale[I];
    sum += d * d;
  }
  return sqrtl(sum);
}

// The unit vector from a to b, in the scaled coordinates.
template <int NA>
GLNARRAY<NA> Direction(const GLNARRAY<NA> &a, const GLNARRAY<NA> &b, const GLNARRAY<NA> &scale) {
  const REAL length = Distance(a, b, scale);
  GLNARRAY<NA> d;
  for (int I = 1; I <= NA; ++I)
    d[I] = (b[I] - a[I]) / scale[I] / length;
  return d;
}

// The point of the curve at distance `step` from `base` along `dir`, both
// in the coordinates scaled by `scale` (dir . (Z - base) / scale = step),
// from the guess base + step dir scale. On success the
// program state is the point's, with the end values of its own trajectory,
// and `jacobian` the augmented (negated) Jacobian of the last iteration; on
// failure the state is undefined. With `trace`, the solve is traced there
// for the diagnosis of a failure that ends the run.
template <class Model>
[[nodiscard]] Attempt SolveAlong(Program<Model> &s, const ArcVector<Model> &base,
                                 const ArcVector<Model> &dir, REAL step,
                                 const ArcVector<Model> &scale, ArcMatrix<Model> &jacobian,
                                 NewtonTrace *trace = nullptr) {
  constexpr int NA = Model::N + 1;
  ArcVector<Model> Z;
  for (int I = 1; I <= NA; ++I)
    Z[I] = base[I] + step * dir[I] * scale[I];
  s.g.ITER = 0;
  auto usrfun = [&](GLNARRAY<NA> &Zi, INT16, ArcMatrix<Model> &A, GLNARRAY<NA> &B) {
    s.observer.AtSafePoint(Zi[NA]);
    LoadPoint(s, Zi);
    if (!USRFUNWithParameter<Model>(s.g, A, B))
      return false;
    if (trace) {
      trace->NoteTrajectories(Model::N + 2, 0);
      trace->NoteJacobian(A, Model::N);
    }
    REAL along = -step;
    for (int J = 1; J <= NA; ++J) {
      along += dir[J] * (Zi[J] - base[J]) / scale[J];
      A(NA, J) = -dir[J] / scale[J];
    }
    B[NA] = along;
    jacobian = A;
    return true;
  };
  switch (MNEWT(s.g.solve.NTRIAL, Z, static_cast<INT16>(NA), s.g.solve.TOLX, s.g.solve.TOLF,
                s.g.ITER, usrfun, trace)) {
  case NewtonStatus::Converged:
    break;
  case NewtonStatus::SingularMatrix:
    return Attempt::SingularMatrix;
  case NewtonStatus::IterationLimit:
    return Attempt::IterationLimit;
  case NewtonStatus::ResidualsFailed:
    return Attempt::InvalidCall;
  }
  LoadPoint(s, Z);
  return TrajectoryAtPoint<Model>(s.g) ? Attempt::Solved : Attempt::InvalidCall;
}

// dP/ds at a solved point, along the tangent that goes the way of the solve's
// direction, s measured with `scale`: from the augmented Jacobian, whose last
// row is -dir / scale. False for a Jacobian with an all-zero row.
template <int NA>
[[nodiscard]] bool SlopeOfP(GLNBYN<NA> jacobian, const GLNARRAY<NA> &scale, REAL &slope) {
  GLINDX<NA> INDX;
  REAL D;
  if (!LUDCMP(jacobian, static_cast<INT16>(NA), INDX, D))
    return false;
  // J tau = 0 and dir . tau = 1: tau is a tangent with dir . tau > 0.
  GLNARRAY<NA> tau;
  tau[NA] = -1.0L;
  LUBKSB(jacobian, static_cast<INT16>(NA), INDX, tau);
  REAL norm = 0.0L;
  for (int I = 1; I <= NA; ++I) {
    const REAL t = tau[I] / scale[I];
    norm += t * t;
  }
  slope = tau[NA] / sqrtl(norm);
  return true;
}

// A solved point of the curve with the slope of P there.
template <class Model> struct ArcPoint {
  ArcVector<Model> Z;
  REAL slope = 0.0L;
};

template <class Model> class ArclengthStrategy {
public:
  // `programStep` is the program's step, the start of the step along the
  // curve and the measure of its default bounds.
  ArclengthStrategy(Program<Model> &s, const SweepRules<Model> &rules, REAL programStep)
      : s_(s), rules_(rules), step_(fabsl(programStep)),
        minStep_(s.continuation.MinStep(programStep)),
        maxStep_(s.continuation.MaxStep(programStep)) {
    // The first step is the natural one: P moves by the program's step, the
    // direction is P's own.
    dir_[Model::N + 1] = rules_.addStep == (programStep > 0.0L) ? 1.0L : -1.0L;
    if (s.haveStartDirection)
      dir_ = s.startDirection;
  }

  // From the start point: its record first, solved again at its P as the
  // natural sweep's is, then the sweep. A start that cannot be solved ends
  // the run with the reason in the trace: there is no shorter step to try.
  [[nodiscard]] Failure Run() {
    switch (RecordStart()) {
    case Attempt::Solved:
      break;
    case Attempt::IterationLimit:
    case Attempt::InvalidCall:
      return Failure::StartNotSolved;
    case Attempt::SingularMatrix:
      return Failure::SingularMatrix;
    }
    if (Enough())
      return End(SweepEnd::Records);
    if (s_.observer.KeyPressed())
      return End(SweepEnd::Key);
    return Follow();
  }

  // A resumed sweep, after the record `last` (not a fold); `before` is the
  // record of the last step before it, null when `last` is the first. The
  // step, the direction and what is compared at the next point are what the
  // sweep had after `last`.
  [[nodiscard]] Failure Resume(const ArcPoint<Model> &last, const ArcPoint<Model> *before,
                               INT16 lastIter) {
    last_ = last;
    lastRecorded_ = last.Z;
    step_ = s_.DP;
    if (before) {
      dir_ = Direction(before->Z, last.Z, ScaleAt(last.Z));
      Grow(lastIter);
    }
    return Follow();
  }

private:
  Failure Follow() {
    for (;;) {
      s_.observer.AtSafePoint(s_.g.P);
      const unsigned long messagesBefore = MessageCount();
      ArcMatrix<Model> jacobian;
      const ArcVector<Model> scale = ScaleAt(last_.Z);
      const Attempt attempt = SolveAlong(s_, last_.Z, dir_, step_, scale, jacobian);
      if (attempt == Attempt::SingularMatrix)
        return Failure::SingularMatrix;
      if (Failed(attempt)) {
        step_ = step_ / 2.0L;
        if (step_ < minStep_)
          return End(SweepEnd::MinStep);
        continue;
      }
      if (s_.g.P > s_.P2 || s_.g.P < s_.P1)
        return LeaveRange();
      ArcPoint<Model> next{PointOf(s_)};
      if (!SlopeOfP(jacobian, scale, next.slope))
        return Failure::SingularMatrix;
      if (const Failure failure = PassSpecialPoints(next); failure != Failure::None)
        return failure;
      Record(next, messagesBefore, RecordKind::Plain);
      dir_ = Direction(last_.Z, next.Z, ScaleAt(next.Z));
      last_ = next;
      Grow(s_.g.ITER);
      if (Enough())
        return End(SweepEnd::Records);
      if (s_.observer.KeyPressed())
        return End(SweepEnd::Key);
    }
  }

  // The point solved lies beyond the range: the values of --at the curve
  // crosses on the way there are still recorded.
  Failure LeaveRange() {
    if (!s_.special.at.empty())
      if (const Failure failure = RecordCrossings(last_, ArcPoint<Model>{PointOf(s_)});
          failure != Failure::None)
        return failure;
    return End(SweepEnd::LeftRange);
  }

  void Grow(INT16 iterations) {
    if (iterations <= kFewIterations)
      step_ = fminl(2.0L * step_, maxStep_);
  }

  Failure End(SweepEnd why) {
    s_.observer.SweepEnded(why);
    return Failure::None;
  }

  // The records asked for (--records) are written.
  bool Enough() const { return s_.recordLimit > 0 && s_.records - s_.passFirst >= s_.recordLimit; }

  Attempt RecordStart() {
    lastRecorded_ = PointOf(s_);
    ArcMatrix<Model> jacobian;
    const unsigned long messagesBefore = MessageCount();
    const ArcVector<Model> scale = ScaleAt(lastRecorded_);
    if (const Attempt attempt =
            SolveAlong(s_, lastRecorded_, dir_, 0.0L, scale, jacobian, &s_.trace);
        attempt != Attempt::Solved)
      return attempt;
    last_ = {PointOf(s_)};
    if (!SlopeOfP(jacobian, scale, last_.slope))
      return Attempt::SingularMatrix;
    Record(last_, messagesBefore, StepKind(s_));
    return Attempt::Solved;
  }

  void Record(const ArcPoint<Model> &point, unsigned long messagesBefore, RecordKind kind) {
    s_.arclength += Distance(lastRecorded_, point.Z, ScaleAt(lastRecorded_));
    lastRecorded_ = point.Z;
    s_.DP = step_;
    s_.slope = point.slope;
    RecordPoint(s_, rules_, messagesBefore, kind);
  }

  // What lies between the last point and `next`: a fold where dP/ds changed
  // sign, and the crossings of the values of --at, each recorded before
  // `next` in the order of the curve. The program state is next's again
  // afterwards.
  [[nodiscard]] Failure PassSpecialPoints(const ArcPoint<Model> &next) {
    const bool folds = std::signbit(next.slope) != std::signbit(last_.slope);
    if (!folds && s_.special.at.empty())
      return Failure::None;
    const typename Model::Globals atNext = s_.g;
    if (!folds)
      return Restored(RecordCrossings(last_, next), atNext);
    const unsigned long messagesAtFold = MessageCount();
    bool located = false;
    if (const Failure failure = LocateFold(next, located); failure != Failure::None)
      return failure;
    if (!located)
      return Restored(RecordCrossings(last_, next), atNext);
    const typename Model::Globals atFold = s_.g;
    const ArcPoint<Model> fold{PointOf(s_), foldSlope_};
    const unsigned long foldMessages = MessageCount() - messagesAtFold;
    if (const Failure failure = RecordCrossings(last_, fold); failure != Failure::None)
      return failure;
    s_.g = atFold;
    Record(fold, MessageCount() - foldMessages, RecordKind::Fold);
    return Restored(RecordCrossings(fold, next), atNext);
  }

  Failure Restored(Failure failure, const typename Model::Globals &atNext) {
    s_.g = atNext;
    return failure;
  }

  // The fold between the last point and `next`, by regula falsi (the
  // Illinois variant) on dP/ds over the distance along their chord; the
  // program state is the fold's when `located`, its slope in foldSlope_.
  [[nodiscard]] Failure LocateFold(const ArcPoint<Model> &next, bool &located) {
    const ArcVector<Model> scale = ScaleAt(last_.Z);
    const ArcVector<Model> chord = Direction(last_.Z, next.Z, scale);
    const REAL length = Distance(last_.Z, next.Z, scale);
    REAL lo = 0.0L, hi = length, fLo = last_.slope, fHi = next.slope;
    int side = 0;
    REAL f = 0.0L;
    for (int k = 0; k < kFoldIterations; ++k) {
      const REAL sigma = (lo * fHi - hi * fLo) / (fHi - fLo);
      ArcMatrix<Model> jacobian;
      const Attempt attempt = SolveAlong(s_, last_.Z, chord, sigma, scale, jacobian);
      if (attempt == Attempt::SingularMatrix)
        return Failure::SingularMatrix;
      if (Failed(attempt))
        break;
      located = true;
      if (!SlopeOfP(jacobian, scale, f))
        return Failure::SingularMatrix;
      if (fabsl(f) <= kFoldTolerance || hi - lo <= kFoldTolerance * length)
        break;
      if (std::signbit(f) == std::signbit(fLo)) {
        lo = sigma;
        fLo = f;
        if (side == -1)
          fHi = fHi / 2.0L;
        side = -1;
      } else {
        hi = sigma;
        fHi = f;
        if (side == 1)
          fLo = fLo / 2.0L;
        side = 1;
      }
    }
    foldSlope_ = f;
    return Failure::None;
  }

  // Each value Pk of --at that the curve crosses from `a` to `b` (P - Pk
  // changes sign, or reaches 0 at b), recorded at exactly Pk: solved with P
  // held there, from the chord's point at that P. The slope there has the
  // sign of P's change from a to b. A crossing whose solve fails is left
  // out.
  [[nodiscard]] Failure RecordCrossings(const ArcPoint<Model> &a, const ArcPoint<Model> &b) {
    constexpr int NP = Model::N + 1;
    const REAL Pa = a.Z[NP], Pb = b.Z[NP];
    for (const REAL Pk : CrossedUserPs(Pa, Pb)) {
      const REAL w = (Pk - Pa) / (Pb - Pa);
      ArcVector<Model> guess, alongP;
      for (int I = 1; I < NP; ++I)
        guess[I] = a.Z[I] + w * (b.Z[I] - a.Z[I]);
      guess[NP] = Pk;
      alongP[NP] = 1.0L;
      s_.observer.AtSafePoint(Pk);
      const unsigned long messagesBefore = MessageCount();
      ArcMatrix<Model> jacobian;
      const ArcVector<Model> scale = ScaleAt(guess);
      const Attempt attempt = SolveAlong(s_, guess, alongP, 0.0L, scale, jacobian);
      if (attempt == Attempt::SingularMatrix)
        return Failure::SingularMatrix;
      if (Failed(attempt))
        continue;
      ArcPoint<Model> user{PointOf(s_)};
      if (!SlopeOfP(jacobian, scale, user.slope))
        return Failure::SingularMatrix;
      user.slope = Pb < Pa ? -fabsl(user.slope) : fabsl(user.slope);
      Record(user, messagesBefore, RecordKind::User);
    }
    return Failure::None;
  }

  // The values of --at crossed from Pa to Pb, in the order of the crossing.
  std::vector<REAL> CrossedUserPs(REAL Pa, REAL Pb) const {
    std::vector<REAL> crossed;
    for (const REAL Pk : s_.special.at)
      if ((Pa < Pk && Pk <= Pb) || (Pb <= Pk && Pk < Pa))
        crossed.push_back(Pk);
    std::sort(crossed.begin(), crossed.end(),
              [&](REAL x, REAL y) { return fabsl(x - Pa) < fabsl(y - Pa); });
    return crossed;
  }

  Program<Model> &s_;
  const SweepRules<Model> &rules_;
  REAL step_, minStep_, maxStep_;
  ArcPoint<Model> last_;
  ArcVector<Model> lastRecorded_;
  ArcVector<Model> dir_;
  REAL foldSlope_ = 0.0L;
};

template <class Model>
[[nodiscard]] Failure ArclengthSweep(Program<Model> &s, const SweepRules<Model> &rules) {
  return ArclengthStrategy<Model>(s, rules, s.DP).Run();
}

} // namespace zanfel
