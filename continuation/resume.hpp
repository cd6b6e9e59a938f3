// --resume: a stopped sweep of shoot_b1, shoot_b2, shoot_c1 or shoot_c2 goes
// on after the last record that ZANFEL.RES and ZANFEL.CSV share, exactly as
// if it had never stopped. The state the next step reads (the unknowns, P,
// H, the Newton count and the step) comes from the last row at full
// precision. Anything that stops a resume stops it before a file changes.
#pragma once

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "continuation/branch_switch.hpp"
#include "continuation/engine.hpp"
#include "report/csv.hpp"
#include "runtime/masked_traps.hpp"

namespace zanfel {

// Exit statuses of a resume that does not start.
constexpr int kResumeUnsupported = 64; // shoot_a1, shoot_a2
constexpr int kResumeBadData = 65; // another program's files, files that disagree, an ended sweep
constexpr int kResumeNoInput = 66; // no ZANFEL.CSV or ZANFEL.RES to read

// Family A: says that its programs cannot resume; the status to exit with.
int RefuseResume(std::string_view program);

// Says on standard error why the run cannot resume; returns `status`.
int CannotResume(std::string_view program, int status, std::string_view why);

// Both files as found, the CSV's head checked against the program's.
struct ResumeFiles {
  std::string csv, res;
  std::size_t header = 0;   // where the header row of the CSV starts
  std::size_t firstRow = 0; // where the rows of the CSV start
  std::string settings;     // the "# settings:" line's value; "" for the table's own
  bool alongArc = false;    // the rows of a sweep along the arclength
  bool withCheck = false;   // the rows have the check's columns
};

// Text from a file as one line of a message: bytes outside printable ASCII
// as \xNN, and at most a few dozen of them.
std::string Printable(std::string_view text);

// Why options given with --resume cannot go on with the recorded settings:
// "--step 0.02 is not this run's 0.01 ...", or "" when every sweep setting
// given (start, step, range, the way of continuation and its step bounds) is
// the run's own. The solver's settings are free to change.
std::string SettingsConflict(REAL from, const SweepSettings &sweep,
                             const ContinuationChoice &continuation, const SettingOptions &given);

// Why the segments given with --resume (--segments, --nodes) are not the
// run's `recorded` ones, in the same words; "" when none are given or they
// are the same. The node states of ZANFEL.NODES hold only at the run's nodes.
std::string CutsConflict(const SegmentCuts &recorded, const SettingOptions &given);

// The solver settings given with --resume (Newton's tolerances and
// iterations, the budgets, the integrator's tolerances) put over those in
// force; what changed ("--budgets 16 (was 4), --tolf 1e-12 (was 1e-10)"),
// or "" when nothing did.
std::string ChangeSolverSettings(SolveSettings &solve, const SettingOptions &given);

// What is wrong with a "# settings from row" line met before row `nextRow`
// of the run `run`, or "" when it is one a resume wrote; its solver settings
// in `solve` then.
template <class Table>
std::string SettingsLineFault(std::string_view line, const RunSettings<Table> &run, long nextRow,
                              SolveSettings &solve) {
  long row;
  std::string_view text;
  if (!ParseSettingsFromRow(line, row, text))
    return Printable(line) + " is not a settings line";
  if (row != nextRow)
    return "the settings line names row " + std::to_string(row);
  SettingOptions o;
  if (const std::string error = ParseSettingsText(text, o); !error.empty())
    return "the settings line: " + error;
  Table t = run.table;
  if (const std::string conflict = SettingsConflict(StartP(t), OptionSweep(t), run.continuation, o);
      !conflict.empty())
    return "the settings line changes a sweep setting: " + conflict.substr(0, conflict.find(" ("));
  if (!SameCuts(o.cuts.value_or(SegmentCuts{}), run.cuts))
    return "the settings line changes the segments";
  if (!ParamsConflict(ParamNamesOf(run.table), run.table.par, o.params).empty())
    return "the settings line changes a parameter of the model";
  solve = Settle(run.table, o).solve;
  return "";
}

// Whether `tail` (no line end) is the start of a settings line: what a run
// cut off while writing one leaves.
bool IsSettingsLinePrefix(std::string_view tail);

// The run's settings as its CSV head records them, with the given options
// checked against them; 0, or the status after the message.
template <class Table>
int RecordedSettings(std::string_view program, const ResumeFiles &files, const Table &table,
                     const SettingOptions &given, RunSettings<Table> &run) {
  SettingOptions recorded;
  if (const std::string error = ParseSettingsText(files.settings, recorded); !error.empty())
    return CannotResume(program, kResumeBadData, "ZANFEL.CSV: the settings line: " + error);
  if (const std::string error = ParamsError(ParamNamesOf(table), recorded.params); !error.empty())
    return CannotResume(program, kResumeBadData, "ZANFEL.CSV: the settings line: " + error);
  run = Settle(table, recorded);
  run.records = given.records.value_or(0);
  if (const std::string conflict = SpecialConflict(given.special, recorded.special);
      !conflict.empty())
    return CannotResume(program, kResumeBadData, conflict);
  Table t = run.table;
  std::string conflict = SettingsConflict(StartP(t), OptionSweep(t), run.continuation, given);
  if (conflict.empty())
    conflict = CutsConflict(run.cuts, given);
  if (conflict.empty())
    conflict = ParamsConflict(ParamNamesOf(run.table), run.table.par, given.params);
  return conflict.empty() ? 0 : CannotResume(program, kResumeBadData, conflict);
}

// Takes the results file (its lock before anything is read), then the CSV,
// reads both and checks that the CSV was written by `program` of this
// version. 0, or the status after the message.
int ReadResumeFiles(std::string_view program, TextFile &res, TextFile &csv, ResumeFiles &files);

// Whether the CSV's header row is the one of these columns; 0, or the status
// after the message.
int CheckHeaderRow(std::string_view program, const ResumeFiles &files,
                   const std::vector<std::string> &columns);

// Whether `tail` (no line end) is the start of a row with these columns:
// what a run cut off while writing a row leaves.
bool IsRowPrefix(std::string_view tail, const std::vector<CsvColumn> &columns);

// Whether `tail` is the start of a record (at most a whole one) with the
// lines of `model`, a record of the same program: numbers may differ, the
// labels and the line ends may not.
bool IsRecordPrefix(std::string_view tail, std::string_view model);

// The program state a row holds.
template <class Model> void LoadRow(Program<Model> &s, const CsvRow<Model::N, Model::NOUT> &row) {
  s.g.P = row.P;
  s.g.H = row.H;
  s.g.ITER = row.ITER;
  s.g.X = row.X;
  s.g.YOUT = row.YOUT;
  s.DP = row.DP;
  s.arclength = row.s;
  s.slope = row.slope;
}

// What follows the shared records: a row torn by the end of the run after
// the last whole row, and in the results file at most one record more,
// perhaps torn. 0, or the status after the message.
template <class Model>
int CheckTails(std::string_view program, const ResumeFiles &f, const SweepRules<Model> &rules,
               std::size_t rowsEnd, long rows, std::size_t resKeep, const std::string &lastRecord,
               long shared) {
  const std::string_view csvTail = std::string_view(f.csv).substr(rowsEnd);
  if (!IsRowPrefix(csvTail, CsvColumnTable(rules, f.alongArc, false, f.withCheck)) &&
      !IsSettingsLinePrefix(csvTail))
    return CannotResume(program, kResumeBadData,
                        "ZANFEL.CSV: after row " + std::to_string(rows) + ": " +
                            Printable(csvTail) + " is not the start of a row");
  const std::string_view resTail = std::string_view(f.res).substr(resKeep);
  if (!lastRecord.empty() && !IsRecordPrefix(resTail, lastRecord))
    return CannotResume(program, kResumeBadData,
                        "ZANFEL.RES: after record " + std::to_string(shared) + ": " +
                            Printable(resTail) + " is not the start of a record");
  return 0;
}

// Why `row` is not one the sweep wrote, given the state `s` holds after the
// row before it has been stepped on (or the start state for the first row);
// empty when it can be. A crash leaves whole rows or none, and every value of
// a whole row follows from the ones before, so anything else was put there.
template <class Model>
std::string RowFault(const CsvRow<Model::N, Model::NOUT> &row, const Program<Model> &s,
                     const SweepRules<Model> &rules, REAL startDP, bool alongArc) {
  const std::vector<std::string> names = CsvColumns(rules, alongArc);
  auto said = [](const std::string &name, REAL v) { return name + " = " + FullReal(v); };
  std::vector<std::pair<std::string, REAL>> reals{{"P", row.P}, {"H", row.H}, {"DP", row.DP}};
  for (int I = 1; I <= Model::N; ++I)
    reals.emplace_back(names[4 + I], row.X[I]);
  std::size_t k = 5 + Model::N;
  for (int I : YoutColumns(Model::N, rules.layout))
    reals.emplace_back(names[k++], row.YOUT[I]);
  for (const auto &[name, v] : reals)
    if (!std::isfinite(v))
      return said(name, v) + " is not a finite number";
  if (row.ITER < 0 || row.ITER > s.g.solve.NTRIAL)
    return "ITER = " + std::to_string(row.ITER) + " is outside 0 to " +
           std::to_string(s.g.solve.NTRIAL);
  if (row.messages < 0)
    return "messages = " + std::to_string(row.messages) + " is negative";
  if (alongArc) // P and the step follow the curve, not the step rule
    return "";
  if (row.DP == 0.0L || (row.DP < 0.0L) != (startDP < 0.0L))
    return said("DP", row.DP) + ", but the step of this sweep is " + FullReal(startDP) +
           " or a part of it";
  if (row.P != s.g.P)
    return said("P", row.P) + ", but the row before leads to P = " + FullReal(s.g.P);
  if (row.DP != s.DP)
    return said("DP", row.DP) + ", but the row before leads to DP = " + FullReal(s.DP);
  return "";
}

// Along the arclength the rows are the longer ones, and a fold row counts
// only with the row after it (the sweep writes both after one step); what the
// sweep needs beyond the last row is gathered in `arc`.
template <class Model> struct ArcRows {
  CsvRow<Model::N, Model::NOUT> before; // the last step's row before the last row
  bool haveBefore = false;
  ArcNodes<Model> beforeNodes; // on segments, the node states of that row
};

// Walks the rows and the records side by side: each row must follow from
// the one before under the sweep's rules, and its record, written again from
// the row, must be the record the results file holds there. Ends at the
// first row whose record the file does not hold whole, or at a row cut
// short; the files may then be one record apart and end on the start of a
// row or a record, nothing else. `shared` rows with their records; the bytes
// of both files to keep; the state of the last shared row in `s`, its curve
// in `curve`. 0, or the status after the message.
template <class Model>
int MatchRowsAndRecords(std::string_view program, const ResumeFiles &f,
                        const RunSettings<OnePassSettings<Model>> &run,
                        const SweepRules<Model> &rules, Program<Model> &s, long &shared,
                        std::size_t &csvKeep, std::size_t &resKeep, std::vector<CurvePoint> &curve,
                        ArcRows<Model> *arc = nullptr) {
  const OnePassSettings<Model> &settings = run.table;
  CsvRow<Model::N, Model::NOUT> row, last;
  row.alongArc = arc != nullptr;
  row.labelled = s.labelled;
  row.withCheck = run.check.on;
  shared = 0;
  csvKeep = f.firstRow;
  resKeep = 0;
  s.g.P = settings.start.P; // what the first row must hold
  s.DP = settings.sweep.DP;
  s.P1 = settings.sweep.P1;
  s.P2 = settings.sweep.P2;
  bool leftRange = false;
  std::size_t rowsEnd = csvKeep; // after the last whole row read
  std::string lastRecord;
  // Where a fold row is waiting for the row after it.
  long pendingShared = 0;
  std::size_t pendingCsv = csvKeep, pendingRes = 0, pendingCurve = 0;
  bool pending = false;
  LabelCounts counts, pendingCounts;
  std::size_t lastStart = csvKeep;
  for (std::size_t end; (end = f.csv.find('\n', csvKeep)) != std::string::npos;) {
    const std::string_view line(f.csv.data() + csvKeep, end - csvKeep);
    const std::string where = "ZANFEL.CSV: row " + std::to_string(shared + 1);
    if (line.starts_with("#")) { // the rows from here on solved with other settings
      const std::string fault = pending ? "a settings line between a fold and the row of its step"
                                        : SettingsLineFault(line, run, shared + 1, s.g.solve);
      if (!fault.empty())
        return CannotResume(program, kResumeBadData,
                            "ZANFEL.CSV: before row " + std::to_string(shared + 1) + ": " + fault);
      csvKeep = rowsEnd = end + 1;
      continue;
    }
    if (!ParseCsvRow(line, rules.layout, row) || row.record != shared + 1 || row.pass != 1)
      return CannotResume(program, kResumeBadData,
                          where + " is not a row of this sweep: " + Printable(line));
    if (leftRange)
      return CannotResume(program, kResumeBadData,
                          where + ": P = " + FullReal(row.P) + " follows the end of the sweep");
    const bool inserted = IsInsertedRow(row, s, shared);
    if (std::string fault = LabelFault(row, s, counts, inserted); !fault.empty())
      return CannotResume(program, kResumeBadData, where + ": " + fault);
    if (const std::string fault =
            RowFault(row, s, rules, settings.sweep.DP, arc != nullptr || inserted);
        !fault.empty())
      return CannotResume(program, kResumeBadData, where + ": " + fault);
    // An inserted row is off the chain of steps that the rows after it follow.
    const typename Model::Globals chain = s.g;
    const REAL chainDP = s.DP;
    LoadRow(s, row);
    s.H1 = rules.partner(s);
    TextBuffer record;
    WriteRecord(record, rules.layout, s.g.H, s.H1, s.g.X, s.g.YOUT);
    rowsEnd = end + 1;
    const std::string_view rest = std::string_view(f.res).substr(resKeep);
    if (!rest.starts_with(record.text)) {
      // A results file that ends before this record (or inside it) is one
      // the run left behind; one that holds another record here is not.
      if (std::string_view(record.text).starts_with(rest))
        break;
      return CannotResume(program, kResumeBadData,
                          "ZANFEL.RES and ZANFEL.CSV differ at record " +
                              std::to_string(shared + 1));
    }
    lastRecord = record.text;
    if (!pending) {
      pendingShared = shared;
      pendingCsv = csvKeep;
      pendingRes = resKeep;
      pendingCurve = curve.size();
      pendingCounts = counts;
    }
    // A special point between two steps counts only with the step after it
    // (the sweep writes them after one step).
    pending = inserted;
    counts.Note(row.label);
    if (arc && !inserted) {
      if (shared > 0) {
        arc->before = last;
        arc->haveBefore = true;
      }
      last = row;
    } else if (!arc && !inserted) {
      last = row;
    }
    if (!inserted)
      lastStart = csvKeep;
    ++shared;
    csvKeep = end + 1;
    resKeep += record.text.size();
    CurvePoint point = CurvePointOfRow(row, s.g.H, s.g.YOUT[rules.plotIndex]);
    point.digits = row.digits.value;
    curve.push_back(point);
    if (inserted && !arc) {
      s.g = chain;
      s.DP = chainDP;
    } else if (!arc)
      leftRange = StepOn(s, rules);
  }
  if (pending) { // a special point without the row after it: cut back before it
    shared = pendingShared;
    csvKeep = pendingCsv;
    resKeep = pendingRes;
    curve.resize(pendingCurve);
    counts = pendingCounts;
    lastRecord.clear(); // its record stays in the tail of the results file
  }
  s.folds = counts.folds;
  s.users = counts.users;
  s.branches = counts.branches;
  s.lastRow = last;
  s.lastRowStart = static_cast<long long>(lastStart);
  const long rows = rowsEnd > csvKeep ? shared + 1 : shared;
  if (const int status = CheckTails(program, f, rules, rowsEnd, rows, resKeep, lastRecord, shared))
    return status;
  LoadRow(s, last);
  return 0;
}

// A resume that goes on with the solver settings of `s` where the run's were
// others: the CSV says from which row they hold, the observer what changed.
template <class Model>
void NoteSettingsChange(Program<Model> &s, RunSettings<OnePassSettings<Model>> run, long fromRow,
                        const std::string &changed) {
  run.solve = s.g.solve;
  s.CSV.Write(SettingsFromRowLine(fromRow, SettingsText(run)));
  s.CSV.WriteThrough();
  s.observer.SettingsChanged(fromRow, changed);
}

// A run with segments goes on from the node states of its last shared
// record (ZANFEL.NODES, cut back after them); 0, or the status after the
// message.
template <class Model>
int ResumeNodes(std::string_view program, Program<Model> &s, long shared, ArcRows<Model> &arc) {
  if (!s.segments)
    return 0;
  s.NODES.Assign(NodesPath());
  std::string bytes;
  std::size_t keep = 0;
  if (s.NODES.TakeExisting(bytes) != 0)
    return CannotResume(program, kResumeNoInput, "no ZANFEL.NODES to read the node states from");
  if (!ReadNodesLine(bytes, shared, *s.segments, keep))
    return CannotResume(program, kResumeBadData,
                        "ZANFEL.NODES holds no node states of record " + std::to_string(shared));
  // Along the curve the next step's node states are predicted from the
  // step before as well.
  if constexpr (kTakesSegments<Model>)
    if (std::size_t ignored = 0;
        arc.haveBefore && !ReadNodeStates<Model>(bytes, arc.before.record, s.segments->Order(),
                                                 arc.beforeNodes.Z, ignored))
      return CannotResume(program, kResumeBadData,
                          "ZANFEL.NODES holds no node states of record " +
                              std::to_string(arc.before.record));
  s.NODES.Append(static_cast<long long>(keep));
  return 0;
}

// The arclength sweep after the last row loaded in `s`.
template <class Model>
[[nodiscard]] Failure ResumeAlongArc(Program<Model> &s, const SweepRules<Model> &rules,
                                     REAL programStep, const ArcRows<Model> &arc) {
  const ArcPoint<Model> last{PointOf(s), s.slope, 0.0L, NodesOf(s)};
  ArcPoint<Model> before;
  before.nodes = arc.beforeNodes;
  if (arc.haveBefore) {
    for (int I = 1; I <= Model::N; ++I)
      before.Z[I] = arc.before.X[I];
    before.Z[Model::N + 1] = arc.before.P;
    before.slope = arc.before.slope;
  }
  return ArclengthStrategy<Model>(s, rules, programStep)
      .Resume(last, arc.haveBefore ? &before : nullptr, s.g.ITER);
}

// A program of one pass (families B and C), resumed: the files checked and
// cut back to the records they share, the frame and the curve so far drawn
// again, then the sweep on from the next step, and the usual end.
template <class Model>
RunOutcome ResumeOnePass(std::string_view program, const OnePassSettings<Model> &table,
                         const SettingOptions &options, const SweepRules<Model> &rules,
                         SweepObserver &observer) {
  Program<Model> s(observer);
  ResumeFiles files;
  if (const int status = ReadResumeFiles(program, s.FAIL, s.CSV, files))
    return EndedWith(status);
  RunSettings<OnePassSettings<Model>> run{table, table.solve, {}, 0, {}, {}, {}};
  if (const int status = RecordedSettings(program, files, table, options, run))
    return EndedWith(status);
  if (run.continuation.FoldCurve())
    return EndedWith(CannotResume(program, kResumeBadData,
                                  "a fold curve (--continuation fold) does not resume; start it "
                                  "again from its last fold with --start-at"));
  // The way of continuation is the recorded one, and the rows are its own.
  const bool alongArc = run.continuation.AlongArc();
  files.alongArc = alongArc;
  files.withCheck = run.check.on;
  if (const int status =
          CheckHeaderRow(program, files,
                         CsvColumns(rules, alongArc, alongArc || LabelsInNaturalSweep(run.special),
                                    files.withCheck)))
    return EndedWith(status);
  const OnePassSettings<Model> &settings = run.table;
  TakeSettings(s, program, run);
  s.g.par = settings.par;
  long shared;
  std::size_t csvKeep, resKeep;
  std::vector<CurvePoint> curve;
  ArcRows<Model> arc;
  {
    // Values a file was given by hand are judged, not computed with: none
    // of them may end the program with a trap.
    const MaskedTraps masked;
    if (const int status = MatchRowsAndRecords(program, files, run, rules, s, shared, csvKeep,
                                               resKeep, curve, alongArc ? &arc : nullptr))
      return EndedWith(status);
  }
  if (shared == 0)
    return EndedWith(
        CannotResume(program, kResumeBadData,
                     "ZANFEL.CSV holds no whole record to go on from; run without --resume"));
  s.records = s.csvRows = shared;
  s.pass = 1;
  // A switched run stopped after its first record goes on the way it left
  // the branch point.
  if (alongArc && !arc.haveBefore)
    s.haveStartDirection =
        SwitchedDirection(std::string_view(files.csv).substr(0, files.header), s.startDirection);
  s.P1 = settings.sweep.P1;
  s.P2 = settings.sweep.P2;
  if (!alongArc && s.special.branchPoints)
    if (const Failure failure = WatchFromLastRecord(s); failure != Failure::None)
      return FailedRun(s, failure);
  const REAL lastP = s.g.P;
  const typename Model::Globals lastState = s.g;
  if (!alongArc && StepOn(s, rules))
    return EndedWith(CannotResume(program, kResumeBadData,
                                  "the sweep has ended: P left [" + ShortReal(s.P1) + ", " +
                                      ShortReal(s.P2) + "] after record " +
                                      std::to_string(shared)));

  if (const int status = ResumeNodes(program, s, shared, arc))
    return EndedWith(status);
  std::string why;
  if (ResumeProfiles(s.profiles, s.special.profiles, program, lastState, SegmentNodes(s), shared,
                     s.lastRow.label, why) != 0)
    return EndedWith(CannotResume(program, kResumeNoInput, why));
  const std::string changed = ChangeSolverSettings(s.g.solve, options);
  s.FAIL.Append(static_cast<long long>(resKeep));
  s.CSV.Append(static_cast<long long>(csvKeep));
  ReopenSweepEnd(s, rules);
  if (!changed.empty())
    NoteSettingsChange(s, run, shared + 1, changed);
  observer.Resumed({s.pass, settings.frame, false, rules.plotted, settings.start.P, s.P1, s.P2,
                    rules.addStep, s.continuation.AlongArc(), s.labelled, !s.special.at.empty(),
                    ProfiledComponent(s.special)},
                   curve, lastP, s.records);
  const Failure failure =
      alongArc ? ResumeAlongArc(s, rules, settings.sweep.DP, arc) : Sweep(s, rules);
  LabelSweepEnd(s, rules);
  if (failure != Failure::None)
    return FailedRun(s, failure);
  EndRun(s);
  return EndedWith(0);
}

} // namespace zanfel
