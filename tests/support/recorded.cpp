// A program body run in a child as the program would run it, with its
// graphics calls recorded and a key that comes when the test wants it.
#include "support/test_support.hpp"

#include "drivers/program.hpp"
#include "graph/graph.hpp"
#include "runtime/fault.hpp"
#include "shooting/trajectory_pool.hpp"

namespace zanfel::testing {

namespace {
int keyTests = 0;
int keyFrom = 0;
bool KeyFromNthTest() {
  return ++keyTests >= keyFrom;
}
void NoWait() {}
} // namespace

ChildResult RunRecordedBody(const std::string &dir, int (*body)(const Hooks &), int keyFromTest,
                            int threads) {
  return RunInChild(dir, Stdin::EndOfFile, [&] {
    InstallFaultHandling();
    SetTrajectoryThreads(threads);
    graph::RecordCallsTo("plot.log");
    keyTests = 0;
    keyFrom = keyFromTest;
    Hooks hooks;
    if (keyFromTest > 0)
      hooks.keyPressed = KeyFromNthTest;
    hooks.waitForEnter = NoWait;
    return body(hooks);
  });
}

} // namespace zanfel::testing
