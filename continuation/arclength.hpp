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

#include "continuation/arc_solve.hpp"
#include "continuation/special_points.hpp"
#include "nonlinear/regula_falsi.hpp"
#include "report/format.hpp"

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
// A branch point is located to the same bracket, within at most this many
// solves: the determinant comes from the same differences and is no better.
constexpr int kBranchIterations = 40;

// The head's note on how the sweep follows its curve.
inline std::string ArclengthNote(const ContinuationChoice &c) {
  std::string note = "continuation: arclength; step along the curve from |DP|, between ";
  note += c.minStep > 0.0L ? ShortReal(c.minStep) : std::string("|DP|/1024");
  note += " and ";
  note += c.maxStep > 0.0L ? ShortReal(c.maxStep) : std::string("10|DP|");
  // The search mostly stops on its bracket: the slope it brackets is a
  // difference quotient, good to about 1E-5, so |dP/ds| itself rarely gets
  // below 1E-10.
  note += "; a fold where dP/ds changes sign, located where |dP/ds| <= 1E-10 or its bracket "
          "is narrower than 1E-10 of the step, after at most " +
          std::to_string(kFoldIterations) + " solves (dP/ds is good to about 1E-5)";
  return note;
}

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
    if (const Failure failure = StartFailure(RecordStart()); failure != Failure::None)
      return failure;
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
      TurnTowards(*before, last);
      Grow(lastIter);
    }
    if (const Failure failure = OrientationOfLast(); failure != Failure::None)
      return failure;
    return Follow();
  }

private:
  Failure Follow() {
    for (;;) {
      s_.observer.AtSafePoint(s_.g.P);
      const unsigned long messagesBefore = MessageCount();
      ArcMatrix<Model> jacobian;
      const ArcVector<Model> scale = ScaleAt(last_.Z);
      switch (AfterAttempt(SolveAlong(s_, last_.Z, dir_, step_, scale,
                                      NodesAlong(last_.nodes, dirNodes_, step_), jacobian),
                           step_, minStep_)) {
      case NextMove::Singular:
        return Failure::SingularMatrix;
      case NextMove::MinStep:
        return End(SweepEnd::MinStep);
      case NextMove::Retry:
        continue;
      case NextMove::Solved:
        break;
      }
      if (s_.g.P > s_.P2 || s_.g.P < s_.P1)
        return LeaveRange(jacobian, scale);
      ArcPoint<Model> next = Here();
      if (!SlopeOfP(jacobian, scale, next.slope, next.det))
        return Failure::SingularMatrix;
      if (const Failure failure = PassSpecialPoints(next); failure != Failure::None)
        return failure;
      Record(next, messagesBefore, RecordKind::Plain);
      TurnTowards(last_, next);
      last_ = next;
      Grow(s_.g.ITER);
      if (Enough())
        return End(SweepEnd::Records);
      if (s_.observer.KeyPressed())
        return End(SweepEnd::Key);
    }
  }

  // The point solved lies beyond the range: the values of --at the curve
  // crosses on the way there are still recorded, and a branch point passed
  // inside the range.
  Failure LeaveRange(const ArcMatrix<Model> &jacobian, const ArcVector<Model> &scale) {
    ArcPoint<Model> out = Here();
    if (SlopeOfP(jacobian, scale, out.slope, out.det) &&
        std::signbit(out.det) != std::signbit(last_.det)) {
      if (const Failure failure = PassSpecialPoints(out, true); failure != Failure::None)
        return failure;
      return End(SweepEnd::LeftRange);
    }
    if (!s_.special.at.empty())
      if (const Failure failure = RecordCrossings(last_, Here()); failure != Failure::None)
        return failure;
    return End(SweepEnd::LeftRange);
  }

  // The orientation at the last record, which its row does not keep: the
  // determinant of the bordered Jacobian there, whose sign is what the
  // unstopped sweep had; the program state is the record's again after.
  Failure OrientationOfLast() {
    const typename Model::Globals atLast = s_.g;
    ArcMatrix<Model> jacobian;
    const ArcVector<Model> scale = ScaleAt(last_.Z);
    const Attempt attempt = SolveAlong(s_, last_.Z, dir_, 0.0L, scale, last_.nodes, jacobian);
    s_.g = atLast;
    PutNodes(s_, last_.nodes);
    if (attempt == Attempt::SingularMatrix)
      return Failure::SingularMatrix;
    REAL slope = 0.0L;
    if (attempt == Attempt::Solved && !SlopeOfP(jacobian, scale, slope, last_.det))
      return Failure::SingularMatrix;
    return Failure::None;
  }

  // The direction of the next step, along the chord from a to b: of the
  // point's (X, P) and of its node states alike.
  void TurnTowards(const ArcPoint<Model> &a, const ArcPoint<Model> &b) {
    const ArcVector<Model> scale = ScaleAt(b.Z);
    dir_ = Direction(a.Z, b.Z, scale);
    dirNodes_ = NodeDirection(a.nodes, b.nodes, Distance(a.Z, b.Z, scale));
  }

  // The point the program state holds, with its node states.
  ArcPoint<Model> Here() const { return {PointOf(s_), 0.0L, 0.0L, NodesOf(s_)}; }

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
    // A start switched onto another branch steps off the branch point
    // first: the bordered matrix is singular there.
    const REAL offset = s_.switchedStart ? step_ : 0.0L;
    StartNodesIfUnknown(s_);
    if (const Attempt attempt =
            SolveAlong(s_, lastRecorded_, dir_, offset, scale, NodesOf(s_), jacobian, &s_.trace);
        attempt != Attempt::Solved)
      return attempt;
    last_ = Here();
    if (!SlopeOfP(jacobian, scale, last_.slope, last_.det))
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

  // A special point located between two steps: the program state there,
  // the point, its kind, the messages its location wrote.
  struct Located {
    typename Model::Globals g;
    ArcPoint<Model> point;
    RecordKind kind;
    unsigned long messages;
  };

  // What lies between the last point and `next`: a fold where dP/ds changed
  // sign, a branch point where the orientation did, and the crossings of the
  // values of --at, each recorded before `next` in the order of the curve.
  // The program state is next's again afterwards. Beyond the range (`next`
  // outside it) only what lies inside is recorded, and no fold is sought.
  [[nodiscard]] Failure PassSpecialPoints(const ArcPoint<Model> &next, bool beyond = false) {
    const bool folds = !beyond && std::signbit(next.slope) != std::signbit(last_.slope);
    const bool branches = std::signbit(next.det) != std::signbit(last_.det);
    if (!folds && !branches && s_.special.at.empty())
      return Failure::None;
    const typename Model::Globals atNext = s_.g;
    std::vector<Located> found;
    if (folds)
      if (const Failure failure = LocateFold(next, found); failure != Failure::None)
        return failure;
    if (branches)
      if (const Failure failure = LocateBranch(next, found); failure != Failure::None)
        return failure;
    std::erase_if(found, [&](const Located &x) {
      const REAL P = x.point.Z[Model::N + 1];
      return P > s_.P2 || P < s_.P1;
    });
    const ArcVector<Model> scale = ScaleAt(last_.Z);
    std::sort(found.begin(), found.end(), [&](const Located &x, const Located &y) {
      return Distance(last_.Z, x.point.Z, scale) < Distance(last_.Z, y.point.Z, scale);
    });
    ArcPoint<Model> from = last_;
    for (const Located &point : found) {
      if (const Failure failure = RecordCrossings(from, point.point); failure != Failure::None)
        return failure;
      s_.g = point.g;
      PutNodes(s_, point.point.nodes);
      Record(point.point, MessageCount() - point.messages, point.kind);
      from = point.point;
    }
    return Restored(RecordCrossings(from, next), atNext, next);
  }

  Failure Restored(Failure failure, const typename Model::Globals &atNext,
                   const ArcPoint<Model> &next) {
    s_.g = atNext;
    PutNodes(s_, next.nodes);
    return failure;
  }

  // The fold between the last point and `next`, by regula falsi on dP/ds
  // over the distance along their chord, added to `found` when located.
  [[nodiscard]] Failure LocateFold(const ArcPoint<Model> &next, std::vector<Located> &found) {
    const unsigned long messagesBefore = MessageCount();
    REAL slope = 0.0L;
    bool located = false;
    if (const Failure failure =
            LocateOnChord(next, {0.0L, 0.0L, last_.slope, next.slope}, kFoldTolerance,
                          kFoldIterations, &ArcPoint<Model>::slope, located, slope);
        failure != Failure::None)
      return failure;
    if (located)
      found.push_back({s_.g,
                       {PointOf(s_), slope, 0.0L, NodesOf(s_)},
                       RecordKind::Fold,
                       MessageCount() - messagesBefore});
    return Failure::None;
  }

  // The branch point between the last point and `next`, by regula falsi on
  // the bordered Jacobian's determinant over the distance along their
  // chord, that row the chord's own. The ends are solved again on the chord
  // (the records' determinants come from other rows, and a resumed sweep
  // has not got them), so that the search depends on the two points alone.
  // Its slope is the chord's: the bordered matrix is singular there.
  [[nodiscard]] Failure LocateBranch(const ArcPoint<Model> &next, std::vector<Located> &found) {
    const unsigned long messagesBefore = MessageCount();
    const ArcVector<Model> scale = ScaleAt(last_.Z);
    const ArcVector<Model> chord = Direction(last_.Z, next.Z, scale);
    const REAL length = Distance(last_.Z, next.Z, scale);
    ArcPoint<Model> ends[2];
    for (int end = 0; end < 2; ++end) {
      ArcMatrix<Model> jacobian;
      const Attempt attempt =
          SolveAlong(s_, last_.Z, chord, end * length, scale,
                     NodesBetween(last_.nodes, next.nodes, static_cast<REAL>(end)), jacobian);
      if (attempt == Attempt::SingularMatrix)
        return Failure::SingularMatrix;
      if (Failed(attempt))
        return Failure::None;
      if (!SlopeOfP(jacobian, scale, ends[end].slope, ends[end].det))
        return Failure::SingularMatrix;
    }
    if (std::signbit(ends[0].det) == std::signbit(ends[1].det))
      return Failure::None;
    REAL det = 0.0L;
    bool located = false;
    if (const Failure failure =
            LocateOnChord(next, {0.0L, 0.0L, ends[0].det, ends[1].det}, 0.0L, kBranchIterations,
                          &ArcPoint<Model>::det, located, det);
        failure != Failure::None)
      return failure;
    if (located)
      found.push_back({s_.g,
                       {PointOf(s_), chord[Model::N + 1], det, NodesOf(s_)},
                       RecordKind::Branch,
                       MessageCount() - messagesBefore});
    return Failure::None;
  }

  // A zero of the test function `test` (dP/ds or the determinant) between
  // the last point and `next`, by regula falsi (the Illinois variant) over
  // the distance along their chord, from the values at the ends in `f`
  // (their places are filled in here). Stops where the test is at most
  // `tolerance` in size, the bracket narrower than kFoldTolerance times the
  // chord, or after `iterations` solves; the program state is the zero's
  // when `located`, the test's value there in `value`.
  [[nodiscard]] Failure LocateOnChord(const ArcPoint<Model> &next, FalsiBracket f, REAL tolerance,
                                      int iterations, REAL ArcPoint<Model>::*test, bool &located,
                                      REAL &value) {
    const ArcVector<Model> scale = ScaleAt(last_.Z);
    const ArcVector<Model> chord = Direction(last_.Z, next.Z, scale);
    const REAL length = Distance(last_.Z, next.Z, scale);
    f.lo = 0.0L;
    f.hi = length;
    value = 0.0L;
    for (int k = 0; k < iterations; ++k) {
      const REAL sigma = f.Next();
      ArcMatrix<Model> jacobian;
      const Attempt attempt =
          SolveAlong(s_, last_.Z, chord, sigma, scale,
                     NodesBetween(last_.nodes, next.nodes, sigma / length), jacobian);
      if (attempt == Attempt::SingularMatrix)
        return Failure::SingularMatrix;
      if (Failed(attempt))
        break;
      located = true;
      ArcPoint<Model> at;
      if (!SlopeOfP(jacobian, scale, at.slope, at.det))
        return Failure::SingularMatrix;
      value = at.*test;
      if (fabsl(value) <= tolerance || f.hi - f.lo <= kFoldTolerance * length)
        break;
      f.Take(sigma, value);
    }
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
      const Attempt attempt =
          SolveAlong(s_, guess, alongP, 0.0L, scale, NodesBetween(a.nodes, b.nodes, w), jacobian);
      if (attempt == Attempt::SingularMatrix)
        return Failure::SingularMatrix;
      if (Failed(attempt))
        continue;
      ArcPoint<Model> user = Here();
      if (!SlopeOfP(jacobian, scale, user.slope, user.det))
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
  ArcNodes<Model> dirNodes_; // the node states' share of dir_
};

template <class Model>
[[nodiscard]] Failure ArclengthSweep(Program<Model> &s, const SweepRules<Model> &rules) {
  return ArclengthStrategy<Model>(s, rules, s.DP).Run();
}

} // namespace zanfel
