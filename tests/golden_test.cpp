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
using testing::RunRecordedProgram;

std::string Golden(const std::string &run, const std::string &file) {
  return ReadFile(std::string(ZANFEL_GOLDEN_DIR) + "/" + run + "/" + file);
}

void ExpectGolden(const std::string &run, const std::string &dir, const ChildResult &r) {
  EXPECT_EQ(r.out, Golden(run, "stdout.bin"));
  EXPECT_EQ(std::to_string(r.status) + "\n", Golden(run, "exit.txt"));
  EXPECT_EQ(ReadFile(dir + "/ZANFEL.RES"), Golden(run, "ZANFEL.RES"));
  EXPECT_EQ(ReadFile(dir + "/plot.log"), Golden(run, "plot.log"));
}

TEST(Golden, ShootC2WholeRunEndsAtTheIterationLimit) {
  const std::string dir = MakeTempDir();
  ExpectGolden("shoot_c2", dir, RunRecordedProgram(dir, RunShootC2, 0));
}

TEST(Golden, ShootB1FirstFortyRecords) {
  const std::string dir = MakeTempDir();
  ExpectGolden("shoot_b1", dir, RunRecordedProgram(dir, RunShootB1, 40));
}

TEST(Golden, ShootA1WithAKeyPendingFromTheStart) {
  const std::string dir = MakeTempDir();
  ExpectGolden("shoot_a1", dir, RunRecordedProgram(dir, RunShootA1, 1));
}

} // namespace
} // namespace zanfel
