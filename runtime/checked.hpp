// 16-bit integer arithmetic with the overflow and range checks of the frame.
#pragma once

#include <cmath>
#include <limits>

#include "runtime/types.hpp"

namespace zanfel {

constexpr long kMin16 = std::numeric_limits<INT16>::min();
constexpr long kMax16 = std::numeric_limits<INT16>::max();

inline INT16 Checked16(long v) {
  if (v < kMin16 || v > kMax16) [[unlikely]]
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
  if (!(v >= kMin16 - 0.5L && v <= kMax16 + 0.5L)) [[unlikely]]
    RangeFault();
  REAL r = std::nearbyintl(v); // current rounding mode: to nearest, ties to even
  if (r < kMin16 || r > kMax16) [[unlikely]]
    RangeFault();
  return static_cast<INT16>(r);
}

} // namespace zanfel
