// The whole solution of a solved point: its trajectory again, step by
// accepted step, for the profiles a run writes of chosen records.
#pragma once

#include "shooting/parameter_column.hpp"

namespace zanfel {

// The trajectory at g.X and g.P as the record's own was integrated, with the
// H it started from, visiting y at t = 0 and after every accepted step:
// `visit(t, y)`. The integrator runs in its one-step mode, which takes the
// very steps of an integration to t = 1 and hands each back; the budgets
// are g.solve's. It says nothing: a record's trajectory had its messages
// when it was solved. True when it reached t = 1.
template <ShootingModel Model, class Visit>
bool ProfileTrajectory(typename Model::Globals g, Visit &&visit) {
  constexpr int NEQN = Model::NEQN;
  Array1<REAL, 1, NEQN> Y;
  Array1<REAL, 1, 3 + 6 * NEQN> WORK;
  Array1<INT16, 1, 5> IWORK;
  REAL RELERR = g.solve.RELERR;
  const REAL ABSERR = g.solve.ABSERR;
  REAL T = 0.0L;
  g.H = EntryH<Model>(g);
  const GLNARRAY<Model::N> X = g.X;
  Model::INITVAL(g, X, View1<REAL>{Y.data()});
  visit(T, View1<const REAL>{Y.data()});
  typename Trajectory<Model>::RightHandSide f{g};
  INT16 IFLAG = -1;
  for (INT16 budgets = 1;;) {
    RKF45(f, static_cast<INT16>(NEQN), ARRAYTYPE{Y.data()}, T, 1.0L, RELERR, ABSERR, IFLAG,
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

} // namespace zanfel
