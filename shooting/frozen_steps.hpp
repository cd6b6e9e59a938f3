// Frozen steps: the accepted steps of one adaptive integration, kept so that
// a neighbouring start can be carried over the very same steps. A
// difference quotient of two such integrations sees how the end state moves
// with the start, without the noise of steps that adapt differently; and the
// neighbour costs its stages alone: no error test, no rejected step, no
// first-step choice.
#pragma once

#include <cmath>

#include "integrator/rkf45.hpp"
#include "runtime/masked_traps.hpp"
#include "shooting/shooting.hpp"

namespace zanfel {

// The most steps a record keeps; an integration with more is not replayed.
// Six evaluations a step must fit the 16-bit count of evaluations.
constexpr int kFrozenStepCap = 1024;
static_assert(6 * kFrozenStepCap <= 32767);

// The step log of one integration into caller-owned room for kFrozenStepCap
// lengths (nothing allocated). Complete when the integration reached its
// output point by Fehlberg steps alone and every step was kept.
struct StepRecord {
  REAL *H = nullptr;
  int count = 0;
  bool moved = false; // Y moved without a step
  bool complete = false;

  void Start(REAL *room) {
    H = room;
    count = 0;
    moved = false;
    complete = false;
  }
  void Step(REAL h) {
    if (count < kFrozenStepCap)
      H[count] = h;
    ++count;
  }
  void Extrapolated() { moved = true; }
  void Ended(INT16 IFLAG) {
    complete =
        StatusOf(IFLAG) == RkfStatus::ToutReached && !moved && count > 0 && count <= kFrozenStepCap;
  }
};

// Y carried from T to TOUT in one Fehlberg step, taken when its error
// estimate meets the tolerances of g.solve as the integrator's test would
// (its steps then that one step): true. Otherwise Y is untouched and false.
// The step and its fifth-order solution are those of IntegrateOverSteps.
// It runs with traps masked: a stage beyond the model's domain only fails
// the step (a value not finite), where the integrator would have tried a
// shorter one. (Masking holds nothing an abandoned frame would need.)
template <ShootingModel Model>
[[gnu::flatten]] bool OneStepWithin(typename Model::Globals &g, Array1<REAL, 1, Model::NEQN> &Y,
                                    REAL T, const REAL TOUT, StepRecord &steps) {
  constexpr INT16 NEQN = Model::NEQN;
  const MaskedTraps masked;
  using CV = View1<const REAL>;
  Array1<REAL, 1, NEQN> YP, F1, F2, F3, F4, F5;
  typename Trajectory<Model>::RightHandSide f{g};
  const ARRAYTYPE y{Y.data()}, yp{YP.data()}, f1{F1.data()}, f2{F2.data()}, f3{F3.data()},
      f4{F4.data()}, f5{F5.data()};
  const REAL h = TOUT - T;
  f(T, CV{Y.data()}, yp);
  FehlStages(f, NEQN, y, T, h, yp, f1, f2, f3, f4, f5);
  CountEvaluations(6);
  const REAL SCALE = 2.0L / g.solve.RELERR;
  const REAL AE = SCALE * g.solve.ABSERR;
  const REAL CH = FifthOrderMultiplier(h);
  REAL largest = 0.0L;
  for (int K = 1; K <= NEQN; ++K) {
    const SolutionAndError r = FifthOrderAndError(y, yp, f2, f3, f4, f5, K, CH);
    const REAL ET = (fabsl(Y[K]) + fabsl(r.yNew)) + AE;
    if (!(ET > 0.0L) || !std::isfinite(r.yNew))
      return false;
    F1[K] = r.yNew;
    largest = AMAX1(largest, r.EE / ET);
  }
  if (!(rkf_detail::ErrorRatio(h, largest, SCALE) <= 1.0L))
    return false;
  for (int K = 1; K <= NEQN; ++K)
    CopyReal(Y[K], F1[K]);
  steps.Step(h);
  steps.complete = true;
  return true;
}

// Y carried from T to TOUT with the tolerances and budgets of g.solve, the
// integrator's work areas fresh, its steps kept in `steps` and nothing
// reported: an integration whose only use is its steps and its end.
template <ShootingModel Model>
void IntegrateQuietly(typename Model::Globals &g, Array1<REAL, 1, Model::NEQN> &Y, REAL T,
                      const REAL TOUT, StepRecord &steps) {
  constexpr int NEQN = Model::NEQN;
  Array1<REAL, 1, 3 + 6 * NEQN> WORK;
  Array1<INT16, 1, 5> IWORK;
  REAL RELERR = g.solve.RELERR;
  INT16 IFLAG = 1;
  typename Trajectory<Model>::RightHandSide f{g};
  IntegrateWithBudgets(f, static_cast<INT16>(NEQN), ARRAYTYPE{Y.data()}, T, TOUT, RELERR,
                       g.solve.ABSERR, IFLAG, ARRAYTYPE{WORK.data()}, View1<INT16>{IWORK.data()},
                       g.solve.budgets, steps);
  steps.Ended(IFLAG);
}

// Y carried from T over the `count` steps H[0..count-1]: each the Fehlberg
// step of the integrator, its fifth-order solution taken, and the next step
// starting where it ended (T + H, as the integrator advances T). From the
// start of the integration that recorded them this is that integration's
// end state to the bit. The derivative at the last end is not formed: 6
// evaluations a step in all.
template <ShootingModel Model>
[[gnu::flatten]] void IntegrateOverSteps(typename Model::Globals &g,
                                         Array1<REAL, 1, Model::NEQN> &Y, REAL T, const REAL *H,
                                         int count) {
  constexpr INT16 NEQN = Model::NEQN;
  using CV = View1<const REAL>;
  Array1<REAL, 1, NEQN> YP, F1, F2, F3, F4, F5;
  typename Trajectory<Model>::RightHandSide f{g};
  const ARRAYTYPE y{Y.data()}, yp{YP.data()}, f1{F1.data()}, f2{F2.data()}, f3{F3.data()},
      f4{F4.data()}, f5{F5.data()};
  f(T, CV{Y.data()}, yp);
  for (int i = 0; i < count; ++i) {
    const REAL h = H[i];
    FehlStages(f, NEQN, y, T, h, yp, f1, f2, f3, f4, f5);
    const REAL CH = FifthOrderMultiplier(h);
    for (int K = 1; K <= NEQN; ++K)
      F1[K] = FifthOrderAndError(y, yp, f2, f3, f4, f5, K, CH).yNew;
    T = T + h;
    for (int K = 1; K <= NEQN; ++K)
      CopyReal(Y[K], F1[K]);
    if (i + 1 < count)
      f(T, CV{Y.data()}, yp);
  }
  CountEvaluations(static_cast<INT16>(6 * count));
}

} // namespace zanfel
