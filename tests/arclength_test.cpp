// Continuation along the arclength: the sweep goes round a turning point of
// the curve in P, locates it and records it; failed solves shorten the step
// instead of ending the run; the results are the same at every thread count.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <sstream>

#include "app/command_line.hpp"
#include "app/run_program.hpp"
#include "app/summary.hpp"
#include "continuation/families.hpp"
#include "runtime/end_cause.hpp"
#include "support/quiet_observer.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::ReadFile;
using testing::TempDir;

// Bratu's problem u'' + P e^u = 0, u(0) = u(1) = 0, shot from u'(0) = X1:
// the lower branch turns back at the fold P = 3.51383071912516..., where
// u'(0) = 4. With `failAbove2` every trajectory beyond P = 2 overflows.
struct BratuParams {
  bool failAbove2 = false;
};

struct Bratu {
  static constexpr int N = 1;
  static constexpr int NEQN = 2;
  static constexpr int NOUT = 4;
  using Params = BratuParams;
  using Globals = ModelState<N, NOUT, Params>;

  static void DIFEQN(Globals &g, REAL, View1<const REAL> y, View1<REAL> yp) {
    yp[1] = y[2];
    yp[2] = -g.P * expl(y[1]);
    if (g.par.failAbove2 && g.P > 2.0L)
      yp[2] = yp[2] * LDBL_MAX;
  }
  static void INITVAL(Globals &, const GLNARRAY<N> &X, View1<REAL> y) {
    y[1] = 0.0L;
    y[2] = X[1];
  }
  static void OUTVAL(Globals &g, const GLNARRAY<N> &X, View1<const REAL> y, GLNARRAY1<NOUT> &YOUT) {
    YOUT[1] = y[1];
    YOUT[2] = X[1];
    YOUT[3] = y[2];
    YOUT[4] = g.P;
    g.H = g.P;
  }
  static REAL HAfterTrajectory(const Globals &g, const GLNARRAY<N> &, REAL) { return g.P; }
};

constexpr REAL kBratuFold = 3.51383071912516L;

constexpr RecordLayout kRecordBratu{10, 11, ";x[1]:=", "; x[", 11, 8, "G=", 2, 2, 4};
REAL ScaleBratu(const Program<Bratu> &s) {
  return s.g.P;
}
REAL PartnerBratu(const Program<Bratu> &s) {
  return s.g.X[1];
}
constexpr SweepRules<Bratu> kRulesBratu{kRecordBratu, 2,    "u'(0)", ScaleBratu,
                                        PartnerBratu, true, "P"};
// From P = 1 on the lower branch upwards by 0.25, within [0.5, 4].
constexpr OnePassSettings<Bratu> kBratu{
    {}, {1.0L, {0.5L}}, {1.0L, 1.0L, 0, 4, 0, 8}, {0.25L, 0.5L, 4.0L}};
constexpr OnePassSettings<Bratu> kBratuFailing{
    {true}, {1.0L, {0.5L}}, {1.0L, 1.0L, 0, 4, 0, 8}, {0.25L, 0.5L, 4.0L}};

SettingOptions AlongArc() {
  SettingOptions o;
  o.strategy = Strategy::Arclength;
  return o;
}

RunOutcome RunBratu(SweepObserver &observer) {
  return RunOnePass("bratu", kBratu, AlongArc(), kRulesBratu, observer);
}
RunOutcome ResumeBratu(SweepObserver &observer) {
  return ResumeOnePass("bratu", kBratu, {}, kRulesBratu, observer);
}
RunOutcome RunBratuFailing(SweepObserver &observer) {
  return RunOnePass("bratu", kBratuFailing, AlongArc(), kRulesBratu, observer);
}

// The rows of ZANFEL.CSV as fields, the head left out.
struct Row {
  REAL P, H, X1, s;
  std::string label;
  long pass;
};

std::vector<Row> Rows(const std::string &csv, int N) {
  std::vector<Row> rows;
  std::istringstream in(csv);
  std::string line, header;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    if (header.empty()) {
      header = line;
      EXPECT_TRUE(header.ends_with(",messages,DP,label,s,dPds")) << header;
      continue;
    }
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string v; std::getline(fields, v, ',');)
      f.push_back(v);
    EXPECT_GE(f.size(), 4u + N) << line;
    if (f.size() < 4u + N)
      break;
    rows.push_back({std::stold(f[2]), std::stold(f[3]), std::stold(f[5]),
                    std::stold(f[f.size() - 2]), f[f.size() - 3], std::stol(f[1])});
  }
  return rows;
}

// Everything but the start time.
std::string WithoutStartTime(std::string csv) {
  const std::size_t at = csv.find("# started:");
  if (at != std::string::npos)
    csv.erase(at, csv.find('\n', at) - at);
  return csv;
}

std::size_t Count(const std::string &text, const std::string &what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

// The checks every arclength run passes: s growing, no iteration-limit end,
// the one fold labelled fold1 and the last row end. The index of the fold
// row.
std::size_t ExpectRunWithOneFold(const ChildResult &r, const std::vector<Row> &rows) {
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find(testing::kIterationLimit), std::string::npos) << r.out;
  std::size_t folds = 0, fold = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) {
      EXPECT_GT(rows[i].s, rows[i - 1].s) << "row " << i + 1;
    }
    if (rows[i].label == "fold1") {
      ++folds;
      fold = i;
    } else if (i + 1 == rows.size()) {
      EXPECT_EQ(rows[i].label, "end");
    } else {
      EXPECT_EQ(rows[i].label, "") << "row " << i + 1;
    }
  }
  EXPECT_EQ(folds, 1u);
  return fold;
}

// Bratu's fold, at one thread and at two: found to the integrator's
// accuracy, recorded between the two points round it, the branch followed
// back until P leaves its range; the same bytes at both thread counts.
TEST(Arclength, BratuFoldLocatedAndTheSameAtEveryThreadCount) {
  const TempDir one, two;
  const ChildResult r1 = testing::RunRecordedBody(one.Path(), RunBratu, 0, 1);
  const ChildResult r2 = testing::RunRecordedBody(two.Path(), RunBratu, 0, 2);
  const std::string csv = ReadFile(one.File("ZANFEL.CSV"));
  const std::vector<Row> rows = Rows(csv, 1);
  ASSERT_GE(rows.size(), 8u);
  const std::size_t fold = ExpectRunWithOneFold(r1, rows);
  // One six-line record per row.
  EXPECT_EQ(Count(ReadFile(one.File("ZANFEL.RES")), "\r\n"), 6 * rows.size());
  // Ten digits of P at the fold (3.51383071922798, 1.0e-10 off: the
  // trajectories' RELERR of 1e-9 allows no more); u'(0), along which P is
  // flat there, to the 1e-5 of the difference quotients.
  EXPECT_NEAR(double(rows[fold].P), double(kBratuFold), 2e-10);
  EXPECT_NEAR(double(rows[fold].X1), 4.0, 1e-4);
  ASSERT_GT(fold, 0u);
  ASSERT_LT(fold + 1, rows.size());
  EXPECT_LT(rows[fold - 1].P, rows[fold].P);
  EXPECT_LT(rows[fold + 1].P, rows[fold].P);
  EXPECT_LT(rows[fold - 1].X1, rows[fold].X1);
  EXPECT_GT(rows[fold + 1].X1, rows[fold].X1);
  EXPECT_GE(rows.back().P, 0.5L);
  EXPECT_LT(rows.back().P, 1.0L); // back down the upper branch
  const std::string svg = ReadFile(one.File("ZANFEL.SVG"));
  EXPECT_EQ(Count(svg, "class=\"fold\""), 1u);
  EXPECT_NE(svg.find("fold: P = 3.51383071"), std::string::npos);
  EXPECT_NE(svg.find("P left its range"), std::string::npos);

  EXPECT_EQ(r2.status, 0);
  EXPECT_EQ(ReadFile(two.File("ZANFEL.RES")), ReadFile(one.File("ZANFEL.RES")));
  EXPECT_EQ(WithoutStartTime(ReadFile(two.File("ZANFEL.CSV"))), WithoutStartTime(csv));
  EXPECT_EQ(r2.out, r1.out);
}

// Every trajectory beyond P = 2 overflows: each attempt there fails, the step
// halves down to its minimum and the sweep ends, by itself and without a
// run-time error, the records before it kept.
TEST(Arclength, FailedSolvesHalveTheStepUntilItsMinimum) {
  const TempDir dir;
  const ChildResult r = testing::RunRecordedBody(dir.Path(), RunBratuFailing, 0, 2);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("Runtime error"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(testing::kIterationLimit), std::string::npos) << r.out;
  const std::vector<Row> rows = Rows(ReadFile(dir.File("ZANFEL.CSV")), 1);
  ASSERT_GE(rows.size(), 4u);
  EXPECT_LE(rows.back().P, 2.0L);
  // The last step is within a few minimum steps of where the trajectories
  // fail: the step went down that far before the sweep gave up.
  EXPECT_GT(rows.back().P, 2.0L - 4 * 0.25L / 1024);
  EXPECT_NE(
      ReadFile(dir.File("ZANFEL.SVG")).find("the step along the curve fell below its minimum"),
      std::string::npos);
}

// shoot_a1's first pass, which ends naturally after 9 records (P = 0.26, the
// next solve at 0.28 fails), goes round the fold between them and follows
// the branch back; the key from the 160th record on ends every pass.
TEST(Arclength, ShootA1PassesTheFoldWhereTheNaturalPassEnds) {
  const TempDir dir;
  const ChildResult r = testing::RunRecordedBody(
      dir.Path(), +[](SweepObserver &o) { return RunShootA1(o, AlongArc()); }, 160, 2);
  std::vector<Row> rows = Rows(ReadFile(dir.File("ZANFEL.CSV")), 4);
  ASSERT_GT(rows.size(), 160u);
  std::size_t firstPass = 0;
  while (rows[firstPass].pass == 1)
    ++firstPass;
  rows.resize(firstPass);
  const std::size_t fold = ExpectRunWithOneFold(r, rows);
  EXPECT_GT(rows[fold].P, 0.26L);
  EXPECT_LT(rows[fold].P, 0.28L);
  EXPECT_NEAR(double(rows[fold].P), 0.2620222945, 1e-10); // to the trajectories' accuracy
  EXPECT_EQ(rows[fold].H, rows[fold].P);                  // mode 1: H is P
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (i <= fold) {
      EXPECT_GT(rows[i].P, rows[i - 1].P) << "row " << i + 1;
    } else if (i > fold + 1) {
      EXPECT_LT(rows[i].P, rows[i - 1].P) << "row " << i + 1;
    }
  }
  EXPECT_NE(ReadFile(dir.File("ZANFEL.SVG")).find("fold: P = 0.2620222945, H = 0.2620222945"),
            std::string::npos);
}

// The options: the choice and the bounds, and the lines that are wrong.
TEST(Arclength, CommandLine) {
  struct Case {
    std::vector<const char *> args;
    Strategy strategy;
    REAL minStep, maxStep;
    const char *error; // part of the message, or null
  } cases[] = {
      {{}, Strategy::Natural, 0, 0, nullptr},
      {{"--continuation", "natural"}, Strategy::Natural, 0, 0, nullptr},
      {{"--continuation=arclength"}, Strategy::Arclength, 0, 0, nullptr},
      {{"--continuation", "arclength", "--min-step", "1e-5", "--max-step=0.5"},
       Strategy::Arclength,
       1e-5L,
       0.5L,
       nullptr},
      {{"--continuation", "sideways"}, Strategy::Natural, 0, 0, "natural or arclength"},
      {{"--continuation"}, Strategy::Natural, 0, 0, "needs a value"},
      {{"--continuation", "arclength", "--min-step", "0"},
       Strategy::Arclength,
       0,
       0,
       "greater than 0"},
      {{"--continuation", "arclength", "--max-step", "x"},
       Strategy::Arclength,
       0,
       0,
       "greater than 0"},
      {{"--continuation", "arclength", "--max-step", "inf"},
       Strategy::Arclength,
       0,
       0,
       "greater than 0"},
      {{"--min-step", "0.1"}, Strategy::Natural, 0, 0, "go with --continuation arclength"},
      {{"--max-step=0.1"}, Strategy::Natural, 0, 0, "go with --continuation arclength"},
      {{"--continuation", "arclength", "--min-step", "1", "--max-step", "0.5"},
       Strategy::Arclength,
       0,
       0,
       "greater than --max-step"},
  };
  for (const Case &c : cases) {
    std::vector<const char *> argv{"shoot_b1"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const CommandLine line = ParseCommandLine(int(argv.size()), argv.data());
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    if (c.error) {
      EXPECT_EQ(line.action, CommandLine::Action::Error) << what;
      EXPECT_NE(line.error.find(c.error), std::string::npos) << line.error;
      continue;
    }
    EXPECT_EQ(line.action, CommandLine::Action::Run) << what << ": " << line.error;
    const ContinuationChoice choice = Settle(kShootB1, line.settings).continuation;
    EXPECT_EQ(choice.strategy, c.strategy) << what;
    EXPECT_EQ(choice.minStep, c.minStep) << what;
    EXPECT_EQ(choice.maxStep, c.maxStep) << what;
  }
}

// Bratu's sweep stopped after 4 records and resumed goes on across the fold
// as if it had never stopped; files cut off right after the fold's row (the
// row of the step that found it lost) go back to before the fold and end the
// same. Against a whole run, byte for byte.
TEST(Arclength, ResumedSweepEqualsAnUnstoppedRun) {
  const TempDir wholeDir, stoppedDir, cutDir;
  const ChildResult w = testing::RunRecordedBody(wholeDir.Path(), RunBratu, 0, 2);
  const std::string csv = ReadFile(wholeDir.File("ZANFEL.CSV"));
  const std::string res = ReadFile(wholeDir.File("ZANFEL.RES"));
  const ChildResult stopped = testing::RunRecordedBody(stoppedDir.Path(), RunBratu, 4, 2);
  ASSERT_EQ(Rows(ReadFile(stoppedDir.File("ZANFEL.CSV")), 1).size(), 4u);
  const ChildResult r = testing::RunRecordedBody(stoppedDir.Path(), ResumeBratu, 0, 2);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile(stoppedDir.File("ZANFEL.RES")), res);
  EXPECT_EQ(WithoutStartTime(ReadFile(stoppedDir.File("ZANFEL.CSV"))), WithoutStartTime(csv));
  EXPECT_EQ(stopped.out + r.out, w.out);
  EXPECT_NE(ReadFile(stoppedDir.File("ZANFEL.SVG")).find("class=\"fold\""), std::string::npos);

  const std::size_t foldRow = csv.find(",fold1,");
  ASSERT_NE(foldRow, std::string::npos);
  const std::size_t folds = Rows(csv.substr(0, csv.find('\n', foldRow) + 1), 1).size();
  std::size_t resCut = 0;
  for (std::size_t k = 0; k < 6 * folds; ++k)
    resCut = res.find("\r\n", resCut) + 2;
  testing::WriteFile(cutDir.File("ZANFEL.CSV"), csv.substr(0, csv.find('\n', foldRow) + 1));
  testing::WriteFile(cutDir.File("ZANFEL.RES"), res.substr(0, resCut));
  const ChildResult c = testing::RunRecordedBody(cutDir.Path(), ResumeBratu, 0, 1);
  EXPECT_EQ(c.status, 0) << c.out << c.err;
  EXPECT_EQ(ReadFile(cutDir.File("ZANFEL.RES")), res);
  EXPECT_EQ(ReadFile(cutDir.File("ZANFEL.CSV")), csv);

  // Other step bounds would make another sweep: refused before a file changes.
  const ChildResult other = testing::RunInChild(cutDir.Path(), testing::Stdin::EndOfFile, [] {
    SettingOptions bounds = AlongArc();
    bounds.maxStep = 1.0L;
    testing::QuietObserver quiet;
    return ConcludeRun(ResumeOnePass("bratu", kBratu, bounds, kRulesBratu, quiet));
  });
  EXPECT_EQ(other.status, kResumeBadData);
  EXPECT_NE(other.err.find("--max-step 1 is not this run's default 10|DP|"), std::string::npos)
      << other.err;
  EXPECT_EQ(ReadFile(cutDir.File("ZANFEL.CSV")), csv);
}

// The last line counts the folds along the arclength, and only there.
TEST(Arclength, SummaryCountsFolds) {
  char buf[1024];
  std::string line(buf, summary::Compose(buf, sizeof buf, EndWay::Normal, 0));
  EXPECT_EQ(line.find("fold"), std::string::npos) << line;
  summary::CountFolds();
  line.assign(buf, summary::Compose(buf, sizeof buf, EndWay::Normal, 0));
  EXPECT_NE(line.find("; 0 folds passed;"), std::string::npos) << line;
  summary::NoteFold();
  line.assign(buf, summary::Compose(buf, sizeof buf, EndWay::Normal, 0));
  EXPECT_NE(line.find("; 1 fold passed;"), std::string::npos) << line;
}

// shoot_c1's unknowns are thousands where its P is about 1. Its start along
// the curve cannot be solved at the built-in tolerances: an end with its own
// status and reason, no record claimed. With looser ones the step measures
// the unknowns against their size, not in their own units, where it moved P
// by 1e-7 a record.
TEST(Arclength, ShootC1AStartThatCannotBeSolvedFailsAndTheStepMovesP) {
  const TempDir failed, loose;
  const ChildResult r = testing::RunRecordedBody(
      failed.Path(), +[](SweepObserver &o) { return RunShootC1(o, AlongArc()); }, 0, 2);
  EXPECT_EQ(r.status, kStartNotSolvedStatus) << r.out << r.err;
  EXPECT_NE(r.out.find("no start on the curve"), std::string::npos) << r.out;
  const std::string csv = ReadFile(failed.File("ZANFEL.CSV"));
  EXPECT_TRUE(Rows(csv, 4).empty());
  EXPECT_NE(csv.find("\n# ended early: no start on the curve at P = 1.11364898: residuals stalled"),
            std::string::npos)
      << csv;

  const ChildResult ok = testing::RunRecordedBody(
      loose.Path(),
      +[](SweepObserver &o) {
        SettingOptions looser = AlongArc();
        looser.tolf = looser.tolx = 1e-12L;
        looser.records = 30;
        return RunShootC1(o, looser);
      },
      0, 2);
  EXPECT_EQ(ok.status, 0) << ok.out << ok.err;
  const std::vector<Row> rows = Rows(ReadFile(loose.File("ZANFEL.CSV")), 4);
  ASSERT_EQ(rows.size(), 30u);
  EXPECT_GT(rows.back().P, 1.15L); // unscaled: 1.1237
}

} // namespace
} // namespace zanfel
