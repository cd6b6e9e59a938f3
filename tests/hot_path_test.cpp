// The hot path is written for speed (the final combination merged with the
// error norm, the right-hand sides reordered, copies moved as bytes); these
// tests hold it to the bits of the plain forms: the formulas written out one
// by one in the order of their definition, on random states.
#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

#include "continuation/settings.hpp"
#include "integrator/rkf45.hpp"

namespace zanfel {
namespace {

template <size_t N>
void ExpectSameBits(const std::array<REAL, N> &a, const std::array<REAL, N> &b) {
  for (size_t k = 0; k < N; ++k)
    EXPECT_TRUE(SameBits(a[k], b[k])) << "component " << k + 1;
}

std::mt19937_64 rng(20261207);
REAL Random(REAL scale) {
  return std::uniform_real_distribution<double>(-1.0, 1.0)(rng) * scale / 3.0L;
}

template <size_t N> std::array<REAL, N> RandomState(REAL scale) {
  std::array<REAL, N> v;
  for (REAL &x : v)
    x = Random(scale);
  return v;
}

// ------------------------------------------------- final combination ----

constexpr int NE = 7;
using Vec = std::array<REAL, NE>;

struct Step {
  Vec y, k1, f1, k3, k4, k5, k6;
  REAL h;
};

Step RandomStep() {
  return {RandomState<NE>(3), RandomState<NE>(5), RandomState<NE>(5), RandomState<NE>(5),
          RandomState<NE>(5), RandomState<NE>(5), RandomState<NE>(5), Random(0.3L)};
}

// The fifth-order solution and the error norm as two loops over the plain
// formulas; false as soon as a scaled tolerance is not positive.
bool PlainSolutionAndNorm(const Step &s, REAL AE, Vec &yNew, REAL &EEOET) {
  const REAL CH = s.h / 7618050.0L;
  for (int k = 0; k < NE; ++k)
    yNew[k] = (((3855735.0L * s.k4[k] - 1371249.0L * s.k5[k]) + 902880.0L * s.k1[k]) +
               (3953664.0L * s.k3[k] + 277020.0L * s.k6[k])) *
                  CH +
              s.y[k];
  EEOET = 0.0L;
  for (int k = 0; k < NE; ++k) {
    const REAL ET = (fabsl(s.y[k]) + fabsl(yNew[k])) + AE;
    if (ET <= 0.0L)
      return false;
    const REAL EE = fabsl(((21970.0L * s.k4[k] - 15048.0L * s.k5[k]) - 2090.0L * s.k1[k]) +
                          (22528.0L * s.k3[k] - 27360.0L * s.k6[k]));
    EEOET = AMAX1(EEOET, EE / ET);
  }
  return true;
}

bool MergedSolutionAndNorm(Step s, REAL AE, Vec &yNew, REAL &EEOET) {
  REAL HI = s.h, SAVEREI = 0, SAVEAEI = 0;
  INT16 i[5] = {};
  RkfSlots slots{ARRAYTYPE{s.k1.data()},
                 HI,
                 ARRAYTYPE{s.f1.data()},
                 ARRAYTYPE{s.k3.data()},
                 ARRAYTYPE{s.k4.data()},
                 ARRAYTYPE{s.k5.data()},
                 ARRAYTYPE{s.k6.data()},
                 SAVEREI,
                 SAVEAEI,
                 i[0],
                 i[1],
                 i[2],
                 i[3],
                 i[4]};
  EEOET = -1.0L;
  const bool ok =
      rkf_detail::FifthOrderAndErrorNorm(INT16(NE), ARRAYTYPE{s.y.data()}, slots, s.h, AE, EEOET);
  yNew = s.f1;
  return ok;
}

TEST(HotPath, MergedFinalCombinationAndNormGiveThePlainBits) {
  for (int trial = 0; trial < 200; ++trial) {
    const Step s = RandomStep();
    for (REAL AE : {2.0E-6L, 0.0L}) {
      Vec plain, merged;
      REAL plainNorm = 0, mergedNorm = 0;
      ASSERT_TRUE(PlainSolutionAndNorm(s, AE, plain, plainNorm));
      ASSERT_TRUE(MergedSolutionAndNorm(s, AE, merged, mergedNorm));
      ExpectSameBits(merged, plain);
      EXPECT_TRUE(SameBits(mergedNorm, plainNorm));
    }
  }
}

TEST(HotPath, WithoutAbsoluteToleranceAZeroComponentStopsTheNormNotTheSolution) {
  Step s = RandomStep();
  // Component 4 is zero at both ends of the step: its ET is 0.
  s.y[3] = s.k1[3] = s.k3[3] = s.k4[3] = s.k5[3] = s.k6[3] = 0.0L;
  Vec plain, merged;
  REAL plainNorm = 0, mergedNorm = 0;
  EXPECT_FALSE(PlainSolutionAndNorm(s, 0.0L, plain, plainNorm));
  EXPECT_FALSE(MergedSolutionAndNorm(s, 0.0L, merged, mergedNorm));
  ExpectSameBits(merged, plain);
}

// ----------------------------------------------------- right-hand sides ----

template <class Model, size_t NEQN>
std::array<REAL, NEQN> Derivatives(typename Model::Globals &g, REAL t,
                                   const std::array<REAL, NEQN> &y) {
  std::array<REAL, NEQN> yp{};
  Model::DIFEQN(g, t, View1<const REAL>{y.data()}, View1<REAL>{yp.data()});
  return yp;
}

// Family B as its equations read, component by component.
std::array<REAL, 20> PlainFamilyB(REAL H, REAL PR, REAL PD, REAL t, const std::array<REAL, 21> &y) {
  std::array<REAL, 20> yp;
  auto d = [&yp](int k) -> REAL & { return yp[size_t(k - 1)]; };
  d(1) = y[2], d(2) = y[3], d(3) = y[4];
  d(4) = (2.0L * y[1] * y[4] + 1.5L * y[3] + t * y[4] / 2.0L) * ((-H) * H);
  d(5) = y[6];
  d(6) = (2.0L * y[2] * y[5] - 2.0L * y[1] * y[6] - 1.5L * y[5] - t * y[6] / 2.0L) * (H * PR * H);
  d(7) = y[8];
  d(8) = (2.0L * y[2] * y[7] - 2.0L * y[1] * y[8] - y[7] - t * y[8] / 2.0L) * (H * H);
  d(9) = y[10];
  d(10) =
      (2.0L * y[2] * y[9] - 2.0L * y[1] * y[10] - 1.5L * y[9] - t * y[10] / 2.0L) * (H * PD * H);
  d(11) = y[12], d(12) = y[13], d(13) = y[14];
  d(14) =
      (2.0L * y[1] * y[14] + 2.0L * y[4] * y[11] + 1.5L * y[13] + t * 0.5L * y[14]) * ((-H) * H) -
      (2.0L * y[1] * y[4] + 1.5L * y[3] + t * y[4] / 2.0L) * (H * 2.0L);
  d(15) = y[16];
  d(16) =
      (2.0L * y[2] * y[15] - 2.0L * y[1] * y[16] - 1.5L * y[15] - t * 0.5L * y[16] +
       2.0L * y[12] * y[5] - 2.0L * y[11] * y[6]) *
          (H * H * PR) +
      (2.0L * y[2] * y[5] - 2.0L * y[1] * y[6] - 1.5L * y[5] - t * y[6] / 2.0L) * (H * 2.0L * PR);
  d(17) = y[18];
  d(18) =
      (2.0L * y[2] * y[17] - 2.0L * y[1] * y[18] - 1.5L * y[17] - t * 0.5L * y[18] +
       2.0L * y[12] * y[9] - 2.0L * y[11] * y[10]) *
          (H * H * PD) +
      (2.0L * y[2] * y[9] - 2.0L * y[1] * y[10] - 1.5L * y[9] - t * y[10] / 2.0L) * (H * 2.0L * PD);
  d(19) = y[20];
  d(20) = (2.0L * y[2] * y[19] - 2.0L * y[1] * y[20] - y[19] - t * 0.5L * y[20] +
           2.0L * y[12] * y[7] - 2.0L * y[11] * y[8]) *
              (H * H) +
          (2.0L * y[2] * y[7] - 2.0L * y[1] * y[8] - y[7] - t * y[8] / 2.0L) * (H * 2.0L);
  return yp;
}

// Family C: its twelve brackets first, then the components in order.
std::array<REAL, 30> PlainFamilyC(REAL H, REAL PR, REAL PD, REAL t, const std::array<REAL, 31> &y) {
  const REAL th = t * 0.5L;
  const REAL A0 = 2.0L * y[1] * y[4] + 1.5L * y[3] + th * y[4];
  const REAL B0 = 2.0L * y[2] * y[5] - 2.0L * y[1] * y[6] - 1.5L * y[5] - th * y[6];
  const REAL C0 = 2.0L * y[2] * y[7] - 2.0L * y[1] * y[8] - y[7] - th * y[8];
  const REAL D0 = 2.0L * y[2] * y[9] - 2.0L * y[1] * y[10] - 1.5L * y[9] - th * y[10];
  const REAL A1 = 2.0L * y[1] * y[14] + 2.0L * y[4] * y[11] + 1.5L * y[13] + th * y[14];
  const REAL B1 = 2.0L * y[2] * y[15] - 2.0L * y[1] * y[16] - 1.5L * y[15] - th * y[16] +
                  2.0L * y[12] * y[5] - 2.0L * y[11] * y[6];
  const REAL C1 = 2.0L * y[2] * y[19] - 2.0L * y[1] * y[20] - y[19] - th * y[20] +
                  2.0L * y[12] * y[7] - 2.0L * y[11] * y[8];
  const REAL D1 = 2.0L * y[2] * y[17] - 2.0L * y[1] * y[18] - 1.5L * y[17] - th * y[18] +
                  2.0L * y[12] * y[9] - 2.0L * y[11] * y[10];
  const REAL A2 =
      2.0L * y[1] * y[24] + 2.0L * y[4] * y[21] + 1.5L * y[23] + th * y[24] + 4.0L * y[11] * y[14];
  const REAL B2 = 2.0L * y[2] * y[25] - 2.0L * y[1] * y[26] - 1.5L * y[25] - th * y[26] +
                  4.0L * y[12] * y[15] - 4.0L * y[11] * y[16] + 2.0L * y[22] * y[5] -
                  2.0L * y[21] * y[6];
  const REAL C2 = 2.0L * y[2] * y[29] - 2.0L * y[1] * y[30] - y[29] - th * y[30] +
                  4.0L * y[12] * y[19] - 4.0L * y[11] * y[20] + 2.0L * y[22] * y[7] -
                  2.0L * y[21] * y[8];
  const REAL D2 = 2.0L * y[2] * y[27] - 2.0L * y[1] * y[28] - 1.5L * y[27] - th * y[28] +
                  4.0L * y[12] * y[17] - 4.0L * y[11] * y[18] + 2.0L * y[22] * y[9] -
                  2.0L * y[21] * y[10];
  const REAL H2 = H * H;
  std::array<REAL, 30> yp;
  for (int s = 0; s <= 20; s += 10)
    for (int k : {1, 2, 3, 5, 7, 9})
      yp[size_t(s + k - 1)] = y[size_t(s + k + 1)];
  yp[3] = -(H2 * A0);
  yp[5] = H2 * PR * B0;
  yp[7] = H2 * C0;
  yp[9] = H2 * PD * D0;
  yp[13] = -(H2 * A1) - 2.0L * H * A0;
  yp[15] = H2 * PR * B1 + 2.0L * H * PR * B0;
  yp[17] = H2 * PD * D1 + 2.0L * H * PD * D0;
  yp[19] = H2 * C1 + 2.0L * H * C0;
  yp[23] = -(H2 * A2) - 4.0L * H * A1 - (4.0L * y[1] * y[4] + 3.0L * y[3] + t * y[4]);
  yp[25] = H2 * PR * B2 + 4.0L * H * PR * B1 + 2.0L * PR * B0;
  yp[27] = H2 * PD * D2 + 4.0L * H * PD * D1 + 2.0L * PD * D0;
  yp[29] =
      H2 * C2 + 4.0L * H * C1 + (4.0L * y[2] * y[7] - 4.0L * y[1] * y[8] - 2.0L * y[7] - t * y[8]);
  return yp;
}

// y[0] unused, so that y[k] is component k as in the equations.
template <size_t NEQN> std::array<REAL, NEQN + 1> OneBased(const std::array<REAL, NEQN> &y) {
  std::array<REAL, NEQN + 1> v{};
  std::copy(y.begin(), y.end(), v.begin() + 1);
  return v;
}

TEST(HotPath, FamilyBRightHandSideGivesThePlainBitsAndLeavesTheScale) {
  for (int trial = 0; trial < 200; ++trial) {
    FamilyB::Globals g;
    g.par = kShootB1.par;
    g.H = 1.0L + Random(1);
    g.X[1] = Random(4);
    const REAL t = Random(1), H = g.H;
    const auto y = RandomState<20>(4);
    ExpectSameBits(Derivatives<FamilyB>(g, t, y),
                   PlainFamilyB(H, g.par.PR, g.par.PD, t, OneBased(y)));
    EXPECT_TRUE(SameBits(g.H, g.X[1]));
  }
}

TEST(HotPath, FamilyCRightHandSideGivesThePlainBitsAndLeavesTheScale) {
  for (int trial = 0; trial < 200; ++trial) {
    FamilyC::Globals g;
    g.par = kShootC1.par;
    g.H = 1.0L + Random(1);
    g.P = Random(4);
    const REAL t = Random(1), H = g.H;
    const auto y = RandomState<30>(4);
    ExpectSameBits(Derivatives<FamilyC>(g, t, y),
                   PlainFamilyC(H, g.par.PR, g.par.PD, t, OneBased(y)));
    EXPECT_TRUE(SameBits(g.H, g.P));
  }
}

} // namespace
} // namespace zanfel
