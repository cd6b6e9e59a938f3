// The Fehlberg step and the adaptive integrator: the status protocol in both
// directions, step-size control, evaluation counts and accuracy.
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "integrator/rkf45.hpp"
#include "runtime/fault.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::Stdin;

// A fatal end that no test asked for must not pass for success.
const bool kGuard = (testing::ExitOnUnexpectedFatalEnd(), true);

// One integration with its own state and work areas. The work areas start
// filled with junk: a new integration must not read them before writing.
template <int NEQN> struct Integration {
  std::array<REAL, NEQN> y{};
  std::array<REAL, 6 * NEQN + 3> work{};
  std::array<INT16, 5> iwork{};
  REAL t = 0.0L;
  REAL relerr = 1.0E-9L;
  REAL abserr = 1.0E-15L;
  INT16 iflag = 1;

  Integration() {
    work.fill(-7.77E77L);
    iwork.fill(-77);
  }
  template <class F> INT16 To(F &f, REAL tout, INT16 neqn = NEQN) {
    RKF45(f, neqn, ARRAYTYPE{y.data()}, t, tout, relerr, abserr, iflag, ARRAYTYPE{work.data()},
          View1<INT16>{iwork.data()});
    return iflag;
  }
  INT16 NFE() const { return iwork[0]; }
  INT16 KOP() const { return iwork[1]; }
  INT16 INIT() const { return iwork[2]; }
  INT16 KFLAG() const { return iwork[4]; }
  REAL HI() const { return work[NEQN]; }
  REAL YP(int k) const { return work[k - 1]; }
};

// Right-hand sides that count their calls and remember the times they saw.
struct Counted {
  int calls = 0;
  std::vector<REAL> times;
  void Saw(REAL t) {
    ++calls;
    times.push_back(t);
  }
};
struct Growth : Counted { // y' = y
  void operator()(REAL t, View1<const REAL> y, View1<REAL> yp) {
    Saw(t);
    yp[1] = y[1];
  }
};
struct Oscillator : Counted { // y1' = w y2, y2' = -w y1
  REAL w = 1.0L;
  void operator()(REAL t, View1<const REAL> y, View1<REAL> yp) {
    Saw(t);
    yp[1] = w * y[2];
    yp[2] = -w * y[1];
  }
};
struct Constant : Counted { // y' = c in every component
  REAL c = 0.0L;
  int neqn = 1;
  void operator()(REAL t, View1<const REAL>, View1<REAL> yp) {
    Saw(t);
    for (int k = 1; k <= neqn; ++k)
      yp[k] = c;
  }
};
// y' = 0 at the one time `at`, huge everywhere else: no step above the
// smallest one can pass the error test there.
struct Jump : Counted {
  REAL at = 1.0L;
  void operator()(REAL t, View1<const REAL>, View1<REAL> yp) {
    Saw(t);
    yp[1] = t == at ? 0.0L : 1.0E30L;
  }
};

REAL Eps() {
  return rkf_detail::Machine().EPS;
}
REAL U26() {
  return rkf_detail::Machine().U26;
}

TEST(MachineConstants, UnitRoundOffIsTwoToTheMinus64) {
  EXPECT_EQ(Eps(), std::ldexp(1.0L, -64));
  EXPECT_EQ(U26(), 26.0L * std::ldexp(1.0L, -64));
  EXPECT_EQ(AMAX1(1.0L, 2.0L), 2.0L);
  EXPECT_EQ(AMAX1(2.0L, 1.0L), 2.0L);
}

// ---------------------------------------------------------------- FEHL ----

// Runs one Fehlberg step of f from (t, y) with k1 computed here.
template <int NEQN, class F> struct Step {
  std::array<REAL, NEQN> yp{}, f1{}, f2{}, f3{}, f4{}, f5{}, s{};
  template <class Y> void Run(F &f, Y y, REAL t, REAL h, bool alias) {
    f(t, View1<const REAL>{y.data()}, ARRAYTYPE{yp.data()});
    ARRAYTYPE out{alias ? f1.data() : s.data()};
    FEHL(f, INT16(NEQN), ARRAYTYPE{y.data()}, t, h, ARRAYTYPE{yp.data()}, ARRAYTYPE{f1.data()},
         ARRAYTYPE{f2.data()}, ARRAYTYPE{f3.data()}, ARRAYTYPE{f4.data()}, ARRAYTYPE{f5.data()},
         out);
    if (alias)
      s = f1;
  }
};

TEST(Fehl, ZeroStepCallsEverythingAtTAndKeepsTheState) {
  Oscillator f;
  Step<2, Oscillator> st;
  std::array<REAL, 2> y{0.3L, -1.7L};
  st.Run(f, y, 0.625L, 0.0L, true);
  ASSERT_EQ(f.calls, 6);
  for (REAL t : f.times)
    EXPECT_EQ(t, 0.625L);
  EXPECT_EQ(st.s, y);
}

TEST(Fehl, StageTimesForBothDirections) {
  for (REAL h : {0.8L, -0.8L}) {
    Constant f;
    f.c = 1.0L;
    Step<1, Constant> st;
    st.Run(f, std::array<REAL, 1>{2.0L}, 3.0L, h, true);
    ASSERT_EQ(f.calls, 6);
    const REAL expected[] = {
        3.0L,     3.0L + h / 4.0L, 3.0L + h * 3.0L / 8.0L, 3.0L + h * 12.0L / 13.0L,
        3.0L + h, 3.0L + h / 2.0L};
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(f.times[size_t(i)], expected[i]) << "call " << i << " h " << double(h);
    // The five weights sum to one: y + h within rounding.
    EXPECT_NEAR(st.s[0], 2.0L + h, 8.0L * Eps());
  }
}

TEST(Fehl, ResultMayShareTheSecondStageVector) {
  struct Nonlinear {
    void operator()(REAL t, View1<const REAL> y, View1<REAL> yp) const {
      yp[1] = y[1] * y[2] + t;
      yp[2] = -y[1] * y[1] + 0.5L * y[3];
      yp[3] = t * t - y[2];
    }
  } f;
  const std::array<REAL, 3> y{0.7L, -0.2L, 1.3L};
  Step<3, Nonlinear> shared, separate;
  shared.Run(f, y, 0.1L, 0.37L, true);
  separate.Run(f, y, 0.1L, 0.37L, false);
  EXPECT_EQ(shared.s, separate.s);
  EXPECT_EQ(shared.f2, separate.f2);
  EXPECT_EQ(shared.f3, separate.f3);
  EXPECT_EQ(shared.f4, separate.f4);
  EXPECT_EQ(shared.f5, separate.f5);
}

TEST(Fehl, FifthOrderAccuracy) {
  // A quartic quadrature is integrated exactly by a fifth-order formula.
  struct Quartic {
    void operator()(REAL t, View1<const REAL>, View1<REAL> yp) const { yp[1] = t * t * t * t; }
  } q;
  Step<1, Quartic> sq;
  sq.Run(q, std::array<REAL, 1>{0.0L}, 0.0L, 1.0L, true);
  EXPECT_NEAR(sq.s[0], 0.2L, 1.0E-18L);

  // y' = y: the local error shrinks with the sixth power of the step.
  auto error = [](REAL h) {
    Growth g;
    Step<1, Growth> st;
    st.Run(g, std::array<REAL, 1>{1.0L}, 0.0L, h, true);
    return std::fabs(st.s[0] - std::exp(h));
  };
  const REAL ratio = error(0.1L) / error(0.05L);
  EXPECT_GT(ratio, 55.0L);
  EXPECT_LT(ratio, 72.0L);
}

// ------------------------------------------------- status protocol ----

// y1' = y1 and, with two equations, y2' = 0.
struct GrowthAndRest : Counted {
  int neqn = 1;
  void operator()(REAL t, View1<const REAL> y, View1<REAL> yp) {
    Saw(t);
    yp[1] = y[1];
    if (neqn == 2)
      yp[2] = 0.0L;
  }
};

// Calls that return before the first step, from y = (1, 0) at t = 0 towards
// t = 1: what they return, how many evaluations they made, the status they
// leave for the next call and RELERR as they leave it.
struct EarlyReturn {
  const char *what;
  INT16 neqn;
  REAL relerr, abserr;
  INT16 iflag;
  INT16 returned;
  int calls;
  INT16 kflag;        // -1: not checked
  REAL relerrAfter;   // 0: unchanged
  bool workUntouched; // the work areas are left as they were
};

const REAL kRaisedRelerr = 2.0L * std::ldexp(1.0L, -64) + 1.0E-12L;

const EarlyReturn kEarlyReturns[] = {
    // A too small relative tolerance is raised before anything, in both modes.
    {"RELERR too small", 1, 1.0E-13L, 1.0E-15L, 1, 3, 0, 3, kRaisedRelerr, false},
    {"RELERR too small, one-step mode", 1, 1.0E-13L, 1.0E-15L, -1, 3, 0, 3, kRaisedRelerr, false},
    // Invalid input returns 8 and changes nothing.
    {"no equations", 0, 1.0E-9L, 1.0E-15L, 1, 8, 0, -1, 0.0L, true},
    {"negative RELERR", 1, -1.0E-9L, 1.0E-15L, 1, 8, 0, -1, 0.0L, true},
    {"negative ABSERR", 1, 1.0E-9L, -1.0E-15L, 1, 8, 0, -1, 0.0L, true},
    {"IFLAG 0", 1, 1.0E-9L, 1.0E-15L, 0, 8, 0, -1, 0.0L, true},
    {"IFLAG 9", 1, 1.0E-9L, 1.0E-15L, 9, 8, 0, -1, 0.0L, true},
    {"IFLAG -9", 1, 1.0E-9L, 1.0E-15L, -9, 8, 0, -1, 0.0L, true},
    // A vanishing component without absolute tolerance: the start and the
    // first attempt.
    {"vanishing component, ABSERR 0", 2, 1.0E-9L, 0.0L, 1, 5, 6, 0, 0.0L, false},
};

// A fresh integration that stopped at its early return.
Integration<2> EarlyReturnOf(const EarlyReturn &c, GrowthAndRest &f) {
  f.neqn = c.neqn;
  Integration<2> in;
  in.y = {1.0L, 0.0L};
  in.relerr = c.relerr;
  in.abserr = c.abserr;
  in.iflag = c.iflag;
  const auto work = in.work;
  const auto iwork = in.iwork;
  EXPECT_EQ(in.To(f, 1.0L, c.neqn), c.returned);
  EXPECT_EQ(f.calls, c.calls);
  if (c.calls > 0) {
    EXPECT_EQ(in.NFE(), c.calls);
  }
  EXPECT_EQ(in.t, 0.0L);
  EXPECT_EQ(in.y[0], 1.0L);
  EXPECT_EQ(in.relerr, c.relerrAfter == 0.0L ? c.relerr : c.relerrAfter);
  if (c.kflag >= 0) {
    EXPECT_EQ(in.KFLAG(), c.kflag);
  }
  if (c.workUntouched) {
    EXPECT_EQ(in.work, work);
    EXPECT_EQ(in.iwork, iwork);
  }
  return in;
}

TEST(Rkf45Protocol, ReturnsBeforeTheFirstStep) {
  EXPECT_NEAR(kRaisedRelerr, 1.0000001E-12L, 1.0E-19L);
  for (const EarlyReturn &c : kEarlyReturns) {
    SCOPED_TRACE(c.what);
    GrowthAndRest f;
    EarlyReturnOf(c, f);
  }
}

// The answer 3 to a raised tolerance starts the integration in the mode of
// the first call.
TEST(Rkf45Protocol, AfterARaisedToleranceTheIntegrationStartsInItsMode) {
  for (const EarlyReturn &c : {kEarlyReturns[0], kEarlyReturns[1]}) {
    SCOPED_TRACE(c.what);
    GrowthAndRest f;
    Integration<2> in = EarlyReturnOf(c, f);
    in.iflag = 3;
    if (c.iflag > 0) {
      EXPECT_EQ(in.To(f, 1.0L, 1), 2);
      EXPECT_EQ(in.t, 1.0L);
      EXPECT_NEAR(in.y[0], std::exp(1.0L), 1.0E-10L);
    } else {
      EXPECT_EQ(in.To(f, 1.0L, 1), -2);
      EXPECT_GT(in.t, 0.0L);
      EXPECT_LT(in.t, 1.0L);
    }
    EXPECT_EQ(f.calls, in.NFE());
  }
}

// The answer 5 once ABSERR is above 0 goes on.
TEST(Rkf45Protocol, AVanishingComponentGoesOnWithAnAbsoluteTolerance) {
  GrowthAndRest f;
  Integration<2> in = EarlyReturnOf(kEarlyReturns[8], f);
  in.abserr = 1.0E-15L;
  in.iflag = 5;
  EXPECT_EQ(in.To(f, 1.0L), 2);
  EXPECT_EQ(in.t, 1.0L);
  EXPECT_NEAR(in.y[0], std::exp(1.0L), 1.0E-8L);
  EXPECT_EQ(in.y[1], 0.0L);
}

// Which mode an answer goes on in: after return 3 even 2 or -2 resumes the
// answered call's mode (a new integration), after return 5 only 5 does.
TEST(Rkf45Protocol, TheModeAfterAnAnswer) {
  enum class Provoke { SmallRelerr, VanishingComponent };
  struct Case {
    const char *what;
    INT16 start;
    Provoke provoke;
    INT16 first, answer, expected;
  };
  const Case cases[] = {
      {"3, then 3, one-step", -1, Provoke::SmallRelerr, 3, 3, -2},
      {"3, then 2, one-step", -1, Provoke::SmallRelerr, 3, 2, -2},
      {"3, then -2, interval", 1, Provoke::SmallRelerr, 3, -2, 2},
      {"5, then 5, one-step", -1, Provoke::VanishingComponent, 5, 5, -2},
      {"5, then 2, one-step start", -1, Provoke::VanishingComponent, 5, 2, 2},
      {"5, then -2, interval start", 1, Provoke::VanishingComponent, 5, -2, -2},
  };
  struct Rhs : Counted { // y1' = y1, y2' = 0
    void operator()(REAL t, View1<const REAL> y, View1<REAL> yp) {
      Saw(t);
      yp[1] = y[1];
      yp[2] = 0.0L;
    }
  };
  for (const Case &c : cases) {
    Rhs f;
    Integration<2> in;
    in.y = {1.0L, 0.0L};
    in.iflag = c.start;
    if (c.provoke == Provoke::SmallRelerr)
      in.relerr = 1.0E-13L;
    else
      in.abserr = 0.0L;
    ASSERT_EQ(in.To(f, 1.0L), c.first) << c.what;
    in.abserr = 1.0E-15L;
    in.iflag = c.answer;
    EXPECT_EQ(in.To(f, 1.0L), c.expected) << c.what;
    if (c.expected == 2)
      EXPECT_EQ(in.t, 1.0L) << c.what;
    else
      EXPECT_TRUE(in.t > 0.0L && in.t < 1.0L) << c.what;
    EXPECT_EQ(f.calls, in.NFE()) << c.what;
  }
}

TEST(Rkf45Protocol, OutputPointAtTheStart) {
  Growth f;
  Integration<1> in;
  in.y = {1.0L};
  in.t = 0.25L;
  EXPECT_EQ(in.To(f, 0.25L), 2);
  EXPECT_EQ(f.calls, 1);
  EXPECT_EQ(in.NFE(), 1);
  EXPECT_EQ(in.INIT(), 0);
  EXPECT_EQ(in.YP(1), 1.0L);
  EXPECT_EQ(in.y[0], 1.0L);

  // Asking again for the point already reached is an invalid call.
  in.iflag = 2;
  EXPECT_EQ(in.To(f, 0.25L), 8);
  EXPECT_EQ(f.calls, 1);
  EXPECT_EQ(in.KFLAG(), 0);

  // A new output point: the starting step is estimated now.
  in.iflag = 2;
  EXPECT_EQ(in.To(f, 1.25L), 2);
  EXPECT_EQ(in.t, 1.25L);
  EXPECT_EQ(in.INIT(), 1);
  EXPECT_NEAR(in.y[0], std::exp(1.0L), 1.0E-8L);
}

// The integration of y' = y in one-step mode, paused after its first step.
INT16 PausedIntegrationThen(INT16 answer, REAL abserr) {
  Growth f;
  Integration<1> in;
  in.y = {1.0L};
  in.iflag = -1;
  if (in.To(f, 1.0L) != -2)
    return 99;
  in.iflag = answer;
  in.abserr = abserr;
  return in.To(f, 1.0L);
}

// The integration of a jump no step can pass, answered 2 after its return 6
// with RELERR as given.
INT16 FailedIntegrationThen(INT16 answer, REAL relerr) {
  Jump f;
  Integration<1> in;
  in.t = 1.0L;
  if (in.To(f, 2.0L) != 6)
    return 99;
  in.iflag = answer;
  in.relerr = relerr;
  return in.To(f, 2.0L);
}

// What an answer after a pause or a failure leads to: an end of the program
// without a word (status 0), or the next return (status 100 + IFLAG).
struct Answer {
  const char *what;
  INT16 (*integration)(INT16 answer, REAL tolerance);
  INT16 answer;
  REAL tolerance; // ABSERR after a pause, RELERR after a failure
  int status;
};

const Answer kAnswers[] = {
    // After a pause only 3, 4 and 5 are answers, and 5 only once ABSERR is
    // above 0.
    {"6 after a pause", PausedIntegrationThen, 6, 1.0E-15L, 0},
    {"7 after a pause", PausedIntegrationThen, 7, 1.0E-15L, 0},
    {"8 after a pause", PausedIntegrationThen, 8, 1.0E-15L, 0},
    {"-3 after a pause", PausedIntegrationThen, -3, 1.0E-15L, 0},
    {"-4 after a pause", PausedIntegrationThen, -4, 1.0E-15L, 0},
    {"-5 after a pause", PausedIntegrationThen, -5, 1.0E-15L, 0},
    {"-6 after a pause", PausedIntegrationThen, -6, 1.0E-15L, 0},
    {"-7 after a pause", PausedIntegrationThen, -7, 1.0E-15L, 0},
    {"-8 after a pause", PausedIntegrationThen, -8, 1.0E-15L, 0},
    {"5 after a pause, ABSERR 0", PausedIntegrationThen, 5, 0.0L, 0},
    // The right answers resume one-step mode.
    {"3 after a pause", PausedIntegrationThen, 3, 1.0E-15L, 100 - 2},
    {"4 after a pause", PausedIntegrationThen, 4, 1.0E-15L, 100 - 2},
    {"5 after a pause", PausedIntegrationThen, 5, 1.0E-15L, 100 - 2},
    // Going on after return 6 needs a looser tolerance; the problem then fails
    // again.
    {"2 after return 6, the same RELERR", FailedIntegrationThen, 2, 1.0E-9L, 0},
    {"2 after return 6, a looser RELERR", FailedIntegrationThen, 2, 1.0E-8L, 106},
};

TEST(Rkf45End, AnswersEndTheProgramOrGoOn) {
  for (const Answer &c : kAnswers) {
    SCOPED_TRACE(c.what);
    const ChildResult r = testing::RunToItsEnd(
        Stdin::DevNull, [&] { return 100 + c.integration(c.answer, c.tolerance); });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

// --------------------------------------------------- step control ----

TEST(Rkf45Steps, RejectionsShrinkTenfoldDownToTheSmallestStep) {
  Jump f;
  Integration<1> in;
  in.t = 1.0L;
  EXPECT_EQ(in.To(f, 2.0L), 6);
  EXPECT_EQ(in.KFLAG(), 6);
  EXPECT_EQ(in.t, 1.0L);
  EXPECT_EQ(in.y[0], 0.0L);
  // The first step is half the distance (the distance equals the starting
  // step); every estimate is far above 9^5, so each rejection cuts by 10.
  const REAL HMIN = U26() * 1.0L;
  REAL h = 0.5L;
  int attempts = 0;
  do {
    ++attempts;
    h = 0.1L * h;
  } while (std::fabs(h) > HMIN);
  EXPECT_EQ(in.HI(), h);
  EXPECT_EQ(in.NFE(), 1 + 5 * attempts);
  EXPECT_EQ(f.calls, in.NFE());
}

TEST(Rkf45Steps, AnExactStepGrowsFivefold) {
  Constant f;
  f.c = 1.0L;
  Integration<1> in;
  in.iflag = -1;
  ASSERT_EQ(in.To(f, 1.0E6L), -2);
  REAL h = in.t; // the first step, from 0
  for (int step = 0; step < 4; ++step) {
    EXPECT_EQ(in.HI(), 5.0L * h);
    h = in.HI();
    const REAL before = in.t;
    ASSERT_EQ(in.To(f, 1.0E6L), -2);
    EXPECT_EQ(in.t, before + h);
  }
}

TEST(Rkf45Steps, AfterARejectionTheStepDoesNotGrow) {
  // y' = 0 up to t = 0.35, huge beyond: the first step (0.5) is rejected,
  // the tenfold smaller one is exact and would grow fivefold.
  struct Wall : Counted {
    void operator()(REAL t, View1<const REAL>, View1<REAL> yp) {
      Saw(t);
      yp[1] = t > 0.35L ? 1.0E30L : 0.0L;
    }
  } f;
  Integration<1> in;
  in.iflag = -1;
  ASSERT_EQ(in.To(f, 1.0L), -2);
  EXPECT_EQ(in.t, 0.1L * 0.5L);
  EXPECT_EQ(in.HI(), in.t);
  EXPECT_EQ(in.NFE(), 1 + 5 + 5 + 1);
  ASSERT_EQ(in.To(f, 1.0L), -2);
  EXPECT_EQ(in.HI(), 5.0L * (0.1L * 0.5L));
}

TEST(Rkf45Steps, OneStepModeHalvesAStepThatWouldEndExactlyAtTout) {
  // y' = 0: the starting step is the whole distance, which is then covered
  // in two equal steps.
  Constant f;
  Integration<1> in;
  in.y = {3.0L};
  in.iflag = -1;
  EXPECT_EQ(in.To(f, 1.0L), -2);
  EXPECT_EQ(in.t, 0.5L);
  EXPECT_EQ(in.To(f, 1.0L), 2);
  EXPECT_EQ(in.t, 1.0L);
  EXPECT_EQ(in.y[0], 3.0L);
  EXPECT_EQ(in.NFE(), 1 + 6 + 6);
  EXPECT_EQ(f.calls, 13);
}

TEST(Rkf45Steps, OneStepModeCountsFivePerAttemptAndOnePerStep) {
  Growth f;
  Integration<1> in;
  in.y = {1.0L};
  in.iflag = -1;
  int steps = 0;
  REAL t = in.t;
  int nfe = 1;
  for (;;) {
    const INT16 flag = in.To(f, 1.0L);
    ASSERT_TRUE(flag == -2 || flag == 2) << flag;
    ++steps;
    EXPECT_GT(in.t, t);
    const int used = in.NFE() - nfe;
    EXPECT_GE(used, 6);
    EXPECT_EQ((used - 1) % 5, 0) << used;
    EXPECT_EQ(f.calls, in.NFE());
    t = in.t;
    nfe = in.NFE();
    if (flag == 2)
      break;
    EXPECT_LT(in.t, 1.0L);
    EXPECT_EQ(in.iflag, -2);
  }
  EXPECT_EQ(in.t, 1.0L);
  EXPECT_GT(steps, 3);
  EXPECT_NEAR(in.y[0], std::exp(1.0L), 1.0E-8L);
}

TEST(Rkf45Steps, BackwardsWithNegativeSteps) {
  Growth f;
  Integration<1> in;
  in.y = {std::exp(1.0L)};
  in.t = 1.0L;
  in.iflag = -1;
  REAL t = in.t;
  INT16 flag;
  do {
    flag = in.To(f, 0.0L);
    EXPECT_LT(in.t, t);
    EXPECT_LT(in.HI(), 0.0L);
    t = in.t;
  } while (flag == -2);
  EXPECT_EQ(flag, 2);
  EXPECT_EQ(in.t, 0.0L);
  EXPECT_NEAR(in.y[0], 1.0L, 1.0E-9L);

  Growth g;
  Integration<1> interval;
  interval.y = {std::exp(1.0L)};
  interval.t = 1.0L;
  EXPECT_EQ(interval.To(g, 0.0L), 2);
  EXPECT_EQ(interval.t, 0.0L);
  EXPECT_NEAR(interval.y[0], 1.0L, 1.0E-9L);
}

TEST(Rkf45Steps, ToutWithinRoundOffIsReachedByOneEulerStep) {
  Growth f;
  Integration<1> in;
  in.y = {1.0L};
  ASSERT_EQ(in.To(f, 1.0L), 2);
  const REAL y = in.y[0], yp = in.YP(1);
  const int calls = f.calls;
  const REAL tout = 1.0L + std::ldexp(1.0L, -63);
  in.iflag = 2;
  EXPECT_EQ(in.To(f, tout), 2);
  EXPECT_EQ(in.t, tout);
  EXPECT_EQ(f.calls, calls + 1);
  EXPECT_EQ(in.y[0], (tout - 1.0L) * yp + y);
  EXPECT_EQ(in.YP(1), in.y[0]);
}

TEST(Rkf45Steps, CrowdedOutputPointsReturn7OnThe100thCall) {
  Constant f;
  Integration<1> in;
  in.y = {2.0L};
  ASSERT_EQ(in.To(f, 1.0L), 2);
  ASSERT_EQ(in.KOP(), 0);
  for (int k = 1; k <= 99; ++k) {
    in.iflag = 2;
    ASSERT_EQ(in.To(f, 1.0L + k * 0.01L), 2) << k;
    ASSERT_EQ(in.KOP(), k);
  }
  const REAL t = in.t;
  const int calls = f.calls;
  in.iflag = 2;
  EXPECT_EQ(in.To(f, 2.0L), 7);
  EXPECT_EQ(in.t, t);
  EXPECT_EQ(f.calls, calls);
  EXPECT_EQ(in.KOP(), 0);
  in.iflag = 2;
  EXPECT_EQ(in.To(f, 2.0L), 2);
  EXPECT_EQ(in.t, 2.0L);
}

TEST(Rkf45Steps, BudgetOfEvaluationsAndItsRenewal) {
  // A fast oscillation with a tight tolerance needs far more than 500 steps.
  Oscillator f;
  f.w = 1000.0L;
  Integration<2> in;
  in.y = {1.0L, 0.0L};
  in.relerr = 1.0E-11L;
  EXPECT_EQ(in.To(f, 10.0L), 4);
  EXPECT_EQ(in.KFLAG(), 4);
  EXPECT_GE(in.NFE(), 3001);
  EXPECT_LE(in.NFE(), 3006);
  EXPECT_EQ(f.calls, in.NFE());
  EXPECT_GT(in.t, 0.0L);

  // Either answer grants a fresh budget and goes on from there.
  for (INT16 answer : {INT16(4), INT16(2)}) {
    const REAL t = in.t;
    const int calls = f.calls;
    in.iflag = answer;
    EXPECT_EQ(in.To(f, 10.0L), 4) << answer;
    EXPECT_GT(in.t, t);
    EXPECT_GE(in.NFE(), 3001);
    EXPECT_LE(in.NFE(), 3006);
    EXPECT_EQ(f.calls - calls, in.NFE());
  }
  // The state is still on the circle.
  EXPECT_NEAR(in.y[0] * in.y[0] + in.y[1] * in.y[1], 1.0L, 1.0E-8L);
}

TEST(Rkf45Steps, BudgetInOneStepModeAndTheModeOfTheAnswer) {
  // The budget counts across the calls of one-step mode.
  Oscillator f;
  f.w = 1000.0L;
  Integration<2> in;
  in.y = {1.0L, 0.0L};
  in.relerr = 1.0E-11L;
  in.iflag = -1;
  int calls = 0;
  while (in.To(f, 10.0L) == -2)
    ASSERT_LT(++calls, 1000);
  ASSERT_EQ(in.iflag, 4);
  EXPECT_GT(calls, 400);
  EXPECT_GE(in.NFE(), 3001);
  EXPECT_LE(in.NFE(), 3006);

  // Answering 4 resumes one-step mode with a fresh budget; answering 2 goes
  // on in interval mode until the budget is spent again.
  Integration<2> again = in;
  again.iflag = 4;
  EXPECT_EQ(again.To(f, 10.0L), -2);
  EXPECT_LE(again.NFE(), 11);
  in.iflag = 2;
  EXPECT_EQ(in.To(f, 10.0L), 4);
  EXPECT_GE(in.NFE(), 3001);
}

// ------------------------------------------------------- accuracy ----

TEST(Rkf45Accuracy, ExponentialAndOscillatorMeetTheTolerance) {
  Growth g;
  Integration<1> e;
  e.y = {1.0L};
  EXPECT_EQ(e.To(g, 1.0L), 2);
  EXPECT_EQ(e.t, 1.0L);
  EXPECT_NEAR(e.y[0], std::exp(1.0L), 1.0E-9L * std::exp(1.0L));
  EXPECT_EQ(g.calls, e.NFE());

  Oscillator o;
  Integration<2> h;
  h.y = {1.0L, 0.0L};
  EXPECT_EQ(h.To(o, 1.0L), 2);
  EXPECT_NEAR(h.y[0], std::cos(1.0L), 1.0E-9L);
  EXPECT_NEAR(h.y[1], -std::sin(1.0L), 1.0E-9L);
  EXPECT_EQ(o.calls, h.NFE());
}

} // namespace
} // namespace zanfel
