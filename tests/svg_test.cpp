// ZANFEL.SVG: the picture is well-formed XML with one marker per record, its
// title and axis names; a pole splits the curve and the vertical range follows
// the bulk; the file is replaced whole or not at all; the ends write it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <signal.h>
#include <sstream>
#include <sys/resource.h>

#include "app/curve_picture.hpp"
#include "continuation/families.hpp"
#include "plot/svg.hpp"
#include "runtime/end_cause.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "runtime/whole_file.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ReadFile;
using testing::RunInChild;
using testing::Stdin;
using testing::TempDir;

// The picture read back by a real XML parser: xmllint says whether it is
// well-formed and answers XPath questions about it.
class Parsed {
public:
  explicit Parsed(const std::string &svg) : path_(dir_.File("p.svg")) {
    testing::WriteFile(path_, svg);
  }

  bool WellFormed() const { return Run("--noout", nullptr) == 0; }
  // Text inside the element with this id, its white space normalised.
  std::string Text(const std::string &id) const {
    return Query("normalize-space(//*[@id=\"" + id + "\"])");
  }
  size_t Count(const std::string &cls) const {
    return std::stoul(
        Query("count(//*[contains(concat(\" \", @class, \" \"), \" " + cls + " \")])"));
  }
  // The numbers written inside the element with this id (tick values).
  std::vector<double> Numbers(const std::string &id) const {
    std::istringstream in(Text(id));
    std::vector<double> v;
    for (double x; in >> x;)
      v.push_back(x);
    return v;
  }
  // The vertices of each polyline: a curve between two jumps.
  std::vector<size_t> PolylineSizes() const {
    std::vector<size_t> sizes;
    std::istringstream lines(Query("//*[local-name()=\"polyline\"]/@points"));
    for (std::string line; std::getline(lines, line);)
      if (line.find(',') != std::string::npos)
        sizes.push_back(size_t(std::count(line.begin(), line.end(), ',')));
    return sizes;
  }

private:
  int Run(const std::string &args, std::string *out) const {
    FILE *p = popen(("xmllint " + args + " " + path_).c_str(), "r");
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
      if (out)
        out->append(buf, n);
    return pclose(p);
  }
  // The shell sees the expression in single quotes: it uses double ones.
  std::string Query(const std::string &xpath) const {
    std::string out;
    EXPECT_EQ(Run("--xpath '" + xpath + "'", &out), 0) << xpath;
    if (!out.empty() && out.back() == '\n')
      out.pop_back();
    return out;
  }

  TempDir dir_;
  std::string path_;
};

class SvgPicture : public ::testing::Test {
protected:
  void SetUp() override {
    if (testing::FindProgram("xmllint").empty())
      GTEST_SKIP() << "xmllint (Debian package libxml2-utils) is not installed";
  }
};
using CurvePictureEnds = SvgPicture;

// --- The picture itself.

const svg::Labels kLabels{"shoot_t", "H", "dy8(1)/dH"};

// A value near a pole at H = 1.3049: it runs off to +inf from the left and
// comes back from -inf on the right.
std::vector<svg::Sample> PoleSamples() {
  std::vector<svg::Sample> s;
  for (int k = 0; k <= 60; ++k) {
    const REAL H = 1.0L + 0.01L * k;
    s.push_back({1, H, 1.0L / (1.3049L - H)});
  }
  return s;
}

TEST_F(SvgPicture, APoleSplitsTheCurveAndTheRangeFollowsTheBulk) {
  const auto samples = PoleSamples();
  const Parsed p(svg::CurvePicture(samples, kLabels, "P left its range"));
  ASSERT_TRUE(p.WellFormed());
  EXPECT_EQ(p.Text("title"), "shoot_t \u2014 61 records \u2014 P left its range");
  EXPECT_EQ(p.Text("x-name"), "H");
  EXPECT_EQ(p.Text("y-name"), "dy8(1)/dH");
  EXPECT_EQ(p.Count("point"), samples.size());
  // Two curves, 31 points left of the pole and 30 right of it: no segment
  // joins the sides.
  EXPECT_EQ(p.PolylineSizes(), (std::vector<size_t>{31, 30}));
  // The values reach about +-200 next to the pole, the bulk stays within
  // +-40: the ticks follow the bulk and the note counts the points beyond.
  const auto ticks = p.Numbers("y-ticks");
  ASSERT_FALSE(ticks.empty());
  EXPECT_LT(*std::max_element(ticks.begin(), ticks.end()), 60);
  EXPECT_GT(*std::min_element(ticks.begin(), ticks.end()), -60);
  const size_t beyond = p.Count("beyond");
  EXPECT_GT(beyond, 0u);
  EXPECT_EQ(p.Text("beyond-note").rfind(std::to_string(beyond) + " points lie beyond", 0), 0u);
}

TEST_F(SvgPicture, PassesAreCurvesOfTheirOwnWithALegendAndSmoothCurvesStayWhole) {
  std::vector<svg::Sample> samples;
  for (int pass : {1, 2, 3})
    for (int k = 0; k < 40; ++k) {
      // Passes 1 and 3 are the same curve; each crosses zero smoothly.
      const REAL H = 0.1L + 0.02L * k;
      samples.push_back({pass, H, (pass == 2 ? 2.0L : 1.0L) * std::sin(6.0L * H)});
    }
  const Parsed p(svg::CurvePicture(samples, kLabels, "stopped by a key"));
  ASSERT_TRUE(p.WellFormed());
  EXPECT_EQ(p.Text("title"), "shoot_t \u2014 120 records in 3 passes \u2014 stopped by a key");
  EXPECT_EQ(p.Count("point"), 120u);
  EXPECT_EQ(p.PolylineSizes(), (std::vector<size_t>{40, 40, 40}));
  EXPECT_EQ(p.Count("legend-entry"), 3u);
  EXPECT_EQ(p.Text("legend"), "pass 1 pass 2 pass 3 = 1");
  EXPECT_EQ(p.Count("beyond"), 0u);
}

TEST_F(SvgPicture, ExtremeValuesNeitherTrapNorLeaveTheNumberFormat) {
  // With the program's floating-point traps on: a trap here would replace a
  // fatal end's own report.
  const TempDir tmp;
  const std::string dir = tmp.Path();
  const auto r = RunInChild(dir, Stdin::DevNull, [] {
    InstallFaultHandling();
    const std::vector<std::vector<svg::Sample>> cases = {
        {{1, 1.0L, 1.0E4000L}, {1, 1.1L, -1.0E4000L}, {1, 1.2L, 0.0L}},
        {{1, 2.0L, 3.0L}},
        {{1, 2.0L, 3.0L}, {1, 2.0L, 3.0L}, {2, 2.0L, 3.0L}}};
    for (size_t k = 0; k < cases.size(); ++k) {
      const std::string text = svg::CurvePicture(cases[k], kLabels, "x");
      if (text.find("inf") != std::string::npos || text.find("nan") != std::string::npos)
        return 1;
      testing::WriteFile(std::to_string(k) + ".svg", text);
    }
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.out;
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(Parsed(ReadFile(dir + "/" + std::to_string(k) + ".svg")).WellFormed()) << k;
}

// A reason longer than the page is wide: the title wraps at spaces into
// lines the page holds, and everything under it moves down to make room.
TEST_F(SvgPicture, ALongTitleWrapsAndThePlotMakesRoomForIt) {
  const std::string why = "ended early: iteration limit at P = 3.56250000: Newton did not "
                          "converge in NTRIAL = 100 iterations: residuals between 0.029 and "
                          "0.12 in the last 8, the Jacobian's determinant changing sign 52 "
                          "times: the curve turns back before this P (try --continuation "
                          "arclength)";
  const std::string svg = svg::CurvePicture(PoleSamples(), kLabels, why);
  const Parsed p(svg);
  ASSERT_TRUE(p.WellFormed());
  EXPECT_EQ(p.Text("title"), "shoot_t \u2014 61 records \u2014 " + why);
  const std::regex line("<tspan x=\"400.00\" y=\"([0-9.]+)\">([^<]*)</tspan>");
  std::vector<double> baselines;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), line); it != std::sregex_iterator();
       ++it) {
    baselines.push_back(std::stod((*it)[1]));
    EXPECT_LE((*it)[2].length(), 86u) << (*it)[2]; // 84 characters, the dashes 3 bytes each
  }
  ASSERT_GE(baselines.size(), 3u);
  const int more = 20 * int(baselines.size() - 1); // the room the lines after the first take
  for (std::size_t i = 0; i < baselines.size(); ++i)
    EXPECT_EQ(baselines[i], 24.0 + 20.0 * double(i));
  const auto at = [](int v) { return std::to_string(v) + ".00\""; };
  EXPECT_NE(svg.find("height=\"" + std::to_string(500 + more) + "\""), std::string::npos);
  EXPECT_NE(svg.find("<rect id=\"frame\" x=\"80.00\" y=\"" + at(60 + more)), std::string::npos);
  EXPECT_NE(svg.find("<text x=\"400.00\" y=\"" + at(44 + more) +
                     " text-anchor=\"middle\" id=\"beyond-note\""),
            std::string::npos)
      << "the note of the points beyond, under the title";
}

// The page box a fold note's text takes, from its x, y and anchor.
struct NoteBox {
  double left, top, right, bottom;
};

// Whether the segment a-b meets the box (tested at fine steps along it).
bool Meets(double ax, double ay, double bx, double by, const NoteBox &b) {
  for (int k = 0; k <= 1000; ++k) {
    const double x = ax + (bx - ax) * k / 1000, y = ay + (by - ay) * k / 1000;
    if (x >= b.left && x <= b.right && y >= b.top && y <= b.bottom)
      return true;
  }
  return false;
}

// Bratu's curve along the arclength: up the lower branch to the fold at the
// right, then back and up the upper branch. The note stands off the curve,
// and names P alone where P is what runs across.
TEST_F(SvgPicture, AFoldNoteStandsOffTheCurveAndNamesWhatRunsAcross) {
  // The closed form in theta: s = theta tanh(theta/4), lambda = theta^2 /
  // (2 cosh^2(theta/4)); the fold where s = 4.
  REAL lo = 4.0L, hi = 6.0L;
  for (int i = 0; i < 100; ++i) {
    const REAL mid = 0.5L * (lo + hi);
    (mid * tanhl(mid / 4.0L) < 4.0L ? lo : hi) = mid;
  }
  std::vector<REAL> thetas;
  for (int k = 0; k <= 40; ++k)
    thetas.push_back(0.3L * k);
  thetas.insert(std::upper_bound(thetas.begin(), thetas.end(), lo), lo);
  std::vector<svg::Sample> samples;
  for (const REAL theta : thetas) {
    const REAL c = coshl(theta / 4.0L), lambda = theta * theta / (2.0L * c * c);
    samples.push_back({1, lambda, theta * tanhl(theta / 4.0L),
                       theta == lo ? RecordKind::Fold : RecordKind::Plain, lambda});
  }
  for (const bool own : {true, false}) {
    const svg::Labels labels{"bratu", own ? "P" : "H", "u'(0)"};
    const std::string svg = svg::CurvePicture(samples, labels, "stopped by a key");
    const std::regex note("<text x=\"([-0-9.]+)\" y=\"([-0-9.]+)\" text-anchor=\"(\\w+)\" "
                          "class=\"fold-note\"[^>]*>([^<]*)</text>");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(svg, m, note)) << svg;
    EXPECT_EQ(m[4].str().rfind("fold: P = ", 0), 0u);
    EXPECT_EQ(m[4].str().find(", H = ") != std::string::npos, !own) << m[4];
    const double x = std::stod(m[1]), y = std::stod(m[2]), width = 7.0 * m[4].length();
    const double left = m[3] == "start" ? x : m[3] == "end" ? x - width : x - width / 2;
    const NoteBox box{left, y - 10, left + width, y + 3};
    const std::regex points("<polyline points=\"([^\"]*)\"");
    ASSERT_TRUE(std::regex_search(svg, m, points));
    std::istringstream in(m[1].str());
    double px = 0, py = 0, qx, qy;
    char comma;
    for (int k = 0; in >> qx >> comma >> qy; ++k, px = qx, py = qy) {
      if (k > 0) {
        EXPECT_FALSE(Meets(px, py, qx, qy, box)) << "segment " << k << " crosses the note";
      }
    }
  }
}

TEST(SvgRules, JumpsAreSignChangesAgainstTheTrendOrAcrossTheWholeWindow) {
  const svg::Range window{-10, 10};
  const std::vector<double> pole = {-3, -4, -6, 7, 5, 4};
  const std::vector<double> smooth = {-3, -1, 0.5, 2, 3};
  const std::vector<double> zigzag = {1, -1, 1, -1};
  for (size_t i = 0; i + 1 < pole.size(); ++i)
    EXPECT_EQ(svg::IsJump(pole, i, window), i == 2) << i;
  for (size_t i = 0; i + 1 < smooth.size(); ++i)
    EXPECT_FALSE(svg::IsJump(smooth, i, window)) << i;
  for (size_t i = 0; i + 1 < zigzag.size(); ++i)
    EXPECT_FALSE(svg::IsJump(zigzag, i, window)) << i;
  // Two values: only a step from beyond one edge to beyond the other.
  EXPECT_TRUE(svg::IsJump(std::vector<double>{-20, 30}, 0, window));
  EXPECT_FALSE(svg::IsJump(std::vector<double>{-5, 5}, 0, window));
}

TEST(SvgRules, TheVerticalRangeFollowsTheBulkOnlyWhenFewValuesLieOutside) {
  std::vector<double> bulk;
  for (int k = 0; k < 100; ++k)
    bulk.push_back(k % 10);
  const auto withFew = [&](int n) {
    auto v = bulk;
    for (int k = 0; k < n; ++k)
      v.push_back(k % 2 ? 500 : -500);
    return svg::BulkRange(v);
  };
  const svg::Range none = svg::BulkRange(bulk), few = withFew(10), many = withFew(12);
  EXPECT_NEAR(none.low, -0.36, 1e-9);
  EXPECT_NEAR(none.high, 9.36, 1e-9);
  EXPECT_NEAR(few.low, none.low, 1e-9) << "10 of 110 lie outside: the bulk";
  EXPECT_NEAR(few.high, none.high, 1e-9);
  EXPECT_LT(many.low, -500) << "12 of 112 are not a few: everything";
  EXPECT_GT(many.high, 500);
}

TEST(SvgRules, TickValuesAreRoundAndWrittenWithTheDecimalsTheStepNeeds) {
  const auto t = svg::NiceTicks({1.2468, 1.5386}, 7);
  EXPECT_DOUBLE_EQ(t.step, 0.05);
  ASSERT_EQ(t.values.size(), 6u);
  EXPECT_EQ(svg::TickText(t.values[0], t.step), "1.25");
  EXPECT_EQ(svg::TickText(-0.0000001, 0.05), "0.00");
  EXPECT_EQ(svg::TickText(-200, 100), "-200");
  EXPECT_EQ(svg::TickText(2.5e7, 5e6), "2.5e+07");
}

// --- The file.

TEST(SvgFile, AFailedWriteKeepsTheEarlierPictureAndLeavesNothingBeside) {
  const TempDir tmp;
  const std::string dir = tmp.Path();
  const std::string path = dir + "/ZANFEL.SVG";
  ASSERT_TRUE(WriteWholeFile(path, "good"));
  EXPECT_EQ(ReadFile(path), "good");
  // A file-size limit stops the next write half-way.
  const auto r = RunInChild(dir, Stdin::DevNull, [&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = WriteWholeFile(path, std::string(100000, 'x'));
    return written ? 1 : errno == EFBIG ? 0 : 2;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(path), "good");
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
  ASSERT_TRUE(WriteWholeFile(path, "better"));
  EXPECT_EQ(ReadFile(path), "better");
}

// The partial file's name is fixed: what another user plants there (a link
// to their file, a dangling link, a FIFO) goes; nothing is written through
// it and nothing blocks.
TEST(SvgFile, APlantedPartialFileIsReplacedNotWrittenThrough) {
  const TempDir tmp;
  const std::string dir = tmp.Path();
  const std::string path = dir + "/ZANFEL.SVG";
  const std::string part = path + ".part", target = dir + "/target";
  for (int planted = 0; planted < 3; ++planted) {
    SCOPED_TRACE(planted);
    testing::WriteFile(target, "another user's file");
    if (planted == 0)
      std::filesystem::create_symlink(target, part);
    else if (planted == 1)
      std::filesystem::create_symlink(dir + "/nowhere", part);
    else
      ASSERT_EQ(mkfifo(part.c_str(), 0644), 0);
    const auto w =
        RunInChild(dir, Stdin::DevNull, [&] { return WriteWholeFile(path, "best") ? 0 : 1; });
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(ReadFile(path), "best");
    EXPECT_EQ(ReadFile(target), "another user's file");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(part)));
    EXPECT_FALSE(std::filesystem::exists(dir + "/nowhere"));
  }
}

// --- The ends that write it.

std::vector<CurvePoint> ThreePoints() {
  return {{1, 1.0L, 0.5L}, {1, 1.1L, 0.6L}, {1, 1.2L, 0.7L}};
}

// Newton's iteration limit, as the solver ends the program.
void IterationLimit() {
  NoteFatalCause(FatalCause::IterationLimit);
  FatalEnd(0);
}

TEST_F(CurvePictureEnds, FatalEndsWriteThePictureWithHowTheRunEnded) {
  struct Case {
    void (*end)();
    int status;
    size_t records;
    const char *title;
  } cases[] = {
      {IterationLimit, 0, 3, "shoot_t \u2014 3 records \u2014 ended early: iteration limit"},
      {[] { RangeFault(); }, 201, 3,
       "shoot_t \u2014 3 records \u2014 ended early: run-time error 201"},
      // shoot_a2 at the end of its input: the empty axes.
      {IterationLimit, 0, 0,
       "shoot_t \u2014 no record \u2014 ended in the first solve: iteration limit"}};
  for (const Case &c : cases) {
    const TempDir tmp;
    const std::string dir = tmp.Path();
    const auto r = RunInChild(dir, Stdin::DevNull, [&] {
      InstallFaultHandling();
      curve_picture::Start("shoot_t");
      static std::vector<CurvePoint> curve = ThreePoints();
      curve.resize(c.records);
      curve_picture::Watch(curve, "y2(1)");
      c.end();
      return 99;
    });
    EXPECT_EQ(r.status, c.status);
    const Parsed p(ReadFile(dir + "/ZANFEL.SVG"));
    ASSERT_TRUE(p.WellFormed());
    EXPECT_EQ(p.Text("title"), c.title);
    EXPECT_EQ(p.Text("y-name"), "y2(1)");
    EXPECT_EQ(p.Count("point"), c.records);
    EXPECT_FALSE(p.Numbers("y-ticks").empty());
  }
  EXPECT_FALSE(Parsed("<svg><g></svg>").WellFormed()) << "the check itself";
}

// The report names the file in the way: the picture's place, or the
// partial file beside it.
TEST(SvgFile, APictureThatCannotBeWrittenAtTheNormalEndIsAnIoError) {
  for (const char *blocked : {"ZANFEL.SVG", "ZANFEL.SVG.part"}) {
    SCOPED_TRACE(blocked);
    const TempDir tmp;
    const std::string dir = tmp.Path();
    std::filesystem::create_directory(dir + "/" + blocked);
    const auto r = RunInChild(dir, Stdin::DevNull, [] {
      InstallFaultHandling();
      static std::vector<CurvePoint> curve = ThreePoints();
      curve_picture::Watch(curve, "y2(1)");
      curve_picture::WriteAtNormalEnd();
      return 0;
    });
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "Runtime error 5: " + std::string(blocked) + ": Is a directory\n");
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/" + blocked));
    EXPECT_EQ(testing::Entries(dir), std::vector<std::string>{blocked});
  }
}

// Bh of every record of a results file.
std::vector<double> BhValues(const std::string &res) {
  std::vector<double> v;
  for (size_t p = res.find("Bh="); p != std::string::npos; p = res.find("Bh=", p + 1))
    v.push_back(std::stod(res.substr(p + 3)));
  return v;
}

// shoot_b2 meets its first pole between its 13th and 14th records.
TEST_F(CurvePictureEnds, ShootB2StoppedByAKeyDrawsEveryRecordAndNoLineAcrossThePole) {
  const TempDir tmp;
  const std::string dir = tmp.Path();
  const auto r = testing::RunRecordedBody(
      dir,
      +[](SweepObserver &observer) {
        curve_picture::Start("shoot_b2");
        return RunShootB2(observer);
      },
      20);
  ASSERT_EQ(r.status, 0);
  const auto bh = BhValues(ReadFile(dir + "/ZANFEL.RES"));
  ASSERT_EQ(bh.size(), 20u);
  size_t pole = 0; // records before it
  for (size_t k = 0; k + 1 < bh.size(); ++k)
    if (bh[k] * bh[k + 1] < 0 && std::fabs(bh[k + 1] - bh[k]) > 100)
      pole = k + 1;
  ASSERT_GT(pole, 0u) << "the pole is no longer in the first 20 records";

  const Parsed p(ReadFile(dir + "/ZANFEL.SVG"));
  ASSERT_TRUE(p.WellFormed());
  EXPECT_EQ(p.Text("title"), "shoot_b2 \u2014 20 records \u2014 stopped by a key");
  EXPECT_EQ(p.Text("y-name"), "dy8(1)/dH");
  EXPECT_EQ(p.Count("point"), bh.size());
  EXPECT_EQ(p.PolylineSizes(), (std::vector<size_t>{pole, bh.size() - pole}));
  EXPECT_TRUE(std::filesystem::exists(dir + "/ZANFEL.PNG"));
}

} // namespace
} // namespace zanfel
