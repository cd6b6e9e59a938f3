#include "drivers/program.hpp"
#include "runtime/fault.hpp"

namespace zanfel {

int RunProgram(int (*body)(const Hooks &)) {
  InstallFaultHandling();
  EnterRunMode();
  const int status = body(Hooks{});
  RestoreTerminal();
  return status;
}

} // namespace zanfel
