#include "nonlinear/mnewt.hpp"

#include "runtime/console.hpp"

namespace zanfel {

void IterationLimitEnd() {
  WriteMessageLine("ntial malo");
  FatalEnd(0);
}

} // namespace zanfel
