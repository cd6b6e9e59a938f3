// shoot_b1 and shoot_b2: one sweep of y3(0) = P over the family B model, H
// solved for as the first unknown; the plot shows dy8(1)/dH against H.
#include "continuation/families.hpp"

namespace zanfel {

namespace {

REAL ScaleB(const Program<FamilyB> &s) {
  return s.g.X[1];
}
REAL PartnerB(const Program<FamilyB> &s) {
  return s.g.P;
}

constexpr SweepRules<FamilyB> kRulesB{kRecordB, 12, "dy8(1)/dH", ScaleB, PartnerB, false, "y20_1"};

ProgramInfo InfoB(const char *name, const OnePassSettings<FamilyB> &t) {
  return {name,
          "Family B with 9 unknowns: y3(0) = " + SteppingText(t.start.P, t.sweep.DP, false) +
              ", with H\nand the H-derivatives of the solution solved for. The curve is "
              "dy8(1)/dH\nagainst H.",
          t.start.P,
          t.sweep,
          SweepRuleText(false),
          false,
          ParamsHelp(t.params, t.par)};
}

} // namespace

ProgramInfo InfoShootB1() {
  return InfoB("shoot_b1", kShootB1);
}
ProgramInfo InfoShootB2() {
  return InfoB("shoot_b2", kShootB2);
}

RunOutcome RunShootB1(SweepObserver &observer, const SettingOptions &options) {
  return RunOnePass("shoot_b1", kShootB1, options, kRulesB, observer);
}
RunOutcome RunShootB2(SweepObserver &observer, const SettingOptions &options) {
  return RunOnePass("shoot_b2", kShootB2, options, kRulesB, observer);
}

RunOutcome ResumeShootB1(SweepObserver &observer, const SettingOptions &options) {
  return ResumeOnePass("shoot_b1", kShootB1, options, kRulesB, observer);
}
std::string SettingsErrorB1(const SettingOptions &options) {
  return SettingsErrorWithSegments<FamilyB>(kShootB1, options);
}
RunOutcome ResumeShootB2(SweepObserver &observer, const SettingOptions &options) {
  return ResumeOnePass("shoot_b2", kShootB2, options, kRulesB, observer);
}
std::string SettingsErrorB2(const SettingOptions &options) {
  return SettingsErrorWithSegments<FamilyB>(kShootB2, options);
}

} // namespace zanfel
