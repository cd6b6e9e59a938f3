// LU decomposition with implicit pivoting, the substitutions, and the Newton
// iteration's two stopping tests, iteration count and iteration limit.
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>

#include "nonlinear/ludcmp.hpp"
#include "nonlinear/mnewt.hpp"
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
  explicit Factors(const GLNBYN<N> &a) : lu(a) { LUDCMP(lu, INT16(N), indx, d); }
  GLNARRAY<N> Solve(GLNARRAY<N> b) const {
    LUBKSB(lu, INT16(N), indx, b);
    return b;
  }
};

TEST(Lu, IdentityStaysAsItIs) {
  GLNBYN<4> id;
  for (int i = 1; i <= 4; ++i)
    id(i, i) = 1.0L;
  Factors<4> f(id);
  EXPECT_EQ(f.lu, id);
  EXPECT_EQ(f.d, 1.0L);
  for (int i = 1; i <= 4; ++i)
    EXPECT_EQ(f.indx[i], i);
  GLNARRAY<4> b;
  b[1] = 0.5L;
  b[2] = -3.0L;
  b[3] = 0.0L;
  b[4] = 7.25L;
  EXPECT_EQ(f.Solve(b), b);
}

TEST(Lu, PivotChoiceUsesScaledCandidates) {
  // A tie of the scaled candidates: the first row wins.
  Factors<2> tie(Matrix<2>({{1, 0}, {1, 1}}));
  EXPECT_EQ(tie.indx[1], 1);
  EXPECT_EQ(tie.indx[2], 2);
  EXPECT_EQ(tie.d, 1.0L);

  Factors<2> swap(Matrix<2>({{0, 1}, {1, 0}}));
  EXPECT_EQ(swap.indx[1], 2);
  EXPECT_EQ(swap.indx[2], 2);
  EXPECT_EQ(swap.d, -1.0L);

  // Row 1 holds the larger element of column 1, but relative to its own
  // largest element row 2 is the better pivot.
  const GLNBYN<2> a = Matrix<2>({{2, 1.0E6L}, {1, 1}});
  Factors<2> scaled(a);
  EXPECT_EQ(scaled.indx[1], 2);
  EXPECT_EQ(scaled.d, -1.0L);
  GLNARRAY<2> b;
  b[1] = 1.0E6L + 2.0L; // x = (1, 1)
  b[2] = 2.0L;
  const GLNARRAY<2> x = scaled.Solve(b);
  EXPECT_NEAR(x[1], 1.0L, 1.0E-15L);
  EXPECT_NEAR(x[2], 1.0L, 1.0E-15L);

  // After the exchange at column 1, row 3 (formerly row 1) keeps its own
  // scale: the scaled candidates of column 2 then tie and row 2 wins.
  Factors<3> moved(Matrix<3>({{0, 2, 0}, {-1, 2, 0}, {1, 0, 1}}));
  EXPECT_EQ(moved.indx[1], 3);
  EXPECT_EQ(moved.indx[2], 2);
  EXPECT_EQ(moved.indx[3], 3);
  EXPECT_EQ(moved.d, -1.0L);
}

TEST(Lu, SingleEquation) {
  GLNBYN<1> a;
  a(1, 1) = 4.0L;
  Factors<1> f(a);
  EXPECT_EQ(f.indx[1], 1);
  EXPECT_EQ(f.d, 1.0L);
  GLNARRAY<1> b;
  b[1] = 3.0L;
  EXPECT_EQ(f.Solve(b)[1], 0.75L);
}

TEST(Lu, ZeroPivotColumnBecomesTinyWithoutExchange) {
  // Column 2 has no nonzero candidate after elimination of column 1.
  Factors<3> f(Matrix<3>({{1, 1, 1}, {1, 1, 2}, {1, 1, 3}}));
  EXPECT_EQ(f.indx[1], 1);
  EXPECT_EQ(f.indx[2], 2);
  EXPECT_EQ(f.indx[3], 3);
  EXPECT_EQ(f.d, 1.0L);
  EXPECT_EQ(f.lu(2, 2), TINY);
  EXPECT_EQ(f.lu(3, 2), 0.0L);
  EXPECT_EQ(f.lu(3, 3), 2.0L);
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

class NonlinearEnd : public ::testing::Test {
protected:
  ChildResult Run(const std::function<int()> &body) {
    return testing::RunToItsEnd(Stdin::EndOfFile, body);
  }
};

TEST_F(NonlinearEnd, ZeroRowPausesThenEndsAsADivisionByZero) {
  ChildResult r = Run([] {
    GLNBYN<3> a = Matrix<3>({{1, 2, 3}, {0, 0, 0}, {4, 5, 6}});
    GLINDX<3> indx;
    REAL d;
    LUDCMP(a, 3, indx, d);
    return 42;
  });
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.out, "pause in LUDCMP - singular matrix\nRuntime error 200\n");
  EXPECT_EQ(r.err, "");

  r = Run([] {
    GLNBYN<1> a;
    GLINDX<1> indx;
    REAL d;
    LUDCMP(a, 1, indx, d);
    return 42;
  });
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.out, "pause in LUDCMP - singular matrix\nRuntime error 200\n");
}

// --------------------------------------------------------------- MNEWT ----

// Residuals F(x) = M (x - root) + q |x - root|^2 e1 with their exact negated
// Jacobian; counts its calls.
struct Quadratic {
  GLNBYN<2> m = Matrix<2>({{2, 1}, {-1, 3}});
  REAL q = 0.5L;
  REAL root[3] = {0, 1.0L, -2.0L};
  int calls = 0;
  void operator()(GLNARRAY<2> &x, INT16 n, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
    EXPECT_EQ(n, 2);
    ++calls;
    const REAL e1 = x[1] - root[1], e2 = x[2] - root[2];
    const REAL sq = e1 * e1 + e2 * e2;
    beta[1] = m(1, 1) * e1 + m(1, 2) * e2 + q * sq;
    beta[2] = m(2, 1) * e1 + m(2, 2) * e2;
    alpha(1, 1) = -(m(1, 1) + 2.0L * q * e1);
    alpha(1, 2) = -(m(1, 2) + 2.0L * q * e2);
    alpha(2, 1) = -m(2, 1);
    alpha(2, 2) = -m(2, 2);
  }
};

constexpr REAL kTol = 1.0E-15L;

TEST(Mnewt, ConvergesQuadraticallyAndCountsCorrections) {
  Quadratic f;
  GLNARRAY<2> x;
  x[1] = 1.5L;
  x[2] = -1.0L;
  INT16 iter = 0;
  MNEWT(100, x, 2, kTol, kTol, iter, f);
  EXPECT_NEAR(x[1], 1.0L, 1.0E-15L);
  EXPECT_NEAR(x[2], -2.0L, 1.0E-15L);
  EXPECT_GE(iter, 3);
  EXPECT_LT(iter, 10);
  // Either the correction test ended it in iteration iter, or the residual
  // test one iteration later.
  EXPECT_TRUE(f.calls == iter || f.calls == iter + 1) << f.calls << " " << iter;
}

TEST(Mnewt, ResidualTestInTheFirstIterationLeavesIterAlone) {
  Quadratic f;
  GLNARRAY<2> x;
  x[1] = 1.0L;
  x[2] = -2.0L;
  INT16 iter = 17; // left by an earlier solve
  MNEWT(100, x, 2, kTol, kTol, iter, f);
  EXPECT_EQ(iter, 17);
  EXPECT_EQ(f.calls, 1);
  EXPECT_EQ(x[1], 1.0L);
  EXPECT_EQ(x[2], -2.0L);
}

// F(x) = s x on one unknown, with the exact derivative.
struct Linear1 {
  REAL s;
  int calls = 0;
  void operator()(GLNARRAY<1> &x, INT16, GLNBYN<1> &alpha, GLNARRAY<1> &beta) {
    ++calls;
    beta[1] = s * x[1];
    alpha(1, 1) = -s;
  }
};

TEST(Mnewt, BothTestsIncludeEquality) {
  // A residual sum of exactly TOLF ends the call.
  Linear1 f{1.0L};
  GLNARRAY<1> x;
  x[1] = kTol;
  INT16 iter = 0;
  MNEWT(100, x, 1, kTol, kTol, iter, f);
  EXPECT_EQ(f.calls, 1);
  EXPECT_EQ(iter, 0);

  // A correction of exactly TOLX (1 + |X[N]|), with X[N] corrected to 0.
  Linear1 g{2.0L};
  x[1] = kTol;
  MNEWT(100, x, 1, kTol, kTol, iter, g);
  EXPECT_EQ(g.calls, 1);
  EXPECT_EQ(iter, 1);
  EXPECT_EQ(x[1], 0.0L);
}

// F = 1e6 (x_big - 1e6) and F = x_small, with x_big in place `big`.
struct Separate {
  int big;
  int calls = 0;
  void operator()(GLNARRAY<2> &x, INT16, GLNBYN<2> &alpha, GLNARRAY<2> &beta) {
    ++calls;
    const int small = 3 - big;
    beta[big] = 1.0E6L * (x[big] - 1.0E6L);
    beta[small] = x[small];
    alpha(big, big) = -1.0E6L;
    alpha(small, small) = -1.0L;
    alpha(big, small) = alpha(small, big) = 0.0L;
  }
};

TEST(Mnewt, CorrectionTestScalesWithTheLastUnknownOnly) {
  // The first correction is 2^-40 (about 9e-13) on an unknown of about 1e6.
  for (int big : {1, 2}) {
    Separate f{big};
    GLNARRAY<2> x;
    x[big] = 1.0E6L + std::ldexp(1.0L, -40);
    INT16 iter = 0;
    MNEWT(100, x, 2, kTol, kTol, iter, f);
    EXPECT_EQ(x[big], 1.0E6L);
    EXPECT_EQ(iter, 1);
    // Only a large last unknown lets the correction pass; otherwise the
    // residual test ends the second iteration.
    EXPECT_EQ(f.calls, big == 2 ? 1 : 2) << "large unknown " << big;
  }
}

TEST_F(NonlinearEnd, IterationLimitEndsTheProgram) {
  // NTRIAL = 0: the message at once, without a residual evaluation.
  ChildResult r = Run([] {
    auto never = [](GLNARRAY<1> &, INT16, GLNBYN<1> &, GLNARRAY<1> &) { _exit(55); };
    GLNARRAY<1> x;
    INT16 iter = 0;
    MNEWT(0, x, 1, kTol, kTol, iter, never);
    return 42;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ntial malo\n");
  EXPECT_EQ(r.err, "");

  // A system without a root: NTRIAL evaluations, then the message.
  r = Run([] {
    auto noRoot = [](GLNARRAY<1> &x, INT16, GLNBYN<1> &alpha, GLNARRAY<1> &beta) {
      (void)!write(1, "u", 1);
      beta[1] = x[1] * x[1] + 1.0L;
      alpha(1, 1) = -2.0L * x[1];
    };
    GLNARRAY<1> x;
    x[1] = 0.5L;
    INT16 iter = 0;
    MNEWT(3, x, 1, kTol, kTol, iter, noRoot);
    return 42;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "uuuntial malo\n");
}

} // namespace
} // namespace zanfel
