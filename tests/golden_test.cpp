// The three reference runs, reproduced byte for byte: results file, console
// bytes, exit status and the sequence of graphics calls.
#include <gtest/gtest.h>

#include "drivers/programs.hpp"
#include "graph/graph.hpp"
#include "runtime/fault.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::MakeTempDir;
using testing::ReadFile;
using testing::RunInChild;
using testing::Stdin;

std::string Golden(const std::string &run, const std::string &file) {
  return ReadFile(std::string(ZANFEL_GOLDEN_DIR) + "/" + run + "/" + file);
}

int keyTests = 0;
int keyFrom = 0;
// A key that is pending from the keyFrom-th key test on.
bool KeyFromNthTest() {
  return ++keyTests >= keyFrom;
}
void NoWait() {}

// Runs a program body in a child as the real program would run it, with its
// graphics calls recorded.
ChildResult RunRecorded(const std::string &dir, int (*body)(const Hooks &), int keyFromTest) {
  return RunInChild(dir, Stdin::EndOfFile, [&] {
    InstallFaultHandling();
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

void ExpectGolden(const std::string &run, const std::string &dir, const ChildResult &r) {
  EXPECT_EQ(r.out, Golden(run, "stdout.bin"));
  EXPECT_EQ(std::to_string(r.status) + "\n", Golden(run, "exit.txt"));
  EXPECT_EQ(ReadFile(dir + "/ZANFEL.RES"), Golden(run, "ZANFEL.RES"));
  EXPECT_EQ(ReadFile(dir + "/plot.log"), Golden(run, "plot.log"));
}

TEST(Golden, ShootC2WholeRunEndsAtTheIterationLimit) {
  const std::string dir = MakeTempDir();
  ExpectGolden("shoot_c2", dir, RunRecorded(dir, RunShootC2, 0));
}

TEST(Golden, ShootB1FirstFortyRecords) {
  const std::string dir = MakeTempDir();
  ExpectGolden("shoot_b1", dir, RunRecorded(dir, RunShootB1, 40));
}

TEST(Golden, ShootA1WithAKeyPendingFromTheStart) {
  const std::string dir = MakeTempDir();
  ExpectGolden("shoot_a1", dir, RunRecorded(dir, RunShootA1, 1));
}

} // namespace
} // namespace zanfel
