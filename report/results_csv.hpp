// ZANFEL.CSV: every record of the results file once more, at full precision,
// one comma-separated row each, with what a resumed sweep needs to go on
// exactly where its row leaves off.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/csv.hpp"
#include "report/format.hpp"
#include "report/record.hpp"
#include "runtime/types.hpp"

namespace zanfel {

std::string CsvPath();
// The version of this build, written into the file and checked on resume.
const char *ProgramVersion();

// One row: the state of a record after its solve. YOUT has values at the
// elements that have columns (YoutColumns) only.
template <int N, int NOUT> struct CsvRow {
  long record = 0;
  long pass = 0;
  REAL P = 0.0L, H = 0.0L;
  INT16 ITER = 0;
  GLNARRAY<N> X;
  GLNARRAY1<NOUT> YOUT;
  long messages = 0; // integrator messages printed by the record's solve
  REAL DP = 0.0L;    // the step in force when the record was written
  // Along the arclength only: the record's label ("fold" or empty), the
  // arclength from the run's first point and dP/ds there (what a resumed
  // sweep compares the next point's with).
  bool alongArc = false;
  const char *label = "";
  REAL s = 0.0L;
  REAL slope = 0.0L;
};

// The end values with a column, in column order: the N residuals, then y2(1)
// and y8(1) (the record's "v=" and "DG=") and the family's third end value.
// (shoot_a1's fifth value on the residual line is y8(1) again.)
std::vector<int> YoutColumns(int N, const RecordLayout &L);

// record, pass, P, H, ITER, X1..XN, r1..rN, <v>, <dg>, <z>, messages, DP,
// and along the arclength label, s, dPds; the six programs' v and dg are
// y2_1 and y8_1.
std::vector<std::string> CsvColumnNames(int N, const char *zColumn, const char *vColumn = "y2_1",
                                        const char *dgColumn = "y8_1", bool alongArc = false);

// The header row: the column names joined by commas, with its line end.
std::string CsvHeaderRow(const std::vector<std::string> &columns);

// The lines before the rows: "#" lines naming the program, the version, the
// start time (UTC) and the sweep's constants, then the header row.
// The limits a run solves with, stated in the head: Newton's and the
// trajectories' tolerances.
struct SolveLimits {
  INT16 NTRIAL;
  REAL TOLX, TOLF, RELERR, ABSERR;
};
// `settings`, when not empty, follows as a "# settings:" line: the values in
// force in option form, at full precision.
std::string CsvHead(std::string_view program, const std::vector<std::string> &sweepNotes,
                    const std::vector<std::string> &columns, const SolveLimits &limits,
                    const std::string &settings = "");
// The last line of ZANFEL.CSV after a sweep that ended early by a failure:
// "# ended early: <why>", appended to the file if it is there; best effort.
void AppendCsvEndNote(std::string_view why);
// One "sweep" note of the head: start, step and range of P, and the rule by
// which the step changes.
std::string SweepNoteText(std::string_view what, REAL startP, REAL DP, REAL P1, REAL P2,
                          bool addStep, std::string_view stepRule);

template <int N, int NOUT>
std::string FormatCsvRow(const CsvRow<N, NOUT> &row, const RecordLayout &L) {
  std::string line = std::to_string(row.record) + ',' + std::to_string(row.pass) + ',' +
                     FullReal(row.P) + ',' + FullReal(row.H) + ',' + std::to_string(row.ITER);
  for (int I = 1; I <= N; ++I)
    line += ',' + FullReal(row.X[I]);
  for (int I : YoutColumns(N, L))
    line += ',' + FullReal(row.YOUT[I]);
  line += ',' + std::to_string(row.messages) + ',' + FullReal(row.DP);
  if (row.alongArc)
    line += std::string(",") + row.label + ',' + FullReal(row.s) + ',' + FullReal(row.slope);
  line += '\n';
  return line;
}

// One row without its line end; false unless every field is there and whole.
// A row along the arclength (row.alongArc set by the caller) has its three
// more fields.
template <int N, int NOUT>
bool ParseCsvRow(std::string_view line, const RecordLayout &L, CsvRow<N, NOUT> &row) {
  const std::vector<int> yout = YoutColumns(N, L);
  const std::vector<std::string_view> f = SplitFields(line);
  const std::size_t arcFields = row.alongArc ? 3 : 0;
  if (f.size() != 7 + N + yout.size() + arcFields)
    return false;
  if (row.alongArc) {
    const std::string_view label = f[f.size() - 3];
    if (label != "" && label != "fold")
      return false;
    row.label = label.empty() ? "" : "fold";
    if (!ParseReal(f[f.size() - 2], row.s) || !ParseReal(f[f.size() - 1], row.slope))
      return false;
  }
  long iter = 0;
  bool ok = ParseLong(f[0], row.record) && ParseLong(f[1], row.pass) && ParseReal(f[2], row.P) &&
            ParseReal(f[3], row.H) && ParseLong(f[4], iter) && iter >= INT16_MIN &&
            iter <= INT16_MAX;
  row.ITER = static_cast<INT16>(iter);
  std::size_t k = 5;
  for (int I = 1; I <= N; ++I)
    ok = ok && ParseReal(f[k++], row.X[I]);
  for (int I : yout)
    ok = ok && ParseReal(f[k++], row.YOUT[I]);
  return ok && ParseLong(f[k], row.messages) && ParseReal(f[k + 1], row.DP);
}

} // namespace zanfel
