// How a sweep follows its curve: the natural way (P stepped, X solved for)
// or along the arclength (X and P solved for together, so that the sweep
// goes on round a turning point of the curve in P). Part of a run's
// settings.
#pragma once

#include <cmath>

#include "runtime/types.hpp"

namespace zanfel {

enum class Strategy { Natural, Arclength };

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

  REAL MinStep(REAL programStep) const {
    return minStep > 0.0L ? minStep : fabsl(programStep) / kMinStepDivisor;
  }
  REAL MaxStep(REAL programStep) const {
    return maxStep > 0.0L ? maxStep : kMaxStepFactor * fabsl(programStep);
  }
  bool AlongArc() const { return strategy == Strategy::Arclength; }
};

} // namespace zanfel
