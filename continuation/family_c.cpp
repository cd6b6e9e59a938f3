// shoot_c1 and shoot_c2: one sweep of H = P over the family C model, the
// second H-sensitivities solved for; the plot shows y2(1) against H. H keeps
// its initial zero until the model brings it to P during the initial solve.
#include "continuation/families.hpp"

namespace zanfel {

namespace {

REAL ScaleC(const Program<FamilyC> &s) {
  return s.g.P;
}
REAL PartnerC(const Program<FamilyC> &s) {
  return s.g.X[1];
}

constexpr SweepRules<FamilyC> kRulesC{kRecordC, 5, "y2(1)", ScaleC, PartnerC, true, "y30_1"};

ProgramInfo InfoC(const char *name, const OnePassSettings<FamilyC> &t) {
  return {name,
          "Family C with 4 unknowns: H = " + SteppingText(t.start.P, t.sweep.DP, true) + " to " +
              ShortReal(t.sweep.P2) +
              ",\nsolving for the second H-derivatives of a known base solution. The curve is\n"
              "y2(1) against H.",
          t.start.P,
          t.sweep,
          SweepRuleText(true),
          false,
          ParamsHelp(t.params, t.par)};
}

} // namespace

ProgramInfo InfoShootC1() {
  return InfoC("shoot_c1", kShootC1);
}
ProgramInfo InfoShootC2() {
  return InfoC("shoot_c2", kShootC2);
}

RunOutcome RunShootC1(SweepObserver &observer, const SettingOptions &options) {
  return RunOnePass("shoot_c1", kShootC1, options, kRulesC, observer);
}
RunOutcome RunShootC2(SweepObserver &observer, const SettingOptions &options) {
  return RunOnePass("shoot_c2", kShootC2, options, kRulesC, observer);
}

RunOutcome ResumeShootC1(SweepObserver &observer, const SettingOptions &options) {
  return ResumeOnePass("shoot_c1", kShootC1, options, kRulesC, observer);
}
std::string SettingsErrorC1(const SettingOptions &options) {
  return SettingsErrorWithSegments<FamilyC>(kShootC1, options);
}
RunOutcome ResumeShootC2(SweepObserver &observer, const SettingOptions &options) {
  return ResumeOnePass("shoot_c2", kShootC2, options, kRulesC, observer);
}
std::string SettingsErrorC2(const SettingOptions &options) {
  return SettingsErrorWithSegments<FamilyC>(kShootC2, options);
}

} // namespace zanfel
