// The shooting layer: one trajectory per call of RKF on a copy of the
// unknowns, the integrator's failure messages, and USRFUN's order of
// trajectories, difference steps, residuals, Jacobian and restored unknowns.
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "nonlinear/mnewt.hpp"
#include "report/format.hpp"
#include "runtime/end_cause.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "shooting/shooting.hpp"
#include "shooting/trajectory_pool.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::kTooManySteps866;
using testing::kTooPrecise866;
using testing::RunInChild;
using testing::Stdin;

// A fatal end that no test asked for must not pass for success.
const bool kGuard = (testing::ExitOnUnexpectedFatalEnd(), true);

// A model whose end state is its unknowns (y(0) = X, y' = 0) and whose
// residuals are M y - b. It records what every trajectory saw: RKF's copy of
// the unknowns, the program-wide vector while integrating, and its residuals.
// YOUT[N + 1] numbers the trajectories.
template <int N_> struct Probe {
  static constexpr int N = N_;
  static constexpr int NEQN = N_;
  static constexpr int NOUT = N_ + 2;
  using Row = std::array<REAL, N_>;
  struct Globals {
    GLNARRAY<N> X;
    GLNARRAY1<NOUT> YOUT;
    REAL H = 0.0L, P = 0.0L;
    SolveSettings solve;
    REAL M[N_][N_];
    REAL b[N_];
    std::vector<Row> copies, programWide, residuals, outvalCopies;
    bool scribble = false; // INITVAL writes into its copy of the unknowns
  };

  static Row Of(const GLNARRAY<N> &x) {
    Row r;
    for (int i = 1; i <= N; ++i)
      r[size_t(i - 1)] = x[i];
    return r;
  }
  static void DIFEQN(Globals &g, REAL t, View1<const REAL>, View1<REAL> yp) {
    if (t == 0.0L)
      g.programWide.push_back(Of(g.X));
    for (int k = 1; k <= N; ++k)
      yp[k] = 0.0L;
  }
  static void INITVAL(Globals &g, const GLNARRAY<N> &X, View1<REAL> y) {
    g.copies.push_back(Of(X));
    for (int k = 1; k <= N; ++k)
      y[k] = X[k];
    if (g.scribble)
      const_cast<GLNARRAY<N> &>(X)[1] = 999.0L;
  }
  static void OUTVAL(Globals &g, const GLNARRAY<N> &X, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    g.outvalCopies.push_back(Of(X));
    Row r;
    for (int i = 0; i < N; ++i) {
      REAL s = -g.b[i];
      for (int j = 0; j < N; ++j)
        s += g.M[i][j] * y[j + 1];
      r[size_t(i)] = s;
      YOUT[i + 1] = s;
    }
    g.residuals.push_back(r);
    YOUT[N + 1] = REAL(g.residuals.size());
  }
  static REAL HAfterTrajectory(const Globals &, const GLNARRAY<N> &, REAL h) { return h; }
};

using Probe3 = Probe<3>;

void SetUpProbe3(Probe3::Globals &g) {
  const REAL m[3][3] = {{3, 1, -1}, {0.5L, -2, 1}, {1, 1, 4}};
  const REAL b[3] = {1, -1, 2};
  for (int i = 0; i < 3; ++i) {
    g.b[i] = b[i];
    for (int j = 0; j < 3; ++j)
      g.M[i][j] = m[i][j];
  }
}

REAL RaisedAndLowered(REAL x, REAL d) {
  volatile REAL up = x + d;
  volatile REAL down = up - d;
  return down;
}

TEST(DifferenceStep, RelativeToOnePlusTheUnknown) {
  EXPECT_EQ(DifferenceStep(0.0L), 10.0L * 1.0E-15L);
  EXPECT_NEAR(DifferenceStep(0.0L), 1.0E-14L, 1.0E-32L);
  EXPECT_NEAR(DifferenceStep(1000.0L), 1.001E-11L, 1.0E-29L);
  EXPECT_EQ(DifferenceStep(-1000.0L), DifferenceStep(1000.0L));
}

TEST(Rkf, WorksOnACopyOfTheUnknowns) {
  Probe3::Globals g;
  SetUpProbe3(g);
  g.scribble = true;
  GLNARRAY<3> x;
  x[1] = 0.25L;
  x[2] = -1.0L;
  x[3] = 2.0L;
  const GLNARRAY<3> before = x;
  RKF<Probe3>(g, x, g.YOUT);
  EXPECT_EQ(x, before);
  ASSERT_EQ(g.outvalCopies.size(), 1u);
  EXPECT_EQ(g.outvalCopies[0][0], 999.0L); // OUTVAL reads the same copy
  // The end state is the start state: the residuals of y = x.
  EXPECT_EQ(g.YOUT[1], 3 * 0.25L + -1.0L - 2.0L - 1.0L);
}

TEST(Usrfun, TrajectoriesInOrderWithTheUnknownsRaisedInPlace) {
  Probe3::Globals g;
  SetUpProbe3(g);
  // The first value does not survive its raise and lower by the step exactly.
  const REAL x0[3] = {1.234567E-20L, 1000.0L, -0.3L};
  REAL d[3];
  for (int i = 0; i < 3; ++i) {
    g.X[i + 1] = x0[i];
    d[i] = DifferenceStep(x0[i]);
  }
  ASSERT_NE(RaisedAndLowered(x0[0], d[0]), x0[0]);

  GLNBYN<3> alpha;
  GLNARRAY<3> beta;
  SequentialUSRFUN<Probe3>(g, g.X, 3, alpha, beta);

  ASSERT_EQ(g.copies.size(), 4u);
  ASSERT_EQ(g.programWide.size(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    // Trajectory k > 0 has unknown k raised and the ones before it lowered
    // again by subtraction.
    for (int i = 0; i < 3; ++i) {
      REAL expected = x0[i];
      if (size_t(i + 1) == k)
        expected = x0[i] + d[i];
      else if (size_t(i + 1) < k)
        expected = RaisedAndLowered(x0[i], d[i]);
      EXPECT_EQ(g.copies[k][size_t(i)], expected) << "trajectory " << k << " x" << i + 1;
    }
    EXPECT_EQ(g.programWide[k], g.copies[k]) << "trajectory " << k;
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(g.X[i + 1], RaisedAndLowered(x0[i], d[i])) << "x" << i + 1;

  // BETA from the base trajectory, YOUT left by the last one.
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(beta[i], g.residuals[0][size_t(i - 1)]);
    EXPECT_EQ(g.YOUT[i], g.residuals[3][size_t(i - 1)]);
  }
  EXPECT_EQ(g.YOUT[4], 4.0L);

  // Column J from trajectory J, with the minus sign; near -M (the residuals
  // near 1000 leave few digits to a difference of 1e-11).
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) {
      const REAL expected =
          -(g.residuals[size_t(j)][size_t(i - 1)] - beta[i]) / DifferenceStep(x0[j - 1]);
      EXPECT_EQ(alpha(i, j), expected) << i << "," << j;
      EXPECT_NEAR(alpha(i, j), -g.M[i - 1][j - 1], 0.05L) << i << "," << j;
    }
}

TEST(Usrfun, OneUnknownRunsTwoTrajectories) {
  using Probe1 = Probe<1>;
  Probe1::Globals g;
  g.M[0][0] = 2.0L;
  g.b[0] = 1.0L;
  g.X[1] = 0.1L;
  GLNBYN<1> alpha;
  GLNARRAY<1> beta;
  SequentialUSRFUN<Probe1>(g, g.X, 1, alpha, beta);
  ASSERT_EQ(g.copies.size(), 2u);
  EXPECT_EQ(g.copies[1][0], 0.1L + DifferenceStep(0.1L));
  EXPECT_EQ(g.X[1], RaisedAndLowered(0.1L, DifferenceStep(0.1L)));
  EXPECT_EQ(beta[1], 2.0L * 0.1L - 1.0L);
  EXPECT_NEAR(alpha(1, 1), -2.0L, 1.0E-4L);
}

TEST(Usrfun, NewtonSolvesTheProbe) {
  Probe3::Globals g;
  SetUpProbe3(g);
  INT16 iter = 0;
  EXPECT_EQ(MNEWT(100, g.X, 3, 1.0E-15L, 1.0E-15L, iter,
                  [&](GLNARRAY<3> &X, INT16 n, GLNBYN<3> &alpha, GLNARRAY<3> &beta) {
                    SequentialUSRFUN<Probe3>(g, X, n, alpha, beta);
                  }),
            NewtonStatus::Converged);
  EXPECT_GE(iter, 1);
  EXPECT_LE(iter, 4);
  for (int i = 0; i < 3; ++i) {
    REAL r = -g.b[i];
    for (int j = 0; j < 3; ++j)
      r += g.M[i][j] * g.X[j + 1];
    EXPECT_NEAR(r, 0.0L, 1.0E-12L);
  }
}

// y1' = w y2, y2' = -w y1 from y = (1, 0): far too many steps for the budget
// with a large w.
struct Fast {
  static constexpr int N = 1, NEQN = 2, NOUT = 3;
  using Globals = SolverState<N, NOUT>;
  static REAL HAfterTrajectory(const Globals &, const GLNARRAY<N> &, REAL h) { return h; }
  static void DIFEQN(Globals &, REAL, View1<const REAL> y, View1<REAL> yp) {
    yp[1] = 1.0E5L * y[2];
    yp[2] = -1.0E5L * y[1];
  }
  static void INITVAL(Globals &, const GLNARRAY<N> &, View1<REAL> y) {
    y[1] = 1.0L;
    y[2] = 0.0L;
  }
  static void OUTVAL(Globals &, const GLNARRAY<N> &, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    YOUT[1] = y[1] * y[1] + y[2] * y[2];
    YOUT[2] = 7.0L;
  }
};

// y' = 0 up to t = 0.5 and huge beyond: no step passes the jump.
struct Wall {
  static constexpr int N = 1, NEQN = 1, NOUT = 3;
  using Globals = SolverState<N, NOUT>;
  static REAL HAfterTrajectory(const Globals &, const GLNARRAY<N> &, REAL h) { return h; }
  static void DIFEQN(Globals &, REAL t, View1<const REAL>, View1<REAL> yp) {
    yp[1] = t > 0.5L ? 1.0E30L : 0.0L;
  }
  static void INITVAL(Globals &, const GLNARRAY<N> &, View1<REAL> y) { y[1] = 0.0L; }
  static void OUTVAL(Globals &, const GLNARRAY<N> &, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    YOUT[1] = y[1];
    YOUT[2] = 7.0L;
  }
};

// y1' = w y2, y2' = -w y1 from y = (1, 0) over 45 + X[1] radians: about
// 6,800 evaluations, three budgets. Counts its evaluations on the thread
// that runs it (trajectories on the pool count apart).
struct Turns {
  static constexpr int N = 1, NEQN = 2, NOUT = 3;
  using Globals = SolverState<N, NOUT>;
  static inline thread_local unsigned long evaluations = 0;
  static REAL HAfterTrajectory(const Globals &, const GLNARRAY<N> &, REAL h) { return h; }
  static void DIFEQN(Globals &g, REAL, View1<const REAL> y, View1<REAL> yp) {
    ++evaluations;
    const REAL w = 45.0L + g.X[1];
    yp[1] = w * y[2];
    yp[2] = -w * y[1];
  }
  static void INITVAL(Globals &, const GLNARRAY<N> &, View1<REAL> y) {
    y[1] = 1.0L;
    y[2] = 0.0L;
  }
  static void OUTVAL(Globals &g, const GLNARRAY<N> &, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    YOUT[1] = y[1] - cosl(45.0L + g.X[1]);
    YOUT[2] = y[2];
  }
};

// A trajectory goes on with a fresh budget until the budgets run out; the
// message comes only when the last one does, and every budget's evaluations
// are counted.
TEST(Budgets, ATrajectoryGoesOnUntilItsLastBudgetRunsOut) {
  const struct {
    INT16 budgets;
    bool cutShort;
  } rows[] = {{1, true}, {2, true}, {3, false}, {10, false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.budgets);
    const testing::TempDir dir;
    const ChildResult r = RunInChild(dir.Path(), Stdin::DevNull, [&] {
      Turns::Globals g;
      g.solve.budgets = row.budgets;
      Turns::evaluations = 0;
      const unsigned long counted = rightHandSideEvaluations;
      const bool cut = RKF<Turns>(g, g.X, g.YOUT) == TrajectoryEnd::CutShort;
      if (rightHandSideEvaluations - counted != Turns::evaluations)
        return 12;
      // At t = 1 the end state is the exact one to the tolerances.
      const bool atTheEnd = std::fabs(g.YOUT[1]) < 1.0E-6L;
      return cut == row.cutShort && atTheEnd == !row.cutShort ? 10 : 11;
    });
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.out, row.cutShort ? kTooManySteps866 + "\n" : "");
  }
}

// The same residuals, Jacobian, count of trajectories cut short and messages
// on every number of threads: each trajectory runs with the budgets of the
// program-wide settings.
TEST(Budgets, EveryThreadCountCutsTheSameTrajectoriesShort) {
  std::string first;
  for (int threads : {1, 2, 4}) {
    SCOPED_TRACE(threads);
    const testing::TempDir dir;
    const ChildResult r = RunInChild(dir.Path(), Stdin::DevNull, [threads] {
      SetTrajectoryThreads(threads);
      std::string seen;
      for (INT16 budgets : {1, 2, 3}) {
        Turns::Globals g;
        g.solve.budgets = budgets;
        g.X[1] = -1.0L; // 44 radians: the raised trajectory needs a little more
        GLNBYN<1> alpha;
        GLNARRAY<1> beta;
        const int cut = USRFUN<Turns>(g, 1, alpha, beta).cutShort;
        seen += std::to_string(cut) + " " + DefaultFormat(beta[1]) + " " +
                DefaultFormat(alpha(1, 1)) + "\n";
      }
      WriteMessageLine(seen);
      return 10;
    });
    EXPECT_EQ(r.status, 10) << r.err;
    if (threads == 1) {
      first = r.out;
      // Two messages per call until three budgets suffice.
      EXPECT_EQ(first.substr(0, 2 * (kTooManySteps866.size() + 1)),
                kTooManySteps866 + "\n" + kTooManySteps866 + "\n");
      EXPECT_NE(first.find("\n2 "), std::string::npos);
      EXPECT_NE(first.find("\n0 "), std::string::npos);
    } else {
      EXPECT_EQ(r.out, first);
    }
  }
}

class RkfMessages : public ::testing::Test {
protected:
  const testing::TempDir scratch;
  const std::string dir = scratch.Path();
};

TEST_F(RkfMessages, FailuresAreReportedAndTheResidualsStillComputed) {
  ChildResult r = RunInChild(dir, Stdin::DevNull, [] {
    Fast::Globals g;
    RKF<Fast>(g, g.X, g.YOUT);
    // The state where the integrator stopped, still on the circle.
    return g.YOUT[2] == 7.0L && std::fabs(g.YOUT[1] - 1.0L) < 1.0E-6L ? 10 : 11;
  });
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out, kTooManySteps866 + "\n");
  EXPECT_EQ(r.err, "");

  // Return 6: the report shows the relative tolerance raised tenfold.
  r = RunInChild(dir, Stdin::DevNull, [] {
    Wall::Globals g;
    RKF<Wall>(g, g.X, g.YOUT);
    return g.YOUT[2] == 7.0L && g.YOUT[1] == 0.0L ? 10 : 11;
  });
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out, kTooPrecise866 + "\r\nRelErr=" + DefaultFormat(1.0E-9L * 10.0L) +
                       "  AbsErr=" + DefaultFormat(1.0E-15L) + "\n");
}

// The bad call's message as always; the end of the run is the caller's.
TEST_F(RkfMessages, AnInvalidCallIsReportedAndReturns) {
  const ChildResult r = RunInChild(dir, Stdin::DevNull, [] {
    ReportInvalidCall();
    return 10;
  });
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out, testing::kInvalidCall866 + "\n");
}

TEST_F(RkfMessages, NormalReturnWritesNothing) {
  ChildResult r = RunInChild(dir, Stdin::DevNull, [] {
    Probe3::Globals g;
    SetUpProbe3(g);
    RKF<Probe3>(g, g.X, g.YOUT);
    return g.YOUT[4] == 1.0L ? 10 : 11;
  });
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out, "");
}

} // namespace
} // namespace zanfel
