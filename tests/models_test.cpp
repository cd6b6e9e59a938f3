// The three model families: right-hand sides at known states, the points at
// which the scale H is assigned, the end values, full family A solves, and
// the sensitivity systems of families B and C against finite differences of
// their base systems in H.
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

#include "continuation/settings.hpp"
#include "nonlinear/mnewt.hpp"
#include "runtime/fault.hpp"
#include "shooting/shooting.hpp"
#include "support/residuals.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

// A fatal end that no test asked for (the iteration limit of a solve, say)
// must not pass for success.
const bool kGuard = (testing::ExitOnUnexpectedFatalEnd(), true);

template <int NEQN> using State = std::array<REAL, NEQN>;

template <class Model>
State<Model::NEQN> Derivatives(typename Model::Globals &g, REAL t, const State<Model::NEQN> &y) {
  State<Model::NEQN> yp{};
  Model::DIFEQN(g, t, View1<const REAL>{y.data()}, View1<REAL>{yp.data()});
  return yp;
}

// ------------------------------------------------------------ family A ----

template <int N> typename FamilyA<N>::Globals ParametersA(INT16 k1) {
  typename FamilyA<N>::Globals g;
  if constexpr (N == 4)
    g.par = kShootA1.par;
  else
    g.par = kShootA2.par;
  g.par.K1 = k1;
  return g;
}

State<10> OneToTen() {
  State<10> y;
  for (int k = 0; k < 10; ++k)
    y[size_t(k)] = k + 1;
  return y;
}

TEST(FamilyA, RightHandSideAtAKnownState) {
  for (INT16 k1 : {INT16(1), INT16(2)}) {
    auto g = ParametersA<4>(k1);
    g.H = 2.0L;
    g.P = 7.0L;
    g.X[1] = 9.0L;
    const State<10> yp = Derivatives<FamilyA<4>>(g, 0.5L, OneToTen());
    const REAL expected[10] = {2, 3, 4, -54, 6, -0.092L, 8, 12, 10, 0};
    for (int k = 0; k < 10; ++k)
      EXPECT_NEAR(yp[size_t(k)], expected[k], 1.0E-18L) << "y'" << k + 1;
    EXPECT_EQ(yp[3], -54.0L);
    EXPECT_EQ(yp[7], 12.0L);
    EXPECT_EQ(yp[9], 0.0L);
    // The derivatives used the H in force; H follows the mode afterwards.
    EXPECT_EQ(g.H, k1 == 1 ? 7.0L : 9.0L);
  }
  // shoot_a2 adds the coupling 2 y7 y8 to the bracket of y4'.
  auto g = ParametersA<5>(2);
  g.H = 2.0L;
  g.X[1] = 9.0L;
  const State<10> yp = Derivatives<FamilyA<5>>(g, 0.5L, OneToTen());
  EXPECT_EQ(yp[3], -502.0L);
  EXPECT_EQ(yp[7], 12.0L);
  EXPECT_EQ(g.H, 9.0L);
}

TEST(FamilyA, EndValues) {
  for (INT16 k1 : {INT16(1), INT16(2)}) {
    auto g = ParametersA<4>(k1);
    // H = 2 in either mode: from P in mode 1, from RKF's copy in mode 2.
    g.P = k1 == 1 ? 2.0L : 5.0L;
    g.X[1] = 3.0L; // the program-wide vector plays no part here
    GLNARRAY<4> copy;
    copy[1] = 2.0L;
    g.H = 0.0L;
    const State<10> y = OneToTen();
    FamilyA<4>::OUTVAL(g, copy, View1<const REAL>{y.data()}, g.YOUT);
    const REAL expected[8] = {-5, 1.25L, 6, 10, 8, 2, 8, 7};
    for (int i = 1; i <= 8; ++i)
      EXPECT_EQ(g.YOUT[i], expected[i - 1]) << "mode " << k1 << " YOUT" << i;
    EXPECT_EQ(g.H, 2.0L);
  }
}

TEST(FamilyA, InitialStateAndTheScaleInBothModes) {
  // Mode 1: y3(0) is the first unknown and y6(0) uses H as it stands, which
  // after a change of P is still the previous P.
  auto g = ParametersA<4>(1);
  g.P = 0.3L;
  g.H = 0.2L;
  GLNARRAY<4> x;
  x[1] = 1.5L;
  x[2] = -2.0L;
  x[3] = 0.75L;
  x[4] = 4.0L;
  State<10> y{};
  y.fill(-1.0L);
  FamilyA<4>::INITVAL(g, x, View1<REAL>{y.data()});
  const State<10> a1{0, 0, 1.5L, -2.0L, 0.75L, 0.2L * 0.07L, 0, 1, -1.9L, 4.0L};
  EXPECT_EQ(y, a1);
  EXPECT_EQ(g.H, 0.2L);
  // The first evaluation still runs with the previous P; the next with P.
  const State<10> first = Derivatives<FamilyA<4>>(g, 0.0L, y);
  EXPECT_EQ(g.H, 0.3L);
  const State<10> second = Derivatives<FamilyA<4>>(g, 0.0L, y);
  const REAL bracket = 1.5L * 1.5L; // 2 y1 y4 + 1.5 y3 + 0
  EXPECT_EQ(first[3], bracket * (-0.2L * 0.2L));
  EXPECT_EQ(second[3], bracket * (-0.3L * 0.3L));

  // Mode 2: y3(0) = P and H is the copy's first unknown before y6(0).
  auto h = ParametersA<5>(2);
  h.P = 0.09L;
  h.H = 55.0L;
  h.X[1] = 1.25L;
  GLNARRAY<5> x5;
  x5[1] = 1.1L;
  x5[2] = -1.9L;
  x5[3] = 0.8L;
  x5[4] = 2.8L;
  x5[5] = -0.15L;
  FamilyA<5>::INITVAL(h, x5, View1<REAL>{y.data()});
  const State<10> a2{0, 0, 0.09L, -1.9L, 0.8L, 1.1L * 0.1L, 0, -0.15L, -0.1L, 2.8L};
  EXPECT_EQ(y, a2);
  EXPECT_EQ(h.H, 1.1L);
  // The evaluation hands H over to the program-wide unknown.
  Derivatives<FamilyA<5>>(h, 0.0L, y);
  EXPECT_EQ(h.H, 1.25L);
}

TEST(FamilyA, FirstTrajectoryAfterAChangeOfPStartsWithTheOldScale) {
  auto g = ParametersA<4>(1);
  GLNARRAY<4> x;
  x[1] = 0.1L;
  x[2] = 1.5L * (0.07L - 0.1L);
  g.H = 0.1L;
  g.P = 0.12L;
  RKF<FamilyA<4>>(g, x, g.YOUT);
  const auto afterChange = g.YOUT;
  EXPECT_EQ(g.H, 0.12L);
  RKF<FamilyA<4>>(g, x, g.YOUT);
  const auto settled = g.YOUT;
  RKF<FamilyA<4>>(g, x, g.YOUT);
  EXPECT_EQ(g.YOUT, settled);
  EXPECT_NE(afterChange[3], settled[3]); // y6(1) remembers y6(0) = 0.1 ALF1
}

TEST(FamilyA, ZeroUnknownsKeepTheFourthOrderPartAtRest) {
  auto g = ParametersA<4>(1);
  g.P = 2.0L;
  g.H = 2.0L;
  GLNARRAY<4> x;
  RKF<FamilyA<4>>(g, x, g.YOUT);
  EXPECT_EQ(g.YOUT[2], 0.25L); // y1(1) = 0
  EXPECT_EQ(g.YOUT[6], 0.0L);  // y2(1) = 0

  EXPECT_EQ(g.YOUT[7], g.YOUT[5]);
}

template <int N> REAL ResidualSum(typename FamilyA<N>::Globals &g) {
  GLNARRAY<N> beta;
  ResidualsAt<FamilyA<N>>(g, beta);
  REAL sum = 0.0L;
  for (int i = 1; i <= N; ++i)
    sum += std::fabs(beta[i]);
  return sum;
}

template <int N> void Solve(typename FamilyA<N>::Globals &g) {
  EXPECT_EQ(MNEWT(100, g.X, INT16(N), 1.0E-15L, 1.0E-15L, g.ITER,
                  [&](GLNARRAY<N> &, INT16 n, GLNBYN<N> &alpha, GLNARRAY<N> &beta) {
                    USRFUN<FamilyA<N>>(g, n, alpha, beta);
                  }),
            NewtonStatus::Converged);
}

TEST(FamilyA, FirstSolveOfShootA1Converges) {
  auto g = ParametersA<4>(1);
  LoadStartA1Mode1(g, kShootA1);
  const REAL before = ResidualSum<4>(g);
  g.H = 0.0L; // as at program start
  Solve<4>(g);
  EXPECT_GE(g.ITER, 1);
  EXPECT_LT(g.ITER, 100);
  EXPECT_LT(ResidualSum<4>(g), 1.0E-12L);
  EXPECT_GT(before, 1.0E-3L);
}

TEST(FamilyA, ModeTwoSolveOfShootA1ReachesTheKnownSolution) {
  auto g = ParametersA<4>(2);
  LoadStart(g, kShootA1.startMode2);
  Solve<4>(g);
  EXPECT_LT(g.ITER, 100);
  EXPECT_LT(ResidualSum<4>(g), 1.0E-12L);
  const REAL solution[4] = {0.93474428L, 3.35054639L, 1.60604115L, -8.85695827L};
  for (int i = 1; i <= 4; ++i)
    EXPECT_NEAR(g.X[i], solution[i - 1], 1.0E-8L) << "x" << i;
}

// The pass-14 guess of shoot_a2 solves the N = 5 problem (coupling term,
// unknown y8(0), residual y8(1)) for the slope y6(0)/H = 0.0455766569; a
// rough start finds it again.
TEST(FamilyA, ShootA2SolveReachesItsPass14Guess) {
  auto g = ParametersA<5>(2);
  g.par.ALF1 = 0.0455766569L;
  g.P = 0.09484164L;
  const REAL rough[5] = {1.1L, -2.0L, 0.9L, 2.9L, -0.15L};
  for (int i = 1; i <= 5; ++i)
    g.X[i] = rough[i - 1];
  Solve<5>(g);
  EXPECT_LT(g.ITER, 100);
  EXPECT_LT(ResidualSum<5>(g), 1.0E-12L);
  for (int i = 1; i <= 5; ++i)
    EXPECT_NEAR(g.X[i], kShootA2.start.X[i - 1], 2.0E-7L) << "x" << i;
}

// ------------------------------------------------- families B and C ----

template <int NEQN> State<NEQN> RandomState(unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  State<NEQN> y;
  for (auto &v : y)
    v = u(gen);
  return y;
}

FamilyB::Globals ParametersB(REAL h) {
  FamilyB::Globals g;
  g.par = kShootB1.par;
  g.H = h;
  g.X[1] = h;
  return g;
}

TEST(FamilyB, WithoutScaleOnlyTheChainsMove) {
  auto g = ParametersB(0.0L);
  const State<20> y = RandomState<20>(7);
  const State<20> yp = Derivatives<FamilyB>(g, 0.4L, y);
  for (int k : {4, 6, 8, 10, 14, 16, 18, 20})
    EXPECT_EQ(yp[size_t(k - 1)], 0.0L) << "y'" << k;
  for (int k : {1, 2, 3, 5, 7, 9, 11, 12, 13, 15, 17, 19})
    EXPECT_EQ(yp[size_t(k - 1)], y[size_t(k)]) << "y'" << k;
}

TEST(FamilyB, UnitY8AtTheStart) {
  auto g = ParametersB(1.7L);
  g.X[1] = 0.6L;
  State<20> y{};
  y[7] = 1.0L;
  const State<20> yp = Derivatives<FamilyB>(g, 0.0L, y);
  EXPECT_EQ(yp[6], 1.0L);
  EXPECT_EQ(yp[7], 0.0L);
  EXPECT_EQ(g.H, 0.6L); // H follows the program-wide first unknown
}

TEST(FamilyB, EndValuesRepeatY8AndDifferentiateTheResiduals) {
  auto g = ParametersB(1.3L);
  const State<20> y = RandomState<20>(11);
  GLNARRAY<9> copy;
  FamilyB::OUTVAL(g, copy, View1<const REAL>{y.data()}, g.YOUT);
  EXPECT_EQ(g.YOUT[11], g.YOUT[5]);
  EXPECT_EQ(g.YOUT[5], y[7]);
  EXPECT_EQ(g.YOUT[10], y[1]);
  EXPECT_EQ(g.YOUT[12], y[19]);
  // Residuals 6..9 are the H-derivatives of residuals 1..4 along the
  // sensitivities y11..y20.
  auto residuals = [&](REAL e) {
    auto h = ParametersB(1.3L + e);
    State<20> z = y;
    const int pair[10] = {11, 12, 13, 14, 15, 16, 19, 20, 17, 18};
    for (int k = 0; k < 10; ++k)
      z[size_t(k)] += e * y[size_t(pair[k] - 1)];
    FamilyB::OUTVAL(h, copy, View1<const REAL>{z.data()}, h.YOUT);
    return h.YOUT;
  };
  const REAL e = 1.0E-4L;
  const auto plus = residuals(e), minus = residuals(-e);
  for (int i = 1; i <= 4; ++i)
    EXPECT_NEAR((plus[i] - minus[i]) / (2 * e), g.YOUT[i + 5], 1.0E-12L) << "YOUT" << i + 5;
}

// The first and second derivatives in H of the base rows 1..10 along the
// curve H + e, y + e s1 + e^2/2 s2, by five-point differences.
template <class Model, class Setup>
void CompareWithDifferences(Setup setup, const State<Model::NEQN> &y, REAL t, const int pair1[10],
                            const int *pair2, REAL tol) {
  const REAL e = 1.0E-3L;
  auto base = [&](REAL d) {
    auto g = setup(d);
    State<Model::NEQN> z = y;
    for (int k = 0; k < 10; ++k) {
      z[size_t(k)] += d * y[size_t(pair1[k] - 1)];
      if (pair2)
        z[size_t(k)] += d * d / 2 * y[size_t(pair2[k] - 1)];
    }
    return Derivatives<Model>(g, t, z);
  };
  const auto m2 = base(-2 * e), m1 = base(-e), c = base(0), p1 = base(e), p2 = base(2 * e);
  for (int k = 0; k < 10; ++k) {
    const size_t i = size_t(k);
    const REAL first = (m2[i] - 8 * m1[i] + 8 * p1[i] - p2[i]) / (12 * e);
    const REAL row1 = c[size_t(pair1[k] - 1)];
    EXPECT_NEAR(first, row1, tol * (1 + std::fabs(row1))) << "row " << pair1[k];
    if (pair2) {
      const REAL second = (-m2[i] + 16 * m1[i] - 30 * c[i] + 16 * p1[i] - p2[i]) / (12 * e * e);
      const REAL row2 = c[size_t(pair2[k] - 1)];
      EXPECT_NEAR(second, row2, tol * (1 + std::fabs(row2))) << "row " << pair2[k];
    }
  }
}

TEST(FamilyB, DerivativeSystemIsTheDerivativeOfTheBaseSystem) {
  const int pair[10] = {11, 12, 13, 14, 15, 16, 19, 20, 17, 18};
  for (unsigned seed : {1u, 2u, 3u}) {
    const State<20> y = RandomState<20>(seed);
    CompareWithDifferences<FamilyB>([](REAL d) { return ParametersB(1.3L + d); }, y, 0.37L, pair,
                                    nullptr, 1.0E-9L);
  }
  // With the other coefficient set of shoot_b2.
  const State<20> y = RandomState<20>(4);
  CompareWithDifferences<FamilyB>(
      [](REAL d) {
        auto g = ParametersB(0.8L + d);
        g.par.PD = 15.0L;
        return g;
      },
      y, 0.9L, pair, nullptr, 1.0E-9L);
}

FamilyC::Globals ParametersC(REAL h) {
  FamilyC::Globals g;
  g.par = kShootC1.par;
  g.H = h;
  g.P = h;
  return g;
}

TEST(FamilyC, DerivativesAtTheStart) {
  auto g = ParametersC(1.11364898L);
  g.P = 1.2L; // changed since the last trajectory
  GLNARRAY<4> x;
  x[1] = 0.3L;
  x[2] = -0.2L;
  x[3] = 0.1L;
  x[4] = 0.5L;
  State<30> y{};
  FamilyC::INITVAL(g, x, View1<REAL>{y.data()});
  EXPECT_EQ(g.H, 1.11364898L);
  EXPECT_EQ(y[22], 0.3L);
  EXPECT_EQ(y[23], -0.2L);
  EXPECT_EQ(y[24], 0.1L);
  EXPECT_EQ(y[27], 0.5L);
  EXPECT_EQ(y[5], 1.11364898L * g.par.XS[5]);
  EXPECT_EQ(y[15], g.par.XS[5]);
  const State<30> yp = Derivatives<FamilyC>(g, 0.0L, y);
  const REAL H = 1.11364898L, H2 = H * H;
  auto near = [](REAL v) { return 1.0E-17L * (1 + std::fabs(v)); };
  EXPECT_NEAR(yp[3], -1.5L * H2 * g.par.XS[1], near(yp[3]));
  EXPECT_NEAR(yp[5], -1.5L * H2 * g.par.PR * g.par.XS[3], near(yp[5]));
  EXPECT_EQ(yp[7], 0.0L);
  EXPECT_NEAR(yp[9], -1.5L * H2 * g.par.PD * g.par.GAM1, near(yp[9]));
  EXPECT_EQ(g.H, 1.2L); // H follows P after the evaluation
}

TEST(FamilyC, SensitivityRowsAreTheFirstAndSecondDerivativesInH) {
  const int pair1[10] = {11, 12, 13, 14, 15, 16, 19, 20, 17, 18};
  const int pair2[10] = {21, 22, 23, 24, 25, 26, 29, 30, 27, 28};
  for (unsigned seed : {5u, 6u, 7u}) {
    const State<30> y = RandomState<30>(seed);
    CompareWithDifferences<FamilyC>([](REAL d) { return ParametersC(1.1L + d); }, y, 0.61L, pair1,
                                    pair2, 1.0E-8L);
  }
}

// The system written over any real type (the check's in binary128) is the
// runs' REAL one: in REAL the same values to rounding, in binary128 too.
TEST(FamilyC, TheGenericSystemIsTheRunsOne) {
  GLNARRAY<4> x;
  Array1<WIDE, 1, 4> xw;
  for (int i = 1; i <= 4; ++i) {
    x[i] = 0.1L * i - 0.25L;
    xw[i] = WIDE(x[i]);
  }
  auto g = ParametersC(1.3L), gw = g;
  State<30> y{};
  std::array<WIDE, 30> yw{};
  FamilyC::INITVAL(g, x, View1<REAL>{y.data()});
  FamilyC::INITVAL<WIDE>(gw, xw, View1<WIDE>{yw.data()});
  for (int i = 0; i < 30; ++i)
    EXPECT_EQ(REAL(yw[i]), y[i]) << i + 1;
  for (unsigned seed : {3u, 8u}) {
    y = RandomState<30>(seed);
    for (int i = 0; i < 30; ++i)
      yw[i] = WIDE(y[i]);
    const State<30> yp = Derivatives<FamilyC>(g, 0.37L, y);
    std::array<WIDE, 30> ypw{};
    gw.H = 1.3L;
    FamilyC::DIFEQN<WIDE>(gw, WIDE(0.37L), View1<const WIDE>{yw.data()}, View1<WIDE>{ypw.data()});
    for (int i = 0; i < 30; ++i)
      EXPECT_NEAR(REAL(ypw[i]), yp[i], 1.0E-16L * (1 + std::fabs(yp[i]))) << i + 1;
    Array1<WIDE, 1, 24> YOUT;
    FamilyC::OUTVAL<WIDE>(gw, xw, View1<const WIDE>{yw.data()}, YOUT);
    FamilyC::OUTVAL(g, x, View1<const REAL>{y.data()}, g.YOUT);
    for (int i = 1; i <= 7; ++i)
      EXPECT_NEAR(REAL(YOUT[i]), g.YOUT[i], 1.0E-16L * (1 + std::fabs(g.YOUT[i]))) << i;
    g.H = gw.H = 1.3L;
  }
  static_assert(GenericOver<FamilyC, WIDE>);
}

TEST(FamilyC, EndValues) {
  auto g = ParametersC(1.05L);
  g.P = 1.1L;
  const State<30> y = RandomState<30>(9);
  GLNARRAY<4> x;
  FamilyC::OUTVAL(g, x, View1<const REAL>{y.data()}, g.YOUT);
  // Second H-derivative of y3 + H (y5 - y9).
  EXPECT_NEAR(g.YOUT[1], y[22] + 2 * (y[14] - y[16]) + 1.05L * (y[24] - y[26]), 1.0E-17L);
  EXPECT_EQ(g.YOUT[2], y[20]);
  EXPECT_EQ(g.YOUT[3], y[25]);
  EXPECT_EQ(g.YOUT[4], y[27]);
  EXPECT_EQ(g.YOUT[5], y[1]);
  EXPECT_EQ(g.YOUT[6], y[7]);
  EXPECT_EQ(g.YOUT[7], y[29]);
  EXPECT_EQ(g.H, 1.1L);
}

} // namespace
} // namespace zanfel
