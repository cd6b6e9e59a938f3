#include "drivers/program.hpp"
#include "drivers/progress.hpp"
#include "runtime/fault.hpp"

namespace zanfel {

int RunProgram(const char *name, int (*body)(const Hooks &)) {
  InstallFaultHandling();
  EnterRunMode();
  progress::Start(name);
  curve_picture::Start(name);
  Hooks hooks;
  hooks.waitForEnter = progress::WaitForEnterShowingProgress;
  hooks.afterRecord = progress::AfterRecord;
  hooks.afterSweep = progress::AfterSweep;
  const int status = body(hooks);
  progress::EraseLine();
  RestoreTerminal();
  return status;
}

} // namespace zanfel
