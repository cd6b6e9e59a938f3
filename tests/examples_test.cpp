// The example programs against the mathematics: Bratu's lower branch
// against its closed form, Troesch's problem against published values. The
// integrator's tolerance (RELERR = 1e-9) bounds what the runs can reach.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "continuation/own_problem.hpp"
#include "report/csv.hpp"
#include "runtime/end_cause.hpp"
#include "support/example_runs.hpp"
#include "support/test_support.hpp"

#include "examples/bratu/bratu.hpp"

namespace zanfel {
namespace {

using namespace testing;

// From lambda = 0 up by 1/16 until Newton fails past the fold (the next
// lambda, 3.5625, has no solution): every record on the closed form, the
// published value at lambda = 1; then the same sweep resumed from its first
// 30 records ends with the same files.
TEST(Examples, BratuLowerBranchUpToTheFold) {
  TempDir dir;
  const ChildResult run = RunExample(dir, "bratu");
  ASSERT_EQ(run.status, kIterationLimitStatus) << run.out << run.err;
  EXPECT_NE(run.out.find("ntial malo"), std::string::npos);
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  const std::string res = ReadFile(dir.File("ZANFEL.RES"));
  const std::vector<Row> rows = CsvRows(csv);
  ASSERT_EQ(rows.size(), 57u); // lambda = 0, 1/16, ..., 3.5
  EXPECT_EQ(rows.back().at("P"), 3.5L);
  REAL worst = 0.0L;
  for (const Row &row : rows) {
    EXPECT_EQ(row.at("H"), row.at("P")); // no second scale: H is P
    if (row.at("P") > 0.0L)
      worst = std::max(worst, RelativeError(BratuLambdaAt(row.at("X1")), row.at("P")));
  }
  EXPECT_LT(worst, 1e-9L); // reached: 2e-10 at worst, near the fold
  EXPECT_EQ(rows[16].at("P"), 1.0L);
  EXPECT_LT(RelativeError(rows[16].at("X1"), 0.5493527287752708L), 2e-10L); // reached: 1.1e-10
  EXPECT_EQ(std::count(res.begin(), res.end(), '\n'), 6 * 57);
  EXPECT_NE(res.find("h:=  1.00000000   ;x[1]:=  0.54935273\r\n"), std::string::npos);
  EXPECT_TRUE(Exists(dir.File("ZANFEL.SVG")));
  EXPECT_TRUE(Exists(dir.File("ZANFEL.PNG")));
  // Past the fold no step of P helps, and the end says what does.
  EXPECT_TRUE(csv.ends_with(": the curve turns back before this P (try --continuation "
                            "arclength)\n"))
      << csv.substr(csv.rfind("\n#"));

  std::size_t resCut = 0; // after 30 records of six lines each
  for (int i = 0; i < 6 * 30; ++i)
    resCut = res.find("\r\n", resCut) + 2;
  const std::size_t csvCut = csv.find("\n31,") + 1;
  TempDir again;
  WriteFile(again.File("ZANFEL.CSV"), csv.substr(0, csvCut));
  WriteFile(again.File("ZANFEL.RES"), res.substr(0, resCut));
  const ChildResult resumed = RunExample(again, "bratu", {"--resume"});
  EXPECT_EQ(resumed.status, kIterationLimitStatus) << resumed.err;
  EXPECT_EQ(ReadFile(again.File("ZANFEL.CSV")), csv);
  EXPECT_EQ(ReadFile(again.File("ZANFEL.RES")), res);
}

// Along the arclength from lambda = 0: up the lower branch, round the fold
// (written as a record of its own at lambda_c, where s = 4) and down the upper
// branch past lambda = 1. Every record lies on the closed form.
TEST(Examples, BratuRoundTheFoldAlongTheArclength) {
  TempDir dir;
  const ChildResult run =
      RunExample(dir, "bratu", {"--continuation", "arclength", "--records", "30"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<Row> rows = CsvRows(ReadFile(dir.File("ZANFEL.CSV")));
  ASSERT_EQ(rows.size(), 30u);
  int folds = 0;
  bool upperAbove1 = false;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const Row &row = rows[k];
    if (row.at("fold") == 1.0L) {
      ++folds;
      EXPECT_LT(RelativeError(row.at("P"), 3.51383071912516120621L), 1e-9L); // reached: 1.2e-10
      EXPECT_LT(fabsl(row.at("X1") - 4.0L), 1e-3L);                          // reached: 6e-5
    }
    // The upper branch passes lambda = 1 between two records: s there is the
    // published 10.846899019389452.
    if (k > 0 && row.at("X1") > 4.0L && rows[k - 1].at("P") > 1.0L && row.at("P") < 1.0L) {
      upperAbove1 = true;
      EXPECT_LT(rows[k - 1].at("X1"), 10.846899019389452L);
      EXPECT_GT(row.at("X1"), 10.846899019389452L);
    }
  }
  EXPECT_EQ(folds, 1);
  EXPECT_TRUE(upperAbove1);
  EXPECT_LT(BratuWorstOnClosedForm(rows), 1e-8L); // reached: 3e-9, on the upper branch
  // dP/ds has the sign of the way P goes: up the lower branch, down the
  // upper one.
  for (std::size_t k = 1; k < rows.size(); ++k) {
    if (rows[k].at("fold") == 0.0L && rows[k - 1].at("fold") == 0.0L) {
      EXPECT_EQ(rows[k].at("dPds") > 0.0L, rows[k].at("P") > rows[k - 1].at("P")) << "row " << k;
    }
  }

  // Stopped after 12 records and resumed with nothing but --resume (the
  // records limit aside): the way of continuation comes from the files, and
  // the files end as the unstopped run's.
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  const std::string res = ReadFile(dir.File("ZANFEL.RES"));
  std::size_t resCut = 0;
  for (int i = 0; i < 6 * 12; ++i)
    resCut = res.find("\r\n", resCut) + 2;
  TempDir again;
  WriteFile(again.File("ZANFEL.CSV"), csv.substr(0, csv.find("\n13,") + 1));
  WriteFile(again.File("ZANFEL.RES"), res.substr(0, resCut));
  const ChildResult resumed = RunExample(again, "bratu", {"--resume", "--records", "30"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(ReadFile(again.File("ZANFEL.CSV")), csv);
  EXPECT_EQ(ReadFile(again.File("ZANFEL.RES")), res);
}

// --help says bratu's own table, not another program's; the largest step
// along the curve is the one given, and the settings line says so.
TEST(Examples, BratuSaysItsOwnDefaultsAndKeepsItsStepBounds) {
  TempDir dir;
  const ChildResult help = RunExample(dir, "bratu", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("start P of the sweep (P := P + DP)\n                (default: 0)"),
            std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("(default:\n                0.0625)"), std::string::npos);
  EXPECT_NE(help.out.find("(default: 0:10)"), std::string::npos);
  EXPECT_NE(help.out.find("--resume      go on with the sweep"), std::string::npos);

  const ChildResult run = RunExample(
      dir, "bratu", {"--continuation", "arclength", "--max-step", "0.09375", "--records", "12"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  EXPECT_NE(csv.find("--continuation arclength --max-step 9.375"), std::string::npos);
  REAL largest = 0.0L;
  for (const Row &row : CsvRows(csv))
    largest = std::max(largest, row.at("DP"));
  EXPECT_EQ(largest, 0.09375L); // grown to the bound and held there
}

// A table whose step DP is negative sweeps downwards: the rule is P - |DP|,
// and --help says so.
TEST(Examples, AnOwnTableWithANegativeStepSweepsDownwards) {
  OwnProblem<Bratu> down = kOwnProblem;
  down.start.P = 3.0L;
  down.sweep.DP = -0.25L;
  const OwnRun<Bratu> run(down);
  EXPECT_FALSE(run.rules.addStep);
  EXPECT_EQ(run.settings.sweep.DP, 0.25L);
  EXPECT_EQ(OwnInfo("down", down).sweepMeaning, "the sweep (P := P - DP)");
  EXPECT_EQ(SteppingText(down.start.P, run.settings.sweep.DP, run.rules.addStep),
            "P from 3 downwards by 0.25");
}

// A program of one's own whose frame is far too small for its curve: the
// window clips what no 16-bit coordinate can place and the sweep goes on to
// where Newton's method ends it, the fold, with both pictures written.
TEST(Examples, ACurveFarBeyondItsFrameIsClippedAndTheSweepGoesOn) {
  TempDir dir;
  ChildSetup setup;
  setup.dir = dir.Path();
  setup.timeoutSeconds = 600;
  const std::string program = BuiltPath("tests/tools/small_frame");
  const ChildResult run = RunChild(setup, [&] { return ExecProgram(program, {}); });
  EXPECT_EQ(run.status, kIterationLimitStatus) << run.out << run.err;
  const std::vector<Row> rows = CsvRows(ReadFile(dir.File("ZANFEL.CSV")));
  ASSERT_EQ(rows.size(), 57u);           // lambda = 0, 1/16, ..., 3.5, as bratu's
  EXPECT_GT(rows.back().at("X1"), 3.0L); // 3,000 ticks above the frame's top
  EXPECT_TRUE(Exists(dir.File("ZANFEL.PNG")));
  EXPECT_TRUE(Exists(dir.File("ZANFEL.SVG")));
}

// Single shooting ends with an overflow where the pole of a trajectory comes
// into [0, 1] (status 205); in other arithmetic than the reference runs' the
// sweep may instead give up a little before it, at the iteration limit.
void ExpectTroeschEndsEarly(const ChildResult &run) {
  if (ReferenceArithmetic() || run.status != kIterationLimitStatus) {
    EXPECT_EQ(run.status, 205) << run.out << run.err;
  }
}

// From mu = 0 up by 1/32: the published y'(0) at mu = 1 and 5. Single
// shooting ends near mu = 8.4: there y'(0) is about 2e-3, and a Newton step
// a little too large puts the pole of the trajectory (near x = ln(8/s)/mu)
// inside [0, 1], where sinh overflows (status 205). The published value at
// mu = 10 (3.58e-4) is out of this sweep's reach.
TEST(Examples, TroeschUpToWhereSingleShootingEnds) {
  TempDir dir;
  const ChildResult run = RunExample(dir, "troesch");
  ExpectTroeschEndsEarly(run);
  const std::vector<Row> rows = CsvRows(ReadFile(dir.File("ZANFEL.CSV")));
  ASSERT_GT(rows.size(), 256u);
  EXPECT_GT(rows.back().at("P"), 8.0L);
  EXPECT_LT(rows.back().at("P"), 10.0L);
  const struct {
    std::size_t row;
    REAL mu, s, tolerance; // reached: 3.4e-12 and 1.3e-9
  } published[] = {{32, 1.0L, 0.84520268530995106L, 2e-11L},
                   {160, 5.0L, 0.045750461406318740L, 5e-9L}};
  for (const auto &p : published) {
    ASSERT_EQ(rows[p.row].at("P"), p.mu);
    EXPECT_LT(RelativeError(rows[p.row].at("X1"), p.s), p.tolerance) << "mu = " << p.mu;
  }
}

// What goes further, as the README says: a step of 0.005 reaches mu = 10
// (the published y'(0) = 3.5833778463880e-4) and ends near mu = 12; along
// the arclength with more integrator budgets the sweep reaches the end of
// its range, mu = 20.
TEST(Examples, TroeschFurtherWithASmallerStepOrAlongTheArclength) {
  TempDir small;
  const ChildResult run = RunExample(small, "troesch", {"--step", "0.005"});
  ExpectTroeschEndsEarly(run);
  const std::vector<Row> rows = CsvRows(ReadFile(small.File("ZANFEL.CSV")));
  ASSERT_GT(rows.size(), 2000u);
  EXPECT_LT(fabsl(rows[2000].at("P") - 10.0L), 1e-12L); // 2000 steps of 0.005 in 80 bits
  // Reached: 3.5e-9, the integrator's error, whose last digits the
  // processor's rounding moves.
  EXPECT_LT(RelativeError(rows[2000].at("X1"), 3.5833778463880e-4L), 1e-8L);
  if (ReferenceArithmetic()) {
    EXPECT_GT(rows.back().at("P"), 11.5L);
    EXPECT_LT(rows.back().at("P"), 12.5L);
  }

  TempDir arc;
  const ChildResult along =
      RunExample(arc, "troesch", {"--continuation", "arclength", "--budgets", "10"});
  const std::vector<Row> arcRows = CsvRows(ReadFile(arc.File("ZANFEL.CSV")));
  ASSERT_FALSE(arcRows.empty());
  if (!ReferenceArithmetic() && along.status != 0) {
    EXPECT_GT(arcRows.back().at("P"), rows.back().at("P")) << "not further than the small step";
    return;
  }
  EXPECT_EQ(along.status, 0) << along.err;
  EXPECT_GT(arcRows.back().at("P"), 19.9L); // the next step leaves the range
  EXPECT_NE(ReadFile(arc.File("ZANFEL.SVG")).find("P left its range"), std::string::npos);
}

// ---- How many digits are right: the check's column against the truth.

// The significant digits `value` has right against `exact` (a zero exact
// value only by zero).
int TrueDigits(REAL value, REAL exact) {
  if (value == exact)
    return 99;
  return exact == 0.0L ? 0 : static_cast<int>(floorl(-log10l(fabsl(value - exact) / fabsl(exact))));
}

// The checked rows' digits against the digits their unknown and plotted
// value truly have: never more, at most one fewer. The number of rows
// checked, and the least digits among them.
struct Checked {
  int rows = 0, least = 99;
};
Checked ExpectDigitsFollowTheTruth(const std::vector<Row> &rows, REAL (*exact)(REAL),
                                   const char *plotted) {
  Checked c;
  for (const Row &row : rows) {
    if (!row.contains("digits"))
      continue;
    const REAL s = exact(row.at("P"));
    const int truth = std::min(TrueDigits(row.at("X1"), s), TrueDigits(row.at(plotted), s));
    const int digits = static_cast<int>(row.at("digits"));
    EXPECT_LE(digits, truth) << "P = " << row.at("P");
    EXPECT_GE(digits, truth - 1) << "P = " << row.at("P");
    EXPECT_GE(TrueDigits(row.at("check_X1"), s), digits + 1) << "P = " << row.at("P");
    ++c.rows;
    c.least = std::min(c.least, digits);
  }
  return c;
}

// Every record of Bratu's lower branch checked; the column, the last line
// and the picture's title say what the closed form says.
TEST(CheckDigits, BratuEveryRecordAgainstTheClosedForm) {
  TempDir dir;
  const ChildResult run =
      RunExample(dir, "bratu", {"--range", "0:3.5", "--check-digits", "1"}, Sink::Terminal);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<Row> rows = CsvRows(ReadFile(dir.File("ZANFEL.CSV")));
  ASSERT_EQ(rows.size(), 57u);
  const Checked c = ExpectDigitsFollowTheTruth(rows, BratuSlopeAt, "du_0");
  EXPECT_EQ(c.rows, 57);
  EXPECT_EQ(c.least, 0); // lambda = 0: the plotted 1e-14 against s = 0
  EXPECT_NE(run.terminal.find("records right to at least 0 digits (checked: 57 of 57); "),
            std::string::npos)
      << run.terminal;
  EXPECT_NE(ReadFile(dir.File("ZANFEL.SVG")).find("right to at least 0 digits (checked: 57 of 57)"),
            std::string::npos);
}

// A sweep whose end comes after its last row (here the iteration limit at
// the fold) checks that record at the end all the same.
TEST(CheckDigits, TheLastRecordIsCheckedWhenTheSweepEndsEarly) {
  TempDir dir;
  const ChildResult run = RunExample(dir, "bratu", {"--check-digits"}, Sink::Terminal);
  ASSERT_EQ(run.status, kIterationLimitStatus) << run.out << run.err;
  const std::vector<Row> rows = CsvRows(ReadFile(dir.File("ZANFEL.CSV")));
  ASSERT_EQ(rows.size(), 57u);
  EXPECT_TRUE(rows.back().contains("digits"));
  EXPECT_EQ(ExpectDigitsFollowTheTruth(rows, BratuSlopeAt, "du_0").rows, 1);
  EXPECT_NE(run.terminal.find("(checked: 1 of 57); "), std::string::npos) << run.terminal;
  EXPECT_NE(ReadFile(dir.File("ZANFEL.SVG")).find("(checked: 1 of 57)"), std::string::npos);
}

// A binary128 check asked of a model written over 80-bit reals alone is made
// in 80 bits, and the run says so on standard error and in the CSV head.
TEST(CheckDigits, ANarrowModelSaysItsCheckIsIn80Bits) {
  TempDir dir;
  const ChildResult run =
      testing::RunProgram(dir.Path(), Stdin::EndOfFile, ProgramPath("shoot_b1"),
                          {"--records", "1", "--check-digits", "--check-digits-precision", "128"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "shoot_b1: --check-digits-precision 128: the records are checked in 80 "
                     "bits: the model is written over 80-bit reals alone\n");
  EXPECT_NE(ReadFile(dir.File("ZANFEL.CSV"))
                .find("in 80 bits, not binary128 as asked: the model is written over 80-bit "
                      "reals alone\n"),
            std::string::npos);
}

// Troesch's s at mu = 0..5 (tests/tools/troesch_reference.py, 30 digits).
REAL TroeschSlopeAt(REAL mu) {
  static const REAL s[] = {1.0L,
                           0.84520268530995105991159649914L,
                           0.518621219269340208582204789331L,
                           0.255604215562933109923621795582L,
                           0.111880164770748841924061241662L,
                           0.045750461406318740099277325334L};
  EXPECT_EQ(mu, floorl(mu));
  return s[static_cast<int>(mu)];
}

// Every 32nd record (mu = 0, 1, ..., 5) and the last, at the built-in
// tolerances and at a RELERR below the integrator's classic floor of 1e-12,
// where the digits rise, checked in 80 bits and in binary128.
TEST(CheckDigits, TroeschAtTwoTolerancesInBothArithmetics) {
  const struct {
    std::vector<std::string> args;
    int least, atMu1;
  } cases[] = {{{}, 8, 11},
               {{"--relerr", "1e-14", "--abserr", "1e-18", "--budgets", "4"}, 12, 13},
               {{"--relerr", "1e-14", "--abserr", "1e-18", "--budgets", "4",
                 "--check-digits-precision", "128"},
                12,
                13}};
  for (const auto &k : cases) {
    TempDir dir;
    std::vector<std::string> args{"--range", "0:5", "--check-digits", "32"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const ChildResult run = RunExample(dir, "troesch", args, Sink::Terminal);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
    const bool wide = k.args.size() > 6;
    EXPECT_NE(csv.find(wide ? "order 16 at 1e-5 of the run's tolerances, in binary128\n"
                            : "order 16 at 1e-5 of the run's tolerances, in 80 bits\n"),
              std::string::npos);
    const std::vector<Row> rows = CsvRows(csv);
    ASSERT_EQ(rows.size(), 161u);
    const Checked c = ExpectDigitsFollowTheTruth(rows, TroeschSlopeAt, "dy_0");
    EXPECT_EQ(c.rows, 6);
    EXPECT_EQ(c.least, k.least) << k.args.size();
    EXPECT_EQ(rows[32].at("digits"), k.atMu1);
    EXPECT_NE(run.terminal.find("records right to at least " + std::to_string(k.least) +
                                " digits (checked: 6 of 161); "),
              std::string::npos)
        << run.terminal;
  }
}

// A run stopped after 20 records and resumed ends with the unbroken run's
// files, the check's columns included.
TEST(CheckDigits, AResumedRunChecksAsTheUnbrokenOne) {
  TempDir dir;
  const std::vector<std::string> args{"--range", "0:3", "--check-digits", "7"};
  ASSERT_EQ(RunExample(dir, "bratu", args).status, 0);
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  const std::string res = ReadFile(dir.File("ZANFEL.RES"));
  std::size_t resCut = 0;
  for (int i = 0; i < 6 * 20; ++i)
    resCut = res.find("\r\n", resCut) + 2;
  TempDir again;
  WriteFile(again.File("ZANFEL.CSV"), csv.substr(0, csv.find("\n21,") + 1));
  WriteFile(again.File("ZANFEL.RES"), res.substr(0, resCut));
  const ChildResult resumed = RunExample(again, "bratu", {"--resume"}, Sink::Terminal);
  EXPECT_EQ(resumed.status, 0) << resumed.terminal;
  EXPECT_EQ(ReadFile(again.File("ZANFEL.CSV")), csv);
  EXPECT_NE(resumed.terminal.find("(checked: 8 of 49)"), std::string::npos) << resumed.terminal;
}

// What the check cannot take: one line, status 64, and no file touched.
TEST(CheckDigits, RefusesWhatItCannotTake) {
  TempDir dir;
  for (const std::vector<std::string> &args : {std::vector<std::string>{"--check-digits", "0"},
                                               {"--check-digits=-2"},
                                               {"--check-digits", "x"},
                                               {"--check-digits", "--check-digits-precision", "64"},
                                               {"--check-digits-precision", "128"},
                                               {"--check-digits", "--relerr", "0"},
                                               {"--relerr", "1e-16"},
                                               {"--abserr", "-1e-20", "--check-digits"}}) {
    const ChildResult run = RunExample(dir, "bratu", args);
    EXPECT_EQ(run.status, 64) << args[0];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(Exists(dir.File("ZANFEL.CSV"))) << args[0];
  }
}

// A program of the six on segments: the same records as single shooting
// (to the 1e-9 or so both solve to), the same bytes on one thread and on
// two, and one segment is single shooting, byte for byte.
void ExpectSegmentsAgree(const std::string &program, const std::vector<std::string> &segmented,
                         const std::vector<const char *> &unknowns, int records = 20,
                         std::size_t rows = 20) {
  TempDir plain, many, onTwo, one;
  const auto with = [&](std::vector<std::string> args, std::vector<std::string> more) {
    args.insert(args.begin(), {"--records", std::to_string(records)});
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  ASSERT_EQ(RunExample(plain, program, with({}, {})).status, 0);
  const ChildResult run = RunExample(many, program, with(segmented, {"--threads", "1"}));
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(RunExample(onTwo, program, with(segmented, {"--threads", "2"})).status, 0);
  for (const char *file : {"ZANFEL.RES", "ZANFEL.NODES"})
    EXPECT_EQ(ReadFile(onTwo.File(file)), ReadFile(many.File(file))) << file;
  const std::vector<Row> single = CsvRows(ReadFile(plain.File("ZANFEL.CSV")));
  const std::vector<Row> cut = CsvRows(ReadFile(many.File("ZANFEL.CSV")));
  ASSERT_EQ(single.size(), rows);
  ASSERT_EQ(cut.size(), rows);
  REAL worst = 0.0L;
  for (std::size_t i = 0; i < single.size(); ++i) {
    EXPECT_EQ(cut[i].at("P"), single[i].at("P"));
    for (const char *x : unknowns)
      worst = std::max(worst, RelativeError(cut[i].at(x), single[i].at(x)));
  }
  EXPECT_LT(worst, 1e-7L);
  ASSERT_EQ(RunExample(one, program, with({"--segments", "1"}, {})).status, 0);
  EXPECT_EQ(ReadFile(one.File("ZANFEL.RES")), ReadFile(plain.File("ZANFEL.RES")));
  EXPECT_EQ(CsvWithoutComments(ReadFile(one.File("ZANFEL.CSV"))),
            CsvWithoutComments(ReadFile(plain.File("ZANFEL.CSV"))));
}

// Family C: the end values with the H of the new P, not of the record
// before.
TEST(Examples, ShootC2OnSegmentsSolvesWhatSingleShootingSolves) {
  ExpectSegmentsAgree("shoot_c2", {"--segments", "4", "--tolf", "1e-12"}, {"X1", "X2", "X3", "X4"});
}

// Family A, all 25 passes of shoot_a1 (two records each): each pass starts
// its node states afresh from its own start guess; in mode 2, H is the
// first unknown and scales every segment.
TEST(Examples, ShootA1OnSegmentsSolvesWhatSingleShootingSolves) {
  ExpectSegmentsAgree("shoot_a1", {"--segments", "4", "--tolf", "1e-12"}, {"X1", "X2", "X3", "X4"},
                      2, 50);
}

// Family B: H, its first unknown, scales every segment, so that unknown's
// column runs them all.
TEST(Examples, ShootB1OnSegmentsSolvesWhatSingleShootingSolves) {
  ExpectSegmentsAgree("shoot_b1", {"--segments", "4", "--tolf", "1e-12"},
                      {"X1", "X2", "X3", "X4", "X5", "X6", "X7", "X8", "X9"});
}

// Multiple shooting goes where single shooting cannot: from mu = 1 up by
// 0.25 to mu = 30, every record's y'(0) on the closed form, without a
// message of the integrator; then the same sweep stopped after 40 records,
// resumed for 30 with other budgets and resumed again to its end (its node
// states from ZANFEL.NODES each time, its cuts from the settings lines)
// ends with the same files. Other segments than the run's are refused.
// A run started at one of its records takes that record's node states.
TEST(Examples, TroeschToThirtyOnSegments) {
  const std::vector<std::string> recipe = {"--from",   "1",     "--step",  "0.25",
                                           "--range",  "0:30",  "--nodes", kTroeschNodes,
                                           "--abserr", "1e-30", "--tolx",  "1e-12"};
  TempDir dir;
  const ChildResult run = RunExample(dir, "troesch", recipe);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.out.find("RelErr"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\r\n"), std::string::npos) << run.out; // the budget's message
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  const std::vector<Row> rows = CsvRows(csv);
  const std::map<REAL, REAL> exact = TroeschClosedForm();
  ASSERT_EQ(rows.size(), 117u);
  ASSERT_EQ(exact.size(), 117u);
  REAL worst = 0.0L;
  for (const Row &row : rows) {
    ASSERT_EQ(exact.count(row.at("P")), 1u) << double(row.at("P"));
    worst = std::max(worst, RelativeError(row.at("X1"), exact.at(row.at("P"))));
  }
  EXPECT_LT(worst, 1e-6L); // reached: 1.2e-8 at mu = 30
  EXPECT_EQ(rows[36].at("P"), 10.0L);
  EXPECT_LT(RelativeError(rows[36].at("X1"), 3.583377846308136904e-4L), 1e-7L); // reached: 3.4e-9
  const std::string nodes = ReadFile(dir.File("ZANFEL.NODES"));
  EXPECT_EQ(std::count(nodes.begin(), nodes.end(), '\n'), 117);

  // Started again at mu = 20 from the run's files: with the node states of
  // that record from its ZANFEL.NODES, on the closed form.
  TempDir again;
  std::vector<std::string> from20 = recipe;
  from20.insert(from20.end(), {"--start-at", dir.File("ZANFEL.CSV") + ":77", "--records", "5"});
  const ChildResult started = RunExample(again, "troesch", from20);
  ASSERT_EQ(started.status, 0) << started.err;
  const std::string startedCsv = ReadFile(again.File("ZANFEL.CSV"));
  EXPECT_NE(startedCsv.find("record 77, P = 2.00000000000000000000e+01, node states from "
                            "ZANFEL.NODES\n"),
            std::string::npos)
      << startedCsv;
  for (const Row &row : CsvRows(startedCsv))
    EXPECT_LT(RelativeError(row.at("X1"), exact.at(row.at("P"))), 1e-7L) << double(row.at("P"));

  TempDir part;
  std::vector<std::string> stopped = recipe;
  stopped.insert(stopped.end(), {"--records", "40"});
  ASSERT_EQ(RunExample(part, "troesch", stopped).status, 0);
  const ChildResult changed =
      RunExample(part, "troesch", {"--resume", "--budgets", "8", "--records", "30"});
  EXPECT_EQ(changed.status, 0) << changed.err;
  const ChildResult resumed = RunExample(part, "troesch", {"--resume"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  const std::string partCsv = ReadFile(part.File("ZANFEL.CSV"));
  const std::size_t from = partCsv.find("# settings from row 41: ");
  ASSERT_NE(from, std::string::npos) << partCsv;
  EXPECT_NE(partCsv.find(" --budgets 8 --", from), std::string::npos);
  EXPECT_NE(partCsv.find(" --nodes 1.25", from), std::string::npos);
  EXPECT_EQ(ReadFile(part.File("ZANFEL.RES")), ReadFile(dir.File("ZANFEL.RES")));
  EXPECT_EQ(ReadFile(part.File("ZANFEL.NODES")), nodes);
  EXPECT_EQ(CsvWithoutComments(partCsv), CsvWithoutComments(csv));

  const ChildResult other = RunExample(part, "troesch", {"--resume", "--segments", "4"});
  EXPECT_EQ(other.status, 65);
  EXPECT_NE(other.err.find("--segments 4 is not this run's --nodes"), std::string::npos)
      << other.err;
  EXPECT_EQ(ReadFile(part.File("ZANFEL.NODES")), nodes);
  // A settings line whose cuts were taken off by hand.
  const std::size_t cut = partCsv.find(" --nodes ", from);
  WriteFile(part.File("ZANFEL.CSV"),
            partCsv.substr(0, cut) + partCsv.substr(partCsv.find('\n', cut)));
  const ChildResult edited = RunExample(part, "troesch", {"--resume"});
  EXPECT_EQ(edited.status, 65);
  EXPECT_NE(edited.err.find("the settings line changes the segments"), std::string::npos)
      << edited.err;
}

// One segment is single shooting to the byte; four agree with it to 1e-9
// wherever both converge, with the same bytes on one thread and on two.
TEST(Examples, BratuOnSegmentsAgreesWithSingleShooting) {
  TempDir plain, one, four, fourOnTwo;
  const ChildResult single = RunExample(plain, "bratu");
  const ChildResult oneSegment = RunExample(one, "bratu", {"--segments", "1"});
  EXPECT_EQ(oneSegment.status, single.status);
  EXPECT_EQ(oneSegment.out, single.out);
  EXPECT_EQ(oneSegment.err, single.err);
  EXPECT_EQ(ReadFile(one.File("ZANFEL.RES")), ReadFile(plain.File("ZANFEL.RES")));
  EXPECT_EQ(CsvWithoutComments(ReadFile(one.File("ZANFEL.CSV"))),
            CsvWithoutComments(ReadFile(plain.File("ZANFEL.CSV"))));
  EXPECT_FALSE(Exists(one.File("ZANFEL.NODES")));

  const ChildResult segmented = RunExample(four, "bratu", {"--segments", "4", "--threads", "1"});
  const ChildResult onTwo = RunExample(fourOnTwo, "bratu", {"--segments", "4", "--threads", "2"});
  EXPECT_EQ(segmented.out, onTwo.out);
  EXPECT_EQ(segmented.status, onTwo.status);
  for (const char *file : {"ZANFEL.RES", "ZANFEL.NODES"})
    EXPECT_EQ(ReadFile(four.File(file)), ReadFile(fourOnTwo.File(file))) << file;
  const std::vector<Row> a = CsvRows(ReadFile(plain.File("ZANFEL.CSV")));
  const std::vector<Row> b = CsvRows(ReadFile(four.File("ZANFEL.CSV")));
  ASSERT_GE(b.size(), 50u);
  for (std::size_t k = 0; k < std::min(a.size(), b.size()); ++k) {
    ASSERT_EQ(a[k].at("P"), b[k].at("P"));
    EXPECT_LT(fabsl(a[k].at("X1") - b[k].at("X1")), 1e-9L * (1.0L + fabsl(a[k].at("X1")))) << k;
  }
}

// Cuts the integrator cannot follow, or segments where they cannot go, are
// refused in one line with status 64.
TEST(Examples, BadSegmentsAreRefusedInOneLine) {
  TempDir dir;
  const std::vector<std::vector<std::string>> bad = {
      {"--segments", "0"},
      {"--segments", "33"},
      {"--nodes", "0.6,0.3"},
      {"--nodes", "0,0.5"},
      {"--nodes", "0.5,1"},
      {"--segments", "4", "--continuation", "fold", "--free", "L"},
      {"--segments", "4", "--switch", "--continuation", "arclength"},
      {"--segments", "2", "--nodes", "0.5"}};
  for (const auto &args : bad) {
    const ChildResult run = RunExample(dir, "troesch", args);
    EXPECT_EQ(run.status, 64) << args[0] << " " << args[1];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  ChildSetup setup;
  setup.dir = dir.Path();
  setup.display = "";
  // Family A's 10 equations: at most 26 segments.
  setup.args = {"--segments", "27"};
  const ChildResult a1 = RunBuilt(setup, "shoot_a1");
  EXPECT_EQ(a1.status, 64);
  EXPECT_NE(a1.err.find("this model takes at most 26 segments, not 27"), std::string::npos)
      << a1.err;
  // Family C's 30 equations: at most 9 segments, for an order of at most 256.
  setup.args = {"--segments", "10"};
  const ChildResult many = RunBuilt(setup, "shoot_c1");
  EXPECT_EQ(many.status, 64);
  EXPECT_NE(many.err.find("this model takes at most 9 segments, not 10"), std::string::npos)
      << many.err;
  EXPECT_FALSE(Exists(dir.File("ZANFEL.RES")));
}

} // namespace
} // namespace zanfel
