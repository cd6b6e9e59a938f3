// The whole solution of a solved point: its trajectory again, step by
// accepted step, for the profiles a run writes of chosen records.
#pragma once

#include "shooting/parameter_column.hpp"
#include "shooting/segment_cuts.hpp"

namespace zanfel {

// Y carried from T to TOUT as a trajectory of the record was, visiting y
// after every accepted step: `visit(t, y)`. The integrator runs in its
// one-step mode, which takes the very steps of an integration to TOUT and
// hands each back; the budgets are g.solve's. It says nothing: a record's
// trajectory had its messages when it was solved. True when it reached TOUT.
template <ShootingModel Model, class Visit>
bool ProfileSpan(typename Model::Globals &g, Array1<REAL, 1, Model::NEQN> &Y, REAL T,
                 const REAL TOUT, Visit &visit) {
  constexpr int NEQN = Model::NEQN;
  Array1<REAL, 1, 3 + 6 * NEQN> WORK;
  Array1<INT16, 1, 5> IWORK;
  REAL RELERR = g.solve.RELERR;
  const REAL ABSERR = g.solve.ABSERR;
  typename Trajectory<Model>::RightHandSide f{g};
  INT16 IFLAG = -1;
  for (INT16 budgets = 1;;) {
    RKF45(f, static_cast<INT16>(NEQN), ARRAYTYPE{Y.data()}, T, TOUT, RELERR, ABSERR, IFLAG,
          ARRAYTYPE{WORK.data()}, View1<INT16>{IWORK.data()}, kRunRelerrFloor);
    switch (StatusOf(IFLAG)) {
    case RkfStatus::OneStepTaken:
      visit(T, View1<const REAL>{Y.data()});
      continue;
    case RkfStatus::ToutReached:
      visit(T, View1<const REAL>{Y.data()});
      return true;
    case RkfStatus::TooManyEvaluations:
      // Answered with 4, as the record's own integration went on.
      if (budgets++ < g.solve.budgets)
        continue;
      return false;
    default:
      return false;
    }
  }
}

// The trajectory at g.X and g.P as the record's own was integrated, with the
// H it started from, visiting y at t = 0 and after every accepted step.
template <ShootingModel Model, class Visit>
bool ProfileTrajectory(typename Model::Globals g, Visit &&visit) {
  Array1<REAL, 1, Model::NEQN> Y;
  g.H = EntryH<Model>(g);
  const GLNARRAY<Model::N> X = g.X;
  Model::INITVAL(g, X, View1<REAL>{Y.data()});
  visit(0.0L, View1<const REAL>{Y.data()});
  return ProfileSpan<Model>(g, Y, 0.0L, 1.0L, visit);
}

// The piecewise trajectory of a record solved on segments: segment k from
// its own start, INITVAL at g.X for the first, the node state k - 1
// (`nodes`, NEQN values a node) for the others, each with the H a segment
// of the solve starts from. At a node both the end of one segment and the
// start of the next are visited, at the same t: their difference is what
// the solve left of the jump.
template <ShootingModel Model, class Visit>
bool SegmentedProfileTrajectory(typename Model::Globals g, const SegmentCuts &cuts,
                                const REAL *nodes, Visit &&visit) {
  constexpr int NEQN = Model::NEQN;
  Array1<REAL, 1, NEQN> Y;
  const GLNARRAY<Model::N> X = g.X;
  const typename Model::Globals start = g;
  for (int k = 1; k <= cuts.M; ++k) {
    g = start;
    g.H = Model::HAfterTrajectory(start, X, start.H);
    if (k == 1)
      Model::INITVAL(g, X, View1<REAL>{Y.data()});
    else
      for (int i = 1; i <= NEQN; ++i)
        Y[i] = nodes[(k - 2) * NEQN + i - 1];
    visit(cuts.t[k - 1], View1<const REAL>{Y.data()});
    if (!ProfileSpan<Model>(g, Y, cuts.t[k - 1], cuts.t[k], visit))
      return false;
  }
  return true;
}

} // namespace zanfel
