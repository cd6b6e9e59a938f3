// The trajectories of one USRFUN call run side by side; everything a run
// shows must stay as one-at-a-time execution produces it, byte for byte.
#include <gtest/gtest.h>

#include <cmath>

#include "drivers/programs.hpp"
#include "graph/graph.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "shooting/shooting.hpp"
#include "shooting/trajectory_pool.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::MakeTempDir;
using testing::ReadFile;
using testing::RunInChild;
using testing::Stdin;

struct Run {
  ChildResult child;
  std::string results, plot;
};

Run RunWithThreads(int (*body)(const Hooks &), int threads, int keyFromTest) {
  const std::string dir = MakeTempDir();
  Run r;
  r.child = testing::RunRecordedProgram(dir, body, keyFromTest, threads);
  r.results = ReadFile(dir + "/ZANFEL.RES");
  r.plot = ReadFile(dir + "/plot.log");
  return r;
}

// One thread against two, and against more threads than trajectories where
// that is cheap.
void ExpectSameRun(int (*body)(const Hooks &), int keyFromTest, bool alsoMany = false) {
  const Run one = RunWithThreads(body, 1, keyFromTest);
  ASSERT_FALSE(one.results.empty() && one.child.out.empty());
  for (int threads : {2, 12}) {
    if (threads > 2 && !alsoMany)
      break;
    SCOPED_TRACE(threads);
    const Run many = RunWithThreads(body, threads, keyFromTest);
    EXPECT_EQ(many.child.status, one.child.status);
    EXPECT_EQ(many.child.out, one.child.out);
    EXPECT_EQ(many.results, one.results);
    EXPECT_EQ(many.plot, one.plot);
  }
}

TEST(ParallelRuns, ShootB1FirstTwoHundredStepsAreIdentical) {
  ExpectSameRun(RunShootB1, 200);
}

// 269 records, then trajectories that exhaust their budget and the iteration
// limit: messages in order.
TEST(ParallelRuns, ShootC1WholeRunIsIdentical) {
  ExpectSameRun(RunShootC1, 0);
}

// Family A in both shapes: a1 fails in its first pass; a2 writes hundreds of
// integrator messages before its initial solve gives up; a1 with a key runs
// all 25 passes through both modes.
TEST(ParallelRuns, FamilyAPassesAreIdentical) {
  ExpectSameRun(RunShootA1, 0, true);
  ExpectSameRun(RunShootA2, 0, true);
  ExpectSameRun(RunShootA1, 1, true);
}

// A model whose every trajectory announces itself and whose third trajectory
// (the second unknown raised) ends the program in the way chosen.
enum class Ending { Trap, FatalEnd, RangeFault };
Ending ending = Ending::Trap;

struct Announcing {
  static constexpr int N = 3;
  static constexpr int NEQN = 1;
  static constexpr int NOUT = 3;
  using Globals = SolverState<N, NOUT>;

  static void DIFEQN(Globals &g, REAL, View1<const REAL> y, View1<REAL> yp) {
    yp[1] = -y[1] * g.X[1];
    if (g.X[2] != 0.0L) {
      volatile REAL zero = 0.0L;
      switch (ending) {
      case Ending::Trap:
        yp[1] = 1.0L / zero;
        break;
      case Ending::FatalEnd:
        FatalEnd(0);
      case Ending::RangeFault:
        RangeFault();
      }
    }
  }
  static void INITVAL(Globals &, const GLNARRAY<N> &X, View1<REAL> y) {
    const int raised = X[3] != 0.0L ? 3 : X[2] != 0.0L ? 2 : X[1] != 1.0L ? 1 : 0;
    WriteMessageLine("trajectory " + std::to_string(raised));
    y[1] = 1.0L;
  }
  static void OUTVAL(Globals &, const GLNARRAY<N> &X, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    YOUT[1] = y[1] - X[1];
    YOUT[2] = X[2];
    YOUT[3] = X[3];
  }
  static REAL HAfterTrajectory(const Globals &, const GLNARRAY<N> &, REAL h) { return h; }
};

ChildResult RunEnding(Ending how, int threads) {
  return RunInChild(MakeTempDir(), Stdin::EndOfFile, [&] {
    InstallFaultHandling();
    SetTrajectoryThreads(threads);
    ending = how;
    Announcing::Globals g;
    g.X[1] = 1.0L;
    GLNBYN<3> alpha;
    GLNARRAY<3> beta;
    USRFUN<Announcing>(g, 3, alpha, beta);
    return 99;
  });
}

TEST(ParallelRuns, AnEndInsideATrajectoryComesAfterTheMessagesBeforeIt) {
  const struct {
    Ending how;
    int status;
    std::string report;
  } cases[] = {{Ending::Trap, 200, "Runtime error 200\n"},
               {Ending::FatalEnd, 0, ""},
               {Ending::RangeFault, 201, "Runtime error 201\n"}};
  for (const auto &c : cases) {
    for (int threads : {1, 2, 4}) {
      SCOPED_TRACE(threads);
      const ChildResult r = RunEnding(c.how, threads);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.out, "trajectory 0\ntrajectory 1\ntrajectory 2\n" + c.report);
    }
  }
}

TEST(ParallelRuns, TheTrapsAreBackAfterATrajectoryEnded) {
  ending = Ending::FatalEnd;
  const ChildResult r = RunInChild(MakeTempDir(), Stdin::EndOfFile, [] {
    InstallFaultHandling();
    DeferredEnd end = RunDeferringEnds(
        [](void *) {
          volatile REAL zero = 0.0L;
          volatile REAL x = 1.0L / zero;
          (void)x;
        },
        nullptr);
    if (end.kind != DeferredEnd::Kind::Trap || end.code != 200)
      return 1;
    volatile REAL big = 1.0E4000L;
    volatile REAL x = big * big; // must trap again: overflow
    (void)x;
    return 2;
  });
  EXPECT_EQ(r.status, 205);
  EXPECT_EQ(r.out, "Runtime error 205\n");
}

} // namespace
} // namespace zanfel
