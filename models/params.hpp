// The parameters of each model family: set by the driver before a sweep,
// read by the model's hooks, never written by them.
#pragma once

#include "runtime/types.hpp"

namespace zanfel {

struct ParamsA {
  INT16 K1 = 0; // 1: H = P prescribed; 2: y3(0) = P prescribed, H = X[1]
  REAL PR = 0.0L, PD = 0.0L, ALF1 = 0.0L, GAM1 = 0.0L;
};

struct ParamsB {
  REAL PR = 0.0L, PD = 0.0L, GAM1 = 0.0L;
};

struct ParamsC {
  REAL PR = 0.0L, PD = 0.0L, GAM1 = 0.0L;
  Array1<REAL, 1, 9> XS; // the fixed base solution's start values X1..X9
};

} // namespace zanfel
