#include "continuation/program_info.hpp"

#include <cmath>

#include "report/csv.hpp"

namespace zanfel {

std::string SteppingText(REAL from, REAL DP, bool addStep) {
  const bool upwards = addStep ? DP > 0.0L : DP < 0.0L;
  return "P from " + ShortReal(from) + (upwards ? " upwards by " : " downwards by ") +
         ShortReal(fabsl(DP));
}

std::string SweepRuleText(bool addStep) {
  return addStep ? "the sweep (P := P + DP)" : "the sweep (P := P - DP)";
}

} // namespace zanfel
