// LU decomposition with implicit pivoting, the substitutions, and the Newton
// iteration's two stopping tests, iteration count and iteration limit.
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>

#include "app/run_program.hpp"
#include "nonlinear/limit_reason.hpp"
#include "nonlinear/ludcmp.hpp"
#include "nonlinear/mnewt.hpp"
#include "runtime/end_cause.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::RunInChild;
using testing::Stdin;

// A fatal end that no test asked for must not pass for success.
const bool kGuard = (testing::ExitOnUnexpectedFatalEnd(), true);

template <int N> GLNBYN<N> Matrix(std::initializer_list<std::initializer_list<REAL>> rows) {
  GLNBYN<N> a;
  int i = 1;
  for (auto row : rows) {
    int j = 1;
    for (REAL v : row)
      a(i, j++) = v;
    ++i;
  }
  return a;
}

template <int N> struct Factors {
  GLNBYN<N> lu;
  GLINDX<N> indx;
  REAL d = 0.0L;
  explicit Factors(const GLNBYN<N> &a) : lu(a) { EXPECT_TRUE(LUDCMP(lu, INT16(N), indx, d)); }
  GLNARRAY<N> Solve(GLNARRAY<N> b) const {
    LUBKSB(lu, INT16(N), indx, b);
    return b;
  }
};

// A system of up to four equations, factored and solved in storage for four:
// the pivot record, the sign of the permutation, the factors where given, and
// the solution of A x = b where given (exactly when the tolerance is 0).
struct LuCase {
  const char *what;
  int n;
  std::vector<std::vector<REAL>> a;
  std::vector<int> indx;
  REAL d;
  std::vector<std::vector<REAL>> lu = {}; // empty: not checked
  std::vector<REAL> b = {}, x = {};       // empty: not solved
  REAL tolerance = 0.0L;
};

const LuCase kLuCases[] = {
    {"the identity stays as it is",
     4,
     {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}},
     {1, 2, 3, 4},
     1.0L,
     {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}},
     {0.5L, -3.0L, 0.0L, 7.25L},
     {0.5L, -3.0L, 0.0L, 7.25L}},
    {"a tie of the scaled candidates: the first row wins", 2, {{1, 0}, {1, 1}}, {1, 2}, 1.0L},
    {"an exchange", 2, {{0, 1}, {1, 0}}, {2, 2}, -1.0L},
    // Row 1 holds the larger element of column 1, but relative to its own
    // largest element row 2 is the better pivot.
    {"the scaled candidate wins",
     2,
     {{2, 1.0E6L}, {1, 1}},
     {2, 2},
     -1.0L,
     {},
     {1.0E6L + 2.0L, 2.0L},
     {1.0L, 1.0L},
     1.0E-15L},
    // After the exchange at column 1, row 3 (formerly row 1) keeps its own
    // scale: the scaled candidates of column 2 then tie and row 2 wins.
    {"an exchanged row keeps its scale", 3, {{0, 2, 0}, {-1, 2, 0}, {1, 0, 1}}, {3, 2, 3}, -1.0L},
    {"a single equation", 1, {{4}}, {1}, 1.0L, {}, {3.0L}, {0.75L}},
    // Column 2 has no nonzero candidate after elimination of column 1.
    {"a zero pivot column becomes TINY without an exchange",
     3,
     {{1, 1, 1}, {1, 1, 2}, {1, 1, 3}},
     {1, 2, 3},
     1.0L,
     {{1, 1, 1}, {1, TINY, 1}, {1, 0, 2}}},
};

GLNBYN<4> MatrixOf(const std::vector<std::vector<REAL>> &rows) {
  GLNBYN<4> a;
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < rows[i].size(); ++j)
      a(int(i + 1), int(j + 1)) = rows[i][j];
  return a;
}

TEST(Lu, PivotRecordSignFactorsAndSolution) {
  for (const LuCase &c : kLuCases) {
    SCOPED_TRACE(c.what);
    GLNBYN<4> lu = MatrixOf(c.a);
    GLINDX<4> indx;
    REAL d = 0.0L;
    ASSERT_TRUE(LUDCMP(lu, INT16(c.n), indx, d));
    for (int i = 1; i <= c.n; ++i)
      EXPECT_EQ(indx[i], c.indx[size_t(i - 1)]) << "INDX[" << i << "]";
    EXPECT_EQ(d, c.d);
    if (!c.lu.empty()) {
      EXPECT_EQ(lu, MatrixOf(c.lu));
    }
    if (c.b.empty())
      continue;
    GLNARRAY<4> x;
    for (int i = 1; i <= c.n; ++i)
      x[i] = c.b[size_t(i - 1)];
    LUBKSB(lu, INT16(c.n), indx, x);
    for (int i = 1; i <= c.n; ++i)
      EXPECT_NEAR(x[i], c.x[size_t(i - 1)], c.tolerance) << "x" << i;
  }
}

// Forward substitution over every row, without skipping leading zeros.
template <int N>
GLNARRAY<N> FullSubstitution(const GLNBYN<N> &lu, const GLINDX<N> &indx, GLNARRAY<N> b) {
  for (int i = 1; i <= N; ++i) {
    const int ip = indx[i];
    REAL sum = b[ip];
    b[ip] = b[i];
    for (int j = 1; j <= i - 1; ++j)
      sum = sum - lu(i, j) * b[j];
    b[i] = sum;
  }
  for (int i = N; i >= 1; --i) {
    REAL sum = b[i];
    for (int j = i + 1; j <= N; ++j)
      sum = sum - lu(i, j) * b[j];
    b[i] = sum / lu(i, i);
  }
  return b;
}

TEST(Lu, LeadingZerosOfTheRightHandSide) {
  const GLNBYN<4> a =
      Matrix<4>({{0.5L, 3, -1, 2}, {4, -1, 0.25L, 1}, {-2, 1, 5, 0.5L}, {1, 2, 1, -3}});
  Factors<4> f(a);
  ASSERT_NE(f.indx[1], 1); // the permutation moves the rows
  // The right-hand side whose permuted form is (0, 0, 1.5, -2): undo the
  // interchanges in reverse order.
  GLNARRAY<4> b;
  b[3] = 1.5L;
  b[4] = -2.0L;
  for (int i = 4; i >= 1; --i)
    std::swap(b[i], b[f.indx[i]]);
  ASSERT_EQ(b[f.indx[1]], 0.0L);
  const GLNARRAY<4> x = f.Solve(b);
  EXPECT_EQ(x, FullSubstitution(f.lu, f.indx, b));
  for (int i = 1; i <= 4; ++i) {
    REAL r = 0.0L;
    for (int j = 1; j <= 4; ++j)
      r += a(i, j) * x[j];
    EXPECT_NEAR(r, b[i], 1.0E-17L);
  }
}

TEST(Lu, RandomSystemOfNineSolvedToRoundOff) {
  std::mt19937 gen(2024);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 5; ++trial) {
    GLNBYN<9> a;
    GLNARRAY<9> x, b;
    for (int i = 1; i <= 9; ++i) {
      x[i] = u(gen);
      for (int j = 1; j <= 9; ++j)
        a(i, j) = u(gen) + (i == j ? 4.0L : 0.0L);
    }
    // Rows scaled far apart: the implicit scaling must cope.
    for (int j = 1; j <= 9; ++j)
      a(3, j) *= 1.0E8L;
    for (int i = 1; i <= 9; ++i)
      for (int j = 1; j <= 9; ++j)
        b[i] += a(i, j) * x[j];
    Factors<9> f(a);
    const GLNARRAY<9> solved = f.Solve(b);
    for (int i = 1; i <= 9; ++i)
      EXPECT_NEAR(solved[i], x[i], 1.0E-16L) << "trial " << trial << " x" << i;
    REAL sign = 1.0L;
    for (int j = 1; j <= 9; ++j) {
      EXPECT_GE(f.indx[j], j);
      if (f.indx[j] != j)
        sign = -sign;
    }
    EXPECT_EQ(f.d, sign);
  }
}

// --------------------------------------------------------------- MNEWT ----

constexpr REAL kTol = 1.0E-15L;

// Residuals on up to two unknowns with their exact negated Jacobian.
using Residuals = void (*)(const GLNARRAY<2> &x, GLNBYN<2> &alpha, GLNARRAY<2> &beta);

// F(x) = M (x - root) + q |x - root|^2 e1, root (1, -2).
void Quadratic(const GLNARRAY<2> &x, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
  const GLNBYN<2> m = Matrix<2>({{2, 1}, {-1, 3}});
  const REAL q = 0.5L;
  const REAL e1 = x[1] - 1.0L, e2 = x[2] + 2.0L;
  const REAL sq = e1 * e1 + e2 * e2;
  beta[1] = m(1, 1) * e1 + m(1, 2) * e2 + q * sq;
  beta[2] = m(2, 1) * e1 + m(2, 2) * e2;
  alpha(1, 1) = -(m(1, 1) + 2.0L * q * e1);
  alpha(1, 2) = -(m(1, 2) + 2.0L * q * e2);
  alpha(2, 1) = -m(2, 1);
  alpha(2, 2) = -m(2, 2);
}

// F(x) = s x on one unknown.
template <int S> void Linear(const GLNARRAY<2> &x, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
  beta[1] = S * x[1];
  alpha(1, 1) = -S;
}

// F = 1e6 (x_big - 1e6) and F = x_small, with x_big in place `big`.
template <int big> void Separate(const GLNARRAY<2> &x, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
  constexpr int small = 3 - big;
  beta[big] = 1.0E6L * (x[big] - 1.0E6L);
  beta[small] = x[small];
  alpha(big, big) = -1.0E6L;
  alpha(small, small) = -1.0L;
  alpha(big, small) = alpha(small, big) = 0.0L;
}

// An all-zero row has no scale: the factorisation is refused with the
// matrix as it was, and a solve ends there with nothing corrected.
TEST(Lu, AZeroRowIsRefusedAndEndsTheSolve) {
  const struct {
    int n;
    std::vector<std::vector<REAL>> a;
  } cases[] = {{3, {{1, 2, 3}, {0, 0, 0}, {4, 5, 6}}}, {1, {{0}}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.n);
    const GLNBYN<4> given = MatrixOf(c.a);
    GLNBYN<4> a = given;
    GLINDX<4> indx;
    REAL d;
    EXPECT_FALSE(LUDCMP(a, INT16(c.n), indx, d));
    for (int i = 1; i <= c.n; ++i)
      for (int j = 1; j <= c.n; ++j)
        EXPECT_EQ(a(i, j), given(i, j));
    GLNARRAY<4> x;
    x[1] = 0.5L;
    INT16 iter = 7;
    const NewtonStatus status =
        MNEWT(100, x, INT16(c.n), kTol, kTol, iter,
              [&](GLNARRAY<4> &, INT16, GLNBYN<4> &alpha, GLNARRAY<4> &beta) {
                alpha = given;
                beta[1] = 1.0L;
              });
    EXPECT_EQ(status, NewtonStatus::SingularMatrix);
    EXPECT_EQ(iter, 7);
    EXPECT_EQ(x[1], 0.5L);
  }
}

// One MNEWT call with NTRIAL 100; counts the residual evaluations.
struct Solve {
  GLNARRAY<2> x;
  INT16 iter;
  int calls = 0;
  NewtonStatus status = NewtonStatus::IterationLimit;
  Solve(Residuals f, int n, std::initializer_list<REAL> x0, INT16 iter0) : iter(iter0) {
    int i = 1;
    for (REAL v : x0)
      x[i++] = v;
    status = MNEWT(100, x, INT16(n), kTol, kTol, iter,
                   [&](GLNARRAY<2> &X, INT16 N, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
                     EXPECT_EQ(N, n);
                     ++calls;
                     f(X, alpha, beta);
                   });
  }
};

TEST(Mnewt, ConvergesQuadraticallyAndCountsCorrections) {
  const Solve s(Quadratic, 2, {1.5L, -1.0L}, 0);
  EXPECT_EQ(s.status, NewtonStatus::Converged);
  EXPECT_NEAR(s.x[1], 1.0L, 1.0E-15L);
  EXPECT_NEAR(s.x[2], -2.0L, 1.0E-15L);
  EXPECT_GE(s.iter, 3);
  EXPECT_LT(s.iter, 10);
  // Either the correction test ended it in iteration iter, or the residual
  // test one iteration later.
  EXPECT_TRUE(s.calls == s.iter || s.calls == s.iter + 1) << s.calls << " " << s.iter;
}

// Where the two stopping tests end a call: the evaluations, the ITER left
// and the unknowns.
struct Stop {
  const char *what;
  Residuals f;
  int n;
  REAL x0[2];
  INT16 iter0;
  int calls;
  INT16 iter;
  REAL x[2];
};

const REAL kNear1E6 = 1.0E6L + std::ldexp(1.0L, -40); // 2^-40: about 9e-13

const Stop kStops[] = {
    {"the residual test in the first iteration leaves ITER as an earlier solve left it",
     Quadratic,
     2,
     {1.0L, -2.0L},
     17,
     1,
     17,
     {1.0L, -2.0L}},
    {"a residual sum of exactly TOLF ends the call", Linear<1>, 1, {kTol}, 0, 1, 0, {kTol}},
    {"a correction of exactly TOLX (1 + |X[N]|) ends it, X[N] corrected to 0",
     Linear<2>,
     1,
     {kTol},
     0,
     1,
     1,
     {0.0L}},
    // The correction test scales with the last unknown only.
    {"a large last unknown lets a correction of 2^-40 pass",
     Separate<2>,
     2,
     {0.0L, kNear1E6},
     0,
     1,
     1,
     {0.0L, 1.0E6L}},
    {"a large first unknown does not: the residual test ends the second iteration",
     Separate<1>,
     2,
     {kNear1E6, 0.0L},
     0,
     2,
     1,
     {1.0E6L, 0.0L}},
};

TEST(Mnewt, StoppingTestsIncludeEqualityAndScaleWithTheLastUnknown) {
  for (const Stop &c : kStops) {
    SCOPED_TRACE(c.what);
    const Solve s(c.f, c.n, {c.x0[0], c.x0[1]}, c.iter0);
    EXPECT_EQ(s.calls, c.calls);
    EXPECT_EQ(s.iter, c.iter);
    for (int i = 1; i <= c.n; ++i)
      EXPECT_EQ(s.x[i], c.x[i - 1]) << "x" << i;
  }
}

// The iteration limit: NTRIAL residual evaluations, nothing written, and
// the solve says so (at once when NTRIAL < 1); a residual routine that fails
// ends the solve at its call.
TEST(Mnewt, EndsAtItsLimitOrAtAFailedResidualCall) {
  const struct {
    const char *what;
    INT16 ntrial;
    int failAt; // the call that fails; 0: none
    int calls;
    NewtonStatus status;
  } cases[] = {
      {"NTRIAL 0: no residual evaluation", 0, 0, 0, NewtonStatus::IterationLimit},
      {"a system without a root", 3, 0, 3, NewtonStatus::IterationLimit},
      {"residuals that fail in the second call", 3, 2, 2, NewtonStatus::ResidualsFailed},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    GLNARRAY<2> x;
    x[1] = 0.5L;
    INT16 iter = 0;
    int calls = 0;
    const NewtonStatus status =
        MNEWT(c.ntrial, x, 1, kTol, kTol, iter,
              [&](GLNARRAY<2> &X, INT16, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
                beta[1] = X[1] * X[1] + 1.0L;
                alpha(1, 1) = -2.0L * X[1];
                return ++calls != c.failAt;
              });
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(calls, c.calls);
  }
}

// The trace of a solve: every iteration's residual norm, the correction
// norms with the scale of their test, the largest unknown; started afresh by
// each solve.
TEST(Mnewt, TheTraceOfASolveThatRanOutOfIterations) {
  NewtonTrace trace;
  trace.NoteResiduals(5.0L); // left from an earlier solve
  GLNARRAY<2> x;
  x[1] = 5.0L;
  INT16 iter = 0;
  // F = x1 - 1 with the Jacobian taken as 2: the error halves each iteration.
  const NewtonStatus status = MNEWT(
      3, x, 1, 0.0L, 0.0L, iter,
      [](GLNARRAY<2> &X, INT16, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
        beta[1] = X[1] - 1.0L;
        alpha(1, 1) = -2.0L;
      },
      &trace);
  EXPECT_EQ(status, NewtonStatus::IterationLimit);
  std::string seen = std::to_string(trace.iterations) + " " + std::to_string(trace.Kept());
  for (int k = 0; k < trace.Kept(); ++k) {
    const NewtonTrace::Iteration &it = trace.Oldest(k);
    seen += " " + std::to_string(double(it.ERRF)) + "/" + std::to_string(double(it.ERRX)) + "/" +
            std::to_string(double(it.scale));
  }
  seen += " " + std::to_string(double(trace.largestX));
  EXPECT_EQ(seen, "3 3 4.000000/2.000000/4.000000 2.000000/1.000000/3.000000 "
                  "1.000000/0.500000/2.500000 3.000000");
}

// A failed solve comes back to the program as a value; only there does it
// end the run, each failure with its message and its own status (the
// singular matrix after its pause for Enter, as a division by zero), and a
// normal outcome is its status.
TEST(FailureEnd, EachFailureEndsTheRunWithItsMessageAndStatus) {
  const struct {
    Failure failure;
    int status;
    const char *out;
  } cases[] = {
      {Failure::IterationLimit, kIterationLimitStatus, "ntial malo\n"},
      {Failure::SingularMatrix, kSingularMatrixStatus,
       "pause in LUDCMP - singular matrix\nRuntime error 200\n"},
      {Failure::InvalidIntegratorCall, kInvalidIntegratorCallStatus, ""},
      {Failure::None, 42, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.status);
    const ChildResult r = testing::RunToItsEnd(Stdin::EndOfFile, [&] {
      RunOutcome outcome = EndedWith(42);
      outcome.failure = c.failure;
      return ConcludeRun(outcome);
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
}

// A solve of `iterations` iterations with residual norms f(k) and, when
// given, `cut` of its 5 trajectories per call cut short in every call.
struct TraceRow {
  const char *what;
  int iterations;
  REAL (*f)(int k);
  int cut;
  INT16 budgets;
  REAL largestX;
  LimitKind kind;
  const char *detail;
  // The Jacobian's determinant changes sign at these iterations (a bit each).
  unsigned long flips = 0;
};

NewtonTrace Traced(const TraceRow &row) {
  NewtonTrace t;
  GLNARRAY<1> x;
  x[1] = row.largestX;
  GLNBYN<1> jacobian;
  jacobian(1, 1) = 2.0L;
  for (int k = 1; k <= row.iterations; ++k) {
    t.NoteTrajectories(5, k <= row.cut % 1000 ? row.cut / 1000 : 0);
    if (k < 64 && (row.flips >> k & 1) != 0)
      jacobian(1, 1) = -jacobian(1, 1);
    t.NoteJacobian(jacobian, 1);
    t.NoteResiduals(row.f(k));
    t.NoteCorrection(row.f(k) / 3.0L, x, 1);
  }
  return t;
}

// Row.cut packs the cut-short count per call (thousands) and the number of
// calls that had them (units).
const TraceRow kLimits[] = {
    {"trajectories cut short outweigh a stall", 100,
     [](int k) { return k % 2 ? 2.1E-15L : 3.0E-15L; }, 5 * 1000 + 88, 1, 4.7E4L,
     LimitKind::Budgets,
     "440 trajectories of the last solve ran out of integrator evaluations (try --budgets 4)"},
    {"one trajectory, with budgets set", 100, [](int k) { return 1.0E-3L / k; }, 1 * 1000 + 1, 4,
     1.0L, LimitKind::Budgets,
     "1 trajectory of the last solve ran out of integrator evaluations (4 budgets each; try "
     "--budgets 16)"},
    {"residuals near TOLF that no longer fall", 100,
     [](int k) { return k % 3 ? 2.1E-15L : 4.0E-15L; }, 0, 1, 4.7E4L, LimitKind::Stalled,
     "residuals stalled at 2.1e-15 above TOLF = 1e-15 while |X| reaches 4.7e4 (try --tolf 1e-13)"},
    {"residuals that grow a thousandfold", 100, [](int k) { return powl(10.0L, k - 97); }, 0, 1,
     3.0E9L, LimitKind::Diverged,
     "Newton diverged: residuals grew from 0.0001 to 1e3 while |X| reaches 3e9 (try a smaller "
     "--step)"},
    {"residuals no longer finite", 100,
     [](int k) { return k < 99 ? 1.0E-3L : std::numeric_limits<REAL>::quiet_NaN(); }, 0, 1, 1.0L,
     LimitKind::Diverged,
     "Newton diverged: the residuals or unknowns are no longer finite (try a smaller --step)"},
    {"residuals still halving near TOLF", 100, [](int k) { return 2.0E-15L * powl(2.0L, 100 - k); },
     0, 1, 1.0L, LimitKind::NotConverged,
     "Newton did not converge in NTRIAL = 100 iterations: residuals between 2e-15 and 2.6e-13 "
     "in the last 8 (try a smaller --step or a larger --ntrial)"},
    {"residuals that wander far above TOLF", 100, [](int k) { return k % 2 ? 0.1L : 0.3L; }, 0, 1,
     2.0L, LimitKind::NotConverged,
     "Newton did not converge in NTRIAL = 100 iterations: residuals between 0.1 and 0.3 in the "
     "last 8 (try a smaller --step or a larger --ntrial)"},
    {"no iteration at all", 0, [](int) { return 0.0L; }, 0, 1, 0.0L, LimitKind::NotConverged,
     "NTRIAL = 0 allows no iteration (try --ntrial 100)"},
    {"wandering iterates on both sides of a singular Jacobian", 100,
     [](int k) { return k % 2 ? 0.03L : 0.12L; }, 0, 1, 4.0L, LimitKind::Turning,
     "Newton did not converge in NTRIAL = 100 iterations: residuals between 0.03 and 0.12 in the "
     "last 8, the Jacobian's determinant changing sign 2 times: the curve turns back before this "
     "P (try --continuation arclength)",
     1ul << 10 | 1ul << 40},
    {"one change of sign is no turning curve", 100, [](int k) { return k % 2 ? 0.1L : 0.3L; }, 0, 1,
     2.0L, LimitKind::NotConverged,
     "Newton did not converge in NTRIAL = 100 iterations: residuals between 0.1 and 0.3 in the "
     "last 8 (try a smaller --step or a larger --ntrial)",
     1ul << 30},
    {"trajectories cut short outweigh a turning Jacobian", 100, [](int) { return 0.1L; },
     5 * 1000 + 88, 1, 1.0L, LimitKind::Budgets,
     "440 trajectories of the last solve ran out of integrator evaluations (try --budgets 4)",
     0x5555ul},
};

// The sign of a determinant through the pivoting: row swaps, negative
// pivots, a singular matrix.
TEST(LimitReason, TheDeterminantsSignThroughThePivoting) {
  const struct {
    const char *what;
    REAL a[3][3];
    int sign;
  } rows[] = {
      {"the identity", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, 1},
      {"two rows swapped", {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}}, -1},
      {"a zero pivot on the diagonal, det = -2", {{0, 2, 0}, {1, 5, 0}, {0, 0, 1}}, -1},
      {"negative pivots, det = 6", {{-1, 0, 0}, {4, -2, 0}, {7, 8, 3}}, 1},
      {"elimination after swaps, det = 4", {{2, 1, 1}, {4, 3, 3}, {8, 7, 9}}, 1},
      {"elimination after swaps, det = -4", {{2, 1, 1}, {4, 3, 3}, {8, 7, 5}}, -1},
      {"rank two", {{1, 2, 3}, {2, 4, 6}, {1, 1, 1}}, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    GLNBYN<3> a;
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 3; ++j)
        a(i, j) = row.a[i - 1][j - 1];
    EXPECT_EQ(DeterminantSign(a, 3), row.sign);
  }
}

TEST(LimitReason, ClassifiesTheEndFromTheSolvesCounts) {
  for (const TraceRow &row : kLimits) {
    SCOPED_TRACE(row.what);
    SolveSettings settings;
    settings.budgets = row.budgets;
    if (row.iterations == 0)
      settings.NTRIAL = 0;
    const LimitDiagnosis d = DiagnoseIterationLimit(Traced(row), settings);
    EXPECT_EQ(d.kind, row.kind);
    EXPECT_EQ(IterationLimitDetail(d), row.detail);
  }
  SolveSettings settings;
  const LimitDiagnosis d = DiagnoseIterationLimit(Traced(kLimits[0]), settings);
  EXPECT_EQ(IterationLimitReason("3.80364898", d),
            "iteration limit at P = 3.80364898: 440 trajectories of the last solve ran out of "
            "integrator evaluations (try --budgets 4)");
}

TEST(LimitReason, TwoSignificantDigitsWithAShortExponent) {
  const struct {
    REAL v;
    const char *text;
  } rows[] = {{2.1E-15L, "2.1e-15"}, {4.7E4L, "4.7e4"}, {1.0E-15L, "1e-15"},
              {0.5L, "0.5"},         {47.0L, "47"},     {1.0E100L, "1e100"}};
  for (const auto &row : rows)
    EXPECT_EQ(TwoDigits(row.v), row.text);
}

} // namespace
} // namespace zanfel
