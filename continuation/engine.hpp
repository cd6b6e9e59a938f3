// The continuation engine the programs share: the program state, the solve,
// the record and the sweep. It writes the results files itself (a record and
// its row are one unit that a resume relies on) and tells everything else to
// its observer.
#pragma once

#include <string_view>
#include <vector>

#include "continuation/observer.hpp"
#include "continuation/settings.hpp"
#include "continuation/usrfun_memo.hpp"
#include "nonlinear/mnewt.hpp"
#include "report/record.hpp"
#include "report/results_csv.hpp"
#include "report/text_file.hpp"
#include "runtime/console.hpp"
#include "shooting/shooting.hpp"

namespace zanfel {

// The step of P shrinks by this factor after a solve that needed NTRIAL
// iterations.
constexpr REAL kStepShrink = 0.9L;

// The program-wide variables of one program: the model's state `g`, which
// the model and the shooting layer share by reference, and the driver's own.
template <ShootingModel Model> struct Program {
  static constexpr int N = Model::N;
  typename Model::Globals g;
  REAL DP = 0.0L, P1 = 0.0L, P2 = 0.0L, H1 = 0.0L;
  INT16 PROXOD = 0;
  GLNARRAY<N> BETA;
  GLNBYN<N> ALPHA;
  TextFile FAIL;
  TextFile CSV; // ZANFEL.CSV, the same records at full precision
  UsrfunMemo<Model> memo;
  NewtonTrace trace; // of the latest solve, for the reason of an iteration-limit end
  long records = 0;
  long csvRows = 0;
  int pass = 0;         // passes begun in this run
  long recordLimit = 0; // records of a pass after which its sweep stops; 0: none
  long passFirst = 0;   // records before this pass's first
  SweepObserver &observer;

  explicit Program(SweepObserver &o) : observer(o) {}
};

// MNEWT from the current unknowns with the limits of s.g.solve, traced in
// s.trace, then USRFUN once more so that YOUT and H hold the end values of the
// converged unknowns' last trajectory. When that call repeats the inputs of
// MNEWT's last one, its results are taken as they are.
template <class Model> void Solve(Program<Model> &s) {
  constexpr INT16 N = Model::N;
  const SolveSettings &limits = s.g.solve;
  // MNEWT iterates the program-wide unknowns: the X it hands back is s.g.X.
  MNEWT(
      limits.NTRIAL, s.g.X, N, limits.TOLX, limits.TOLF, s.g.ITER,
      [&s](GLNARRAY<N> &, INT16 n, GLNBYN<N> &ALPHA, GLNARRAY<N> &BETA) {
        s.observer.AtSafePoint(s.g.P); // a stop ends a long solve between its iterations
        s.trace.NoteTrajectories(n + 1, s.memo.Record(s.g, n, ALPHA, BETA));
      },
      &s.trace);
  s.memo.Reuse(s.g, N, s.ALPHA, s.BETA);
}

// What a family fixes about its sweep: the record, the plotted value, the
// scale H and its partner in the record, and the direction of the step.
template <class Model> struct SweepRules {
  const RecordLayout &layout;
  int plotIndex;
  const char *plotted;                     // the value at plotIndex, named on the pictures
  REAL (*scale)(const Program<Model> &);   // H for the record and after it
  REAL (*partner)(const Program<Model> &); // H1 for the record
  bool addStep;                            // P := P + DP instead of P - DP
  const char *zColumn;                     // CSV name of YOUT[layout.iz]
  const char *vColumn = "y2_1";            // CSV names of YOUT[layout.iv] and YOUT[layout.iv + 1]
  const char *dgColumn = "y8_1";
};

// The CSV's column names under these rules.
template <class Model> std::vector<std::string> CsvColumns(const SweepRules<Model> &rules) {
  return CsvColumnNames(Model::N, rules.zColumn, rules.vColumn, rules.dgColumn);
}

// The row of ZANFEL.CSV for the record just written, handed to the file at
// once like the record.
template <class Model>
void WriteCsvRow(Program<Model> &s, const SweepRules<Model> &rules, unsigned long messages) {
  CsvRow<Model::N, Model::NOUT> row;
  row.record = ++s.csvRows;
  row.pass = s.pass;
  row.P = s.g.P;
  row.H = s.g.H;
  row.ITER = s.g.ITER;
  row.X = s.g.X;
  row.YOUT = s.g.YOUT;
  row.messages = static_cast<long>(messages);
  row.DP = s.DP;
  s.CSV.Write(FormatCsvRow(row, rules.layout));
  s.CSV.WriteThrough();
}

// What follows a record: H for the next solve, the next P, and the step
// shrunk after a solve that needed NTRIAL iterations. True when P has left
// [P1, P2]. A resumed sweep goes on from its last row through this too.
template <class Model> bool StepOn(Program<Model> &s, const SweepRules<Model> &rules) {
  // H assigned again, deliberately: the record cannot have changed it, and
  // the sweep has always done it here.
  s.g.H = rules.scale(s);
  s.g.P = rules.addStep ? s.g.P + s.DP : s.g.P - s.DP;
  if (s.g.ITER >= s.g.solve.NTRIAL)
    s.DP = kStepShrink * s.DP;
  return s.g.P > s.P2 || s.g.P < s.P1;
}

// The continuation: solve, plot, record, step P, shrink the step after a
// solve that needed NTRIAL iterations, stop outside [P1, P2] or on a key.
template <class Model> void Sweep(Program<Model> &s, const SweepRules<Model> &rules) {
  for (;;) {
    s.observer.AtSafePoint(s.g.P); // every record so far is whole in the file
    const unsigned long messagesBefore = MessageCount();
    Solve(s);
    // The point is plotted where the last trajectory left H.
    s.observer.Solved(s.g.H, s.g.YOUT[rules.plotIndex]);
    s.g.H = rules.scale(s);
    s.H1 = rules.partner(s);
    // The record first, then its row: a run cut off between the two leaves
    // the results file one record ahead, which a resume cuts back.
    WriteRecord(s.FAIL, rules.layout, s.g.H, s.H1, s.g.X, s.g.YOUT);
    ++s.records;
    WriteCsvRow(s, rules, MessageCount() - messagesBefore);
    s.observer.Recorded({s.pass, s.g.H, s.g.YOUT[rules.plotIndex]}, s.g.P, s.records);
    const bool leftRange = StepOn(s, rules);
    const bool enough = s.recordLimit > 0 && s.records - s.passFirst >= s.recordLimit;
    if (leftRange || enough || s.observer.KeyPressed()) {
      s.observer.SweepEnded(leftRange ? SweepEnd::LeftRange
                            : enough  ? SweepEnd::Records
                                      : SweepEnd::Key);
      return;
    }
  }
}

// One pass from the start guess in X and P: the frame, the initial solve and
// the first point of the curve, then the sweep.
template <class Model>
void RunPass(Program<Model> &s, const SweepRules<Model> &rules, const FrameSettings &frame,
             const SweepSettings &sweep, bool checkGraphResult) {
  ++s.pass;
  s.passFirst = s.records;
  s.observer.PassBegun({s.pass, frame, checkGraphResult, rules.plotted, &s.trace, &s.g.solve});
  Solve(s);
  s.observer.CurveStarted(s.g.H, s.g.YOUT[rules.plotIndex]);
  s.g.H = rules.scale(s);
  s.DP = sweep.DP;
  s.P1 = sweep.P1;
  s.P2 = sweep.P2;
  Sweep(s, rules);
}

// Both files are taken before the results file is emptied: a CSV that cannot
// be written (not a regular file, in use) ends the run with nothing changed.
template <class Model> void CreateResultsFile(Program<Model> &s) {
  s.FAIL.Assign(ResultsPath());
  s.CSV.Assign(CsvPath());
  s.FAIL.Take();
  s.CSV.Take();
  s.FAIL.Rewrite();
}

// ZANFEL.CSV beside the results file, created after it, empty but for its
// head.
// The run's settings and its record limit in the program state.
template <class Model, class Table>
void TakeSettings(Program<Model> &s, const RunSettings<Table> &settings) {
  s.g.solve = settings.solve;
  s.recordLimit = settings.records;
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
  s.CSV.Write(CsvHead(program, sweepNotes, CsvColumns(rules),
                      {solve.NTRIAL, solve.TOLX, solve.TOLF, RKF_RELERR, RKF_ABSERR},
                      DiffersFromTable(settings, table) ? SettingsText(settings) : ""));
  s.CSV.WriteThrough();
}

// One "sweep" note of the CSV head for a pass with these settings.
inline std::string SweepNote(std::string_view what, REAL startP, const SweepSettings &sweep,
                             bool addStep, const SolveSettings &solve) {
  return SweepNoteText(what, startP, sweep.DP, sweep.P1, sweep.P2, addStep, solve.NTRIAL);
}

// Close the results files; the observer waits for Enter and closes the
// window.
template <class Model> void EndRun(Program<Model> &s) {
  s.FAIL.Close();
  s.CSV.Close();
  s.observer.RunEnding();
}

// A program of one pass (families B and C): the parameters, the results
// file, the start point, the pass, the end.
template <class Model>
int RunOnePass(std::string_view program, const OnePassSettings<Model> &table,
               const SettingOptions &options, const SweepRules<Model> &rules,
               SweepObserver &observer) {
  const RunSettings<OnePassSettings<Model>> run = Settle(table, options);
  const OnePassSettings<Model> &settings = run.table;
  Program<Model> s(observer);
  TakeSettings(s, run);
  s.g.par = settings.par;
  CreateResultsFile(s);
  CreateCsvFile(s, program, rules,
                {SweepNote("sweep", settings.start.P, settings.sweep, rules.addStep, run.solve)},
                run, table);
  LoadStart(s.g, settings.start);
  RunPass(s, rules, settings.frame, settings.sweep, false);
  EndRun(s);
  return 0;
}

} // namespace zanfel
