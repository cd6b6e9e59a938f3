// ZANFEL.CSV: every record of the results file once more, at full precision,
// one comma-separated row each, with what a resumed sweep needs to go on
// exactly where its row leaves off.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/check_columns.hpp"
#include "report/csv.hpp"
#include "report/format.hpp"
#include "report/record.hpp"
#include "report/record_kind.hpp"
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
  // Along the arclength only: the arclength from the run's first point and
  // dP/ds there (what a resumed sweep compares the next point's with). The
  // record's label has a column along the arclength, and in a natural sweep
  // that names special points (`labelled`).
  bool alongArc = false;
  bool labelled = false;
  RecordLabel label;
  REAL s = 0.0L;
  REAL slope = 0.0L;
  // With --check-digits only: what the record's check found.
  bool withCheck = false;
  CheckDigits digits;
  Array1<CheckedValue, 1, N> checkX;
  CheckedValue checkV; // the checked plotted value
  // Along a fold curve only: the free parameter's name and value.
  const char *freeName = nullptr;
  REAL free = 0.0L;
};

// The end values with a column, in column order: the N residuals, then y2(1)
// and y8(1) (the record's "v=" and "DG=") and the family's third end value.
// (shoot_a1's fifth value on the residual line is y8(1) again.)
std::vector<int> YoutColumns(int N, const RecordLayout &L);

// What the three end-value columns after the residuals are called; the six
// programs' v and dg are y2_1 and y8_1.
struct EndColumnNames {
  const char *v = "y2_1";
  const char *dg = "y8_1";
  const char *z = "";
};

// A column's name: `base`, followed by `index` when that is above 0 (X1, r2).
struct ColumnName {
  const char *base;
  int index = 0;
  std::string Text() const { return index > 0 ? base + std::to_string(index) : base; }
};

// The columns of a row, in order, each with its name and its field: record,
// pass, P, H, ITER, X1..XN, r1..rN, <v>, <dg>, <z>, messages, DP, then label
// when labelled or along the arclength, along the arclength s, dPds, and with
// a check digits, check_X1..check_XN, check_<v>. `visit(name, field)` is
// called once per
// column with the field's member (long, INT16, REAL or RecordLabel): the
// writer, the parser, the names and the field types all come from here.
template <class Row, class Visit>
void VisitCsvColumns(Row &row, const RecordLayout &L, const EndColumnNames &names, int N,
                     Visit &&visit) {
  visit(ColumnName{"record"}, row.record);
  visit(ColumnName{"pass"}, row.pass);
  visit(ColumnName{"P"}, row.P);
  visit(ColumnName{"H"}, row.H);
  visit(ColumnName{"ITER"}, row.ITER);
  for (int I = 1; I <= N; ++I)
    visit(ColumnName{"X", I}, row.X[I]);
  const std::vector<int> yout = YoutColumns(N, L);
  for (int I = 1; I <= N; ++I)
    visit(ColumnName{"r", I}, row.YOUT[yout[std::size_t(I - 1)]]);
  visit(ColumnName{names.v}, row.YOUT[yout[std::size_t(N)]]);
  visit(ColumnName{names.dg}, row.YOUT[yout[std::size_t(N + 1)]]);
  visit(ColumnName{names.z}, row.YOUT[yout[std::size_t(N + 2)]]);
  visit(ColumnName{"messages"}, row.messages);
  visit(ColumnName{"DP"}, row.DP);
  if (row.alongArc || row.labelled)
    visit(ColumnName{"label"}, row.label);
  if (row.alongArc) {
    visit(ColumnName{"s"}, row.s);
    visit(ColumnName{"dPds"}, row.slope);
  }
  if (row.freeName)
    visit(ColumnName{row.freeName}, row.free);
  if (row.withCheck) {
    visit(ColumnName{"digits"}, row.digits);
    for (int I = 1; I <= N; ++I)
      visit(ColumnName{"check_X", I}, row.checkX[I]);
    visit(ColumnName{"check_v"}, row.checkV);
  }
}

// How a column's fields are written: whole numbers, reals, or labels.
enum class FieldType { Integer, Real, Label, Check };
constexpr FieldType TypeOf(const long &) {
  return FieldType::Integer;
}
constexpr FieldType TypeOf(const INT16 &) {
  return FieldType::Integer;
}
constexpr FieldType TypeOf(const REAL &) {
  return FieldType::Real;
}
constexpr FieldType TypeOf(const RecordLabel &) {
  return FieldType::Label;
}
constexpr FieldType TypeOf(const CheckDigits &) {
  return FieldType::Check;
}
constexpr FieldType TypeOf(const CheckedValue &) {
  return FieldType::Check;
}

struct CsvColumn {
  std::string name;
  FieldType type;
};

// The column table of the rows of a program with N unknowns and NOUT end
// values.
template <int N, int NOUT>
std::vector<CsvColumn> CsvColumnTable(const RecordLayout &L, const EndColumnNames &names,
                                      bool alongArc, bool labelled = false, bool withCheck = false,
                                      const char *freeName = nullptr) {
  CsvRow<N, NOUT> row;
  row.alongArc = alongArc;
  row.labelled = labelled;
  row.withCheck = withCheck;
  row.freeName = freeName;
  std::vector<CsvColumn> columns;
  VisitCsvColumns(row, L, names, N, [&](const ColumnName &name, const auto &field) {
    columns.push_back({name.Text(), TypeOf(field)});
  });
  return columns;
}

std::vector<std::string> NamesOf(const std::vector<CsvColumn> &columns);

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
// The value of the "# key: value" line of a CSV head, or "" when there is
// none.
std::string HeadValue(std::string_view comments, std::string_view key);
// The last line of ZANFEL.CSV after a sweep that ended early by a failure:
// "# ended early: <why>", appended to the file if it is there; best effort.
void AppendCsvEndNote(std::string_view why);
// A resume that goes on with other solver settings writes, before the first
// row it adds, "# settings from row K: <settings>": the rows from K on were
// solved with those (the head's "# settings:" line keeps the first start's).
inline constexpr std::string_view kSettingsFromRow = "# settings from row ";
std::string SettingsFromRowLine(long row, std::string_view settings);
// Reads such a line (without its line end); false when it is not one.
bool ParseSettingsFromRow(std::string_view line, long &row, std::string_view &settings);
// One "sweep" note of the head: start, step and range of P, and the rule by
// which the step changes.
std::string SweepNoteText(std::string_view what, REAL startP, REAL DP, REAL P1, REAL P2,
                          bool addStep, std::string_view stepRule);

namespace csv_detail {
inline void Put(std::string &line, long v) {
  line += std::to_string(v);
}
inline void Put(std::string &line, INT16 v) {
  line += std::to_string(v);
}
inline void Put(std::string &line, REAL v) {
  line += FullReal(v);
}
inline void Put(std::string &line, const RecordLabel &k) {
  line += LabelText(k);
}
inline void Put(std::string &line, CheckDigits d) {
  PutCheck(line, d);
}
inline void Put(std::string &line, const CheckedValue &v) {
  PutCheck(line, v);
}
inline bool Get(std::string_view f, long &v) {
  return ParseLong(f, v);
}
inline bool Get(std::string_view f, INT16 &v) {
  long n = 0;
  if (!ParseLong(f, n) || n < INT16_MIN || n > INT16_MAX)
    return false;
  v = static_cast<INT16>(n);
  return true;
}
inline bool Get(std::string_view f, REAL &v) {
  return ParseReal(f, v);
}
inline bool Get(std::string_view f, RecordLabel &k) {
  return ParseLabel(f, k);
}
inline bool Get(std::string_view f, CheckDigits &d) {
  return GetCheck(f, d);
}
inline bool Get(std::string_view f, CheckedValue &v) {
  return GetCheck(f, v);
}
} // namespace csv_detail

template <int N, int NOUT>
std::string FormatCsvRow(const CsvRow<N, NOUT> &row, const RecordLayout &L) {
  std::string line;
  bool first = true;
  VisitCsvColumns(row, L, {}, N, [&](const ColumnName &, const auto &field) {
    if (!first)
      line += ',';
    first = false;
    csv_detail::Put(line, field);
  });
  line += '\n';
  return line;
}

// One row without its line end; false unless every field is there and whole.
// A row along the arclength (row.alongArc set by the caller) has its three
// more fields, a labelled one its label, a row of a checked run (row.withCheck)
// its check fields.
template <int N, int NOUT>
bool ParseCsvRow(std::string_view line, const RecordLayout &L, CsvRow<N, NOUT> &row) {
  const std::vector<std::string_view> f = SplitFields(line);
  std::size_t k = 0;
  bool ok = true;
  VisitCsvColumns(row, L, {}, N, [&](const ColumnName &, auto &field) {
    ok = ok && k < f.size() && csv_detail::Get(f[k], field);
    ++k;
  });
  return ok && k == f.size();
}

} // namespace zanfel
