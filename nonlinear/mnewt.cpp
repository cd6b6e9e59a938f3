#include "nonlinear/mnewt.hpp"

#include "runtime/console.hpp"
#include "runtime/end_cause.hpp"

namespace zanfel {

void IterationLimitEnd() {
  NoteFatalCause(FatalCause::IterationLimit);
  WriteMessageLine("ntial malo");
  FatalEnd(kIterationLimitStatus);
}

} // namespace zanfel
