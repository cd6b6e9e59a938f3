#include "continuation/strategy.hpp"

namespace zanfel {

namespace {
ContinuationChoice choice;
} // namespace

const ContinuationChoice &Continuation() {
  return choice;
}

void SetContinuation(const ContinuationChoice &c) {
  choice = c;
}

} // namespace zanfel
