// The program-wide variables that a model, the shooting layer and the driver
// share: one object per program, passed by reference.
#pragma once

#include "runtime/types.hpp"

namespace zanfel {

template <int N_, int NOUT_> struct ModelGlobals {
  static constexpr int N = N_;
  static constexpr int NOUT = NOUT_;

  GLNARRAY<N> X;        // the shooting unknowns, iterated in place by MNEWT
  GLNARRAY1<NOUT> YOUT; // residuals and end values of the latest trajectory
  REAL H = 0.0L;        // the scale of the equations
  REAL P = 0.0L;        // the swept parameter
  INT16 K1 = 0;         // mode switch
  INT16 ITER = 0;       // written only by MNEWT
  REAL PR = 0.0L, PD = 0.0L, ALF1 = 0.0L, GAM1 = 0.0L;
  Array1<REAL, 1, 9> XS; // fixed start values X1..X9 of family C
};

} // namespace zanfel
