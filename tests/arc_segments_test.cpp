// Along the arclength on segments: the node states solved with X and P and
// predicted along the curve with them, the slope of P and the orientation
// from the bordered Jacobian condensed onto (X, P). Checked against the
// closed forms of Bratu's and Troesch's problems.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "support/example_runs.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using namespace testing;

// Round Bratu's fold on four segments: every record on the closed form, the
// fold where the closed form has it, dP/ds with the sign of P's way.
TEST(ArcOnSegments, BratuRoundTheFoldOnFourSegments) {
  TempDir dir;
  const ChildResult run = RunExample(
      dir, "bratu", {"--continuation", "arclength", "--segments", "4", "--records", "30"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<Row> rows = CsvRows(ReadFile(dir.File("ZANFEL.CSV")));
  ASSERT_EQ(rows.size(), 30u);
  int folds = 0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const Row &row = rows[k];
    if (row.at("fold") == 1.0L) {
      ++folds;
      EXPECT_LT(RelativeError(row.at("P"), 3.51383071912516120621L), 1e-8L); // reached: 1e-9
    } else if (k > 0 && rows[k - 1].at("fold") == 0.0L) {
      EXPECT_EQ(row.at("dPds") > 0.0L, row.at("P") > rows[k - 1].at("P")) << "row " << k;
    }
  }
  EXPECT_EQ(folds, 1);
  EXPECT_LT(BratuWorstOnClosedForm(rows), 1e-8L);
}

// Troesch's problem, which single shooting cannot follow past mu = 8.4,
// along the arclength on the README's nodes to the end of the range: the
// records at mu = 10, 20 and 29 (--at) on the closed form. The same bytes on one thread and on two;
// stopped after nine records and resumed (the next step's node states predicted from the two last
// records' lines of ZANFEL.NODES), the unbroken run's files.
TEST(ArcOnSegments, TroeschAlongTheArcToThirty) {
  const std::vector<std::string> recipe = {"--from",   "1",        "--step",         "0.25",
                                           "--range",  "0:30",     "--nodes",        kTroeschNodes,
                                           "--abserr", "1e-30",    "--tolx",         "1e-12",
                                           "--at",     "10,20,29", "--continuation", "arclength"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), recipe.begin(), recipe.end());
    return more;
  };
  TempDir one, two, part;
  const ChildResult run = RunExample(one, "troesch", with({"--threads", "1"}));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string csv = ReadFile(one.File("ZANFEL.CSV"));
  const std::vector<Row> rows = CsvRows(csv);
  const std::map<REAL, REAL> exact = TroeschClosedForm();
  int users = 0;
  for (const Row &row : rows)
    if (exact.count(row.at("P")) && row.at("P") >= 10.0L) {
      ++users;
      EXPECT_LT(RelativeError(row.at("X1"), exact.at(row.at("P"))), 1e-7L) // reached: 1.2e-8
          << double(row.at("P"));
    }
  EXPECT_EQ(users, 3);
  ASSERT_GT(rows.size(), 10u);
  EXPECT_GT(rows.back().at("P"), 29.0L);

  ASSERT_EQ(RunExample(two, "troesch", with({"--threads", "2"})).status, 0);
  for (const char *file : {"ZANFEL.RES", "ZANFEL.NODES"})
    EXPECT_EQ(ReadFile(two.File(file)), ReadFile(one.File(file))) << file;
  EXPECT_EQ(CsvWithoutComments(ReadFile(two.File("ZANFEL.CSV"))), CsvWithoutComments(csv));

  ASSERT_EQ(RunExample(part, "troesch", with({"--records", "9"})).status, 0);
  const ChildResult resumed = RunExample(part, "troesch", {"--resume"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  for (const char *file : {"ZANFEL.RES", "ZANFEL.NODES"})
    EXPECT_EQ(ReadFile(part.File(file)), ReadFile(one.File(file))) << file;
  EXPECT_EQ(CsvWithoutComments(ReadFile(part.File("ZANFEL.CSV"))), CsvWithoutComments(csv));
}

} // namespace
} // namespace zanfel
