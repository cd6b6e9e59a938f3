// 16-bit integer arithmetic with the overflow and range checks of the frame.
#pragma once

#include <cmath>

#include "runtime/types.hpp"

namespace zanfel {

inline INT16 Checked16(long v) {
  if (v < -32768 || v > 32767) [[unlikely]]
    IntegerOverflow();
  return static_cast<INT16>(v);
}
inline INT16 Add16(INT16 a, INT16 b) {
  return Checked16(long(a) + long(b));
}
inline INT16 Sub16(INT16 a, INT16 b) {
  return Checked16(long(a) - long(b));
}
inline INT16 Mul16(INT16 a, INT16 b) {
  return Checked16(long(a) * long(b));
}

// Nearest integer, ties to even, in 80-bit arithmetic; the result must fit 16
// bits or the program ends with the range fault.
inline INT16 Round16(REAL v) {
  if (!(v >= -32768.5L && v <= 32767.5L)) [[unlikely]]
    RangeFault();
  REAL r = std::nearbyintl(v); // current rounding mode: to nearest, ties to even
  if (r < -32768.0L || r > 32767.0L) [[unlikely]]
    RangeFault();
  return static_cast<INT16>(r);
}

} // namespace zanfel
