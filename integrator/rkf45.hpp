// Adaptive Runge-Kutta-Fehlberg 4(5) integration with relative and absolute
// error control and the two-way status flag IFLAG.
//
// The parts are kept apart, each a small inline function:
//   FEHL                      the stepper: one step of the Fehlberg pair,
//                             FehlStages (the five stages) and the final
//                             combination FifthOrderAndError;
//   FifthOrderAndErrorNorm,
//   ErrorRatio                the error norm of a step (formed with the final
//                             combination) and its ratio to the tolerance
//                             (ESTTOL);
//   StartingStep, AimAtOutput,
//   ShrinkFactor, GrowthFactor,
//   NextStep                  the step-size controller.
// RKFS runs them under the IFLAG protocol below; RKF45 only partitions the
// caller's work areas. A caller may hand it a step log (NoStepLog by
// default: nothing kept), told the length of every accepted step. The
// right-hand side F is a template parameter, so the whole step is one direct
// call chain: F(T, YI, YPI) with 1-based views of the state and the
// derivative vectors. Nothing here allocates.
//
// Speed: every real is an 80-bit extended value, and the floating-point
// unit loads and stores those several times slower than any other operation
// of a step (about 4 cycles each, against well under one for an add). The
// loops are bound by the number of these loads and stores, not by the
// latency of their sums, so the code keeps that number low: the final
// combination and the error norm share one pass, and the right-hand side is
// inlined into the stages.
//
// The IFLAG protocol. IFLAG carries the mode in and the status out; the
// caller's WORK (6*NEQN + 3 reals) and IWORKI (5 integers) carry everything
// from one call to the next and need no set-up before a new integration.
//
// IFLAG on entry:
//    1  new integration in interval mode: step until TOUT, then return 2
//   -1  new integration in one-step mode: one step towards TOUT, return -2
//    2  go on in interval mode (TOUT may be new); -2 likewise in one-step mode
//    3  answer to return 3: start with the raised RELERR
//    4  answer to return 4: a fresh budget of MAXNFE evaluations (2 does too)
//    5  answer to return 5, once ABSERR > 0
//   An answer 3, 4 or 5 (and 2 after return 3) resumes in the mode of the call
//   it answers. 0 and |IFLAG| > 8 are invalid (return 8). 6, 7, 8, -3..-8,
//   5 with ABSERR = 0, and 2 or -2 after return 6 with neither tolerance
//   loosened are no answer at all: the program ends silently with status 0.
//
// IFLAG on return (KFLAGI, the fifth integer of IWORKI, keeps 3, 4 and 6 for
// the answer):
//    2  TOUT reached: T = TOUT
//   -2  one-step mode: one step taken, T and Y at its end
//    3  RELERR was below 2*EPS + REMIN and has been raised to it; nothing done
//    4  more than MAXNFE evaluations; T and Y at the last accepted step
//    5  ABSERR = 0 and a component is zero at both ends of the step: the
//       relative test cannot be applied; T and Y at the last accepted step
//    6  the accuracy needs a step not above U26*|T|; answer with a looser
//       RELERR or ABSERR and 2 or -2
//    7  the step was at least twice the distance to TOUT on MAXKOP calls;
//       T and Y unchanged by this call; answer with 2 or -2
//    8  invalid input: NEQN < 1, a negative tolerance, |IFLAG| 0 or above 8,
//       or T = TOUT on a continuation that does not answer return 3; nothing
//       is changed
#pragma once

#include <cmath>

#include "runtime/checked.hpp"
#include "runtime/fault.hpp"
#include "runtime/types.hpp"

namespace zanfel {

using REALTYPE = REAL;

// The statuses IFLAG returns (see the protocol above), by name.
enum class RkfStatus : INT16 {
  OneStepTaken = -2,
  ToutReached = 2,
  RelErrRaised = 3,
  TooManyEvaluations = 4,
  AbsErrNeeded = 5,
  StepTooSmall = 6,
  StepsCutShort = 7,
  InvalidInput = 8,
};
constexpr RkfStatus StatusOf(INT16 IFLAG) {
  return static_cast<RkfStatus>(IFLAG);
}
constexpr int ARRAYSIZE = 6553;
// The integrator's view of caller vectors: elements 1..ARRAYSIZE.
using ARRAYTYPE = View1<REALTYPE>;

// A right-hand side: F(T, YI, YPI) reads YI[1..NEQN], writes YPI[1..NEQN].
template <class F>
concept PROCTYPE = requires(F &f, REALTYPE t, View1<const REALTYPE> y, ARRAYTYPE yp) {
  f(t, y, yp);
};

inline REALTYPE AMAX1(REALTYPE X, REALTYPE Y) {
  return X > Y ? X : Y;
}

namespace rkf_detail {

// The protocol's limits.
constexpr REALTYPE REMIN = 1.0E-12L; // smallest RELERR beyond the arithmetic's own limit
constexpr INT16 MAXNFE = 3000;       // evaluations per run of steps, about 500 steps
constexpr INT16 MAXKOP = 100;        // calls crowded by their output point before return 7

// The step-size controller: the error of a step of length h goes with h^5, so
// the step that would just meet the tolerance is h / ESTTOL^(1/5); the next
// step is SAFETY times that, within the growth and shrink limits.
constexpr REALTYPE SAFETY = 0.9L;
constexpr REALTYPE GROWTH_LIMIT = 5.0L; // at most fivefold after an accepted step
constexpr REALTYPE SHRINK_LIMIT = 0.1L; // at most tenfold smaller after a rejected one
// The ratios at which SAFETY / ESTTOL^(1/5) meets the limits, (0.9/0.1)^5 =
// 9^5 and (0.9/5)^5 = 0.18^5. Beyond them the limit applies and no root is
// taken; so an exact step (ESTTOL = 0) never reaches the logarithm of 0, which
// would trap.
constexpr REALTYPE SHRINK_BOUND = 59049.0L;
constexpr REALTYPE GROWTH_BOUND = 1.889568E-4L;
constexpr bool MeetsLimit(REALTYPE bound, REALTYPE limit) {
  const REALTYPE r = SAFETY / limit;
  const REALTYPE q = bound / (r * r * r * r * r);
  return q > 1.0L - 1.0E-15L && q < 1.0L + 1.0E-15L;
}
static_assert(MeetsLimit(SHRINK_BOUND, SHRINK_LIMIT) && MeetsLimit(GROWTH_BOUND, GROWTH_LIMIT));

// The common denominator of the error coefficients 1/360, 128/4275,
// 2197/75240, 1/50 and 2/55 of k1, k3, k4, k5 and k6.
constexpr REALTYPE ERROR_DENOMINATOR = 752400.0L;

struct MachineConstants {
  REALTYPE EPS;
  REALTYPE U26;
};

// The unit round-off of the arithmetic, from the halving loop: the first power
// of two that no longer changes 1.
inline MachineConstants DetermineMachineConstants() {
  volatile REALTYPE eps = 1.0L;
  for (;;) {
    eps = eps / 2.0L;
    volatile REALTYPE sum = 1.0L + eps;
    if (!(sum > 1.0L))
      break;
  }
  MachineConstants c{};
  c.EPS = eps;
  c.U26 = c.EPS * 26.0L;
  return c;
}

inline const MachineConstants &Machine() {
  static const MachineConstants c = DetermineMachineConstants();
  return c;
}

// The least RELERR the integrator takes with the floor REMINV above the
// arithmetic's own limit; a smaller one is raised to it (IFLAG 3).
inline REALTYPE LeastRelerr(REALTYPE REMINV) {
  return Machine().EPS * 2.0L + REMINV;
}

inline REALTYPE FifthRoot(REALTYPE x) {
  return expl(0.2L * logl(x));
}

// The protocol violations end the whole program silently.
[[noreturn]] inline void ProtocolViolation() {
  FatalEnd(0);
}

} // namespace rkf_detail

// The stepper, stages 2 to 6 of one Fehlberg step of length H from (T, YI)
// with k1 = YPI: exactly five calls of F, leaving k3..k6 in F2I..F5I. F1I
// holds k2 and then the stage-6 state, which the final combination does not
// read. Flattened: the right-hand side is inlined into each stage, so that
// its time argument and its loads need no call in between.
template <PROCTYPE F>
[[gnu::flatten]] inline void FehlStages(F &f, INT16 NEQN, ARRAYTYPE YI, const REALTYPE &T,
                                        REALTYPE H, ARRAYTYPE YPI, ARRAYTYPE F1I, ARRAYTYPE F2I,
                                        ARRAYTYPE F3I, ARRAYTYPE F4I, ARRAYTYPE F5I) {
  using CV = View1<const REALTYPE>;
  REALTYPE CH = H / 4.0L;
  for (int K = 1; K <= NEQN; ++K)
    F5I[K] = CH * YPI[K] + YI[K];
  f(T + CH, CV{F5I.p}, F1I);

  CH = (H * 3.0L) / 32.0L;
  for (int K = 1; K <= NEQN; ++K)
    F5I[K] = (3.0L * F1I[K] + YPI[K]) * CH + YI[K];
  f(T + (H * 3.0L) / 8.0L, CV{F5I.p}, F2I);

  CH = H / 2197.0L;
  for (int K = 1; K <= NEQN; ++K)
    F5I[K] = ((7296.0L * F2I[K] - 7200.0L * F1I[K]) + 1932.0L * YPI[K]) * CH + YI[K];
  f(T + (H * 12.0L) / 13.0L, CV{F5I.p}, F3I);

  CH = H / 4104.0L;
  for (int K = 1; K <= NEQN; ++K)
    F5I[K] = ((8341.0L * YPI[K] - 845.0L * F3I[K]) + (29440.0L * F2I[K] - 32832.0L * F1I[K])) * CH +
             YI[K];
  f(T + H, CV{F5I.p}, F4I);

  CH = H / 20520.0L;
  for (int K = 1; K <= NEQN; ++K)
    F1I[K] = (((9295.0L * F3I[K] - 5643.0L * F4I[K]) - 6080.0L * YPI[K]) +
              (41040.0L * F1I[K] - 28352.0L * F2I[K])) *
                 CH +
             YI[K];
  f(T + H / 2.0L, CV{F1I.p}, F5I);
}

// The step multiplier of the final combination.
inline REALTYPE FifthOrderMultiplier(REALTYPE H) {
  return H / 7618050.0L;
}

// Component K of the final combination and of the error estimate of a step.
struct SolutionAndError {
  REALTYPE yNew; // the fifth-order solution at T + H
  REALTYPE EE;   // |difference of the fourth- and fifth-order results| * 752400 / |H|
};

// yNew = (((3855735*k4 - 1371249*k5) + 902880*k1) + (3953664*k3 + 277020*k6))*CH + y,
// EE = |((21970*k4 - 15048*k5) - 2090*k1) + (22528*k3 - 27360*k6)|,
// with y = YI[K], k1 = YPI[K], k3..k6 = F2I[K]..F5I[K], CH from
// FifthOrderMultiplier. The two are formed side by side, each vector element
// loaded once and consumed by both sums at once: 80-bit loads are among the
// slowest operations of a step, and few values are live at a time.
inline SolutionAndError FifthOrderAndError(ARRAYTYPE YI, ARRAYTYPE YPI, ARRAYTYPE F2I,
                                           ARRAYTYPE F3I, ARRAYTYPE F4I, ARRAYTYPE F5I, int K,
                                           REALTYPE CH) {
  REALTYPE k = F3I[K];
  REALTYPE sol = 3855735.0L * k, err = 21970.0L * k;
  k = F4I[K];
  sol = sol - 1371249.0L * k;
  err = err - 15048.0L * k;
  k = YPI[K];
  sol = sol + 902880.0L * k;
  err = err - 2090.0L * k;
  k = F2I[K];
  REALTYPE sol2 = 3953664.0L * k, err2 = 22528.0L * k;
  k = F5I[K];
  sol2 = sol2 + 277020.0L * k;
  err2 = err2 - 27360.0L * k;
  return {(sol + sol2) * CH + YI[K], fabsl(err + err2)};
}

// The stepper: one Fehlberg step of length H from (T, YI) with k1 = YPI, and
// exactly five calls of F. The fifth-order solution goes to SI, which may be
// the same storage as F1I; F2I..F5I are left holding k3..k6 for the error
// norm. It decides nothing: no error test, no step choice, no counting.
template <PROCTYPE F>
inline void FEHL(F &f, INT16 NEQN, ARRAYTYPE YI, const REALTYPE &T, REALTYPE H, ARRAYTYPE YPI,
                 ARRAYTYPE F1I, ARRAYTYPE F2I, ARRAYTYPE F3I, ARRAYTYPE F4I, ARRAYTYPE F5I,
                 ARRAYTYPE SI) {
  FehlStages(f, NEQN, YI, T, H, YPI, F1I, F2I, F3I, F4I, F5I);
  // The final combination reads neither F1I nor SI, so SI may alias F1I.
  const REALTYPE CH = FifthOrderMultiplier(H);
  for (int K = 1; K <= NEQN; ++K)
    SI[K] = FifthOrderAndError(YI, YPI, F2I, F3I, F4I, F5I, K, CH).yNew;
}

// A step log as the core tells it: Step(H) after each accepted Fehlberg step
// of length H, in order, the same across the runs of steps that answer a
// return 4; Extrapolated() when Y is moved without a step (T within round-off
// of TOUT). NoStepLog keeps nothing, and the core's arithmetic is the same
// with any log.
struct NoStepLog {
  void Step(REALTYPE) {}
  void Extrapolated() {}
};

// The slots of WORK and IWORKI, as the core sees them.
struct RkfSlots {
  ARRAYTYPE YPI;
  REALTYPE &HI;
  ARRAYTYPE F1I, F2I, F3I, F4I, F5I;
  REALTYPE &SAVEREI, &SAVEAEI;
  INT16 &NFEI, &KOPI, &INITI, &JFLAGI, &KFLAGI;
};

namespace rkf_detail {

// ---- The error norm.

// The final combination of the step FehlStages took, into s.F1I, and the
// error norm: the largest ratio EEOET, over the components, of the error
// estimate EE to the scaled tolerance ET = |y_old| + |y_new| + AE. False at
// the first component whose ET is not positive (ABSERR = 0 and the component
// zero at both ends): the relative test cannot be applied.
//
// With AE > 0 every ET is positive, and one pass forms the solution and the
// norm together, each vector element loaded once. Otherwise the solution is
// completed first and the norm stops at the first ET not positive, forming
// no later ratio. Either way every value is the one FEHL and a separate norm
// form; the running maximum of non-negative ratios does not depend on when
// it is taken.
inline bool FifthOrderAndErrorNorm(INT16 NEQN, ARRAYTYPE Y, const RkfSlots &s, REALTYPE H,
                                   REALTYPE AE, REALTYPE &EEOET) {
  const REALTYPE CH = FifthOrderMultiplier(H);
  REALTYPE largest = 0.0L;
  if (AE > 0.0L) {
    for (int K = 1; K <= NEQN; ++K) {
      const SolutionAndError r = FifthOrderAndError(Y, s.YPI, s.F2I, s.F3I, s.F4I, s.F5I, K, CH);
      const REALTYPE ET = (fabsl(Y[K]) + fabsl(r.yNew)) + AE;
      s.F1I[K] = r.yNew;
      largest = AMAX1(largest, r.EE / ET);
    }
    EEOET = largest;
    return true;
  }
  for (int K = 1; K <= NEQN; ++K)
    s.F1I[K] = FifthOrderAndError(Y, s.YPI, s.F2I, s.F3I, s.F4I, s.F5I, K, CH).yNew;
  for (int K = 1; K <= NEQN; ++K) {
    const REALTYPE ET = (fabsl(Y[K]) + fabsl(s.F1I[K])) + AE;
    if (ET <= 0.0L)
      return false;
    const REALTYPE EE = FifthOrderAndError(Y, s.YPI, s.F2I, s.F3I, s.F4I, s.F5I, K, CH).EE;
    largest = AMAX1(largest, EE / ET);
  }
  EEOET = largest;
  return true;
}

// ESTTOL: the estimated error of the step of length HI over the tolerance
// RELERR * (|y_old| + |y_new|) / 2 + ABSERR, in the worst component. HI *
// EE / ERROR_DENOMINATOR is the difference of the fourth- and fifth-order
// results, and the tolerance is ET / SCALE. At most 1 passes.
inline REALTYPE ErrorRatio(REALTYPE HI, REALTYPE EEOET, REALTYPE SCALE) {
  return ((fabsl(HI) * EEOET) * SCALE) / ERROR_DENOMINATOR;
}

// ---- The step-size controller.

// The first step of an integration over the distance DT: the whole distance,
// cut component by component to the h at which |YPI[K]| * h^5 reaches that
// component's tolerance (each component sees the step the ones before it
// left); zero when every tolerance is zero; and at least 26 units of
// round-off of the larger of |T| and |DT|.
inline REALTYPE StartingStep(INT16 NEQN, ARRAYTYPE Y, ARRAYTYPE YPI, REALTYPE T, REALTYPE DT,
                             REALTYPE RELERR, REALTYPE ABSERR, REALTYPE U26) {
  REALTYPE HI = fabsl(DT);
  REALTYPE TOLN = 0.0L;
  for (int K = 1; K <= NEQN; ++K) {
    const REALTYPE TOL = RELERR * fabsl(Y[K]) + ABSERR;
    if (TOL != 0.0L) {
      TOLN = TOL;
      const REALTYPE YPK = fabsl(YPI[K]);
      if (YPK * HI * HI * HI * HI * HI > TOL)
        HI = FifthRoot(TOL / YPK);
    }
  }
  if (TOLN <= 0.0L)
    HI = 0.0L;
  return AMAX1(HI, U26 * AMAX1(fabsl(T), fabsl(DT)));
}

// Aims the step HI at the output point DT away, looking two steps ahead: a
// step that would pass it becomes the rest of the way (true: this step ends
// there); one that would leave less than another step is halved, so that two
// equal steps reach it (also when the rest equals the step exactly).
inline bool AimAtOutput(REALTYPE DT, REALTYPE &HI) {
  if (fabsl(DT) < fabsl(HI)) {
    HI = DT;
    return true;
  }
  if (fabsl(DT) < 2.0L * fabsl(HI))
    HI = DT / 2.0L;
  return false;
}

// The factor for a rejected step (ESTTOL > 1): the predicted one, but never
// more than tenfold smaller.
inline REALTYPE ShrinkFactor(REALTYPE ESTTOL) {
  REALTYPE S = SHRINK_LIMIT;
  if (ESTTOL < SHRINK_BOUND)
    S = SAFETY / FifthRoot(ESTTOL);
  return S;
}

// The factor for the step after an accepted one (ESTTOL <= 1): the predicted
// one, never more than fivefold, and no growth right after a rejection.
inline REALTYPE GrowthFactor(REALTYPE ESTTOL, bool HFAILD) {
  REALTYPE S = GROWTH_LIMIT;
  if (ESTTOL > GROWTH_BOUND)
    S = SAFETY / FifthRoot(ESTTOL);
  if (HFAILD && S > 1.0L)
    S = 1.0L;
  return S;
}

// The next step: S times the length of HI, not below HMIN, in HI's direction.
inline REALTYPE NextStep(REALTYPE S, REALTYPE HI, REALTYPE HMIN) {
  const bool negative = HI < 0.0L;
  REALTYPE H = AMAX1(S * fabsl(HI), HMIN);
  if (negative)
    H = -H;
  return H;
}

// ---- The protocol.

inline INT16 Magnitude(INT16 v) {
  return static_cast<INT16>(v < 0 ? -v : v);
}

enum class Entry { ReturnNow, NewIntegration, Common };

// Input and continuation checks; on ReturnNow IFLAG holds the status.
inline Entry CheckEntry(INT16 NEQN, const REALTYPE &T, REALTYPE TOUT, REALTYPE RELERR,
                        REALTYPE ABSERR, INT16 &IFLAG, INT16 &MFLAG, RkfSlots &s) {
  MFLAG = Magnitude(IFLAG);
  if (NEQN < 1 || RELERR < 0.0L || ABSERR < 0.0L || MFLAG == 0 || MFLAG > 8) {
    IFLAG = 8;
    return Entry::ReturnNow;
  }
  if (MFLAG == 1) {
    (void)Machine();
    return Entry::NewIntegration;
  }
  if (T == TOUT && s.KFLAGI != 3) {
    IFLAG = 8;
    return Entry::ReturnNow;
  }
  bool resetBudget = false;
  bool restoreMode = false;
  if (MFLAG == 2) {
    if (s.KFLAGI == 3 || s.INITI == 0)
      restoreMode = true;
    else if (s.KFLAGI == 4)
      resetBudget = true;
    else if (s.KFLAGI == 6 && RELERR <= s.SAVEREI && ABSERR <= s.SAVEAEI)
      ProtocolViolation();
  } else if (IFLAG == 3 || (IFLAG == 5 && ABSERR > 0.0L)) {
    restoreMode = true;
  } else if (IFLAG == 4) {
    resetBudget = true;
  } else {
    ProtocolViolation();
  }
  if (resetBudget) {
    s.NFEI = 0;
    restoreMode = MFLAG != 2;
  }
  if (restoreMode) {
    IFLAG = s.JFLAGI;
    if (s.KFLAGI == 3)
      MFLAG = Magnitude(IFLAG);
  }
  return Entry::Common;
}

} // namespace rkf_detail

// The core: integrates from T towards TOUT through the work slots. Flattened
// like FehlStages: the right-hand side evaluation after each accepted step is
// inlined too.
template <PROCTYPE F, class Log = NoStepLog>
[[gnu::flatten]] void RKFS(F &f, INT16 NEQN, ARRAYTYPE Y, REALTYPE &T, REALTYPE TOUT,
                           REALTYPE &RELERR, REALTYPE ABSERR, INT16 &IFLAG, RkfSlots &s,
                           REALTYPE REMINV, Log &&log = Log{}) {
  using namespace rkf_detail;
  using CV = View1<const REALTYPE>;
  INT16 MFLAG = 0;
  const Entry entry = CheckEntry(NEQN, T, TOUT, RELERR, ABSERR, IFLAG, MFLAG, s);
  if (entry == Entry::ReturnNow)
    return;
  const REALTYPE U26 = Machine().U26;

  s.JFLAGI = IFLAG;
  s.KFLAGI = 0;
  s.SAVEREI = RELERR;
  s.SAVEAEI = ABSERR;
  const REALTYPE RER = LeastRelerr(REMINV);
  if (RELERR < RER) {
    RELERR = RER;
    IFLAG = 3;
    s.KFLAGI = 3;
    return;
  }
  const REALTYPE DT = TOUT - T;
  REALTYPE A;

  bool estimateStart = false;
  if (MFLAG == 1) {
    s.INITI = 0;
    s.KOPI = 0;
    A = T;
    f(A, CV{Y.p}, s.YPI);
    s.NFEI = 1;
    if (T == TOUT) {
      IFLAG = 2;
      return;
    }
    estimateStart = true;
  } else if (s.INITI == 0) {
    estimateStart = true;
  }

  if (estimateStart) {
    s.INITI = 1;
    s.HI = StartingStep(NEQN, Y, s.YPI, T, DT, RELERR, ABSERR, U26);
    s.JFLAGI = IFLAG < 0 ? -2 : 2;
  }

  // Direction and crowding of output points.
  s.HI = DT > 0.0L ? fabsl(s.HI) : -fabsl(s.HI);
  if (fabsl(s.HI) >= 2.0L * fabsl(DT)) {
    s.KOPI = static_cast<INT16>(s.KOPI + 1);
    if (s.KOPI >= MAXKOP) {
      s.KOPI = 0;
      IFLAG = 7;
      return;
    }
  }
  if (fabsl(DT) <= U26 * fabsl(T)) {
    // TOUT within round-off of T: extrapolate.
    log.Extrapolated();
    for (int K = 1; K <= NEQN; ++K)
      Y[K] = DT * s.YPI[K] + Y[K];
    A = TOUT;
    f(A, CV{Y.p}, s.YPI);
    s.NFEI = static_cast<INT16>(s.NFEI + 1);
    T = TOUT;
    IFLAG = 2;
    return;
  }
  bool OUTPUT = false;
  // The error test works with tolerances scaled by SCALE and never forms
  // RELERR * |y|.
  const REALTYPE SCALE = 2.0L / RELERR;
  const REALTYPE AE = SCALE * ABSERR;

  for (;;) { // one step
    bool HFAILD = false;
    const REALTYPE HMIN = U26 * fabsl(T);
    if (AimAtOutput(TOUT - T, s.HI))
      OUTPUT = true;
    REALTYPE ESTTOL;
    for (;;) { // one attempt
      if (s.NFEI > MAXNFE) {
        IFLAG = 4;
        s.KFLAGI = 4;
        return;
      }
      // FEHL with F1I as the solution, its final combination merged with the
      // error norm.
      FehlStages(f, NEQN, Y, T, s.HI, s.YPI, s.F1I, s.F2I, s.F3I, s.F4I, s.F5I);
      s.NFEI = static_cast<INT16>(s.NFEI + 5);
      REALTYPE EEOET;
      if (!FifthOrderAndErrorNorm(NEQN, Y, s, s.HI, AE, EEOET)) {
        IFLAG = 5;
        return;
      }
      ESTTOL = ErrorRatio(s.HI, EEOET, SCALE);
      if (ESTTOL <= 1.0L)
        break;
      // Rejected: the output-point aim is not repeated for the shorter step.
      HFAILD = true;
      OUTPUT = false;
      s.HI = ShrinkFactor(ESTTOL) * s.HI;
      if (!(fabsl(s.HI) > HMIN)) {
        IFLAG = 6;
        s.KFLAGI = 6;
        return;
      }
    }
    // Accepted: go on from the fifth-order solution.
    log.Step(s.HI);
    T = T + s.HI;
    for (int K = 1; K <= NEQN; ++K)
      CopyReal(Y[K], s.F1I[K]);
    A = T;
    f(A, CV{Y.p}, s.YPI);
    s.NFEI = static_cast<INT16>(s.NFEI + 1);
    s.HI = NextStep(GrowthFactor(ESTTOL, HFAILD), s.HI, HMIN);
    if (OUTPUT) {
      T = TOUT;
      IFLAG = 2;
      return;
    }
    if (IFLAG <= 0) {
      IFLAG = -2;
      return;
    }
  }
}

// Integrates the NEQN equations F from T towards TOUT under the IFLAG protocol
// above. WORK holds 6*NEQN + 3 reals and IWORKI 5 integers, both owned by the
// caller; the partition is computed in 16-bit arithmetic. REMINV is the
// floor of RELERR above the arithmetic's own limit: REMIN unless the caller
// knows its reals resolve more. `log` hears of every accepted step.
template <PROCTYPE F, class Log = NoStepLog>
void RKF45(F &f, INT16 NEQN, ARRAYTYPE Y, REALTYPE &T, REALTYPE TOUT, REALTYPE &RELERR,
           REALTYPE ABSERR, INT16 &IFLAG, ARRAYTYPE WORK, View1<INT16> IWORKI,
           REALTYPE REMINV = rkf_detail::REMIN, Log &&log = Log{}) {
  const INT16 K1M = Add16(NEQN, 1);
  const INT16 K1 = Add16(K1M, 1);
  const INT16 K2 = Add16(K1, NEQN);
  const INT16 K3 = Add16(K2, NEQN);
  const INT16 K4 = Add16(K3, NEQN);
  const INT16 K5 = Add16(K4, NEQN);
  const INT16 K6 = Add16(K5, NEQN);
  if (K6 + 1 > ARRAYSIZE || (NEQN > 0 && K1 + NEQN - 1 > ARRAYSIZE))
    RangeFault();
  RkfSlots s{ARRAYTYPE{&WORK[1]},
             WORK[K1M],
             ARRAYTYPE{&WORK[K1]},
             ARRAYTYPE{&WORK[K2]},
             ARRAYTYPE{&WORK[K3]},
             ARRAYTYPE{&WORK[K4]},
             ARRAYTYPE{&WORK[K5]},
             WORK[K6],
             WORK[K6 + 1],
             IWORKI[1],
             IWORKI[2],
             IWORKI[3],
             IWORKI[4],
             IWORKI[5]};
  RKFS(f, NEQN, Y, T, TOUT, RELERR, ABSERR, IFLAG, s, REMINV, log);
}

} // namespace zanfel
