// --start-at FILE:REF: a new run starts from a record of an earlier run's
// ZANFEL.CSV, at that record's P and unknowns at full precision and, along
// the arclength, in the direction the curve had from the record before it
// (the other way with --reverse). The file is read whole before any file of
// this run is taken: it may be the very ZANFEL.CSV that this run moves
// aside. Anything that stops the start stops it before a file changes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "continuation/program.hpp"
#include "report/csv.hpp"
#include "runtime/regular_file.hpp"

namespace zanfel {

// A start that cannot be made: the file is another program's, the record is
// not there, or its row holds values no run writes.
constexpr int kStartBadData = 65;
// The file cannot be read.
constexpr int kStartNoInput = 66;

// Says on standard error why the run cannot start there; returns `status`.
int CannotStartAt(std::string_view program, int status, std::string_view why);

// The record a run starts from, with the one before it when there is one.
template <class Model> struct StartRecord {
  CsvRow<Model::N, Model::NOUT> row, before;
  bool haveBefore = false;
  std::string note;     // for the CSV head: the file and the record
  std::string settings; // the file's "# settings:" value ("" when it has none)
  std::string nodes;    // ZANFEL.NODES beside the file ("" when there is none)
};

// The bytes of ZANFEL.NODES in the directory of the results file at
// `csvPath`, "" when it cannot be read: a start without node states is
// still a start.
std::string NodesBeside(const std::string &csvPath);

// The earlier run's file as read: its head and its rows' lines.
struct StartFile {
  std::string bytes;
  std::string_view head;              // the "#" lines
  std::string_view header;            // the header row, without its line end
  std::vector<std::string_view> rows; // the whole rows after it
};

// Reads FILE whole (a regular file only) and splits it; 0, or the status
// after the message.
int ReadStartFile(std::string_view program, const std::string &path, StartFile &f);

// Why a row cannot start a run, or "": a value that is not finite, a
// negative count.
template <int N, int NOUT> std::string StartRowFault(const CsvRow<N, NOUT> &row) {
  std::vector<REAL> reals{row.P, row.H, row.DP};
  for (int I = 1; I <= N; ++I)
    reals.push_back(row.X[I]);
  for (const REAL v : reals)
    if (!std::isfinite(v))
      return "it holds " + FullReal(v) + ", which no run writes";
  if (row.ITER < 0 || row.messages < 0 || row.record < 1 || row.pass < 1)
    return "its counts are negative";
  return "";
}

// Which row REF names: a record number, a label, or "end" (the last end of
// the file; in a file without labels, its last row). -1 when none.
template <int N, int NOUT>
long FindStartRow(const std::vector<CsvRow<N, NOUT>> &rows, std::string_view ref, bool labelled) {
  long number = 0;
  RecordLabel label;
  const bool byNumber = ParseWholeNumber(ref, 1, 1000000000, number);
  if (!byNumber && !ParseLabel(ref, label))
    return -1;
  for (long i = static_cast<long>(rows.size()) - 1; i >= 0; --i) {
    const CsvRow<N, NOUT> &row = rows[static_cast<std::size_t>(i)];
    if (byNumber ? row.record == number : row.label == label)
      return i;
  }
  if (!byNumber && !labelled && label.kind == RecordKind::End && !rows.empty())
    return static_cast<long>(rows.size()) - 1;
  return -1;
}

// The record --start-at names, from a file this program wrote; 0, or the
// status after the message.
template <class Model>
int ReadStartRecord(std::string_view program, std::string_view startAt,
                    const SweepRules<Model> &rules, StartRecord<Model> &start) {
  const StartAtRef ref = SplitStartAt(startAt);
  StartFile f;
  if (const int status = ReadStartFile(program, ref.file, f))
    return status;
  // The layouts a run of this program writes: natural, natural with labels,
  // along the arclength.
  const bool layouts[3][2] = {{false, false}, {false, true}, {true, true}};
  for (const auto &[alongArc, labelled] : layouts) {
    const std::string header = CsvHeaderRow(CsvColumns(rules, alongArc, labelled));
    if (std::string_view(header).substr(0, header.size() - 1) != f.header)
      continue;
    std::vector<CsvRow<Model::N, Model::NOUT>> rows;
    for (std::string_view line : f.rows) {
      CsvRow<Model::N, Model::NOUT> row;
      row.alongArc = alongArc;
      row.labelled = labelled;
      if (!ParseCsvRow(line, rules.layout, row))
        return CannotStartAt(program, kStartBadData,
                             ref.file + ": row " + std::to_string(rows.size() + 1) +
                                 " is not a row of " + std::string(program));
      rows.push_back(row);
    }
    const long at = FindStartRow(rows, ref.ref, labelled);
    if (at < 0)
      return CannotStartAt(program, kStartBadData, ref.file + " holds no record " + ref.ref);
    start.row = rows[static_cast<std::size_t>(at)];
    if (const std::string fault = StartRowFault(start.row); !fault.empty())
      return CannotStartAt(program, kStartBadData,
                           ref.file + ": record " + ref.ref + " cannot start a run: " + fault);
    start.haveBefore = at > 0 && rows[static_cast<std::size_t>(at - 1)].pass == start.row.pass;
    if (start.haveBefore)
      start.before = rows[static_cast<std::size_t>(at - 1)];
    start.settings = HeadValue(f.head, "settings");
    start.nodes = NodesBeside(ref.file);
    start.note = "started at: " + std::string(startAt) + ", record " +
                 std::to_string(start.row.record) + ", P = " + FullReal(start.row.P);
    return 0;
  }
  return CannotStartAt(program, kStartBadData,
                       ref.file + ": the header row is not one " + std::string(program) +
                           " writes");
}

// On segments, the node states of the start record from ZANFEL.NODES beside
// its file, when the run that wrote them had these very cuts: the first
// solve then starts where that run's ended. Otherwise it starts them from
// the record's unknowns. Whether they were taken.
template <class Model> bool LoadStartNodes(Program<Model> &s, const StartRecord<Model> &start) {
  SettingOptions earlier;
  if (!s.segments || start.nodes.empty() || !ParseSettingsText(start.settings, earlier).empty() ||
      !earlier.cuts || !SameCuts(*earlier.cuts, s.segments->cuts))
    return false;
  std::size_t keep = 0;
  return ReadNodesLine(start.nodes, start.row.record, *s.segments, keep);
}

// The start state a record gives: P and the unknowns, and along the
// arclength the direction from the record before it, reversed with
// --reverse (a record without one goes the way of the step's sign); a
// switched start has its direction already.
template <class Model>
void LoadStartRecord(Program<Model> &s, const StartRecord<Model> &start, bool reverse) {
  constexpr int NP = Model::N + 1;
  s.g.P = start.row.P;
  s.g.X = start.row.X;
  if (!s.continuation.AlongArc() || !start.haveBefore || s.switchedStart)
    return;
  GLNARRAY<NP> a, b;
  for (int I = 1; I < NP; ++I) {
    a[I] = start.before.X[I];
    b[I] = start.row.X[I];
  }
  a[NP] = start.before.P;
  b[NP] = start.row.P;
  REAL length = 0.0L;
  for (int I = 1; I <= NP; ++I)
    length += (b[I] - a[I]) * (b[I] - a[I]);
  if (!(length > 0.0L))
    return;
  length = sqrtl(length);
  for (int I = 1; I <= NP; ++I)
    s.startDirection[I] = (reverse ? a[I] - b[I] : b[I] - a[I]) / length;
  s.haveStartDirection = true;
}

} // namespace zanfel
