// The special points a sweep writes beside its steps: records at the values
// of P that --at names (user1, user2, ...) and the end label on the last
// record of every sweep. Folds are located by the arclength itself
// (continuation/arclength.hpp); their numbers come from RecordPoint as every
// label's do.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "continuation/program.hpp"

namespace zanfel {

// Whether P is one of the values --at names, exactly.
template <class Model> bool IsUserP(const Program<Model> &s, REAL P) {
  return std::find(s.special.at.begin(), s.special.at.end(), P) != s.special.at.end();
}

// The kind of a sweep's own record at P: a user point when --at names P
// exactly (a step that lands on it needs no solve of its own).
template <class Model> RecordKind StepKind(const Program<Model> &s) {
  return IsUserP(s, s.g.P) ? RecordKind::User : RecordKind::Plain;
}

// The --at values strictly between `from` and `to`, in the order a sweep
// from `from` to `to` passes them.
template <class Model>
std::vector<REAL> UserPsBetween(const Program<Model> &s, REAL from, REAL to) {
  std::vector<REAL> between;
  for (const REAL P : s.special.at)
    if ((from < P && P < to) || (to < P && P < from))
      between.push_back(P);
  std::sort(between.begin(), between.end(),
            [&](REAL a, REAL b) { return fabsl(a - from) < fabsl(b - from); });
  return between;
}

// The natural sweep has stepped from the record at `recordedP` to the next
// P, not yet solved: each --at value it passes on the way gets a record of
// its own, solved from the record before at exactly that P. The program
// state is the step's again afterwards, so the sweep's own records keep
// their values.
template <class Model>
[[nodiscard]] Failure RecordUserPointsBetween(Program<Model> &s, const SweepRules<Model> &rules,
                                              REAL recordedP) {
  const std::vector<REAL> between = UserPsBetween(s, recordedP, s.g.P);
  if (between.empty())
    return Failure::None;
  const typename Model::Globals step = s.g;
  for (const REAL P : between) {
    s.g = step;
    s.g.P = P;
    s.observer.AtSafePoint(s.g.P);
    const unsigned long messagesBefore = MessageCount();
    if (const Failure failure = Solve(s); failure != Failure::None)
      return failure;
    RecordPoint(s, rules, messagesBefore, RecordKind::User);
  }
  s.g = step;
  return Failure::None;
}

// The sweep of this pass has ended, however: its last record's row is
// written again with the label end, where the CSV has labels and the record
// is a plain one (a user point that a step landed on keeps its label), and
// with its check, where the run checks the last record and the end (a key,
// the iteration limit) came after its row.
template <class Model> void LabelSweepEnd(Program<Model> &s, const SweepRules<Model> &rules) {
  if (s.records == s.passFirst || s.lastRowStart < 0)
    return;
  const bool relabel = s.labelled && s.lastRow.label.kind == RecordKind::Plain;
  const bool recheck =
      s.check.on && s.lastRow.digits.value == kNotChecked && s.lastRecordedRow == s.lastRow.record;
  if (!relabel && !recheck)
    return;
  if (relabel)
    s.lastRow.label = {RecordKind::End, 0};
  if (recheck) {
    const RecordCheck<Model::N> check =
        CheckRecord<Model>(s.lastRecorded, rules.plotIndex, s.check);
    PutCheck(s.lastRow, s.check, check);
    s.observer.LastChecked(check.digits);
  }
  s.CSV.CutBack(s.lastRowStart);
  s.CSV.Write(FormatCsvRow(s.lastRow, rules.layout));
  s.CSV.WriteThrough();
  RelabelLastProfile(s.profiles, s.special.profiles, s.lastRow.record, s.lastRow.label);
}

} // namespace zanfel

namespace zanfel {

// The labels of the rows a resume has read: the running numbers so far, and
// whether a sweep's end has been read.
struct LabelCounts {
  long folds = 0, users = 0, branches = 0;
  bool ended = false;
  void Note(const RecordLabel &label) {
    folds += label.kind == RecordKind::Fold;
    users += label.kind == RecordKind::User;
    branches += label.kind == RecordKind::Branch;
    ended = ended || label.kind == RecordKind::End;
  }
};

// Whether a row is a special point the sweep recorded between two of its
// steps (a fold, a user point located on the way), rather than a step.
// Along the arclength only the start is a user point that is a step; in a
// natural sweep a user point is a step when the step's P is its value.
template <class Model>
bool IsInsertedRow(const CsvRow<Model::N, Model::NOUT> &row, const Program<Model> &s,
                   long rowsBefore) {
  switch (row.label.kind) {
  case RecordKind::Fold:
  case RecordKind::Branch:
    return true;
  case RecordKind::User:
    return row.alongArc ? rowsBefore > 0 : row.P != s.g.P;
  case RecordKind::Plain:
  case RecordKind::End:
    break;
  }
  return false;
}

// Why a row's label is not one the sweep wrote after the rows counted in
// `counts`; "" when it can be. Numbers run from 1 through the run, a user
// point lies at a value of --at, nothing follows the end.
template <class Model>
std::string LabelFault(const CsvRow<Model::N, Model::NOUT> &row, const Program<Model> &s,
                       const LabelCounts &counts, bool inserted) {
  const RecordLabel &l = row.label;
  const std::string text = "label " + LabelText(l);
  if (counts.ended)
    return "the row follows the end of the sweep";
  if (l.kind == RecordKind::Fold && !row.alongArc)
    return text + " in a natural sweep, which passes no fold";
  if (l.kind == RecordKind::Fold && l.number != counts.folds + 1)
    return text + ", but the folds so far are " + std::to_string(counts.folds);
  if (l.kind == RecordKind::Branch && l.number != counts.branches + 1)
    return text + ", but the branch points so far are " + std::to_string(counts.branches);
  if (l.kind == RecordKind::User && l.number != counts.users + 1)
    return text + ", but the user points so far are " + std::to_string(counts.users);
  if (l.kind == RecordKind::User && !IsUserP(s, row.P))
    return text + " at P = " + FullReal(row.P) + ", which --at does not name";
  if (!row.alongArc && l.kind == RecordKind::Plain && IsUserP(s, row.P) && !inserted)
    return "P = " + FullReal(row.P) + " is a value of --at, but the row is not labelled";
  return "";
}

// The curve's point of a row read back; the end of a sweep that goes on is
// a plain step again.
template <int N, int NOUT>
CurvePoint CurvePointOfRow(const CsvRow<N, NOUT> &row, REAL H, REAL value) {
  const RecordKind kind = row.label.kind == RecordKind::End ? RecordKind::Plain : row.label.kind;
  return {static_cast<int>(row.pass), H, value, kind, row.P, row.label.number};
}

// A resumed sweep goes on after its last row: when that row is the end of
// the sweep that stopped, it is written again as the step it is now.
template <class Model> void ReopenSweepEnd(Program<Model> &s, const SweepRules<Model> &rules) {
  if (s.lastRow.label.kind != RecordKind::End || s.lastRowStart < 0)
    return;
  s.lastRow.label = {};
  s.CSV.CutBack(s.lastRowStart);
  s.CSV.Write(FormatCsvRow(s.lastRow, rules.layout));
  s.CSV.WriteThrough();
  RelabelLastProfile(s.profiles, s.special.profiles, s.lastRow.record, s.lastRow.label);
}

} // namespace zanfel
