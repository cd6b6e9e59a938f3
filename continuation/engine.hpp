// The continuation engine the programs share: the passes and the programs
// of one pass, over the ways of following the curve (natural, arclength).
#pragma once

#include <algorithm>
#include <string_view>
#include <vector>

#include "continuation/arclength.hpp"
#include "continuation/branch_switch.hpp"
#include "continuation/fold_curve.hpp"
#include "continuation/natural.hpp"
#include "continuation/program.hpp"
#include "continuation/start_at.hpp"

namespace zanfel {

// One pass from the start guess in X and P: the frame, the initial solve and
// the first point of the curve, then the sweep; a failed solve ends it.
template <class Model>
[[nodiscard]] Failure RunPass(Program<Model> &s, const SweepRules<Model> &rules,
                              const FrameSettings &frame, const SweepSettings &sweep,
                              bool checkGraphResult) {
  ++s.pass;
  s.passFirst = s.records;
  s.observer.PassBegun({s.pass, frame, checkGraphResult, rules.plotted, s.g.P, sweep.P1, sweep.P2,
                        rules.addStep, s.continuation.AlongArc(), s.labelled, !s.special.at.empty(),
                        ProfiledComponent(s.special)});
  if (const Failure failure = Solve(s); failure != Failure::None)
    return failure;
  s.observer.CurveStarted(s.g.H, s.g.YOUT[rules.plotIndex]);
  s.g.H = rules.scale(s);
  s.DP = sweep.DP;
  s.P1 = sweep.P1;
  s.P2 = sweep.P2;
  const Failure failure = s.continuation.AlongArc() ? ArclengthSweep(s, rules) : Sweep(s, rules);
  LabelSweepEnd(s, rules);
  return failure;
}

// What an earlier run left beside the results file is kept, not emptied.
inline void KeepEarlierResults(TextFile &results) {
  results.KeepEarlier({CsvPath(), BesidePath("ZANFEL.PNG"), BesidePath("ZANFEL.SVG"),
                       ProfilesPath(), BesidePath(kProfilesPicture), NodesPath()});
}

// Every file of the run is taken before any is emptied, the earlier run's
// moved aside first: a CSV that cannot be written (not a regular file, in
// use) ends the run with nothing changed.
template <class Model> void TakeResultsFiles(Program<Model> &s) {
  s.FAIL.Assign(ResultsPath());
  s.CSV.Assign(CsvPath());
  if (s.segments)
    s.NODES.Assign(NodesPath());
  KeepEarlierResults(s.FAIL);
  s.FAIL.Take();
  s.CSV.Take();
  if (s.segments)
    s.NODES.Take();
  if (s.special.profiles.Any()) {
    s.profiles.file.Assign(ProfilesPath());
    s.profiles.file.Take();
  }
}
template <class Model> void CreateResultsFile(Program<Model> &s) {
  TakeResultsFiles(s);
  s.FAIL.Rewrite();
  if (s.segments)
    s.NODES.Rewrite();
}

// The run's settings and its record limit in the program state; a binary128
// check the model cannot make is said once here.
template <class Model, class Table>
void TakeSettings(Program<Model> &s, std::string_view program, const RunSettings<Table> &settings) {
  s.g.solve = settings.solve;
  s.continuation = settings.continuation;
  s.recordLimit = settings.records;
  s.special = settings.special;
  s.labelled = s.continuation.AlongArc() || LabelsInNaturalSweep(s.special);
  if constexpr (kTakesSegments<Model>)
    if (settings.cuts.Multiple())
      s.segments = std::make_unique<SegmentedShooting<Model>>(settings.cuts);
  if (s.segments)
    s.profiles.cuts = &s.segments->cuts;
  s.check = settings.check;
  if (NarrowCheck<Model>(s.check))
    NoteNarrowCheck(program);
}

// ZANFEL.CSV beside the results file, created after it, empty but for its
// head. The head names the settings in full only when they differ from the
// program's table, so a run without options writes the head it always has.
template <class Model, class Table>
void CreateCsvFile(Program<Model> &s, std::string_view program, const SweepRules<Model> &rules,
                   const std::vector<std::string> &sweepNotes, const RunSettings<Table> &settings,
                   const Table &table) {
  s.CSV.Assign(CsvPath());
  s.CSV.Rewrite();
  const SolveSettings &solve = settings.solve;
  const bool alongArc = s.continuation.AlongArc();
  std::vector<std::string> notes = sweepNotes;
  if (alongArc)
    notes.push_back(s.continuation.FoldCurve() ? FoldCurveNote(s.continuation)
                                               : ArclengthNote(s.continuation));
  if (s.check.on)
    notes.push_back(CheckHeadNote<Model>(s.check));
  s.CSV.Write(CsvHead(program, notes,
                      CsvColumns(rules, alongArc, s.labelled, s.check.on, s.freeName),
                      {solve.NTRIAL, solve.TOLX, solve.TOLF, solve.RELERR, solve.ABSERR},
                      DiffersFromTable(settings, table) ? SettingsText(settings) : ""));
  s.CSV.WriteThrough();
  CreateProfilesFile(s.profiles, s.special.profiles, program);
}

// How the step of a sweep changes as it goes, for the CSV head.
inline std::string StepRuleText(const ContinuationChoice &c, const SolveSettings &solve) {
  if (c.AlongArc())
    return "the step along the curve halves after a failed solve and doubles after a solve of "
           "at most " +
           std::to_string(kFewIterations) + " iterations";
  return "DP := " + ShortReal(kStepShrink) + "*DP after a solve of " +
         std::to_string(solve.NTRIAL) + " iterations";
}

// One "sweep" note of the CSV head for a pass with these settings.
template <class Table>
std::string SweepNote(std::string_view what, REAL startP, const SweepSettings &sweep, bool addStep,
                      const RunSettings<Table> &run) {
  return SweepNoteText(what, startP, sweep.DP, sweep.P1, sweep.P2, addStep,
                       StepRuleText(run.continuation, run.solve));
}

// Close the results files; the observer waits for Enter and closes the
// window.
template <class Model> void EndRun(Program<Model> &s) {
  s.FAIL.Close();
  s.CSV.Close();
  if (s.profiles.file.IsOpen())
    s.profiles.file.Close();
  if (s.NODES.IsOpen())
    s.NODES.Close();
  s.observer.RunEnding();
}

// The parameters of the run that wrote a start record come with it (the
// record solves that model); those given on the command line change them.
// The error of the start file's settings line, or "".
template <class Table>
std::string StartParams(const Table &table, const std::string &settings, SettingOptions &options) {
  SettingOptions recorded;
  if (std::string error = ParseSettingsText(settings, recorded); !error.empty())
    return "the settings line: " + error;
  if (std::string error = ParamsError(ParamNamesOf(table), recorded.params); !error.empty())
    return "the settings line: " + error;
  for (const ParamOption &p : recorded.params)
    if (std::none_of(options.params.begin(), options.params.end(),
                     [&](const ParamOption &o) { return o.name == p.name; }))
      options.params.push_back(p);
  return "";
}

// --start-at: the record read, and the settings it gives: its P as the
// start, the step the other way with --reverse. 0, or the status after the
// message; a record outside this run's range cannot start it.
template <class Model>
int SettingsOfStart(std::string_view program, const OnePassSettings<Model> &table,
                    const SweepRules<Model> &rules, SettingOptions &options,
                    StartRecord<Model> &start) {
  if (const int status = ReadStartRecord(program, options.special.startAt, rules, start))
    return status;
  options.from = start.row.P;
  if (const std::string error = StartParams(table, start.settings, options); !error.empty())
    return CannotStartAt(program, kStartBadData,
                         std::string(SplitStartAt(options.special.startAt).file) + ": " + error);
  // Switched, --reverse takes the crossing branch's other side, not P's.
  if (options.special.reverse && !options.special.switchBranch)
    options.step = -options.step.value_or(table.sweep.DP);
  if (const std::string error = SettingsError(table, options); !error.empty())
    return CannotStartAt(program, kStartBadData,
                         "record " + std::to_string(start.row.record) + ": " + error);
  return 0;
}

// A program of one pass (families B and C): the parameters, the results
// file, the start point, the pass, the end.
template <class Model>
RunOutcome RunOnePass(std::string_view program, const OnePassSettings<Model> &table,
                      const SettingOptions &given, const SweepRules<Model> &rules,
                      SweepObserver &observer) {
  SettingOptions options = given;
  StartRecord<Model> start;
  const bool startAt = !options.special.startAt.empty();
  if (startAt)
    if (const int status = SettingsOfStart(program, table, rules, options, start))
      return EndedWith(status);
  const RunSettings<OnePassSettings<Model>> run = Settle(table, options);
  const OnePassSettings<Model> &settings = run.table;
  Program<Model> s(observer);
  TakeSettings(s, program, run);
  s.g.par = settings.par;
  if (options.special.switchBranch)
    if (const int status = SwitchAtStart(program, s, start, options.special.reverse))
      return EndedWith(status);
  const auto *free = FindParam(ParamNamesOf(table), run.continuation.free);
  if (run.continuation.FoldCurve())
    s.freeName = free->name; // SettingsError refused a name the model lacks
  CreateResultsFile(s);
  std::vector<std::string> notes{
      SweepNote("sweep", settings.start.P, settings.sweep, rules.addStep, run)};
  // On segments the start record's node states, when its run left them.
  const bool startNodes = startAt && LoadStartNodes(s, start);
  if (startAt)
    notes.push_back(start.note + (startNodes ? ", node states from ZANFEL.NODES" : ""));
  CreateCsvFile(s, program, rules, notes, run, table);
  LoadStart(s.g, settings.start);
  if (startAt)
    LoadStartRecord(s, start, options.special.reverse);
  const Failure failure =
      run.continuation.FoldCurve()
          ? FoldCurvePass(s, rules, *free, settings.frame, settings.sweep, options.special.reverse)
          : RunPass(s, rules, settings.frame, settings.sweep, false);
  if (failure != Failure::None)
    return FailedRun(s, failure);
  EndRun(s);
  return EndedWith(0);
}

} // namespace zanfel
