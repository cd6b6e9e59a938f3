// Runs of the example programs and what their files say: the rows of
// ZANFEL.CSV by column name, and Bratu's closed form.
#pragma once

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "report/csv.hpp"
#include "support/test_support.hpp"

namespace zanfel::testing {

// The rows of ZANFEL.CSV by column name.
using Row = std::map<std::string, REAL>;

inline std::vector<Row> CsvRows(const std::string &csv) {
  std::vector<Row> rows;
  std::vector<std::string> names;
  std::size_t at = 0;
  for (std::size_t end; (end = csv.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string_view line(csv.data() + at, end - at);
    if (line.starts_with('#'))
      continue;
    const std::vector<std::string_view> fields = SplitFields(line);
    if (names.empty()) {
      names.assign(fields.begin(), fields.end());
      continue;
    }
    Row row;
    for (std::size_t i = 0; i < fields.size() && i < names.size(); ++i)
      if (names[i] == "label") // along the arclength: "fold1", "end" or empty
        row["fold"] = fields[i].starts_with("fold") ? 1.0L : 0.0L;
      else if (fields[i].empty()) // a record not checked has no check columns
        continue;
      else
        EXPECT_TRUE(ParseReal(fields[i], row[names[i]])) << line;
    rows.push_back(row);
  }
  return rows;
}

// Bratu's branch: s = theta tanh(theta/4) rises with theta, so it has one
// root theta for every s >= 0 (below 4 on the lower branch, above on the
// upper); lambda = theta^2 / (2 cosh^2(theta/4)).
inline REAL BratuTheta(REAL s) {
  REAL lo = 0.0L, hi = 200.0L; // s(200) > 100
  for (int i = 0; i < 200; ++i) {
    const REAL mid = 0.5L * (lo + hi);
    (mid * tanhl(mid / 4.0L) < s ? lo : hi) = mid;
  }
  return 0.5L * (lo + hi);
}
inline REAL BratuLambdaAt(REAL s) {
  const REAL theta = BratuTheta(s);
  const REAL c = coshl(theta / 4.0L);
  return theta * theta / (2.0L * c * c);
}

// The worst relative error of P = lambda against the closed form at each
// record's s (lambda > 0.1, where it is well conditioned).
inline REAL BratuWorstOnClosedForm(const std::vector<Row> &rows) {
  REAL worst = 0.0L;
  for (const Row &row : rows)
    if (row.at("P") > 0.1L)
      worst = std::max(worst, fabsl(BratuLambdaAt(row.at("X1")) - row.at("P")) / row.at("P"));
  return worst;
}

inline ChildResult RunExample(const TempDir &dir, const std::string &name,
                              const std::vector<std::string> &args = {}, Sink err = Sink::File) {
  ChildSetup setup;
  setup.err = err; // the last line is written to a terminal only
  setup.dir = dir.Path();
  setup.display = "";
  setup.timeoutSeconds = 600;
  setup.args = args;
  return RunBuilt(setup, name);
}

// Bratu's s = u'(0) at lambda on the lower branch (0 at lambda = 0): theta
// from lambda = theta^2 / (2 cosh^2(theta/4)) by bisection below the fold's.
inline REAL BratuSlopeAt(REAL lambda) {
  if (lambda == 0.0L)
    return 0.0L;
  REAL lo = 0.0L, hi = 4.798714560L;
  for (int i = 0; i < 200; ++i) {
    const REAL mid = 0.5L * (lo + hi);
    const REAL c = coshl(mid / 4.0L);
    (mid * mid / (2.0L * c * c) < lambda ? lo : hi) = mid;
  }
  const REAL theta = 0.5L * (lo + hi);
  return theta * tanhl(theta / 4.0L);
}

// The solution on the branch point of parameter theta:
// u(x) = -2 ln[cosh((x - 1/2) theta/2) / cosh(theta/4)].
inline REAL BratuU(REAL theta, REAL x) {
  return -2.0L * logl(coshl((x - 0.5L) * theta / 2.0L) / coshl(theta / 4.0L));
}

// The CSV's labels, one per row.
inline std::vector<std::string> Labels(const std::string &csv) {
  std::vector<std::string> labels;
  std::size_t column = std::string::npos;
  std::size_t at = 0;
  for (std::size_t end; (end = csv.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = csv.substr(at, end - at);
    if (line.empty() || line[0] == '#')
      continue;
    std::vector<std::string> fields;
    for (std::size_t f = 0, comma;; f = comma + 1) {
      comma = line.find(',', f);
      fields.push_back(line.substr(f, comma == std::string::npos ? comma : comma - f));
      if (comma == std::string::npos)
        break;
    }
    if (column == std::string::npos) {
      for (column = 0; column < fields.size() && fields[column] != "label"; ++column) {
      }
      continue;
    }
    labels.push_back(column < fields.size() ? fields[column] : "");
  }
  return labels;
}

inline const Row *RowLabelled(const std::vector<Row> &rows, const std::vector<std::string> &labels,
                              const std::string &label) {
  for (std::size_t i = 0; i < rows.size() && i < labels.size(); ++i)
    if (labels[i] == label)
      return &rows[i];
  return nullptr;
}

// Whether any row is a branch point.
inline bool HasBranchPoint(const std::vector<std::string> &labels) {
  for (const std::string &l : labels)
    if (l.starts_with("branch"))
      return true;
  return false;
}

inline REAL RelativeError(REAL value, REAL exact) {
  return fabsl(value - exact) / fabsl(exact);
}

// The nodes of the README's hard-problem recipe: equal eighths up to 0.75,
// then closing in on x = 1, where Troesch's solution has its boundary layer
// (21 segments).
inline const char *const kTroeschNodes =
    "0.125,0.25,0.375,0.5,0.625,0.75,0.85,0.9,0.97,0.99,0.997,0.999,"
    "0.9997,0.9999,0.99997,0.99999,0.999997,0.999999,0.9999997,"
    "0.9999999";

// y'(0) of Troesch's problem on its closed form (its first integral),
// computed separately at 40 digits: mu = 1, 1.25, ..., 30.
inline std::map<REAL, REAL> TroeschClosedForm() {
  std::map<REAL, REAL> s;
  const std::string text =
      ReadFile(std::string(ZANFEL_SOURCE_DIR) + "/tests/data/troesch_closed_form.txt");
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    const std::size_t space = line.find(' ');
    REAL mu = 0.0L, v = 0.0L;
    EXPECT_TRUE(ParseReal(line.substr(0, space), mu) && ParseReal(line.substr(space + 1), v))
        << line;
    s[mu] = v;
  }
  return s;
}

} // namespace zanfel::testing
