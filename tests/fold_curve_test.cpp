// --continuation fold --free NAME: Bratu's fold followed in the plane of
// lambda and the length L of the interval from the fold at L = 1, both
// ways, every record on the closed form lambda_c L^2 = 3.5138...; the
// options without a fold start refused.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "report/csv.hpp"
#include "support/example_runs.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using namespace testing;

constexpr REAL kBratuFoldTimesL2 = 3.51383071912516120621L;

// The fold curve from `fold1` of `start`'s run, up or down in L; the
// smallest and largest L of its records.
void ExpectFoldCurve(const TempDir &start, bool reverse, REAL &lowL, REAL &highL) {
  const TempDir dir;
  std::vector<std::string> args{"--start-at",     start.File("ZANFEL.CSV") + ":fold1",
                                "--continuation", "fold",
                                "--free",         "L",
                                "--range",        "0.2:20"};
  if (reverse)
    args.push_back("--reverse");
  const ChildResult r = RunExample(dir, "bratu", args);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  EXPECT_NE(csv.find("\nrecord,pass,P,H,ITER,X1,r1,du_0,du_1,dE,messages,DP,label,s,dPds,L\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find(" --continuation fold --free L\n"), std::string::npos);
  const std::vector<Row> rows = CsvRows(csv);
  EXPECT_GT(rows.size(), 10u);
  lowL = 1e9L;
  highL = 0.0L;
  for (const Row &row : rows) {
    const REAL L = row.at("L");
    lowL = std::min(lowL, L);
    highL = std::max(highL, L);
    EXPECT_EQ(row.at("fold"), 1.0L); // every record is a fold
    EXPECT_LT(RelativeError(row.at("P") * L * L, kBratuFoldTimesL2), 1e-8L)
        << FullReal(L) << " " << FullReal(row.at("P"));
    EXPECT_LT(RelativeError(row.at("X1") * L, 4.0L), 1e-8L) << FullReal(L); // s = 4/L
  }
  EXPECT_EQ(rows.front().at("L"), 1.0L);
  EXPECT_NE(ReadFile(dir.File("ZANFEL.SVG")).find(">L against P<"), std::string::npos);
  // A fold curve does not resume.
  EXPECT_EQ(RunExample(dir, "bratu", {"--resume"}).status, 65);
}

TEST(FoldCurve, BratuFoldFollowedInLambdaAndLFromHalfToThree) {
  const TempDir start;
  ASSERT_EQ(RunExample(start, "bratu", {"--continuation", "arclength"}).status, 0);
  REAL low = 0.0L, high = 0.0L;
  ExpectFoldCurve(start, false, low, high);
  EXPECT_EQ(low, 1.0L);
  EXPECT_GE(high, 3.0L);
  ExpectFoldCurve(start, true, low, high);
  EXPECT_LE(low, 0.5L);
  EXPECT_EQ(high, 1.0L);
}

// --free without a fold start, a fold start without --free, a name the
// model lacks: one line, status 64, nothing written.
TEST(FoldCurve, WithoutAFoldStartItIsRefused) {
  const TempDir start;
  ASSERT_EQ(RunExample(start, "bratu", {"--continuation", "arclength", "--records", "3"}).status,
            0);
  const std::string fold = start.File("ZANFEL.CSV") + ":fold1";
  const std::string end = start.File("ZANFEL.CSV") + ":end";
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"--free", "L"},
        {"--continuation", "arclength", "--free", "L", "--start-at", fold},
        {"--continuation", "fold", "--free", "L"},
        {"--continuation", "fold", "--free", "L", "--start-at", end},
        {"--continuation", "fold", "--start-at", fold},
        {"--continuation", "fold", "--free", "XX", "--start-at", fold}}) {
    const TempDir dir;
    const ChildResult r = RunExample(dir, "bratu", args);
    EXPECT_EQ(r.status, 64) << args[1];
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(Entries(dir.Path()).empty());
  }
}

} // namespace
} // namespace zanfel
