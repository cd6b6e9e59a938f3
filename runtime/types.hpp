// The system's scalar and array types: 80-bit reals, 16-bit integers and
// 1-based arrays whose every index is checked.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/fault.hpp"

namespace zanfel {

using REAL = long double;
static_assert(std::numeric_limits<REAL>::digits == 64, "REAL must be the 80-bit extended type");
static_assert(std::numeric_limits<REAL>::radix == 2);

using INT16 = std::int16_t;

// Array indexed LO..HI; an index outside ends the program with the range fault.
template <class T, int LO, int HI> struct Array1 {
  static_assert(HI >= LO);
  static constexpr int size = HI - LO + 1;
  T a[size]{};

  T &operator[](int i) {
    if (i < LO || i > HI) [[unlikely]]
      RangeFault();
    return a[i - LO];
  }
  const T &operator[](int i) const {
    if (i < LO || i > HI) [[unlikely]]
      RangeFault();
    return a[i - LO];
  }
  T *data() { return a; }
  const T *data() const { return a; }
  friend bool operator==(const Array1 &, const Array1 &) = default;
};

// Square matrix indexed 1..N in both dimensions.
template <int N> struct Matrix1 {
  REAL a[N][N]{};
  REAL &operator()(int i, int j) {
    if (i < 1 || i > N || j < 1 || j > N) [[unlikely]]
      RangeFault();
    return a[i - 1][j - 1];
  }
  const REAL &operator()(int i, int j) const {
    if (i < 1 || i > N || j < 1 || j > N) [[unlikely]]
      RangeFault();
    return a[i - 1][j - 1];
  }
  friend bool operator==(const Matrix1 &, const Matrix1 &) = default;
};

template <int N> using GLNARRAY = Array1<REAL, 1, N>;
template <int N> using GLNBYN = Matrix1<N>;
template <int N> using GLINDX = Array1<INT16, 1, N>;
template <int HI> using GLNARRAY1 = Array1<REAL, 1, HI>;

// 1-based view of caller storage: element k of the vector is p[k - 1]. The
// integrator and the models see state and derivative vectors through it.
template <class T> struct View1 {
  T *p;
  T &operator[](int k) const { return p[k - 1]; }
};

// A 1-based view through which alone its elements are reached while it is in
// use: a right-hand side's state and derivative vectors never overlap each
// other or the program-wide variables. Saying so lets the compiler keep a
// loaded element in a register across the stores to the other vector instead
// of loading it again.
template <class T> struct SoleView1 {
  T *__restrict p;
  T &operator[](int k) const { return p[k - 1]; }
};

// dst := src for an 80-bit real, moved as bytes: the same bits as a load and
// store through the floating-point unit, without that unit's slow 80-bit
// memory operations.
inline void CopyReal(REAL &dst, const REAL &src) {
  std::memcpy(&dst, &src, sizeof(REAL));
}

// Whether two reals have the same 80 bits: the value without the padding of
// its storage (unlike ==, tells -0 from 0 and compares NaNs).
inline bool SameBits(REAL a, REAL b) {
  return std::memcmp(&a, &b, 10) == 0;
}
template <int HI> bool SameBits(const Array1<REAL, 1, HI> &a, const Array1<REAL, 1, HI> &b) {
  for (int i = 1; i <= HI; ++i)
    if (!SameBits(a[i], b[i]))
      return false;
  return true;
}

} // namespace zanfel
