// Branch points against Euler's elastica, theta'' + lambda sin(theta) = 0
// with theta'(0) = theta'(1) = 0: the trivial branch theta = 0 has them at
// lambda = (k pi)^2, and the first buckled branch satisfies
// lambda = 4 K(m)^2, m = sin(theta(0)/2). Found along the arclength and in a
// natural sweep, switched at and followed both ways, located again by a
// resume; and the switches the programs refuse.
#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/example_runs.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using namespace testing;

constexpr REAL kPi = 3.14159265358979323846264338327950288L;
// (k pi)^2 for k = 1, 2, 3.
const REAL kBranchLambdas[] = {9.8696044010893586188L, 39.478417604357434475L,
                               88.826439609804227070L};

// The complete elliptic integral of the first kind, by the arithmetic-
// geometric mean.
REAL EllipticK(REAL m) {
  REAL a = 1.0L, b = sqrtl(1.0L - m * m);
  for (int i = 0; i < 40; ++i) {
    const REAL next = 0.5L * (a + b);
    b = sqrtl(a * b);
    a = next;
  }
  return kPi / (2.0L * a);
}

// The branch points of a run, in order: lambda at each.
std::vector<REAL> BranchLambdas(const std::string &csv) {
  const std::vector<Row> rows = CsvRows(csv);
  const std::vector<std::string> labels = Labels(csv);
  std::vector<REAL> found;
  for (std::size_t i = 0; i < rows.size() && i < labels.size(); ++i)
    if (labels[i].starts_with("branch")) {
      EXPECT_EQ(labels[i], "branch" + std::to_string(found.size() + 1));
      found.push_back(rows[i].at("P"));
    }
  return found;
}

void ExpectTheTrivialBranchPoints(const std::string &csv) {
  const std::vector<REAL> found = BranchLambdas(csv);
  ASSERT_EQ(found.size(), 3u) << csv;
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_LT(RelativeError(found[k], kBranchLambdas[k]), 1e-9L) << "branch" << k + 1;
}

// Every record of a switched run lies on the buckled branch of the sign
// `side`, and the records up to 170 degrees satisfy lambda = 4 K^2 to 1e-8;
// the branch is followed past 170 degrees.
void ExpectTheBuckledBranch(const std::string &csv, int side) {
  const std::vector<Row> rows = CsvRows(csv);
  ASSERT_GT(rows.size(), 10u);
  REAL highest = 0.0L;
  for (const Row &row : rows) {
    const REAL theta = row.at("X1");
    EXPECT_GT(side * theta, 0.0L) << "P = " << double(row.at("P"));
    highest = fmaxl(highest, fabsl(theta));
    if (fabsl(theta) > 170.0L * kPi / 180.0L)
      continue;
    const REAL K = EllipticK(sinl(fabsl(theta) / 2.0L));
    EXPECT_LT(RelativeError(row.at("P"), 4.0L * K * K), 1e-8L)
        << "theta(0) = " << double(theta) << ", lambda = " << double(row.at("P"));
  }
  EXPECT_GT(highest, 170.0L * kPi / 180.0L);
}

// The trivial branch along the arclength: its three branch points, no fold,
// a mark for each in the picture and a count in the summary; then the
// buckled branch from branch1 one way and, with --reverse, the other, the
// head naming the switch.
TEST(BranchPoints, TheElasticaBucklesAtEachBranchPointOfItsTrivialBranch) {
  const TempDir trivial, up, down;
  const ChildResult run =
      RunExample(trivial, "elastica", {"--continuation", "arclength"}, Sink::Terminal);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string csv = ReadFile(trivial.File("ZANFEL.CSV"));
  ExpectTheTrivialBranchPoints(csv);
  EXPECT_EQ(csv.find(",fold"), std::string::npos);
  EXPECT_NE(run.terminal.find("3 branch points"), std::string::npos) << run.terminal;
  const std::string svg = ReadFile(trivial.File("ZANFEL.SVG"));
  std::size_t marks = 0;
  for (std::size_t at = 0; (at = svg.find("class=\"branch\"", at)) != std::string::npos; ++at)
    ++marks;
  EXPECT_EQ(marks, 3u);

  const std::string from = trivial.File("ZANFEL.CSV") + ":branch1";
  const ChildResult one =
      RunExample(up, "elastica", {"--start-at", from, "--switch", "--continuation", "arclength"});
  ASSERT_EQ(one.status, 0) << one.err;
  const std::string upCsv = ReadFile(up.File("ZANFEL.CSV"));
  EXPECT_NE(upCsv.find("\n# switched at: branch1, onto the branch crossing there, along "),
            std::string::npos);
  ExpectTheBuckledBranch(upCsv, 1);
  const ChildResult other =
      RunExample(down, "elastica",
                 {"--start-at", from, "--switch", "--reverse", "--continuation", "arclength"});
  ASSERT_EQ(other.status, 0) << other.err;
  ExpectTheBuckledBranch(ReadFile(down.File("ZANFEL.CSV")), -1);

  // The three branches in one picture, each named by its folder.
  ChildSetup setup;
  setup.dir = trivial.Path();
  setup.args = {"--y",
                "theta_0",
                "--out",
                "branches.svg",
                trivial.File("ZANFEL.CSV"),
                up.File("ZANFEL.CSV"),
                down.File("ZANFEL.CSV")};
  ASSERT_EQ(RunBuilt(setup, "zanfel_curves").status, 0);
  const std::string all = ReadFile(trivial.File("branches.svg"));
  EXPECT_NE(all.find("<title>elastica \u2014 3 curves"), std::string::npos);
  std::size_t entries = 0, branchMarks = 0;
  for (std::size_t at = 0; (at = all.find("class=\"legend-entry\"", at)) != std::string::npos; ++at)
    ++entries;
  for (std::size_t at = 0; (at = all.find("class=\"branch\"", at)) != std::string::npos; ++at)
    ++branchMarks;
  EXPECT_EQ(entries, 3u);
  EXPECT_EQ(branchMarks, 3u);
  setup.args = {"--y", "theta", "--out", "x.svg", trivial.File("ZANFEL.CSV")};
  const ChildResult wrong = RunBuilt(setup, "zanfel_curves");
  EXPECT_EQ(wrong.status, 65) << wrong.err;
  EXPECT_FALSE(Exists(trivial.File("x.svg")));
}

// A natural sweep with --branch-points finds the same points, and its own
// steps keep the values of a sweep without them.
TEST(BranchPoints, ANaturalSweepFindsThemBetweenItsSteps) {
  const TempDir plain, watched;
  ASSERT_EQ(RunExample(plain, "elastica").status, 0);
  const ChildResult run = RunExample(watched, "elastica", {"--branch-points"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string csv = ReadFile(watched.File("ZANFEL.CSV"));
  ExpectTheTrivialBranchPoints(csv);
  std::vector<REAL> steps;
  const std::vector<Row> rows = CsvRows(csv);
  const std::vector<std::string> labels = Labels(csv);
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (!labels[i].starts_with("branch"))
      steps.push_back(rows[i].at("P"));
  std::vector<REAL> plainSteps;
  for (const Row &row : CsvRows(ReadFile(plain.File("ZANFEL.CSV"))))
    plainSteps.push_back(row.at("P"));
  EXPECT_EQ(steps, plainSteps);
}

// A sweep stopped right after a branch point's record (its step not yet
// written) and resumed at another thread count locates it again: the files
// are those of the unstopped run.
TEST(BranchPoints, AStopAtTheLocationResumesToTheSameFiles) {
  const TempDir whole, stopped;
  ASSERT_EQ(RunExample(whole, "elastica", {"--continuation", "arclength", "--threads", "1"}).status,
            0);
  const ChildResult first =
      RunExample(stopped, "elastica", {"--continuation", "arclength", "--records", "8"});
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_NE(ReadFile(stopped.File("ZANFEL.CSV")).find(",branch1,"), std::string::npos);
  const ChildResult resumed = RunExample(stopped, "elastica", {"--resume", "--threads", "2"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(CsvWithoutComments(ReadFile(stopped.File("ZANFEL.CSV"))),
            CsvWithoutComments(ReadFile(whole.File("ZANFEL.CSV"))));
  EXPECT_EQ(ReadFile(stopped.File("ZANFEL.RES")), ReadFile(whole.File("ZANFEL.RES")));
}

// A branch point passed on the step that leaves the range is recorded
// still, the last record. --switch without a start, along a natural sweep,
// at a record that is no branch point, or with --resume: refused in one
// line, no file touched.
TEST(BranchPoints, SwitchesThatCannotBeMadeAreRefused) {
  const TempDir earlier, dir;
  ASSERT_EQ(
      RunExample(earlier, "elastica", {"--continuation", "arclength", "--range", "0:10"}).status,
      0);
  const std::string csv = earlier.File("ZANFEL.CSV");
  const std::vector<std::string> labels = Labels(ReadFile(csv));
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.back(), "branch1");
  EXPECT_LT(RelativeError(CsvRows(ReadFile(csv)).back().at("P"), kBranchLambdas[0]), 1e-9L);
  const struct {
    std::vector<std::string> args;
    int status;
    const char *says;
  } cases[] = {
      {{"--switch", "--continuation", "arclength"}, 64, "--switch goes with --start-at"},
      {{"--start-at", csv + ":branch1", "--switch"}, 64, "give --continuation arclength"},
      {{"--start-at", csv + ":3", "--switch", "--continuation", "arclength"},
       65,
       "record 3 is not a branch point"},
      {{"--resume", "--switch"}, 64, "--start-at starts a new run"},
  };
  for (const auto &c : cases) {
    const ChildResult r = RunExample(dir, "elastica", c.args);
    EXPECT_EQ(r.status, c.status) << c.says << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(Exists(dir.File("ZANFEL.CSV"))) << c.says;
  }
}

} // namespace
} // namespace zanfel
