// How a sweep follows its curve: the natural way (P stepped, X solved for)
// or along the arclength (X and P solved for together, so that the sweep
// goes on round a turning point of the curve in P). Chosen once per run.
#pragma once

#include "runtime/types.hpp"

namespace zanfel {

enum class Strategy { Natural, Arclength };

struct ContinuationChoice {
  Strategy strategy = Strategy::Natural;
  // Bounds of the step along the curve; 0 for the defaults, |step|/1024 and
  // 10 |step| of the program's step.
  REAL minStep = 0.0L;
  REAL maxStep = 0.0L;
};

// The run's choice (natural unless set): the programs read it when they
// start.
const ContinuationChoice &Continuation();
void SetContinuation(const ContinuationChoice &choice);

} // namespace zanfel
