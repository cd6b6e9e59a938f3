// shoot_b1 and shoot_b2: one sweep of y3(0) = P over the family B model, H
// solved for as the first unknown.
#include "models/family_b.hpp"
#include "drivers/programs.hpp"

namespace zanfel {

namespace {

using ProgramB = Program<FamilyB>;

struct ConstantsB {
  REAL PD, GAM1, P;
  REAL X[9];
};

constexpr ConstantsB kShootB1{10.0L,
                              -0.1L,
                              0.11893163L,
                              {1.11364898L, -2.033455005L, 0.8694461013L, 3.257078039L,
                               0.0456766578L, -11.0086893897L, 31.8328860066L, -0.7854887026L,
                               -204.941223689L}};
constexpr ConstantsB kShootB2{
    15.0L,
    1.0L,
    -3.59233618L,
    {1.54L, 7.27267194L, 0.0L, -5.69183609L, 0.41157551L, 0.0L, 0.0L, 0.0L, 0.0L}};

REAL ScaleB(const ProgramB &s) {
  return s.X[1];
}
REAL PartnerB(const ProgramB &s) {
  return s.P;
}

int RunShootB(const ConstantsB &c, const Hooks &hooks) {
  ProgramB s;
  s.K1 = 2;
  s.PR = 0.023L;
  s.PD = c.PD;
  s.GAM1 = c.GAM1;
  CreateResultsFile(s);
  s.P = c.P;
  for (int I = 1; I <= FamilyB::N; ++I)
    s.X[I] = c.X[I - 1];
  // The frame shows H from 0.5 to 1.5 and Bh from -5 to 2.
  RunPass(s, {kRecordB, 12, ScaleB, PartnerB, false}, {0.5L, 1.0L, 1, 3, -5, 2},
          {-0.01L, -100.0L, 700.0L}, false, hooks);
  EndRun(s, hooks);
  return 0;
}

} // namespace

int RunShootB1(const Hooks &hooks) {
  return RunShootB(kShootB1, hooks);
}
int RunShootB2(const Hooks &hooks) {
  return RunShootB(kShootB2, hooks);
}

} // namespace zanfel
