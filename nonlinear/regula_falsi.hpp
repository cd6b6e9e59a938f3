// A bracket [lo, hi] round a sign change of a function f, narrowed by
// regula falsi in the Illinois variant: the end that stays twice in a row
// has its value halved, so the bracket closes from both sides.
#pragma once

#include <cmath>

#include "runtime/types.hpp"

namespace zanfel {

struct FalsiBracket {
  REAL lo, hi, fLo, fHi;
  int side = 0; // which end moved last: -1 lo, 1 hi

  // Where the chord of the bracket's ends crosses zero.
  REAL Next() const { return (lo * fHi - hi * fLo) / (fHi - fLo); }

  // f(x) = fx: x becomes the end whose value has fx's sign.
  void Take(REAL x, REAL fx) {
    if (std::signbit(fx) == std::signbit(fLo)) {
      lo = x;
      fLo = fx;
      if (side == -1)
        fHi = fHi / 2.0L;
      side = -1;
    } else {
      hi = x;
      fHi = fx;
      if (side == 1)
        fLo = fLo / 2.0L;
      side = 1;
    }
  }
};

} // namespace zanfel
