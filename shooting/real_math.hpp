// The reals a model may be written over, and their functions under one set
// of names: REAL (80-bit, every run's arithmetic) and WIDE (binary128, the
// type of an accuracy check beyond what 80 bits hold). A model whose hooks
// are templates over the real type writes Exp(y[1]) instead of expl(y[1]);
// for REAL each name is exactly the long double function, so such a model's
// run is the same bits as one written with expl.
#pragma once

#include <cmath>
#include <limits>
#include <quadmath.h>

#include "runtime/types.hpp"

namespace zanfel {

using WIDE = __float128;

inline REAL Abs(REAL x) {
  return fabsl(x);
}
inline REAL Sqrt(REAL x) {
  return sqrtl(x);
}
inline REAL Exp(REAL x) {
  return expl(x);
}
inline REAL Log(REAL x) {
  return logl(x);
}
inline REAL Log10(REAL x) {
  return log10l(x);
}
inline REAL Pow(REAL x, REAL y) {
  return powl(x, y);
}
inline REAL Sin(REAL x) {
  return sinl(x);
}
inline REAL Cos(REAL x) {
  return cosl(x);
}
inline REAL Sinh(REAL x) {
  return sinhl(x);
}
inline REAL Cosh(REAL x) {
  return coshl(x);
}
inline REAL Tanh(REAL x) {
  return tanhl(x);
}
inline REAL Atan(REAL x) {
  return atanl(x);
}

inline WIDE Abs(WIDE x) {
  return fabsq(x);
}
inline WIDE Sqrt(WIDE x) {
  return sqrtq(x);
}
inline WIDE Exp(WIDE x) {
  return expq(x);
}
inline WIDE Log(WIDE x) {
  return logq(x);
}
inline WIDE Log10(WIDE x) {
  return log10q(x);
}
inline WIDE Pow(WIDE x, WIDE y) {
  return powq(x, y);
}
inline WIDE Sin(WIDE x) {
  return sinq(x);
}
inline WIDE Cos(WIDE x) {
  return cosq(x);
}
inline WIDE Sinh(WIDE x) {
  return sinhq(x);
}
inline WIDE Cosh(WIDE x) {
  return coshq(x);
}
inline WIDE Tanh(WIDE x) {
  return tanhq(x);
}
inline WIDE Atan(WIDE x) {
  return atanq(x);
}

// The unit round-off's neighbour: the distance from 1 to the next real.
template <class R> constexpr R Epsilon();
template <> constexpr REAL Epsilon<REAL>() {
  return std::numeric_limits<REAL>::epsilon();
}
template <> constexpr WIDE Epsilon<WIDE>() {
  return WIDE(0x1p-112L);
}

} // namespace zanfel
