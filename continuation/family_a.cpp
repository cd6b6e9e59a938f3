// shoot_a1 and shoot_a2: passes of frame, solve and sweep over the family A
// model; the plot shows y2(1) against H.
#include "continuation/families.hpp"

namespace zanfel {

namespace {

template <int N> using ProgramA = Program<FamilyA<N>>;

// Mode 1 sweeps H itself; mode 2 sweeps y3(0) and solves for H.
template <int N> REAL ScaleA(const ProgramA<N> &s) {
  return s.g.par.K1 == 1 ? s.g.P : s.g.X[1];
}
template <int N> REAL PartnerA(const ProgramA<N> &s) {
  return s.g.par.K1 == 1 ? s.g.X[1] : s.g.P;
}

template <int N> SweepRules<FamilyA<N>> RulesA() {
  return {kRecordA, 6, "y2(1)", ScaleA<N>, PartnerA<N>, false, "y7_1"};
}

// The start guess of a shoot_a1 pass depends on the mode only.
void StartGuessA1(ProgramA<4> &s, const ShootA1Settings &settings) {
  if (s.g.par.K1 == 1)
    LoadStartA1Mode1(s.g, settings);
  else
    LoadStart(s.g, settings.startMode2);
}

// A pass from the start guess starts its node states afresh from it, and
// ZANFEL.NODES, like the results file, keeps that pass's records only.
template <int N> void StartNodesAfresh(ProgramA<N> &s, bool rewrite) {
  if (!s.segments)
    return;
  s.segments->nodesKnown = false;
  if (rewrite)
    s.NODES.Rewrite();
}

template <int N>
[[nodiscard]] Failure RunPassA(ProgramA<N> &s, const FrameSettings &frame,
                               const SweepSettings &sweep, bool checkGraphResult) {
  const Failure failure = RunPass(s, RulesA<N>(), frame, sweep, checkGraphResult);
  s.PROXOD = static_cast<INT16>(s.PROXOD + 1);
  return failure;
}

} // namespace

RunOutcome RunShootA1(SweepObserver &observer, const SettingOptions &options) {
  const RunSettings<ShootA1Settings> run = Settle(kShootA1, options);
  const ShootA1Settings &settings = run.table;
  ProgramA<4> s(observer);
  TakeSettings(s, "shoot_a1", run);
  s.PROXOD = 1;
  s.g.par = settings.par;
  TakeResultsFiles(s); // once, before the first pass empties the file
  do {
    s.FAIL.Rewrite();
    StartNodesAfresh(s, true);
    s.records = 0; // the file holds this pass's records only
    // ZANFEL.CSV keeps every pass: it is created with the first pass's file.
    if (s.pass == 0)
      CreateCsvFile(s, "shoot_a1", RulesA<4>(),
                    {SweepNote("sweep, passes 1-11 (H = P)", settings.PMode1, settings.sweepMode1,
                               false, run),
                     SweepNote("sweep, passes 12-25 (y3(0) = P, H = X1)", settings.startMode2.P,
                               settings.sweepMode2, false, run)},
                    run, kShootA1);
    StartGuessA1(s, settings);
    const SweepSettings &sweep = s.g.par.K1 == 1 ? settings.sweepMode1 : settings.sweepMode2;
    if (const Failure failure = RunPassA(s, settings.frame, sweep, true); failure != Failure::None)
      return FailedRun(s, failure);
    if (s.PROXOD == 12 && s.g.par.K1 == 1) {
      s.PROXOD = 1;
      s.g.par.K1 = 2;
    }
  } while (!(s.PROXOD == 15 && s.g.par.K1 == 2));
  EndRun(s);
  observer.WaitForEnter();
  return EndedWith(0);
}

RunOutcome RunShootA2(SweepObserver &observer, const SettingOptions &options) {
  const RunSettings<ShootA2Settings> run = Settle(kShootA2, options);
  const ShootA2Settings &settings = run.table;
  ProgramA<5> s(observer);
  TakeSettings(s, "shoot_a2", run);
  s.PROXOD = 14;
  s.g.par = settings.par;
  CreateResultsFile(s);
  CreateCsvFile(s, "shoot_a2", RulesA<5>(),
                {SweepNote("sweep, pass 1 (14)", settings.start.P, settings.sweep, false, run),
                 "sweep, pass 2 (15): on from where pass 1 ended, with the same step and range"},
                run, kShootA2);
  do {
    // Pass 15 goes on from where pass 14 ended.
    if (s.PROXOD == 14) {
      LoadStart(s.g, settings.start);
      StartNodesAfresh(s, false);
    }
    if (const Failure failure = RunPassA(s, settings.frame, settings.sweep, false);
        failure != Failure::None)
      return FailedRun(s, failure);
  } while (s.PROXOD == 15);
  EndRun(s);
  return EndedWith(0);
}

ProgramInfo InfoShootA1() {
  return {"shoot_a1",
          "Family A with 4 unknowns: 11 passes with the scale H = P prescribed\n(" +
              SteppingText(kShootA1.PMode1, kShootA1.sweepMode1.DP, false) +
              "), then 14 passes with y3(0) = P prescribed and\nH solved for (" +
              SteppingText(kShootA1.startMode2.P, kShootA1.sweepMode2.DP, false) +
              "). The curve is y2(1) against H.\nThe results file is created anew for every pass "
              "and keeps the last one.",
          kShootA1.PMode1,
          kShootA1.sweepMode1,
          "the passes with H = P (1-11);\n                the passes with y3(0) = P keep their "
          "own",
          false,
          ParamsHelp(ParamNamesOf(kShootA1), kShootA1.par)};
}

ProgramInfo InfoShootA2() {
  return {"shoot_a2",
          "Family A with 5 unknowns: two passes with y3(0) = P prescribed and H solved\nfor, " +
              SteppingText(kShootA2.start.P, kShootA2.sweep.DP, false) +
              ". The curve is y2(1) against H.",
          kShootA2.start.P,
          kShootA2.sweep,
          "the first pass; the second goes on\n                from its end with the same step "
          "and range",
          false,
          ParamsHelp(ParamNamesOf(kShootA2), kShootA2.par)};
}

std::string SettingsErrorA1(const SettingOptions &options) {
  return SettingsErrorWithSegments<FamilyA<4>>(kShootA1, options);
}
std::string SettingsErrorA2(const SettingOptions &options) {
  return SettingsErrorWithSegments<FamilyA<5>>(kShootA2, options);
}

} // namespace zanfel
