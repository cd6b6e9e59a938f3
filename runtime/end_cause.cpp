#include "runtime/end_cause.hpp"

#include <csignal>

namespace zanfel {

namespace {
volatile sig_atomic_t cause = static_cast<sig_atomic_t>(FatalCause::Unknown);
} // namespace

void NoteFatalCause(FatalCause c) {
  cause = static_cast<sig_atomic_t>(c);
}

FatalCause NotedFatalCause() {
  return static_cast<FatalCause>(cause);
}

} // namespace zanfel
