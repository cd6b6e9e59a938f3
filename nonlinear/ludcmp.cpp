#include "nonlinear/ludcmp.hpp"

#include "runtime/console.hpp"

namespace zanfel {

void SingularMatrixEnd() {
  WriteMessageLine("pause in LUDCMP - singular matrix");
  WaitForEnter();
  FatalRuntimeError(kDivisionByZero);
}

} // namespace zanfel
