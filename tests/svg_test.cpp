// ZANFEL.SVG: the picture is well-formed XML with one marker per record, its
// title and axis names; a pole splits the curve and the vertical range follows
// the bulk; the file is replaced whole or not at all; the ends write it.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>

#include "drivers/curve_picture.hpp"
#include "drivers/programs.hpp"
#include "plot/svg.hpp"
#include "runtime/fault.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::MakeTempDir;
using testing::ReadFile;
using testing::RunInChild;
using testing::Stdin;

// --- A strict reader for the XML the picture uses: declaration, comments,
// elements, double- or single-quoted attributes, character data with the
// predefined and numeric character references. Anything else is an error.

struct Node {
  std::string name;
  std::map<std::string, std::string> attrs;
  std::string text;
  std::vector<Node> children;
};

class Xml {
public:
  explicit Xml(const std::string &s) : s_(s) {}

  Node Document() {
    if (At("<?xml"))
      SkipPast("?>");
    Misc();
    Node root = Element();
    Misc();
    if (i_ != s_.size())
      Fail("text after the root element");
    return root;
  }

private:
  [[noreturn]] void Fail(const std::string &what) {
    throw std::runtime_error(what + " at byte " + std::to_string(i_));
  }
  void SkipPast(const char *end) {
    const size_t at = s_.find(end, i_);
    if (at == std::string::npos)
      Fail(std::string("no ") + end);
    i_ = at + std::strlen(end);
  }
  bool At(const char *t) const { return s_.compare(i_, std::strlen(t), t) == 0; }
  void Space() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_])))
      ++i_;
  }
  void Misc() {
    for (Space(); At("<!--"); Space())
      SkipPast("-->");
  }
  static bool NameChar(char c, bool first) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalpha(u) || c == '_' || c == ':' || u >= 0x80 ||
           (!first && (std::isdigit(u) || c == '-' || c == '.'));
  }
  std::string Name() {
    const size_t start = i_;
    while (i_ < s_.size() && NameChar(s_[i_], i_ == start))
      ++i_;
    if (i_ == start)
      Fail("a name expected");
    return s_.substr(start, i_ - start);
  }
  // Character data up to `stop`, references resolved.
  std::string Chars(char stop) {
    std::string out;
    while (i_ < s_.size() && s_[i_] != stop && s_[i_] != '<') {
      if (s_[i_] != '&') {
        out += s_[i_++];
        continue;
      }
      const size_t end = s_.find(';', i_);
      if (end == std::string::npos)
        Fail("unterminated reference");
      const std::string ref = s_.substr(i_ + 1, end - i_ - 1);
      static const std::map<std::string, char> named = {
          {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
      if (named.count(ref))
        out += named.at(ref);
      else if (ref.size() > 1 && ref[0] == '#')
        out += '?'; // numeric: enough for these tests
      else
        Fail("unknown reference &" + ref + ";");
      i_ = end + 1;
    }
    return out;
  }
  Node Element() {
    if (!At("<"))
      Fail("an element expected");
    ++i_;
    Node n;
    n.name = Name();
    for (;;) {
      const size_t before = i_;
      Space();
      if (At("/>")) {
        i_ += 2;
        return n;
      }
      if (At(">")) {
        ++i_;
        break;
      }
      if (i_ == before)
        Fail("space expected before an attribute");
      const std::string attr = Name();
      Space();
      if (!At("="))
        Fail("= expected");
      ++i_;
      Space();
      const char quote = i_ < s_.size() ? s_[i_] : 0;
      if (quote != '"' && quote != '\'')
        Fail("a quoted value expected");
      ++i_;
      const std::string value = Chars(quote);
      if (!At(std::string(1, quote).c_str()))
        Fail("'<' in an attribute value");
      ++i_;
      if (!n.attrs.emplace(attr, value).second)
        Fail("attribute " + attr + " twice");
    }
    for (;;) {
      n.text += Chars('<');
      if (i_ >= s_.size())
        Fail("element " + n.name + " not closed");
      if (At("<!--")) {
        SkipPast("-->");
      } else if (At("</")) {
        i_ += 2;
        if (Name() != n.name)
          Fail("end tag does not match " + n.name);
        Space();
        if (!At(">"))
          Fail("> expected");
        ++i_;
        return n;
      } else {
        n.children.push_back(Element());
      }
    }
  }

  const std::string &s_;
  size_t i_ = 0;
};

// The parsed picture, or a test failure naming what is not well-formed.
std::optional<Node> Parse(const std::string &svg) {
  try {
    return Xml(svg).Document();
  } catch (const std::exception &e) {
    ADD_FAILURE() << "not well-formed XML: " << e.what();
    return std::nullopt;
  }
}

void Collect(const Node &n, const std::function<bool(const Node &)> &want,
             std::vector<const Node *> &out) {
  if (want(n))
    out.push_back(&n);
  for (const Node &c : n.children)
    Collect(c, want, out);
}

std::vector<const Node *> All(const Node &root, const std::function<bool(const Node &)> &want) {
  std::vector<const Node *> out;
  Collect(root, want, out);
  return out;
}

bool HasClass(const Node &n, const std::string &cls) {
  const auto it = n.attrs.find("class");
  if (it == n.attrs.end())
    return false;
  std::istringstream words(it->second);
  for (std::string w; words >> w;)
    if (w == cls)
      return true;
  return false;
}

std::string TextWithId(const Node &root, const std::string &id) {
  const auto found =
      All(root, [&](const Node &n) { return n.attrs.count("id") && n.attrs.at("id") == id; });
  return found.empty() ? "(no element " + id + ")" : found[0]->text;
}

size_t Markers(const Node &root) {
  return All(root, [](const Node &n) { return HasClass(n, "point"); }).size();
}

// The vertices of every polyline, in pixels.
std::vector<std::vector<std::pair<double, double>>> Polylines(const Node &root) {
  std::vector<std::vector<std::pair<double, double>>> lines;
  for (const Node *n : All(root, [](const Node &e) { return e.name == "polyline"; })) {
    std::istringstream in(n->attrs.at("points"));
    lines.emplace_back();
    double x, y;
    char comma;
    while (in >> x >> comma >> y)
      lines.back().push_back({x, y});
  }
  return lines;
}

std::vector<double> Numbers(const Node &root, const std::string &groupId) {
  std::vector<double> v;
  for (const Node *g :
       All(root, [&](const Node &n) { return n.attrs.count("id") && n.attrs.at("id") == groupId; }))
    for (const Node &t : g->children)
      v.push_back(std::stod(t.text));
  return v;
}

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

TEST(SvgPicture, APoleSplitsTheCurveAndTheRangeFollowsTheBulk) {
  const auto samples = PoleSamples();
  const auto doc = Parse(svg::CurvePicture(samples, kLabels, "P left its range"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->name, "svg");
  EXPECT_EQ(TextWithId(*doc, "title"), "shoot_t \u2014 61 records \u2014 P left its range");
  EXPECT_EQ(TextWithId(*doc, "x-name"), "H");
  EXPECT_EQ(TextWithId(*doc, "y-name"), "dy8(1)/dH");
  EXPECT_EQ(Markers(*doc), samples.size());

  // No segment joins the last point left of the pole to the first right of
  // it; every point lies on one of the two runs.
  const auto lines = Polylines(*doc);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size() + lines[1].size(), samples.size());
  EXPECT_LT(lines[0].back().first, lines[1].front().first);

  // The values reach about +-200 near the pole, the bulk stays within +-40:
  // the ticks follow the bulk and the note counts the points beyond.
  const auto ticks = Numbers(*doc, "y-ticks");
  ASSERT_FALSE(ticks.empty());
  EXPECT_LT(*std::max_element(ticks.begin(), ticks.end()), 60);
  EXPECT_GT(*std::min_element(ticks.begin(), ticks.end()), -60);
  const auto beyond = All(*doc, [](const Node &n) { return HasClass(n, "beyond"); }).size();
  EXPECT_GT(beyond, 0u);
  EXPECT_EQ(TextWithId(*doc, "beyond-note").rfind(std::to_string(beyond) + " points lie beyond", 0),
            0u);
}

TEST(SvgPicture, PassesAreCurvesOfTheirOwnWithALegendAndSmoothCurvesStayWhole) {
  std::vector<svg::Sample> samples;
  for (int pass : {1, 2, 3})
    for (int k = 0; k < 40; ++k) {
      // Passes 1 and 3 are the same curve; each crosses zero smoothly.
      const REAL H = 0.1L + 0.02L * k;
      samples.push_back({pass, H, (pass == 2 ? 2.0L : 1.0L) * std::sin(6.0L * H)});
    }
  const auto doc = Parse(svg::CurvePicture(samples, kLabels, "stopped by a key"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(TextWithId(*doc, "title"),
            "shoot_t \u2014 120 records in 3 passes \u2014 stopped by a key");
  EXPECT_EQ(Markers(*doc), 120u);
  EXPECT_EQ(Polylines(*doc).size(), 3u) << "one unbroken curve per pass";
  std::vector<std::string> legend;
  for (const Node *e : All(*doc, [](const Node &n) { return HasClass(n, "legend-entry"); }))
    legend.push_back(All(*e, [](const Node &n) { return n.name == "text"; })[0]->text);
  EXPECT_EQ(legend, (std::vector<std::string>{"pass 1", "pass 2", "pass 3 = 1"}));
  EXPECT_EQ(TextWithId(*doc, "beyond-note"), "(no element beyond-note)");
}

TEST(SvgPicture, NoRecordDrawsTheEmptyAxesAndSaysWhy) {
  const auto doc = Parse(svg::CurvePicture({}, kLabels, "ended in the first solve"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(TextWithId(*doc, "title"), "shoot_t \u2014 no record \u2014 ended in the first solve");
  EXPECT_EQ(Markers(*doc), 0u);
  EXPECT_FALSE(Numbers(*doc, "x-ticks").empty());
  EXPECT_FALSE(Numbers(*doc, "y-ticks").empty());
}

TEST(SvgPicture, ExtremeValuesNeitherTrapNorLeaveTheNumberFormat) {
  // Run with the program's floating-point traps on: a trap here would
  // replace a fatal end's own report.
  const std::string dir = MakeTempDir();
  const auto r = RunInChild(dir, Stdin::DevNull, [] {
    InstallFaultHandling();
    const std::vector<std::vector<svg::Sample>> cases = {
        {{1, 1.0L, 1.0E4000L}, {1, 1.1L, -1.0E4000L}, {1, 1.2L, 0.0L}},
        {{1, 2.0L, 3.0L}},
        {{1, 2.0L, 3.0L}, {1, 2.0L, 3.0L}, {2, 2.0L, 3.0L}}};
    for (const auto &c : cases) {
      const std::string text = svg::CurvePicture(c, kLabels, "x");
      if (text.find("inf") != std::string::npos || text.find("nan") != std::string::npos)
        return 1;
      testing::WriteFile(std::to_string(&c - cases.data()) + ".svg", text);
    }
    return 0;
  });
  EXPECT_EQ(r.status, 0) << r.out;
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(Parse(ReadFile(dir + "/" + std::to_string(k) + ".svg"))) << k;
  std::filesystem::remove_all(dir);
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
  const std::string dir = MakeTempDir();
  const std::string path = dir + "/ZANFEL.SVG";
  ASSERT_TRUE(svg::WriteWholeFile(path, "good"));
  EXPECT_EQ(ReadFile(path), "good");
  // A file-size limit stops the next write half-way.
  const auto r = RunInChild(dir, Stdin::DevNull, [&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = svg::WriteWholeFile(path, std::string(100000, 'x'));
    return written ? 1 : errno == EFBIG ? 0 : 2;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(path), "good");
  EXPECT_FALSE(std::filesystem::exists(path + ".part"));
  ASSERT_TRUE(svg::WriteWholeFile(path, "better"));
  EXPECT_EQ(ReadFile(path), "better");
  std::filesystem::remove_all(dir);
}

// --- The ends that write it.

std::vector<CurvePoint> ThreePoints() {
  return {{1, 1.0L, 0.5L}, {1, 1.1L, 0.6L}, {1, 1.2L, 0.7L}};
}

TEST(CurvePictureEnds, FatalEndsWriteThePictureWithHowTheRunEnded) {
  struct Case {
    void (*end)();
    int status;
    const char *title;
  } cases[] = {
      {[] { FatalEnd(0); }, 0, "shoot_t \u2014 3 records \u2014 ended early: a solve gave up"},
      {[] { RangeFault(); }, 201, "shoot_t \u2014 3 records \u2014 ended by Runtime error 201"}};
  for (const Case &c : cases) {
    const std::string dir = MakeTempDir();
    const auto r = RunInChild(dir, Stdin::DevNull, [&] {
      InstallFaultHandling();
      curve_picture::Start("shoot_t");
      static std::vector<CurvePoint> curve = ThreePoints();
      curve_picture::Watch(curve, "y2(1)");
      c.end();
      return 99;
    });
    EXPECT_EQ(r.status, c.status);
    const auto doc = Parse(ReadFile(dir + "/ZANFEL.SVG"));
    ASSERT_TRUE(doc);
    EXPECT_EQ(TextWithId(*doc, "title"), c.title);
    EXPECT_EQ(TextWithId(*doc, "y-name"), "y2(1)");
    std::filesystem::remove_all(dir);
  }
}

TEST(CurvePictureEnds, APictureThatCannotBeWrittenAtTheNormalEndIsAnIoError) {
  const std::string dir = MakeTempDir();
  std::filesystem::create_directory(dir + "/ZANFEL.SVG");
  const auto r = RunInChild(dir, Stdin::DevNull, [] {
    InstallFaultHandling();
    static std::vector<CurvePoint> curve = ThreePoints();
    curve_picture::Watch(curve, "y2(1)");
    curve_picture::WriteAtNormalEnd();
    return 0;
  });
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out.rfind("Runtime error 5: ZANFEL.SVG: ", 0), 0u) << r.out;
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/ZANFEL.SVG"));
  EXPECT_FALSE(std::filesystem::exists(dir + "/ZANFEL.SVG.part"));
  std::filesystem::remove_all(dir);
}

// Bh of every record of a results file.
std::vector<double> BhValues(const std::string &res) {
  std::vector<double> v;
  for (size_t p = res.find("Bh="); p != std::string::npos; p = res.find("Bh=", p + 1))
    v.push_back(std::stod(res.substr(p + 3)));
  return v;
}

// shoot_b2 meets its first pole between its 13th and 14th records.
TEST(CurvePictureEnds, ShootB2StoppedByAKeyDrawsEveryRecordAndNoLineAcrossThePole) {
  const std::string dir = MakeTempDir();
  const auto r = testing::RunRecordedProgram(
      dir,
      +[](const Hooks &hooks) {
        curve_picture::Start("shoot_b2");
        return RunShootB2(hooks);
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

  const auto doc = Parse(ReadFile(dir + "/ZANFEL.SVG"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(TextWithId(*doc, "title"), "shoot_b2 \u2014 20 records \u2014 stopped by a key");
  EXPECT_EQ(TextWithId(*doc, "y-name"), "dy8(1)/dH");
  EXPECT_EQ(Markers(*doc), bh.size());
  std::vector<size_t> runs;
  for (const auto &line : Polylines(*doc))
    runs.push_back(line.size());
  EXPECT_EQ(runs, (std::vector<size_t>{pole, bh.size() - pole}));
  EXPECT_TRUE(std::filesystem::exists(dir + "/ZANFEL.PNG"));
  std::filesystem::remove_all(dir);
}

} // namespace
} // namespace zanfel
