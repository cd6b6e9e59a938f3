// shoot_c1 and shoot_c2: one sweep of H = P over the family C model, the
// second H-sensitivities solved for.
#include "models/family_c.hpp"
#include "drivers/programs.hpp"

namespace zanfel {

namespace {

using ProgramC = Program<FamilyC>;

struct ConstantsC {
  REAL PD, GAM1, P;
  REAL XS[9];
};

constexpr ConstantsC kShootC1{10.0L,
                              -0.1L,
                              1.11364898L,
                              {0.11893163L, -2.033455005L, 0.8694461013L, 3.257078039L,
                               0.0456766578L, -11.0086893897L, 31.8328860066L, -0.7854887026L,
                               -204.941223689L}};
constexpr ConstantsC kShootC2{15.0L,
                              0.0L,
                              1.04437262L,
                              {0.947732L, -4.462087L, -8.245465L, 0.0L, -11.453855L, -13.017735L,
                               38.586693L, 157.81579L, 0.0L}};

REAL ScaleC(const ProgramC &s) {
  return s.P;
}
REAL PartnerC(const ProgramC &s) {
  return s.X[1];
}

int RunShootC(const ConstantsC &c, const Hooks &hooks) {
  ProgramC s;
  s.K1 = 1;
  s.PR = 0.023L;
  s.PD = c.PD;
  s.GAM1 = c.GAM1;
  CreateResultsFile(s);
  for (int I = 1; I <= FamilyC::N; ++I)
    s.X[I] = 0.0L;
  s.P = c.P;
  for (int I = 1; I <= 9; ++I)
    s.XS[I] = c.XS[I - 1];
  // H keeps its initial zero until the model brings it to P during the
  // initial solve. The frame shows H from 0 to 5 and v from -10 to 2.
  RunPass(s, {kRecordC, 5, ScaleC, PartnerC, true}, {1.0L, 2.0L, 0, 5, -5, 1},
          {0.01L, -10.0L, 15.0L}, false, hooks);
  EndRun(s, hooks);
  return 0;
}

} // namespace

int RunShootC1(const Hooks &hooks) {
  return RunShootC(kShootC1, hooks);
}
int RunShootC2(const Hooks &hooks) {
  return RunShootC(kShootC2, hooks);
}

} // namespace zanfel
