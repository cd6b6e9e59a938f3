// What every way of following the curve shares: the program state, the
// solve at fixed P and the record. The engine writes the results files itself
// (a record and its row are one unit that a resume relies on) and tells
// everything else to its observer.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "continuation/observer.hpp"
#include "continuation/outcome.hpp"
#include "continuation/profiles.hpp"
#include "continuation/record_check.hpp"
#include "continuation/segment_nodes.hpp"
#include "continuation/segmented_solve.hpp"
#include "continuation/settings.hpp"
#include "continuation/strategy.hpp"
#include "continuation/usrfun_memo.hpp"
#include "nonlinear/mnewt.hpp"
#include "nonlinear/newton_trace.hpp"
#include "report/record.hpp"
#include "report/results_csv.hpp"
#include "report/text_file.hpp"
#include "runtime/console.hpp"
#include "shooting/shooting.hpp"

namespace zanfel {

// The step of P shrinks by this factor after a solve that needed NTRIAL
// iterations.
constexpr REAL kStepShrink = 0.9L;

// What a natural sweep that looks for branch points keeps of its last
// record: the determinant of its Jacobian, its P and unknowns.
template <int N> struct NaturalBranchWatch {
  REAL det = 0.0L, P = 0.0L;
  GLNARRAY<N> X;
  bool have = false;
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
  TextFile FAIL;
  TextFile CSV;   // ZANFEL.CSV, the same records at full precision
  TextFile NODES; // ZANFEL.NODES, the node states of a run with segments
  UsrfunMemo<Model> memo;
  NewtonTrace trace; // of the latest solve, for the reason of an iteration-limit end
  long records = 0;
  long csvRows = 0;
  int pass = 0;         // passes begun in this run
  long recordLimit = 0; // records of a pass after which its sweep stops; 0: none
  long passFirst = 0;   // records before this pass's first
  SweepObserver &observer;
  ContinuationChoice continuation; // the run's, from its settings
  REAL arclength = 0.0L;           // along the curve, from the run's first point
  REAL slope = 0.0L;               // dP/ds at the point being recorded
  long folds = 0;                  // fold records so far, which number the next
  long users = 0;                  // user points (--at) so far
  long branches = 0;               // branch points so far
  SpecialOptions special;          // the run's special points and profiles
  bool labelled = false;           // ZANFEL.CSV has the label column
  // The last row written and where it starts in ZANFEL.CSV: the end of a
  // sweep labels it again.
  CsvRow<N, Model::NOUT> lastRow;
  long long lastRowStart = -1;
  // With --check-digits, the state of the last record: the end of a sweep
  // that was not known before its row was written checks it then.
  typename Model::Globals lastRecorded;
  long lastRecordedRow = 0; // the row of that state; 0: none in this run
  // Along the arclength, a start from an earlier run's record goes on in
  // the direction that run had there.
  GLNARRAY<N + 1> startDirection;
  bool haveStartDirection = false;
  // A start at a branch point switched onto the crossing branch: its first
  // record is a step along that branch, not the branch point again.
  bool switchedStart = false;
  NaturalBranchWatch<N> branchWatch; // --branch-points in a natural sweep
  ProfileBook<Model> profiles;       // --profiles: ZANFEL.PROFILES.csv
  // The node states and work areas of multiple shooting; none for one
  // segment.
  std::unique_ptr<SegmentedShooting<Model>> segments;
  CheckChoice check; // which records are checked, in which arithmetic
  // Along a fold curve (continuation/fold_curve.hpp): the free parameter,
  // its CSV column and the plotted value.
  const char *freeName = nullptr;
  REAL freeValue = 0.0L;

  explicit Program(SweepObserver &o) : observer(o) {}
};

// MNEWT from the current unknowns with the limits of s.g.solve, traced in
// s.trace, then USRFUN once more so that YOUT and H hold the end values of the
// converged unknowns' last trajectory. When that call repeats the inputs of
// MNEWT's last one, its results are taken as they are. A failure returns at
// once, with nothing done after it.
template <class Model> [[nodiscard]] Failure Solve(Program<Model> &s) {
  if constexpr (kTakesSegments<Model>)
    if (s.segments)
      return SolveOnSegments(*s.segments, s.g, s.trace, [&s] { s.observer.AtSafePoint(s.g.P); });
  constexpr INT16 N = Model::N;
  const SolveSettings &limits = s.g.solve;
  // MNEWT iterates the program-wide unknowns: the X it hands back is s.g.X.
  const NewtonStatus status = MNEWT(
      limits.NTRIAL, s.g.X, N, limits.TOLX, limits.TOLF, s.g.ITER,
      [&s](GLNARRAY<N> &, INT16 n, GLNBYN<N> &ALPHA, GLNARRAY<N> &BETA) {
        s.observer.AtSafePoint(s.g.P); // a stop ends a long solve between its iterations
        const UsrfunResult r = s.memo.Record(s.g, n, ALPHA, BETA);
        s.trace.NoteTrajectories(n + 1, r.cutShort);
        if (r.invalidCall)
          return false;
        s.trace.NoteJacobian(ALPHA, n);
        return true;
      },
      &s.trace);
  if (status != NewtonStatus::Converged)
    return FailureOf(status);
  return s.memo.Reuse(s.g, N, s.ALPHA, s.BETA).invalidCall ? Failure::InvalidIntegratorCall
                                                           : Failure::None;
}

// The outcome of a run whose solve failed. The program ends next, through
// its exit sequence: until then the results files stay taken (their locks
// held, their last whole record known to the end hooks), though the program
// state goes.
template <class Model> RunOutcome FailedRun(Program<Model> &s, Failure failure) {
  s.FAIL.HoldUntilExit();
  s.CSV.HoldUntilExit();
  if (s.profiles.file.IsOpen())
    s.profiles.file.HoldUntilExit();
  if (s.NODES.IsOpen())
    s.NODES.HoldUntilExit();
  RunOutcome outcome;
  outcome.failure = failure;
  outcome.trace = s.trace;
  outcome.solve = s.g.solve;
  return outcome;
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

// The CSV's columns under these rules, and their names.
template <class Model>
std::vector<CsvColumn> CsvColumnTable(const SweepRules<Model> &rules, bool alongArc,
                                      bool labelled = false, bool withCheck = false,
                                      const char *freeName = nullptr) {
  return CsvColumnTable<Model::N, Model::NOUT>(rules.layout,
                                               {rules.vColumn, rules.dgColumn, rules.zColumn},
                                               alongArc, labelled, withCheck, freeName);
}
template <class Model>
std::vector<std::string> CsvColumns(const SweepRules<Model> &rules, bool alongArc = false,
                                    bool labelled = false, bool withCheck = false,
                                    const char *freeName = nullptr) {
  return NamesOf(CsvColumnTable(rules, alongArc, labelled, withCheck, freeName));
}

// The row of ZANFEL.CSV for the record just written, handed to the file at
// once like the record.
template <class Model>
void WriteCsvRow(Program<Model> &s, const SweepRules<Model> &rules, unsigned long messages,
                 const RecordLabel &label, const RecordCheck<Model::N> &check) {
  CsvRow<Model::N, Model::NOUT> &row = s.lastRow;
  row.record = ++s.csvRows;
  row.pass = s.pass;
  row.P = s.g.P;
  row.H = s.g.H;
  row.ITER = s.g.ITER;
  row.X = s.g.X;
  row.YOUT = s.g.YOUT;
  row.messages = static_cast<long>(messages);
  row.DP = s.DP;
  row.alongArc = s.continuation.AlongArc();
  row.labelled = s.labelled;
  row.label = label;
  row.s = s.arclength;
  row.slope = s.slope;
  row.freeName = s.freeName;
  row.free = s.freeValue;
  PutCheck(row, s.check, check);
  s.lastRowStart = s.CSV.Written();
  s.CSV.Write(FormatCsvRow(row, rules.layout));
  s.CSV.WriteThrough();
}

// The node states of the point just solved on segments (NEQN values a
// node, node after node), or nullptr for single shooting.
template <class Model> const REAL *SegmentNodes(const Program<Model> &s) {
  return s.segments ? &s.segments->Z[Model::N + 1] : nullptr;
}

// The label of the next record of this kind: a fold or a user point takes
// the next running number of its kind.
template <class Model> RecordLabel NextLabel(Program<Model> &s, RecordKind kind) {
  switch (kind) {
  case RecordKind::Fold:
    return {kind, ++s.folds};
  case RecordKind::User:
    return {kind, ++s.users};
  case RecordKind::Branch:
    return {kind, ++s.branches};
  case RecordKind::Plain:
  case RecordKind::End:
    break;
  }
  return {kind, 0};
}

// What the sweep has solved becomes a record of this kind: the point
// plotted, the record checked if the run checks it, the record and its row
// written, the observer told. `lastOfSweep`: the sweep ends after it.
template <class Model>
void RecordPoint(Program<Model> &s, const SweepRules<Model> &rules, unsigned long messagesBefore,
                 RecordKind kind = RecordKind::Plain, bool lastOfSweep = false) {
  const RecordLabel label = NextLabel(s, kind);
  NoteRecordState(s.profiles, s.special.profiles, s.g, SegmentNodes(s));
  // The point is plotted where the last trajectory left H.
  const REAL plotted = s.freeName ? s.freeValue : s.g.YOUT[rules.plotIndex];
  s.observer.Solved(s.g.H, plotted);
  s.g.H = rules.scale(s);
  s.H1 = rules.partner(s);
  // The node states first, then the record, then its row: a run cut off
  // between them leaves the results file one record ahead (or the node
  // states), which a resume cuts back.
  if (s.segments) {
    s.NODES.Write(NodesLine(s.records + 1, *s.segments));
    s.NODES.WriteThrough();
  }
  const bool limitReached = s.recordLimit > 0 && s.records + 1 - s.passFirst >= s.recordLimit;
  const RecordCheck<Model::N> check = CheckIfWanted<Model>(
      s.check, s.csvRows + 1, s.g, rules.plotIndex, kind, lastOfSweep || limitReached);
  if (s.check.on) {
    s.lastRecorded = s.g;
    s.lastRecordedRow = s.csvRows + 1;
  }
  WriteRecord(s.FAIL, rules.layout, s.g.H, s.H1, s.g.X, s.g.YOUT);
  ++s.records;
  WriteCsvRow(s, rules, MessageCount() - messagesBefore, label, check);
  ProfileRecord(s.profiles, s.special.profiles, s.lastRow.record, label);
  s.observer.Recorded({s.pass, s.g.H, plotted, kind, s.g.P, label.number, check.digits}, s.g.P,
                      s.records, s.g.ITER);
}

} // namespace zanfel
