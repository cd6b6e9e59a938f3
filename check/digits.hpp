// How many significant digits two values share, as a check counts them.
#pragma once

#include "shooting/real_math.hpp"

namespace zanfel {

// The digits a check with this relative tolerance can vouch for: one fewer
// than the tolerance itself, for the errors its steps add up to. (A power of
// ten formed by division may be a rounding below the literal: the slack
// lets 1e-14 count as 14 digits.)
template <class R> int CapacityOf(R RELERR) {
  int digits = 0;
  for (R bound = R(1); bound / R(10) >= RELERR * R(1 - 1e-9L); bound /= R(10))
    ++digits;
  return digits > 1 ? digits - 1 : 0;
}

// The significant digits `value` has right if `check` is within
// 10^-(capacity+1) of the truth (its tolerance): d with |value - check| /
// |check| + 10^-(capacity+1) <= 10^-d, so that the check's own error cannot
// lift the count; between 0 and capacity. A zero check is matched only by
// zero.
template <class R> int SharedDigits(R value, R check, int capacity) {
  if (value == check)
    return capacity;
  if (check == R(0))
    return 0;
  R bound = Abs(value - check) / Abs(check);
  R limit = R(1);
  for (int d = 0; d <= capacity; ++d)
    limit /= R(10);
  bound += limit;
  int digits = 0;
  for (R power = R(1) / R(10); digits < capacity && bound <= power; power /= R(10))
    ++digits;
  return digits;
}

} // namespace zanfel
