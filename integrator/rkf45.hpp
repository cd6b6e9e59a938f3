// Adaptive Runge-Kutta-Fehlberg 4(5) integration with relative and absolute
// error control and the two-way status flag IFLAG.
//
// The right-hand side F is a template parameter so that the innermost loop
// calls it directly; it is called as F(T, YI, YPI) with 1-based views of the
// state and the derivative vectors.
#pragma once

#include <cmath>

#include "runtime/fault.hpp"
#include "runtime/types.hpp"

namespace zanfel {

using REALTYPE = REAL;
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

constexpr REALTYPE REMIN = 1.0E-12L;
constexpr INT16 MAXNFE = 3000;

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

inline REALTYPE FifthRoot(REALTYPE x) {
  return expl(0.2L * logl(x));
}

// The protocol violations end the whole program silently.
[[noreturn]] inline void ProtocolViolation() {
  FatalEnd(0);
}

inline INT16 Sum16(int a, int b) {
  int s = a + b;
  if (s < -32768 || s > 32767)
    IntegerOverflow();
  return static_cast<INT16>(s);
}

} // namespace rkf_detail

// One Fehlberg step of length H from (T, YI) with k1 = YPI. The fifth-order
// solution goes to SI, which may be the same storage as F1I.
template <class F>
inline void FEHL(F &f, INT16 NEQN, ARRAYTYPE YI, const REALTYPE &T, REALTYPE H, ARRAYTYPE YPI,
                 ARRAYTYPE F1I, ARRAYTYPE F2I, ARRAYTYPE F3I, ARRAYTYPE F4I, ARRAYTYPE F5I,
                 ARRAYTYPE SI) {
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

  // The final combination reads neither F1I nor SI, so SI may alias F1I.
  CH = H / 7618050.0L;
  for (int K = 1; K <= NEQN; ++K)
    SI[K] = (((3855735.0L * F3I[K] - 1371249.0L * F4I[K]) + 902880.0L * YPI[K]) +
             (3953664.0L * F2I[K] + 277020.0L * F5I[K])) *
                CH +
            YI[K];
}

// The slots of WORK and IWORKI, as the core sees them.
struct RkfSlots {
  ARRAYTYPE YPI;
  REALTYPE &HI;
  ARRAYTYPE F1I, F2I, F3I, F4I, F5I;
  REALTYPE &SAVEREI, &SAVEAEI;
  INT16 &NFEI, &KOPI, &INITI, &JFLAGI, &KFLAGI;
};

namespace rkf_detail {

enum class Entry { ReturnNow, NewIntegration, Common };

// Input and continuation checks; on ReturnNow IFLAG holds the status.
inline Entry CheckEntry(INT16 NEQN, const REALTYPE &T, REALTYPE TOUT, REALTYPE RELERR,
                        REALTYPE ABSERR, INT16 &IFLAG, INT16 &MFLAG, RkfSlots &s) {
  MFLAG = static_cast<INT16>(IFLAG < 0 ? -IFLAG : IFLAG);
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
      MFLAG = static_cast<INT16>(IFLAG < 0 ? -IFLAG : IFLAG);
  }
  return Entry::Common;
}

} // namespace rkf_detail

// The core: integrates from T towards TOUT through the work slots.
template <class F>
void RKFS(F &f, INT16 NEQN, ARRAYTYPE Y, REALTYPE &T, REALTYPE TOUT, REALTYPE &RELERR,
          REALTYPE ABSERR, INT16 &IFLAG, RkfSlots &s) {
  using namespace rkf_detail;
  using CV = View1<const REALTYPE>;
  INT16 MFLAG = 0;
  const Entry entry = CheckEntry(NEQN, T, TOUT, RELERR, ABSERR, IFLAG, MFLAG, s);
  if (entry == Entry::ReturnNow)
    return;
  const REALTYPE EPS = Machine().EPS;
  const REALTYPE U26 = Machine().U26;

  s.JFLAGI = IFLAG;
  s.KFLAGI = 0;
  s.SAVEREI = RELERR;
  s.SAVEAEI = ABSERR;
  const REALTYPE RER = EPS * 2.0L + REMIN;
  if (RELERR < RER) {
    RELERR = RER;
    IFLAG = 3;
    s.KFLAGI = 3;
    return;
  }
  REALTYPE DT = TOUT - T;
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
    s.HI = fabsl(DT);
    REALTYPE TOLN = 0.0L;
    for (int K = 1; K <= NEQN; ++K) {
      const REALTYPE TOL = RELERR * fabsl(Y[K]) + ABSERR;
      if (TOL != 0.0L) {
        TOLN = TOL;
        const REALTYPE YPK = fabsl(s.YPI[K]);
        if (YPK * s.HI * s.HI * s.HI * s.HI * s.HI > TOL)
          s.HI = FifthRoot(TOL / YPK);
      }
    }
    if (TOLN <= 0.0L)
      s.HI = 0.0L;
    s.HI = AMAX1(s.HI, U26 * AMAX1(fabsl(T), fabsl(DT)));
    s.JFLAGI = IFLAG < 0 ? -2 : 2;
  }

  // Direction and crowding of output points.
  s.HI = DT > 0.0L ? fabsl(s.HI) : -fabsl(s.HI);
  if (fabsl(s.HI) >= 2.0L * fabsl(DT)) {
    s.KOPI = static_cast<INT16>(s.KOPI + 1);
    if (s.KOPI >= 100) {
      s.KOPI = 0;
      IFLAG = 7;
      return;
    }
  }
  if (fabsl(DT) <= U26 * fabsl(T)) {
    // TOUT within round-off of T: extrapolate.
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
  const REALTYPE SCALE = 2.0L / RELERR;
  const REALTYPE AE = SCALE * ABSERR;

  for (;;) { // one step
    bool HFAILD = false;
    const REALTYPE HMIN = U26 * fabsl(T);
    DT = TOUT - T;
    if (fabsl(DT) < fabsl(s.HI)) {
      s.HI = DT;
      OUTPUT = true;
    } else if (fabsl(DT) < 2.0L * fabsl(s.HI)) {
      s.HI = DT / 2.0L;
    }
    REALTYPE ESTTOL;
    for (;;) { // one attempt
      if (s.NFEI > MAXNFE) {
        IFLAG = 4;
        s.KFLAGI = 4;
        return;
      }
      FEHL(f, NEQN, Y, T, s.HI, s.YPI, s.F1I, s.F2I, s.F3I, s.F4I, s.F5I, s.F1I);
      s.NFEI = static_cast<INT16>(s.NFEI + 5);
      REALTYPE EEOET = 0.0L;
      for (int K = 1; K <= NEQN; ++K) {
        const REALTYPE ET = (fabsl(Y[K]) + fabsl(s.F1I[K])) + AE;
        if (ET <= 0.0L) {
          IFLAG = 5;
          return;
        }
        const REALTYPE EE =
            fabsl(((21970.0L * s.F3I[K] - 15048.0L * s.F4I[K]) - 2090.0L * s.YPI[K]) +
                  (22528.0L * s.F2I[K] - 27360.0L * s.F5I[K]));
        EEOET = AMAX1(EEOET, EE / ET);
      }
      ESTTOL = ((fabsl(s.HI) * EEOET) * SCALE) / 752400.0L;
      if (ESTTOL <= 1.0L)
        break;
      // Rejected: shrink by the predicted factor, at most tenfold.
      HFAILD = true;
      OUTPUT = false;
      REALTYPE S = 0.1L;
      if (ESTTOL < 59049.0L)
        S = 0.9L / FifthRoot(ESTTOL);
      s.HI = S * s.HI;
      if (!(fabsl(s.HI) > HMIN)) {
        IFLAG = 6;
        s.KFLAGI = 6;
        return;
      }
    }
    // Accepted.
    T = T + s.HI;
    for (int K = 1; K <= NEQN; ++K)
      Y[K] = s.F1I[K];
    A = T;
    f(A, CV{Y.p}, s.YPI);
    s.NFEI = static_cast<INT16>(s.NFEI + 1);
    REALTYPE S = 5.0L;
    if (ESTTOL > 1.889568E-4L)
      S = 0.9L / FifthRoot(ESTTOL);
    if (HFAILD && S > 1.0L)
      S = 1.0L;
    const bool negative = s.HI < 0.0L;
    s.HI = AMAX1(S * fabsl(s.HI), HMIN);
    if (negative)
      s.HI = -s.HI;
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

// Integrates the NEQN equations F from T towards TOUT. WORK holds 6*NEQN + 3
// reals and IWORKI 5 integers, both owned by the caller.
template <class F>
void RKF45(F &f, INT16 NEQN, ARRAYTYPE Y, REALTYPE &T, REALTYPE TOUT, REALTYPE &RELERR,
           REALTYPE ABSERR, INT16 &IFLAG, ARRAYTYPE WORK, View1<INT16> IWORKI) {
  using rkf_detail::Sum16;
  // The partition of WORK, in 16-bit arithmetic.
  const INT16 K1M = Sum16(NEQN, 1);
  const INT16 K1 = Sum16(K1M, 1);
  const INT16 K2 = Sum16(K1, NEQN);
  const INT16 K3 = Sum16(K2, NEQN);
  const INT16 K4 = Sum16(K3, NEQN);
  const INT16 K5 = Sum16(K4, NEQN);
  const INT16 K6 = Sum16(K5, NEQN);
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
  RKFS(f, NEQN, Y, T, TOUT, RELERR, ABSERR, IFLAG, s);
}

} // namespace zanfel
