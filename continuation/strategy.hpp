// How a sweep follows its curve: the natural way (P stepped, X solved for)
// or along the arclength (X and P solved for together, so that the sweep
// goes on round a turning point of the curve in P). Part of a run's
// settings.
#pragma once

#include <cmath>
#include <string>

#include "runtime/types.hpp"

namespace zanfel {

// Fold: the fold a run starts at followed in the plane of P and a named
// parameter of the model (continuation/fold_curve.hpp).
enum class Strategy { Natural, Arclength, Fold };

// Defaults of the step bounds along the curve, relative to the program's
// step.
constexpr REAL kMinStepDivisor = 1024.0L;
constexpr REAL kMaxStepFactor = 10.0L;

struct ContinuationChoice {
  Strategy strategy = Strategy::Natural;
  // Bounds of the step along the curve; 0 for the defaults, |step|/1024 and
  // 10 |step| of the program's step.
  REAL minStep = 0.0L;
  REAL maxStep = 0.0L;
  std::string free; // with Fold: the parameter that moves with P (--free NAME)

  REAL MinStep(REAL programStep) const {
    return minStep > 0.0L ? minStep : fabsl(programStep) / kMinStepDivisor;
  }
  REAL MaxStep(REAL programStep) const {
    return maxStep > 0.0L ? maxStep : kMaxStepFactor * fabsl(programStep);
  }
  // A fold curve is followed along its arclength too, and its rows are
  // those of the arclength with one more column.
  bool AlongArc() const { return strategy != Strategy::Natural; }
  bool FoldCurve() const { return strategy == Strategy::Fold; }
};

} // namespace zanfel
