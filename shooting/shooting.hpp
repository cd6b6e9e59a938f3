// The shooting layer: one trajectory from the unknowns to the residuals (RKF)
// and the residuals with their forward-difference Jacobian (USRFUN), written
// once for every model.
#pragma once

#include <string>

#include "integrator/rkf45.hpp"
#include "runtime/types.hpp"

namespace zanfel {

constexpr REAL RKF_RELERR = 1.0E-9L;
constexpr REAL RKF_ABSERR = 1.0E-15L;

// The integrator's reaction messages, in the order they are written; the
// report of status 8 is followed by the end of the program.
void ReportTooManySteps();
void ReportTolerance(REAL RELERR, REAL ABSERR);
[[noreturn]] void ReportInvalidCallAndEnd();

// A model supplies N, NEQN, NOUT, its Globals and DIFEQN, INITVAL, OUTVAL.
template <class Model> struct Trajectory {
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
template <class Model>
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

// Residuals BETA and the negated forward-difference Jacobian ALPHA at X. X is
// the program-wide vector: each unknown in turn is raised in place while its
// trajectory runs (the models read it) and lowered again by subtraction.
template <class Model>
void USRFUN(typename Model::Globals &g, GLNARRAY<Model::N> &X, INT16 N, GLNBYN<Model::N> &ALPHA,
            GLNARRAY<Model::N> &BETA) {
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
  X[N] = X[N] - XDLT[N];
}

} // namespace zanfel
