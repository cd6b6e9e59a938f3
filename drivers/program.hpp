// What the drivers of the three families share: the program state, the solve,
// the plot point and the continuation sweep.
#pragma once

#include "drivers/curve_picture.hpp"
#include "drivers/results_csv.hpp"
#include "drivers/settings.hpp"
#include "drivers/usrfun_memo.hpp"
#include <string_view>
#include <vector>

#include "graph/graph.hpp"
#include "nonlinear/mnewt.hpp"
#include "plot/syskord.hpp"
#include "report/record.hpp"
#include "report/text_file.hpp"
#include "runtime/console.hpp"
#include "shooting/shooting.hpp"

namespace zanfel {

// Why a sweep stopped.
enum class SweepEnd { LeftRange, Key };

// The console seams of a run: tests replace them to run without a console.
struct Hooks {
  bool (*keyPressed)() = KeyPressed;
  void (*waitForEnter)() = WaitForEnter;
  // Called after every record written (progress display).
  void (*afterRecord)(REAL P, long records) = nullptr;
  // Called when a sweep stops, before it returns (progress display).
  void (*afterSweep)(SweepEnd why) = nullptr;
};

// One point of the plotted curve per record, for the pictures drawn from the
// whole run: the pass it belongs to (counted from 1 in the run), H and the
// plotted end value.
struct CurvePoint {
  int pass;
  REAL H;
  REAL value;
};

// The program-wide variables of one program: the model's state `g`, which
// the model and the shooting layer share by reference, and the driver's own.
template <ShootingModel Model> struct Program {
  static constexpr int N = Model::N;
  typename Model::Globals g;
  REAL DP = 0.0L, P1 = 0.0L, P2 = 0.0L, H1 = 0.0L;
  INT16 PROXOD = 0;
  GLNARRAY<N> BETA;
  GLNBYN<N> ALPHA;
  REAL XI = 0.0L, YI = 0.0L;
  INT16 MX1 = 0, MX2 = 0, MY1 = 0, MY2 = 0;
  Frame frame;
  TextFile FAIL;
  TextFile CSV; // ZANFEL.CSV, the same records at full precision
  UsrfunMemo<Model> memo;
  NewtonTrace trace; // of the latest solve, for the reason of an iteration-limit end
  long records = 0;
  long csvRows = 0;
  int pass = 0; // passes begun in this run
  std::vector<CurvePoint> curve;
};

// A safe point of the run, between two Newton iterations and between two
// continuation steps: notes P for the summary of the run and ends the run
// here when a stop signal (Ctrl-C, SIGTERM) came.
void AtSafePoint(REAL P);

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
        AtSafePoint(s.g.P); // a stop ends a long solve between its iterations
        s.trace.NoteTrajectories(n + 1, s.memo.Record(s.g, n, ALPHA, BETA));
      },
      &s.trace);
  s.memo.Reuse(s.g, N, s.ALPHA, s.BETA);
}

// Pixel of the plotted end value against H, as the last trajectory left H.
template <class Model> void PlotPoint(const Program<Model> &s, int plotIndex, INT16 &x, INT16 &y) {
  x = PlotColumn(s.frame, s.g.H, s.XI, s.MX1);
  y = PlotRow(s.frame, s.g.YOUT[plotIndex], s.YI, s.MY2);
}

template <class Model> void SetFrame(Program<Model> &s, const FrameSettings &frame) {
  s.XI = frame.XI;
  s.YI = frame.YI;
  s.MX1 = frame.MX1;
  s.MX2 = frame.MX2;
  s.MY1 = frame.MY1;
  s.MY2 = frame.MY2;
}

template <class Model> void DrawFrame(Program<Model> &s, bool checkGraphResult) {
  SYSKORD(s.frame, s.MX1, s.MX2, s.MY1, s.MY2, s.XI, s.YI, checkGraphResult);
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
// shrunk after a solve that needed 100 iterations. True when P has left
// [P1, P2]. A resumed sweep goes on from its last row through this too.
template <class Model> bool StepOn(Program<Model> &s, const SweepRules<Model> &rules) {
  // H assigned again, deliberately: the record cannot have changed it, and
  // the sweep has always done it here.
  s.g.H = rules.scale(s);
  s.g.P = rules.addStep ? s.g.P + s.DP : s.g.P - s.DP;
  if (s.g.ITER >= s.g.solve.NTRIAL)
    s.DP = 0.9L * s.DP;
  return s.g.P > s.P2 || s.g.P < s.P1;
}

// The continuation: solve, plot, record, step P, shrink the step after a
// solve that needed 100 iterations, stop outside [P1, P2] or on a key.
template <class Model>
void Sweep(Program<Model> &s, const SweepRules<Model> &rules, const Hooks &hooks) {
  for (;;) {
    AtSafePoint(s.g.P); // every record so far is whole in the file
    const unsigned long messagesBefore = MessageCount();
    Solve(s);
    INT16 x, y;
    PlotPoint(s, rules.plotIndex, x, y);
    graph::LineTo(x, y);
    s.g.H = rules.scale(s);
    s.H1 = rules.partner(s);
    // The record first, then its row: a run cut off between the two leaves
    // the results file one record ahead, which a resume cuts back.
    WriteRecord(s.FAIL, rules.layout, s.g.H, s.H1, s.g.X, s.g.YOUT);
    ++s.records;
    WriteCsvRow(s, rules, MessageCount() - messagesBefore);
    s.curve.push_back({s.pass, s.g.H, s.g.YOUT[rules.plotIndex]});
    if (hooks.afterRecord)
      hooks.afterRecord(s.g.P, s.records);
    const bool leftRange = StepOn(s, rules);
    if (leftRange || hooks.keyPressed()) {
      const SweepEnd why = leftRange ? SweepEnd::LeftRange : SweepEnd::Key;
      curve_picture::SweepStopped(why);
      if (hooks.afterSweep)
        hooks.afterSweep(why);
      return;
    }
  }
}

// The initial solve of a sweep and the first point of its curve.
template <class Model> void SolveAndMove(Program<Model> &s, const SweepRules<Model> &rules) {
  Solve(s);
  INT16 x, y;
  PlotPoint(s, rules.plotIndex, x, y);
  graph::MoveTo(x, y);
  s.g.H = rules.scale(s);
}

// One pass from the start guess in X and P: the frame, the initial solve and
// the first point of the curve, then the sweep.
template <class Model>
void RunPass(Program<Model> &s, const SweepRules<Model> &rules, const FrameSettings &frame,
             const SweepSettings &sweep, bool checkGraphResult, const Hooks &hooks) {
  ++s.pass;
  SetFrame(s, frame);
  DrawFrame(s, checkGraphResult);
  curve_picture::Watch(s.curve, rules.plotted);
  SolveAndMove(s, rules);
  s.DP = sweep.DP;
  s.P1 = sweep.P1;
  s.P2 = sweep.P2;
  Sweep(s, rules, hooks);
}

template <class Model> void CreateResultsFile(Program<Model> &s) {
  s.FAIL.Assign(ResultsPath());
  s.FAIL.Rewrite();
}

// ZANFEL.CSV beside the results file, created after it, empty but for its
// head.
template <class Model>
void CreateCsvFile(Program<Model> &s, std::string_view program, const SweepRules<Model> &rules,
                   const std::vector<std::string> &sweepNotes) {
  s.CSV.Assign(CsvPath());
  s.CSV.Rewrite();
  s.CSV.Write(CsvHead(program, sweepNotes, CsvColumnNames(Model::N, rules.zColumn)));
  s.CSV.WriteThrough();
}

// Close the results files, wait for Enter, close the window.
template <class Model> void EndRun(Program<Model> &s, const Hooks &hooks) {
  s.FAIL.Close();
  s.CSV.Close();
  hooks.waitForEnter();
  graph::CloseGraph();
  curve_picture::WriteAtNormalEnd();
}

// A program of one pass (families B and C): the parameters, the results
// file, the start point, the pass, the end.
template <class Model>
int RunOnePass(std::string_view program, const OnePassSettings<Model> &settings,
               const SweepRules<Model> &rules, const Hooks &hooks) {
  Program<Model> s;
  s.g.par = settings.par;
  CreateResultsFile(s);
  CreateCsvFile(s, program, rules,
                {SweepNote("sweep", settings.start.P, settings.sweep, rules.addStep)});
  LoadStart(s.g, settings.start);
  RunPass(s, rules, settings.frame, settings.sweep, false, hooks);
  EndRun(s, hooks);
  return 0;
}

// The command line first (--help, --version and a wrong one end here); then
// traps and stop signals on, the terminal in run mode, the progress display
// of program `name` (window title, status line) and the summary of the run,
// then the program body, or with --resume the resuming body (a program
// without one refuses).
using ProgramBody = int (*)(const Hooks &);
int RunProgram(const char *name, ProgramBody body, ProgramBody resumeBody, int argc,
               const char *const *argv);

} // namespace zanfel
