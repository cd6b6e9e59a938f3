// The accuracy check: its Gauss-Legendre coefficients against the order
// conditions, its integrator against exact solutions in both arithmetics,
// its count of digits, and the check of a Bratu record against the closed
// form.
#include <gtest/gtest.h>

#include "support/example_runs.hpp"

#include "check/check.hpp"
#include "continuation/settings.hpp"

#include "examples/bratu/bratu.hpp"

namespace zanfel {
namespace {

// The s-stage Gauss method has order 2s: b c^(k-1) = 1/k up to k = 2s, and
// the stages are collocation points, A c^(k-1) = c^k / k up to k = s.
template <class R, int S> void ExpectGaussConditions(R tolerance) {
  const GaussTableau<R, S> &t = Tableau<R, S>();
  for (int k = 1; k <= 2 * S; ++k) {
    R sum = 0;
    for (int i = 0; i < S; ++i)
      sum += t.b[i] * Pow(t.c[i], R(k - 1));
    EXPECT_LT(double(Abs(sum - R(1) / R(k))), double(tolerance)) << "quadrature order " << k;
  }
  for (int i = 0; i < S; ++i) {
    EXPECT_GT(double(t.c[i]), i == 0 ? 0.0 : double(t.c[i - 1])); // distinct, increasing
    for (int k = 1; k <= S; ++k) {
      R sum = 0;
      for (int j = 0; j < S; ++j)
        sum += t.A[i][j] * Pow(t.c[j], R(k - 1));
      EXPECT_LT(double(Abs(sum - Pow(t.c[i], R(k)) / R(k))), double(tolerance))
          << "stage " << i << " condition " << k;
    }
  }
  // Order 2s + 1 fails: the method is of order 2s and no more.
  R sum = 0;
  for (int i = 0; i < S; ++i)
    sum += t.b[i] * Pow(t.c[i], R(2 * S));
  EXPECT_GT(double(Abs(sum - R(1) / R(2 * S + 1))), 1e-12);
}

TEST(GaussTableau, MeetsTheOrderConditionsInBothArithmetics) {
  ExpectGaussConditions<REAL, 8>(REAL(1e-17L));
  ExpectGaussConditions<WIDE, 8>(WIDE(1e-30L));
  ExpectGaussConditions<REAL, 3>(REAL(1e-18L));
}

// y1' = y2, y2' = -y1 from (0, 1): (sin t, cos t); and y3' = y3, e^t.
template <class R> struct Oscillator {
  int calls = 0;
  void operator()(R, View1<const R> y, View1<R> yp) {
    ++calls;
    yp[1] = y[2];
    yp[2] = -y[1];
    yp[3] = y[3];
  }
};

template <class R> R IntegrationError(R RELERR, R t1, int *calls = nullptr) {
  Oscillator<R> f;
  GaussIntegrator<R, 3, 8> integrator({RELERR, RELERR * R(1e-3L)});
  std::array<R, 3> y{R(0), R(1), R(1)};
  EXPECT_EQ(integrator.Integrate(f, R(0), t1, y), GaussEnd::Reached);
  if (calls)
    *calls = f.calls;
  const R e[3] = {Abs(y[0] - Sin(t1)), Abs(y[1] - Cos(t1)), Abs(y[2] - Exp(t1)) / Exp(t1)};
  return e[0] > e[1] ? (e[0] > e[2] ? e[0] : e[2]) : (e[1] > e[2] ? e[1] : e[2]);
}

TEST(GaussIntegrator, MeetsItsToleranceAndSpendsMoreOnlyForMore) {
  int loose = 0, tight = 0;
  EXPECT_LT(double(IntegrationError<REAL>(1e-10L, 5.0L, &loose)), 1e-9);
  EXPECT_LT(double(IntegrationError<REAL>(1e-16L, 5.0L, &tight)), 1e-15);
  EXPECT_GT(double(IntegrationError<REAL>(1e-16L, 5.0L)), 0.0); // no exact answer by accident
  EXPECT_GT(tight, loose);
  // Order 16: a million-fold tighter tolerance costs far less than tenfold
  // the evaluations.
  EXPECT_LT(tight, 4 * loose);
  EXPECT_LT(double(IntegrationError<WIDE>(WIDE(1e-28L), WIDE(5))), 1e-27);
}

// A right-hand side whose integration cannot go on (its value is not a
// number past t = 1/2) ends with a short step, not a loop or a trap.
TEST(GaussIntegrator, EndsWhereTheRightHandSideGivesOut) {
  const MaskedTraps masked;
  auto f = [](REAL t, View1<const REAL>, View1<REAL> yp) {
    yp[1] = t < 0.5L ? 1.0L : std::numeric_limits<REAL>::quiet_NaN();
  };
  GaussIntegrator<REAL, 1, 8> integrator({1e-12L, 1e-15L});
  std::array<REAL, 1> y{0.0L};
  EXPECT_EQ(integrator.Integrate(f, 0.0L, 1.0L, y), GaussEnd::StepTooSmall);
}

TEST(SharedDigits, CountsAgreementUpToWhatTheCheckHolds) {
  EXPECT_EQ(CapacityOf<REAL>(1e-14L), 13);
  EXPECT_EQ(CapacityOf<REAL>(1.1e-17L), 15);
  EXPECT_EQ(CapacityOf<REAL>(1.0L), 0);
  EXPECT_EQ(SharedDigits<REAL>(1.2345678L, 1.2345679L, 13), 7);
  EXPECT_EQ(SharedDigits<REAL>(-1.2345678L, -1.2345679L, 13), 7);
  EXPECT_EQ(SharedDigits<REAL>(1.0L, 2.0L, 13), 0);
  EXPECT_EQ(SharedDigits<REAL>(0.5L, 0.5L, 13), 13);          // equal: what the check holds
  EXPECT_EQ(SharedDigits<REAL>(0.5L, 0.5L + 1e-18L, 13), 13); // beyond it: no more
  // The check's own error counts against the value: 1e-13 apart with a
  // check good to 13 digits is only 12 digits sure.
  EXPECT_EQ(SharedDigits<REAL>(1.0L + 1e-13L, 1.0L, 13), 12);
  EXPECT_EQ(SharedDigits<REAL>(1e-20L, 0.0L, 13), 0);
  EXPECT_EQ(SharedDigits<WIDE>(WIDE(1) + WIDE(1e-25L), WIDE(1), 30), 24);
}

using Shot = ScaleIsP<Bratu>;

// A record of lambda = 1 whose s is wrong by 3e-8 relative: the check
// solves for the true s itself (Newton from the record's s) and finds 7
// digits right, in either arithmetic.
TEST(CheckRecord, FindsTheDigitsARecordHasRight) {
  static_assert(kChecksWide<Shot>);
  Shot::Globals g;
  g.P = 1.0L;
  g.H = 1.0L;
  const REAL exact = testing::BratuSlopeAt(1.0L);
  g.X[1] = exact * (1.0L + 3e-8L);
  g.YOUT[2] = g.X[1];
  CheckChoice choice{true, 0, 80};
  for (const int precision : {80, 128}) {
    choice.precision = precision;
    const RecordCheck<1> c = CheckRecord<Shot>(g, 2, choice);
    EXPECT_EQ(c.wide, precision == 128);
    EXPECT_EQ(c.digits, 7) << precision;
    EXPECT_LT(fabsl(c.X[1] - exact) / exact, 1e-16L) << precision;
    EXPECT_EQ(c.value, c.X[1]);
  }
  // Right to the last bit of 80: as many digits as the check can vouch
  // for at the run's tolerances, 1e-9 and 1e-15.
  g.X[1] = exact;
  g.YOUT[2] = exact;
  EXPECT_EQ(CheckRecord<Shot>(g, 2, choice).digits, 13);
  // Tighter run tolerances lift that bound in binary128, not in 80 bits.
  g.solve.RELERR = 1e-14L;
  EXPECT_EQ(CheckRecord<Shot>(g, 2, choice).digits, 18);
  choice.precision = 80;
  EXPECT_EQ(CheckRecord<Shot>(g, 2, choice).digits, 15);
}

// A record whose trajectory blows up before t = 1 (u'' = 30 e^u from
// u'(0) = 10 has a pole near t = 0.1): the check says it failed, it does not
// end the run with a trap.
TEST(CheckRecord, SaysSoWhenItsSolveFails) {
  Shot::Globals g;
  g.P = -30.0L;
  g.X[1] = 10.0L;
  g.YOUT[2] = g.X[1];
  EXPECT_EQ(CheckRecord<Shot>(g, 2, {true, 0, 80}).digits, kCheckFailed);
}

TEST(CheckChoice, ChecksLabelledLastAndEveryKthFromTheFirst) {
  const CheckChoice off{};
  EXPECT_FALSE(off.Wants(1, true, true));
  const CheckChoice bare{true, 0, 80};
  EXPECT_FALSE(bare.Wants(1, false, false));
  EXPECT_TRUE(bare.Wants(7, true, false));
  EXPECT_TRUE(bare.Wants(7, false, true));
  const CheckChoice every3{true, 3, 80};
  for (long record = 1; record <= 7; ++record)
    EXPECT_EQ(every3.Wants(record, false, false), record == 1 || record == 4 || record == 7);
}

// The check's settings go through the CSV head's settings line and come
// back as they were; the bare form too.
TEST(CheckSettings, SurviveTheSettingsLine) {
  for (const char *K : {static_cast<const char *>(nullptr), "5"}) {
    SettingOptions o;
    ASSERT_EQ(ParseCheckDigits(K, o), "");
    std::string error;
    ASSERT_TRUE(ParseSettingOption("--check-digits-precision", "128", o, error));
    ASSERT_EQ(error, "");
    const RunSettings<OnePassSettings<FamilyC>> run = Settle(kShootC1, o);
    SettingOptions back;
    ASSERT_EQ(ParseSettingsText(SettingsText(run), back), "") << SettingsText(run);
    const CheckChoice c = CheckChoiceOf(back);
    EXPECT_TRUE(c.on);
    EXPECT_EQ(c.every, K ? 5 : 0);
    EXPECT_EQ(c.precision, 128);
  }
  SettingOptions o;
  EXPECT_NE(ParseCheckDigits("0", o), "");
  EXPECT_NE(ParseCheckDigits("x", o), "");
  EXPECT_EQ(SettingsText(Settle(kShootC1, {})).find("check"), std::string::npos);
}

} // namespace
} // namespace zanfel
