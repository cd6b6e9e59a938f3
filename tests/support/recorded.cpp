// A program body run in a child as the program would run it, with its
// graphics calls recorded and a key that comes when the test wants it.
#include "support/test_support.hpp"

#include "app/scripted_hooks.hpp"
#include "graph/graph.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "shooting/trajectory_pool.hpp"

namespace zanfel::testing {

ChildResult RunRecordedBody(const std::string &dir, ProgramBody body, int keyFromTest,
                            int threads) {
  return RunInChild(dir, Stdin::EndOfFile, [&] {
    InstallFaultHandling();
    SetTrajectoryThreads(threads);
    graph::RecordCallsTo("plot.log");
    return RunScripted(body, keyFromTest);
  });
}

} // namespace zanfel::testing
