// The state of each program before its first solve, for the tests and the
// benchmark that start a model where its program would.
#pragma once

#include "continuation/settings.hpp"

namespace zanfel {

// The state of a program before its first solve, as its driver leaves it: the
// parameters and the first start point, H at its initial zero.
inline void LoadFirstStart(FamilyA<4>::Globals &g, const ShootA1Settings &s) {
  g.par = s.par;
  LoadStartA1Mode1(g, s);
}
inline void LoadFirstStart(FamilyA<5>::Globals &g, const ShootA2Settings &s) {
  g.par = s.par;
  LoadStart(g, s.start);
}
template <class Model>
void LoadFirstStart(typename Model::Globals &g, const OnePassSettings<Model> &s) {
  g.par = s.par;
  LoadStart(g, s.start);
}

} // namespace zanfel
