#include "app/scripted_hooks.hpp"

namespace zanfel {

namespace {
int keyTests = 0;
int keyFromTest = 0;
bool KeyFromNthTest() {
  return ++keyTests >= keyFromTest;
}
void NoWait() {}
} // namespace

Hooks ScriptedHooks(int keyFrom) {
  keyTests = 0;
  keyFromTest = keyFrom;
  Hooks hooks;
  if (keyFrom > 0)
    hooks.keyPressed = KeyFromNthTest;
  hooks.waitForEnter = NoWait;
  return hooks;
}

int RunScripted(ProgramBody body, int keyFrom) {
  RunObserver observer(ScriptedHooks(keyFrom));
  return ConcludeRun(body(observer));
}

} // namespace zanfel
