// shoot_a1 and shoot_a2: passes of frame, solve and sweep over the family A
// model.
#include "models/family_a.hpp"
#include "drivers/programs.hpp"

namespace zanfel {

namespace {

template <int N> using ProgramA = Program<FamilyA<N>>;

template <int N> REAL ScaleA(const ProgramA<N> &s) {
  return s.K1 == 1 ? s.P : s.X[1];
}
template <int N> REAL PartnerA(const ProgramA<N> &s) {
  return s.K1 == 1 ? s.X[1] : s.P;
}

template <int N> SweepRules<FamilyA<N>> RulesA() {
  return {kRecordA, 6, ScaleA<N>, PartnerA<N>, false};
}

template <int N> void SetParameters(ProgramA<N> &s, REAL ALF1, REAL GAM1) {
  s.PR = 0.023L;
  s.PD = 10.0L;
  s.GAM1 = GAM1;
  s.ALF1 = ALF1;
}

// The start guess of a shoot_a1 pass depends on the mode only.
void StartGuessA1(ProgramA<4> &s) {
  if (s.K1 == 1) {
    s.P = 0.1L;
    s.X[1] = s.P;
    s.X[2] = 1.5L * (s.ALF1 - s.P);
    s.X[3] = 0.0L;
    s.X[4] = 0.0L;
  } else {
    s.P = -1.72113378L;
    s.X[1] = 1.08370339L;
    s.X[2] = 3.34328459L;
    s.X[3] = -19.69585779L;
    s.X[4] = 68.18623492L;
  }
}

// Pass 14 of shoot_a2 has a start guess; pass 15 goes on from where it ended.
void StartGuessA2(ProgramA<5> &s) {
  if (s.PROXOD != 14)
    return;
  s.P = 0.09484164L;
  s.X[1] = 1.11577088L;
  s.X[2] = -1.96112053L;
  s.X[3] = 0.86588295L;
  s.X[4] = 2.87530549L;
  s.X[5] = -0.15827862L;
}

template <int N>
void RunPassA(ProgramA<N> &s, const FrameSettings &frame, const SweepSettings &sweep,
              bool checkGraphResult, const Hooks &hooks) {
  RunPass(s, RulesA<N>(), frame, sweep, checkGraphResult, hooks);
  s.PROXOD = static_cast<INT16>(s.PROXOD + 1);
}

} // namespace

int RunShootA1(const Hooks &hooks) {
  ProgramA<4> s;
  s.K1 = 1;
  s.PROXOD = 1;
  SetParameters(s, 0.07L, -1.9L);
  s.FAIL.Assign(ResultsPath());
  do {
    s.FAIL.Rewrite();
    s.records = 0; // the file holds this pass's records only
    StartGuessA1(s);
    const SweepSettings sweep =
        s.K1 == 1 ? SweepSettings{-0.02L, -10.0L, 15.0L} : SweepSettings{-0.02L, -100.0L, 700.0L};
    RunPassA(s, {1.0L, 1.0L, 0, 4, -4, 4}, sweep, true, hooks);
    if (s.PROXOD == 12 && s.K1 == 1) {
      s.PROXOD = 1;
      s.K1 = 2;
    }
  } while (!(s.PROXOD == 15 && s.K1 == 2));
  EndRun(s, hooks);
  hooks.waitForEnter();
  return 0;
}

int RunShootA2(const Hooks &hooks) {
  ProgramA<5> s;
  s.K1 = 2;
  s.PROXOD = 14;
  SetParameters(s, 0.1L, -0.1L);
  CreateResultsFile(s);
  do {
    StartGuessA2(s);
    RunPassA(s, {0.5L, 1.0L, 1, 4, -4, 4}, {-0.0001L, -100.0L, 700.0L}, false, hooks);
  } while (s.PROXOD == 15);
  EndRun(s, hooks);
  return 0;
}

} // namespace zanfel
