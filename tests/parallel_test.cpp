// The trajectories of one USRFUN call run side by side; everything a run
// shows must stay as one-at-a-time execution produces it, byte for byte.
// Whole runs at several thread counts: golden_test.cpp.
#include <gtest/gtest.h>

#include <cmath>

#include "runtime/console.hpp"
#include "runtime/deferred_end.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "shooting/shooting.hpp"
#include "shooting/trajectory_pool.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::RunInChild;
using testing::Stdin;

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
  const testing::TempDir dir;
  return RunInChild(dir.Path(), Stdin::EndOfFile, [&] {
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
  const testing::TempDir dir;
  const ChildResult r = RunInChild(dir.Path(), Stdin::EndOfFile, [] {
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
