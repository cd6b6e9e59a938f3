// The residuals of a shooting model at its program-wide unknowns, for tests
// that watch a solve converge without taking part in it.
#pragma once

#include "shooting/shooting.hpp"

namespace zanfel {

// BETA at g.X; g.X is left as it was (a USRFUN call lowers the unknowns it
// raised by subtraction, which keeps the round-off).
template <ShootingModel Model>
void ResidualsAt(typename Model::Globals &g, GLNARRAY<Model::N> &BETA) {
  const GLNARRAY<Model::N> unknowns = g.X;
  GLNBYN<Model::N> ALPHA;
  USRFUN<Model>(g, INT16(Model::N), ALPHA, BETA);
  g.X = unknowns;
}

} // namespace zanfel
