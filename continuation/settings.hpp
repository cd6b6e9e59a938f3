// The compiled-in settings of the six programs, one table each: the family
// parameters, the start values, the plot frame and the sweep. The drivers,
// the benchmark and the tests all start from these.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "check/check_choice.hpp"
#include "continuation/model_params.hpp"
#include "continuation/special_options.hpp"
#include "continuation/strategy.hpp"
#include "models/family_a.hpp"
#include "models/family_b.hpp"
#include "models/family_c.hpp"
#include "shooting/segment_cuts.hpp"
#include "shooting/solve_settings.hpp"

namespace zanfel {

// The plot frame of a pass: world units per tick and the tick ranges.
struct FrameSettings {
  REAL XI, YI;
  INT16 MX1, MX2, MY1, MY2;
};

// The sweep of a pass: its step and its range.
struct SweepSettings {
  REAL DP, P1, P2;
};

// A start point of a sweep: P and the guess of the unknowns.
template <int N> struct StartSettings {
  REAL P;
  REAL X[N];
};

// A program of one pass (families B and C, a program of one's own), with
// the limits of its solves (the built-in ones unless its table says).
template <class Model> struct OnePassSettings {
  typename Model::Params par;
  StartSettings<Model::N> start;
  FrameSettings frame;
  SweepSettings sweep;
  ParamNames<typename Model::Params> params = kFamilyParams<typename Model::Params>;
  SolveSettings solve{};
};

// shoot_a1: 11 passes with H = P prescribed (mode 1, the guess follows from P
// and ALF1), then 14 with y3(0) = P prescribed (mode 2).
struct ShootA1Settings {
  ParamsA par;
  FrameSettings frame;
  REAL PMode1;
  SweepSettings sweepMode1;
  StartSettings<4> startMode2;
  SweepSettings sweepMode2;
};

// shoot_a2: passes 14 and 15 in mode 2; pass 15 goes on from where 14 ended.
struct ShootA2Settings {
  ParamsA par;
  FrameSettings frame;
  StartSettings<5> start;
  SweepSettings sweep;
};

inline constexpr ShootA1Settings kShootA1{
    {1, 0.023L, 10.0L, 0.07L, -1.9L},
    {1.0L, 1.0L, 0, 4, -4, 4},
    0.1L,
    {-0.02L, -10.0L, 15.0L},
    {-1.72113378L, {1.08370339L, 3.34328459L, -19.69585779L, 68.18623492L}},
    {-0.02L, -100.0L, 700.0L}};

inline constexpr ShootA2Settings kShootA2{
    {2, 0.023L, 10.0L, 0.1L, -0.1L},
    {0.5L, 1.0L, 1, 4, -4, 4},
    {0.09484164L, {1.11577088L, -1.96112053L, 0.86588295L, 2.87530549L, -0.15827862L}},
    {-0.0001L, -100.0L, 700.0L}};

// The frame shows H from 0.5 to 1.5 and Bh from -5 to 2.
inline constexpr FrameSettings kFrameB{0.5L, 1.0L, 1, 3, -5, 2};
inline constexpr SweepSettings kSweepB{-0.01L, -100.0L, 700.0L};

inline constexpr OnePassSettings<FamilyB> kShootB1{
    {0.023L, 10.0L, -0.1L},
    {0.11893163L,
     {1.11364898L, -2.033455005L, 0.8694461013L, 3.257078039L, 0.0456766578L, -11.0086893897L,
      31.8328860066L, -0.7854887026L, -204.941223689L}},
    kFrameB,
    kSweepB};

inline constexpr OnePassSettings<FamilyB> kShootB2{
    {0.023L, 15.0L, 1.0L},
    {-3.59233618L, {1.54L, 7.27267194L, 0.0L, -5.69183609L, 0.41157551L, 0.0L, 0.0L, 0.0L, 0.0L}},
    kFrameB,
    kSweepB};

// The unknowns start at zero; the base solution's start values are fixed.
// The frame shows H from 0 to 5 and v from -10 to 2.
inline constexpr FrameSettings kFrameC{1.0L, 2.0L, 0, 5, -5, 1};
inline constexpr SweepSettings kSweepC{0.01L, -10.0L, 15.0L};

inline constexpr OnePassSettings<FamilyC> kShootC1{
    {0.023L,
     10.0L,
     -0.1L,
     {{0.11893163L, -2.033455005L, 0.8694461013L, 3.257078039L, 0.0456766578L, -11.0086893897L,
       31.8328860066L, -0.7854887026L, -204.941223689L}}},
    {1.11364898L, {0.0L, 0.0L, 0.0L, 0.0L}},
    kFrameC,
    kSweepC};

inline constexpr OnePassSettings<FamilyC> kShootC2{
    {0.023L,
     15.0L,
     0.0L,
     {{0.947732L, -4.462087L, -8.245465L, 0.0L, -11.453855L, -13.017735L, 38.586693L, 157.81579L,
       0.0L}}},
    {1.04437262L, {0.0L, 0.0L, 0.0L, 0.0L}},
    kFrameC,
    kSweepC};

// P and the unknowns from a start point.
template <class Globals, int N> void LoadStart(Globals &g, const StartSettings<N> &start) {
  static_assert(Globals::N == N);
  g.P = start.P;
  for (int I = 1; I <= N; ++I)
    g.X[I] = start.X[I - 1];
}

// shoot_a1's mode-1 start: the guess follows from P and ALF1.
inline void LoadStartA1Mode1(FamilyA<4>::Globals &g, const ShootA1Settings &s) {
  g.P = s.PMode1;
  g.X[1] = g.P;
  g.X[2] = 1.5L * (g.par.ALF1 - g.P);
  g.X[3] = 0.0L;
  g.X[4] = 0.0L;
}

// The limits every solve of a run works within, as built in.
inline constexpr SolveSettings kSolve{};

// What the command line (or a resumed run's CSV head) sets over a program's
// table; an empty member keeps the table's value.
struct SettingOptions {
  std::optional<REAL> from, step, P1, P2;
  std::optional<REAL> tolf, tolx, relerr, abserr;
  std::optional<long> ntrial, budgets, records;
  std::optional<Strategy> strategy;
  std::optional<REAL> minStep, maxStep;
  SpecialOptions special;
  std::optional<SegmentCuts> cuts; // --segments or --nodes
  // --check-digits: 0 bare (labelled records and the last), K every K-th too.
  std::optional<long> checkDigits;
  std::optional<long> checkPrecision; // --check-digits-precision: 80 or 128
  std::vector<ParamOption> params;    // --param NAME=VALUE, in the order given
  std::optional<std::string> free;    // --free NAME, with --continuation fold
};

// The settings one run uses: the program's table with the options over it.
// The sweep, the CSV head, the resume and the summary all read this value.
template <class Table> struct RunSettings {
  Table table;
  SolveSettings solve = kSolve;
  ContinuationChoice continuation;
  long records = 0; // records after which a sweep stops as a key would; 0: no limit
  SpecialOptions special;
  SegmentCuts cuts; // of the multiple shooting; one segment: single shooting
  CheckChoice check;
  std::string params{}; // " --param NAME=VALUE" for each that differs from the table
};

// The start P and the sweep that --from, --step and --range set: a
// one-pass program's only sweep, shoot_a1's mode-1 passes (H = P),
// shoot_a2's first pass (the second goes on with the same step and range).
template <class Model> REAL &StartP(OnePassSettings<Model> &t) {
  return t.start.P;
}
template <class Model> SweepSettings &OptionSweep(OnePassSettings<Model> &t) {
  return t.sweep;
}
inline REAL &StartP(ShootA1Settings &t) {
  return t.PMode1;
}
inline SweepSettings &OptionSweep(ShootA1Settings &t) {
  return t.sweepMode1;
}
inline REAL &StartP(ShootA2Settings &t) {
  return t.start.P;
}
inline SweepSettings &OptionSweep(ShootA2Settings &t) {
  return t.sweep;
}

// The named parameters of a program's model (continuation/model_params.hpp).
template <class Model>
ParamNames<typename Model::Params> ParamNamesOf(const OnePassSettings<Model> &t) {
  return t.params;
}
inline ParamNames<ParamsA> ParamNamesOf(const ShootA1Settings &) {
  return kParamsA;
}
inline ParamNames<ParamsA> ParamNamesOf(const ShootA2Settings &) {
  return kParamsA;
}

// A model may say how its sweep of P scales with its parameters
// (`static REAL SweepScale(const Params &)`, 1 for the table's own): the
// start, the step, the range and the frame across are multiplied by it
// when the parameters differ from the table's, before --from, --step and
// --range apply. Bratu's on [0, L] scales them by 1/L^2.
template <class Model>
void ScaleSweepToParams(OnePassSettings<Model> &t, const OnePassSettings<Model> &table) {
  if constexpr (requires(const typename Model::Params &p) { Model::SweepScale(p); }) {
    if (ParamsText(t.params, t.par, table.par).empty())
      return;
    const REAL f = Model::SweepScale(t.par);
    t.start.P *= f;
    t.sweep.DP *= f;
    t.sweep.P1 *= f;
    t.sweep.P2 *= f;
    t.frame.XI *= f;
  }
}
template <class Table> void ScaleSweepToParams(Table &, const Table &) {}

CheckChoice CheckChoiceOf(const SettingOptions &o);

// The limits of a table's solves: its own where it has them.
template <class Model> const SolveSettings &TableSolve(const OnePassSettings<Model> &t) {
  return t.solve;
}
template <class Table> const SolveSettings &TableSolve(const Table &) {
  return kSolve;
}

template <class Table> RunSettings<Table> Settle(const Table &table, const SettingOptions &o) {
  RunSettings<Table> s{table, TableSolve(table), {}, 0, {}, {}, {}};
  ApplyParams(ParamNamesOf(table), s.table.par, o.params);
  s.params = ParamsText(ParamNamesOf(table), s.table.par, table.par);
  ScaleSweepToParams(s.table, table);
  SweepSettings &sweep = OptionSweep(s.table);
  StartP(s.table) = o.from.value_or(StartP(s.table));
  sweep.DP = o.step.value_or(sweep.DP);
  sweep.P1 = o.P1.value_or(sweep.P1);
  sweep.P2 = o.P2.value_or(sweep.P2);
  s.solve.TOLF = o.tolf.value_or(s.solve.TOLF);
  s.solve.TOLX = o.tolx.value_or(s.solve.TOLX);
  s.solve.NTRIAL = static_cast<INT16>(o.ntrial.value_or(s.solve.NTRIAL));
  s.solve.budgets = static_cast<INT16>(o.budgets.value_or(s.solve.budgets));
  s.solve.RELERR = o.relerr.value_or(s.solve.RELERR);
  s.solve.ABSERR = o.abserr.value_or(s.solve.ABSERR);
  s.continuation.strategy = o.strategy.value_or(Strategy::Natural);
  s.continuation.minStep = o.minStep.value_or(0.0L);
  s.continuation.maxStep = o.maxStep.value_or(0.0L);
  s.continuation.free = o.free.value_or("");
  s.records = o.records.value_or(0);
  s.special = o.special;
  s.cuts = o.cuts.value_or(SegmentCuts{});
  s.check = CheckChoiceOf(o);
  return s;
}

// The settings that change a run's results, in option form ("--from 0.1
// --step ..."), every real at full precision: what the CSV head keeps so
// that a resume takes them back. The way of continuation follows the solve's
// limits only along the arclength, with the step bounds that were given.
template <class Table> std::string SettingsText(const RunSettings<Table> &s) {
  Table t = s.table;
  const SweepSettings &sweep = OptionSweep(t);
  return SettingsText(StartP(t), sweep, s.solve, s.continuation) + SegmentCutsText(s.cuts) +
         SpecialSettingsText(s.special) + CheckText(s.check) + s.params;
}
std::string SettingsText(REAL from, const SweepSettings &sweep, const SolveSettings &solve,
                         const ContinuationChoice &continuation);
// The check's part of the settings text, "" for a run without one.
std::string CheckText(const CheckChoice &check);

// Whether a run's settings differ from its program's table.
template <class Table> bool DiffersFromTable(const RunSettings<Table> &s, const Table &table) {
  return SettingsText(s) != SettingsText(Settle(table, {}));
}

// The setting options, each with a value: --from, --step, --range,
// --records, --tolf, --tolx, --ntrial, --budgets, --relerr, --abserr,
// --continuation, --min-step, --max-step, --segments, --nodes,
// --check-digits-precision, --param, --free. (--check-digits, whose value
// may be left out, is read by ParseCheckDigits.)
extern const std::string_view kSettingNames[18];

// --check-digits with its value K, or bare when `value` is null: the error,
// or "".
std::string ParseCheckDigits(const char *value, SettingOptions &o);

// Reads the value of setting option `name` into `o`. False when `name` is not
// one of them; otherwise `error` holds what is wrong with the value, or is
// empty.
bool ParseSettingOption(std::string_view name, std::string_view value, SettingOptions &o,
                        std::string &error);

// What is wrong with the options taken together (step bounds without the
// arclength, a minimum above the maximum), or "".
std::string CombinationError(const SettingOptions &o);

// Reads "--name value" pairs as SettingsText writes them; the error, or "".
// A line without every setting that SettingsText always writes, with one
// twice, or one that does not read whole, is refused: it is not one this
// system wrote.
std::string ParseSettingsText(std::string_view text, SettingOptions &o);

// What is wrong with a start outside the range of the sweep it starts, or "".
std::string StartError(REAL from, const SweepSettings &sweep);
// What is wrong with a step that could never carry the sweep on from its
// start (P + DP == P, a subnormal step, step bounds along the curve that
// cannot move P): such a run would write the same P forever or end in a
// trap; "" when nothing.
std::string StepError(REAL from, const SweepSettings &sweep, const ContinuationChoice &c);
// The solution components of a program's model (what a profile holds).
template <class Model> constexpr int ComponentsOf(const OnePassSettings<Model> &) {
  return Model::NEQN;
}
constexpr int ComponentsOf(const ShootA1Settings &) {
  return FamilyA<4>::NEQN;
}
constexpr int ComponentsOf(const ShootA2Settings &) {
  return FamilyA<5>::NEQN;
}

template <class Table> std::string SettingsError(const Table &table, const SettingOptions &o) {
  if (std::string error = ParamsError(ParamNamesOf(table), o.params); !error.empty())
    return error;
  if (o.free && !FindParam(ParamNamesOf(table), *o.free))
    return "--free " + *o.free + ": the model has no parameter of that name";
  RunSettings<Table> s = Settle(table, o);
  // A start at a record (--start-at) is checked against the range once the
  // record's P is known.
  if (std::string error = StartError(StartP(s.table), OptionSweep(s.table));
      !error.empty() && (o.from || o.special.startAt.empty()))
    return error;
  if (std::string error = SpecialRangeError(o.special, OptionSweep(s.table).P1,
                                            OptionSweep(s.table).P2, ComponentsOf(table));
      !error.empty())
    return error;
  return StepError(StartP(s.table), OptionSweep(s.table), s.continuation);
}

} // namespace zanfel
