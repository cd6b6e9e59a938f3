// The natural continuation: P stepped by the program's step, the unknowns
// solved for at each P from the last ones.
#pragma once

#include "continuation/branch_points.hpp"
#include "continuation/special_points.hpp"

namespace zanfel {

// What follows a record: H for the next solve, the next P, and the step
// shrunk after a solve that needed NTRIAL iterations. True when P has left
// [P1, P2]. A resumed sweep goes on from its last row through this too.
template <class Model> REAL NextP(const Program<Model> &s, const SweepRules<Model> &rules) {
  return rules.addStep ? s.g.P + s.DP : s.g.P - s.DP;
}
template <class Model> bool OutsideRange(const Program<Model> &s, REAL P) {
  return P > s.P2 || P < s.P1;
}
template <class Model> bool StepOn(Program<Model> &s, const SweepRules<Model> &rules) {
  // H assigned again, deliberately: the record cannot have changed it, and
  // the sweep has always done it here.
  s.g.H = rules.scale(s);
  s.g.P = NextP(s, rules);
  if (s.g.ITER >= s.g.solve.NTRIAL)
    s.DP = kStepShrink * s.DP;
  return OutsideRange(s, s.g.P);
}

// The continuation: solve, plot, record, step P, shrink the step after a
// solve that needed NTRIAL iterations, stop outside [P1, P2] or on a key, or
// at a solve that failed. The values of --at that a step passes get their
// records between the two.
template <class Model>
[[nodiscard]] Failure Sweep(Program<Model> &s, const SweepRules<Model> &rules) {
  for (;;) {
    s.observer.AtSafePoint(s.g.P); // every record so far is whole in the file
    unsigned long messagesBefore = MessageCount();
    if (const Failure failure = Solve(s); failure != Failure::None)
      return failure;
    if (s.special.branchPoints)
      if (const Failure failure = PassNaturalBranchPoint(s, rules, messagesBefore);
          failure != Failure::None)
        return failure;
    RecordPoint(s, rules, messagesBefore, StepKind(s), OutsideRange(s, NextP(s, rules)));
    const REAL recordedP = s.g.P;
    const bool leftRange = StepOn(s, rules);
    const bool enough = s.recordLimit > 0 && s.records - s.passFirst >= s.recordLimit;
    if (leftRange || enough || s.observer.KeyPressed()) {
      s.observer.SweepEnded(leftRange ? SweepEnd::LeftRange
                            : enough  ? SweepEnd::Records
                                      : SweepEnd::Key);
      return Failure::None;
    }
    if (const Failure failure = RecordUserPointsBetween(s, rules, recordedP);
        failure != Failure::None)
      return failure;
  }
}

} // namespace zanfel
