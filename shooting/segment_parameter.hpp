// The segmented equations with the swept parameter P as one more unknown:
// the column of their negated Jacobian for P, from the M segments run again
// with P raised, each from its own start as the base ran it.
#pragma once

#include "shooting/segments.hpp"

namespace zanfel {

// The column for P of the negated Jacobian of the segmented residuals BETA
// at Z and g.P (rows 1..ms.Order()): every row sees P, the jumps through the
// segments' integration and the model's residuals through OUTVAL too. The
// step of P is that of a segmented unknown, for the same reason. The base's
// end values in ms.YOUT are left as they were. An invalid call stops it.
template <ShootingModel Model>
UsrfunResult
SegmentedParameterColumn(SegmentedShooting<Model> &ms, const typename Model::Globals &g,
                         const GLNARRAY<SegmentedShooting<Model>::NZ> &Z,
                         const GLNARRAY<SegmentedShooting<Model>::NZ> &BETA,
                         GLNARRAY<SegmentedShooting<Model>::NZ> &column, SegmentEnds &ends) {
  using MS = SegmentedShooting<Model>;
  const int n = ms.Order();
  typename Model::Globals raised = g;
  raised.P = g.P + SegmentDifferenceStep(g.P, g.solve.RELERR);
  const REAL PDLT = raised.P - g.P; // the step actually taken
  LoadBase(ms, raised, Z);
  const UsrfunResult result = RunPieces(ms, 0, ms.cuts.M, ends);
  if (result.invalidCall)
    return result;
  const GLNARRAY1<Model::NOUT> baseYOUT = ms.YOUT;
  GLNARRAY<MS::NZ> F;
  SegmentResiduals(ms, raised, Z, F);
  ms.YOUT = baseYOUT;
  for (int I = 1; I <= n; ++I)
    column[I] = -(F[I] - BETA[I]) / PDLT;
  return result;
}

} // namespace zanfel
