// Multiple shooting: the block Jacobian against the whole residual vector
// differenced column by column, continuity at the nodes of a solve, the node
// states a solve carries to the next, and the options that cut [0, 1].
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

#include "continuation/engine.hpp"
#include "continuation/own_problem.hpp"
#include "support/quiet_observer.hpp"

#include "examples/troesch/troesch.hpp"

namespace zanfel {
namespace {

using Shot = ScaleIsP<Troesch>;
using MS = SegmentedShooting<Shot>;

std::unique_ptr<MS> Segmented(const SegmentCuts &cuts) { return std::make_unique<MS>(cuts); }

Shot::Globals TroeschAt(REAL mu, REAL s) {
  Shot::Globals g;
  g.P = mu;
  g.H = mu;
  g.X[1] = s;
  g.solve.ABSERR = 1.0E-30L;
  g.solve.RELERR = 1.0E-11L;
  return g;
}

// Every column of the block Jacobian is the difference of the whole
// residual vector, all M segments integrated again at Z with one unknown
// raised: the same numbers to the bit, zeros included.
TEST(SegmentsTest, BlockJacobianIsTheWholeDifferenceColumnByColumn) {
  for (const int M : {2, 3, 5}) {
    auto ms = Segmented(EqualSegments(M));
    Shot::Globals g = TroeschAt(3.0L, 0.3L);
    ms->Z[1] = 0.3L;
    StartNodes(*ms, g);
    for (int J = 2; J <= ms->Order(); ++J) // off the solution, so no row is 0 by luck
      ms->Z[J] = ms->Z[J] * 1.01L + 1.0E-3L;
    GLNBYN<MS::NZ> ALPHA;
    GLNARRAY<MS::NZ> BETA, B0, BJ;
    SegmentEnds ends;
    ASSERT_FALSE(SegmentedUSRFUN(*ms, g, ms->Z, ALPHA, BETA, ends).invalidCall);
    const GLNARRAY<MS::NZ> Z = ms->Z;
    SegmentBase(*ms, g, Z, B0, ends);
    for (int J = 1; J <= ms->Order(); ++J) {
      GLNARRAY<MS::NZ> ZJ = Z;
      const REAL d = SegmentDifferenceStep(Z[J], g.solve.RELERR);
      ZJ[J] = Z[J] + d;
      SegmentBase(*ms, g, ZJ, BJ, ends);
      for (int I = 1; I <= ms->Order(); ++I) {
        const REAL whole = -(BJ[I] - B0[I]) / d;
        EXPECT_TRUE(SameBits(ALPHA(I, J), whole) || (ALPHA(I, J) == 0.0L && whole == 0.0L))
            << "M = " << M << ", row " << I << ", column " << J << ": " << double(ALPHA(I, J))
            << " against " << double(whole);
      }
    }
  }
}

} // namespace
} // namespace zanfel
