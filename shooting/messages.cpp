#include <string>

#include "report/format.hpp"
#include "runtime/console.hpp"
#include "shooting/shooting.hpp"

namespace zanfel {

// "C" and "o" of "Cлишкoм" and "H", "e", "p", "a" of "Heпpaвильный" are Latin
// letters, as the system has always written them.
void ReportTooManySteps() {
  WriteMessageLine("Cлишкoм много шагов");
}

void ReportTolerance(REAL RELERR, REAL ABSERR) {
  std::string text = "Cлишкoм высокая требуемая точность:\r\nRelErr=";
  text += DefaultFormat(RELERR);
  text += "  AbsErr=";
  text += DefaultFormat(ABSERR);
  WriteMessageLine(text);
}

void ReportInvalidCall() {
  WriteMessageLine("Heпpaвильный вызов");
}

} // namespace zanfel
