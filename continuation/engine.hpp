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

constexpr INT16 NTRIAL = 100;
constexpr REAL TOLX = 1.0E-15L;
constexpr REAL TOLF = 1.0E-15L;
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
  long records = 0;
  long csvRows = 0;
  int pass = 0; // passes begun in this run
  SweepObserver &observer;

  explicit Program(SweepObserver &o) : observer(o) {}
};

// MNEWT from the current unknowns, then USRFUN once more so that YOUT and H
// hold the end values of the converged unknowns' last trajectory. When that
// call repeats the inputs of MNEWT's last one, its results are taken as they
// are.
template <class Model> void Solve(Program<Model> &s) {
  constexpr INT16 N = Model::N;
  // MNEWT iterates the program-wide unknowns: the X it hands back is s.g.X.
  MNEWT(NTRIAL, s.g.X, N, TOLX, TOLF, s.g.ITER,
        [&s](GLNARRAY<N> &, INT16 n, GLNBYN<N> &ALPHA, GLNARRAY<N> &BETA) {
          s.observer.AtSafePoint(s.g.P); // a stop ends a long solve between its iterations
          s.memo.Record(s.g, n, ALPHA, BETA);
        });
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
};

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
  if (s.g.ITER >= NTRIAL)
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
    s.observer.Recorded({s.pass, s.g.H, s.g.YOUT[rules.plotIndex]}, s.g.P, s.records, s.g.ITER);
    const bool leftRange = StepOn(s, rules);
    if (leftRange || s.observer.KeyPressed()) {
      s.observer.SweepEnded(leftRange ? SweepEnd::LeftRange : SweepEnd::Key);
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
  s.observer.PassBegun(
      {s.pass, frame, checkGraphResult, rules.plotted, s.g.P, sweep.P1, sweep.P2, rules.addStep});
  Solve(s);
  s.observer.CurveStarted(s.g.H, s.g.YOUT[rules.plotIndex]);
  s.g.H = rules.scale(s);
  s.DP = sweep.DP;
  s.P1 = sweep.P1;
  s.P2 = sweep.P2;
  Sweep(s, rules);
}

// What an earlier run left beside the results file is kept, not emptied.
inline void KeepEarlierResults(TextFile &results) {
  results.KeepEarlier({CsvPath(), BesidePath("ZANFEL.PNG"), BesidePath("ZANFEL.SVG")});
}

template <class Model> void CreateResultsFile(Program<Model> &s) {
  s.FAIL.Assign(ResultsPath());
  KeepEarlierResults(s.FAIL);
  s.FAIL.Rewrite();
}

// ZANFEL.CSV beside the results file, created after it, empty but for its
// head.
template <class Model>
void CreateCsvFile(Program<Model> &s, std::string_view program, const SweepRules<Model> &rules,
                   const std::vector<std::string> &sweepNotes) {
  s.CSV.Assign(CsvPath());
  s.CSV.Rewrite();
  s.CSV.Write(CsvHead(program, sweepNotes, CsvColumnNames(Model::N, rules.zColumn),
                      {NTRIAL, TOLX, TOLF, RKF_RELERR, RKF_ABSERR}));
  s.CSV.WriteThrough();
}

// One "sweep" note of the CSV head for a pass with these settings.
inline std::string SweepNote(std::string_view what, REAL startP, const SweepSettings &sweep,
                             bool addStep) {
  return SweepNoteText(what, startP, sweep.DP, sweep.P1, sweep.P2, addStep, NTRIAL);
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
int RunOnePass(std::string_view program, const OnePassSettings<Model> &settings,
               const SweepRules<Model> &rules, SweepObserver &observer) {
  Program<Model> s(observer);
  s.g.par = settings.par;
  CreateResultsFile(s);
  CreateCsvFile(s, program, rules,
                {SweepNote("sweep", settings.start.P, settings.sweep, rules.addStep)});
  LoadStart(s.g, settings.start);
  RunPass(s, rules, settings.frame, settings.sweep, false);
  EndRun(s);
  return 0;
}

} // namespace zanfel
