#include "nonlinear/ludcmp.hpp"

#include "runtime/console.hpp"
#include "runtime/end_cause.hpp"

namespace zanfel {

void SingularMatrixEnd() {
  WriteMessageLine("pause in LUDCMP - singular matrix");
  WaitForEnter();
  NoteFatalCause(FatalCause::SingularMatrix);
  FatalRuntimeError(kDivisionByZero, kSingularMatrixStatus);
}

} // namespace zanfel
