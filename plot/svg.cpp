#include "plot/svg.hpp"
#include "runtime/masked_traps.hpp"

#include <algorithm>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>

namespace zanfel::svg {

namespace {

// The page and the plot area inside it, in SVG user units (pixels).
constexpr double kWidth = 800, kHeight = 500;
constexpr double kLeft = 80, kTop = 60, kBottom = 440;
constexpr double kRightAlone = 780, kRightWithLegend = 670;
// The title: its first baseline, the distance between its lines, and the
// characters a line holds at its size.
constexpr double kTitleBaseline = 24, kTitleLine = 20;
constexpr std::size_t kTitleChars = 84;
// The fold notes: the height and the width of a character at their size.
constexpr double kNoteHeight = 12, kNoteChar = 7;
// Far beyond the plot area a coordinate only has to keep the direction of
// the lines that leave it; the bound keeps the numbers short.
constexpr double kFarOut = 1.0e6;

// Pass colours, distinguishable on white and for most colour-blind readers.
constexpr const char *kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                    "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};

struct Point {
  int pass;
  double x, y;
};

// Characters, not bytes: the title's dash is three bytes.
std::size_t Utf8Length(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

double ToDouble(REAL v) {
  if (std::isnan(v))
    return 0.0;
  return static_cast<double>(std::clamp(v, -1.0e300L, 1.0e300L));
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

// A coordinate with two decimals, independent of the locale.
std::string Num(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  return std::string(buf, r.ptr);
}

Range Padded(double low, double high, double share) {
  if (high > low) {
    const double margin = (high - low) * share;
    return {low - margin, high + margin};
  }
  // One value: a range around it that still shows its size.
  const double half = std::max(std::fabs(low) * 0.05, 0.5);
  return {low - half, high + half};
}

Range FullRange(const std::vector<double> &values) {
  if (values.empty())
    return {0.0, 1.0};
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  return Padded(*lo, *hi, 0.02);
}

// Linear interpolation between the order statistics of sorted values.
double Quantile(const std::vector<double> &sorted, double q) {
  const double pos = q * double(sorted.size() - 1);
  const std::size_t i = static_cast<std::size_t>(pos);
  if (i + 1 >= sorted.size())
    return sorted.back();
  return sorted[i] + (sorted[i + 1] - sorted[i]) * (pos - double(i));
}

bool Opposite(double a, double b) {
  return (a > 0 && b < 0) || (a < 0 && b > 0);
}

// The mapping from data to the plot area.
struct Mapping {
  Range x, y;
  double left, right, top, bottom;

  double Column(double v) const {
    return std::clamp(left + (v - x.low) / (x.high - x.low) * (right - left), -kFarOut, kFarOut);
  }
  double Row(double v) const {
    return std::clamp(bottom - (v - y.low) / (y.high - y.low) * (bottom - top), -kFarOut, kFarOut);
  }
};

std::string Title(const Labels &labels, std::size_t records, std::size_t passes,
                  std::string_view ended) {
  std::string t = labels.program + " \u2014 ";
  if (!labels.series.empty()) {
    const std::size_t n = labels.series.size();
    t += std::to_string(n) + " " + labels.seriesCounted + (n == 1 ? "" : "s");
    return ended.empty() ? t : t + " \u2014 " + std::string(ended);
  }
  if (records == 0)
    t += "no record";
  else
    t += std::to_string(records) + (records == 1 ? " record" : " records");
  if (passes > 1)
    t += " in " + std::to_string(passes) + " passes";
  if (!ended.empty())
    t += " \u2014 " + std::string(ended);
  if (!labels.note.empty())
    t += " \u2014 " + labels.note;
  return t;
}

// The title's lines: broken at spaces so that none is longer than the page
// shows at the title's size (a word longer than that stands alone).
std::vector<std::string> Wrapped(std::string_view text, std::size_t width) {
  std::vector<std::string> lines(1);
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = text.find(' ', at);
    const std::string_view word =
        text.substr(at, space == std::string_view::npos ? std::string_view::npos : space - at);
    std::string &line = lines.back();
    if (!line.empty() && Utf8Length(line) + 1 + Utf8Length(word) > width)
      lines.emplace_back(word);
    else
      line += (line.empty() ? "" : " ") + std::string(word);
    at = space == std::string_view::npos ? text.size() : space + 1;
  }
  return lines;
}

void TitleText(std::string &out, const std::vector<std::string> &lines) {
  out += "<text id=\"title\" x=\"" + Num(kWidth / 2) + "\" y=\"" + Num(kTitleBaseline) +
         "\" text-anchor=\"middle\" font-size=\"16\">\n";
  for (std::size_t i = 0; i < lines.size(); ++i)
    out += "<tspan x=\"" + Num(kWidth / 2) + "\" y=\"" +
           Num(kTitleBaseline + kTitleLine * double(i)) + "\">" + Escaped(lines[i]) + "</tspan>\n";
  out += "</text>\n";
}

void Text(std::string &out, double x, double y, std::string_view anchor, std::string_view attrs,
          std::string_view text) {
  out += "<text x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" text-anchor=\"" + std::string(anchor) +
         "\"" + std::string(attrs) + ">" + Escaped(text) + "</text>\n";
}

void Line(std::string &out, double x1, double y1, double x2, double y2) {
  out += "<line x1=\"" + Num(x1) + "\" y1=\"" + Num(y1) + "\" x2=\"" + Num(x2) + "\" y2=\"" +
         Num(y2) + "\"/>\n";
}

void Axes(std::string &out, const Mapping &m, const Labels &labels) {
  const Ticks xt = NiceTicks(m.x, 7), yt = NiceTicks(m.y, 7);
  out += "<g id=\"grid\" stroke=\"#dddddd\" stroke-width=\"1\">\n";
  for (double v : xt.values)
    Line(out, m.Column(v), m.top, m.Column(v), m.bottom);
  for (double v : yt.values)
    Line(out, m.left, m.Row(v), m.right, m.Row(v));
  out += "</g>\n";
  if (m.y.low < 0 && m.y.high > 0) {
    // The zero line: on which side of it the curve lies is what changes at
    // a pole.
    out += "<g id=\"zero\" stroke=\"#999999\" stroke-width=\"1\">\n";
    Line(out, m.left, m.Row(0), m.right, m.Row(0));
    out += "</g>\n";
  }
  out += "<rect id=\"frame\" x=\"" + Num(m.left) + "\" y=\"" + Num(m.top) + "\" width=\"" +
         Num(m.right - m.left) + "\" height=\"" + Num(m.bottom - m.top) +
         "\" fill=\"none\" stroke=\"#333333\"/>\n";
  out += "<g id=\"x-ticks\" fill=\"#333333\">\n";
  for (double v : xt.values)
    Text(out, m.Column(v), m.bottom + 16, "middle", "", TickText(v, xt.step));
  out += "</g>\n<g id=\"y-ticks\" fill=\"#333333\">\n";
  for (double v : yt.values)
    Text(out, m.left - 6, m.Row(v) + 4, "end", "", TickText(v, yt.step));
  out += "</g>\n";
  Text(out, (m.left + m.right) / 2, m.bottom + 40, "middle", " id=\"x-name\" font-size=\"14\"",
       labels.xName);
  const double mid = (m.top + m.bottom) / 2;
  Text(out, 22, mid, "middle",
       " id=\"y-name\" font-size=\"14\" transform=\"rotate(-90 22 " + Num(mid) + ")\"",
       labels.yName);
}

// A marker on the edge of the plot area, pointing to where the value lies.
std::string BeyondMarker(const Mapping &m, double column, bool above) {
  const double edge = above ? m.top : m.bottom;
  const double base = above ? edge + 7 : edge - 7;
  return "<path class=\"point beyond\" d=\"M" + Num(column) + " " + Num(edge) + " L" +
         Num(column - 4) + " " + Num(base) + " L" + Num(column + 4) + " " + Num(base) + " Z\"/>\n";
}

// One pass: its runs between jumps as polylines, then a marker per sample.
void Pass(std::string &out, const Mapping &m, int pass, const std::vector<Point> &points,
          const char *colour) {
  out += "<g class=\"pass\" id=\"pass-" + std::to_string(pass) + "\" stroke=\"" + colour +
         "\" fill=\"" + colour + "\">\n";
  std::vector<double> ys;
  for (const Point &p : points)
    ys.push_back(p.y);
  out += "<g clip-path=\"url(#plot-area)\" fill=\"none\" stroke-width=\"1.5\">\n";
  std::size_t start = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i + 1 < points.size() && !IsJump(ys, i, m.y))
      continue;
    if (i > start) {
      out += "<polyline points=\"";
      for (std::size_t k = start; k <= i; ++k)
        out += (k > start ? " " : "") + Num(m.Column(points[k].x)) + "," + Num(m.Row(points[k].y));
      out += "\"/>\n";
    }
    start = i + 1;
  }
  out += "</g>\n<g stroke=\"none\">\n";
  for (const Point &p : points) {
    if (p.y > m.y.high)
      out += BeyondMarker(m, m.Column(p.x), true);
    else if (p.y < m.y.low)
      out += BeyondMarker(m, m.Column(p.x), false);
    else
      out += "<circle class=\"point\" cx=\"" + Num(m.Column(p.x)) + "\" cy=\"" + Num(m.Row(p.y)) +
             "\" r=\"2.2\"/>\n";
  }
  out += "</g>\n</g>\n";
}

const char *Colour(int pass) {
  return kColours[std::size_t(pass - 1) % std::size(kColours)];
}

bool SamePoints(const std::vector<Point> &a, const std::vector<Point> &b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const Point &p, const Point &q) { return p.x == q.x && p.y == q.y; });
}

// "pass N", and "pass N = K" for a pass that repeats an earlier one
// point for point (it hides that one's curve, drawn under it).
std::vector<std::pair<int, std::string>>
LegendEntries(const std::map<int, std::vector<Point>> &passes, const Labels &labels) {
  std::vector<std::pair<int, std::string>> entries;
  for (auto it = passes.begin(); it != passes.end(); ++it) {
    const auto named = static_cast<std::size_t>(it->first - 1);
    if (named < labels.series.size()) {
      entries.emplace_back(it->first, labels.series[named]);
      continue;
    }
    std::string text = "pass " + std::to_string(it->first);
    for (auto earlier = passes.begin(); earlier != it; ++earlier)
      if (SamePoints(earlier->second, it->second)) {
        text += " = " + std::to_string(earlier->first);
        break;
      }
    entries.emplace_back(it->first, text);
  }
  return entries;
}

void Legend(std::string &out, const Mapping &m,
            const std::vector<std::pair<int, std::string>> &passes) {
  const double left = m.right + 14;
  const double row = std::min(16.0, (m.bottom - m.top) / double(passes.size()));
  // Rows closer than the text's height would overprint: the rest is counted.
  const std::size_t shown =
      row >= 9 ? passes.size() : static_cast<std::size_t>((m.bottom - m.top) / 12) - 1;
  const double step = row >= 9 ? row : 12;
  out += "<g id=\"legend\" font-size=\"" + std::string(step >= 12 ? "12" : "9") + "\">\n";
  for (std::size_t i = 0; i < shown; ++i) {
    const double y = m.top + step * (double(i) + 0.5);
    const char *colour = Colour(passes[i].first);
    out += "<g class=\"legend-entry\" stroke=\"" + std::string(colour) + "\" fill=\"" + colour +
           "\">\n";
    out += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(y) + "\" x2=\"" + Num(left + 20) +
           "\" y2=\"" + Num(y) + "\" stroke-width=\"1.5\"/>\n";
    out +=
        "<circle cx=\"" + Num(left + 10) + "\" cy=\"" + Num(y) + "\" r=\"2.2\" stroke=\"none\"/>\n";
    Text(out, left + 26, y + 4, "start", " stroke=\"none\" fill=\"#333333\"", passes[i].second);
    out += "</g>\n";
  }
  if (shown < passes.size())
    Text(out, left, m.top + step * (double(shown) + 0.5) + 4, "start", " fill=\"#333333\"",
         "and " + std::to_string(passes.size() - shown) + " more");
  out += "</g>\n";
}

std::string FoldValue(REAL v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.10Lg", v);
  return text;
}

struct Box {
  double left, top, right, bottom;
};

// Whether the segment from a to b passes through the box (Liang and Barsky).
bool MeetsBox(Point a, Point b, const Box &box) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x - box.left, box.right - a.x, a.y - box.top, box.bottom - a.y};
  double t0 = 0, t1 = 1;
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0) {
      if (q[k] < 0)
        return false;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
  }
  return t0 <= t1;
}

// A note's place: the text's anchor point and how it stands there.
struct NotePlace {
  double x, y;
  const char *anchor;
};

Box NoteBox(const NotePlace &at, double width) {
  const double left = at.anchor[0] == 's'   ? at.x
                      : at.anchor[0] == 'e' ? at.x - width
                                            : at.x - width / 2;
  return {left, at.y - kNoteHeight + 2, left + width, at.y + 3};
}

// The lines of the curves as drawn, in page coordinates.
using Segments = std::vector<std::pair<Point, Point>>;

Segments CurveSegments(const Mapping &m, const std::map<int, std::vector<Point>> &passes) {
  Segments segments;
  for (const auto &[pass, points] : passes)
    for (std::size_t i = 1; i < points.size(); ++i)
      segments.push_back({{pass, m.Column(points[i - 1].x), m.Row(points[i - 1].y)},
                          {pass, m.Column(points[i].x), m.Row(points[i].y)}});
  return segments;
}

// Beside the diamond at (x, y), where the note's text crosses the fewest
// lines of the curves (none, wherever there is room for that), inside the
// page: the first such place of the nearest ones, right, left and centred,
// on the diamond's height, then above and below it.
NotePlace PlaceOfNote(double x, double y, double width, const Segments &segments) {
  NotePlace best{x + 10, y - 8, "start"};
  std::size_t fewest = std::numeric_limits<std::size_t>::max();
  for (double dy : {-8.0, 4.0, -20.0, 18.0, -34.0, 32.0})
    for (const NotePlace &at : {NotePlace{x + 10, y + dy, "start"},
                                NotePlace{x - 10, y + dy, "end"}, NotePlace{x, y + dy, "middle"}}) {
      const Box box = NoteBox(at, width);
      if (box.left < 0 || box.right > kWidth || box.top < 0)
        continue;
      const std::size_t crossed = static_cast<std::size_t>(
          std::count_if(segments.begin(), segments.end(),
                        [&](const auto &s) { return MeetsBox(s.first, s.second, box); }));
      if (crossed < fewest) {
        best = at;
        fewest = crossed;
      }
      if (crossed == 0)
        return best;
    }
  return best;
}

// How a kind of special point is marked: its group, its class, its colour,
// the word of its note.
struct Mark {
  RecordKind kind;
  const char *group, *name, *colour;
};
constexpr Mark kFoldMark{RecordKind::Fold, "folds", "fold", "#aa0000"};
constexpr Mark kBranchMark{RecordKind::Branch, "branch-points", "branch", "#0044aa"};

// A special point's note: its kind and P, and where the curve is plotted
// against another value, that value there too.
std::string MarkNote(const Mark &mark, const Sample &s, const Labels &labels) {
  std::string note = std::string(mark.name) + ": P = " + FoldValue(s.P);
  if (labels.xName != "P")
    note += ", " + labels.xName + " = " + FoldValue(s.x);
  return note;
}

// The outline of a mark at (x, y): a diamond for a fold, a square for a
// branch point.
std::string MarkPath(const Mark &mark, double x, double y) {
  if (mark.kind == RecordKind::Fold)
    return "M" + Num(x) + " " + Num(y - 6) + " L" + Num(x + 6) + " " + Num(y) + " L" + Num(x) +
           " " + Num(y + 6) + " L" + Num(x - 6) + " " + Num(y) + " Z";
  return "M" + Num(x - 5) + " " + Num(y - 5) + " L" + Num(x + 5) + " " + Num(y - 5) + " L" +
         Num(x + 5) + " " + Num(y + 5) + " L" + Num(x - 5) + " " + Num(y + 5) + " Z";
}

// The special points of one kind: a mark on each, and its note beside it,
// off the curve; nothing when there are none.
void Marks(std::string &out, const Mark &mark, const Mapping &m, std::span<const Sample> samples,
           const Labels &labels, const Segments &segments) {
  if (std::none_of(samples.begin(), samples.end(),
                   [&](const Sample &s) { return s.kind == mark.kind; }))
    return;
  out += "<g id=\"" + std::string(mark.group) + "\" stroke=\"" + mark.colour +
         "\" fill=\"none\" stroke-width=\"1.5\">\n";
  for (const Sample &s : samples) {
    if (s.kind != mark.kind)
      continue;
    const double x = m.Column(ToDouble(s.x)), y = m.Row(ToDouble(s.y));
    out += "<path class=\"" + std::string(mark.name) + "\" d=\"" + MarkPath(mark, x, y) + "\"/>\n";
    const std::string note = MarkNote(mark, s, labels);
    const NotePlace at = PlaceOfNote(x, y, kNoteChar * double(note.size()), segments);
    Text(out, at.x, at.y, at.anchor,
         " class=\"" + std::string(mark.name) + "-note\" stroke=\"none\" fill=\"" + mark.colour +
             "\"",
         note);
  }
  out += "</g>\n";
}

std::string Picture(std::span<const Sample> samples, const Labels &labels, std::string_view ended) {
  std::map<int, std::vector<Point>> passes;
  std::vector<double> xs, ys;
  for (const Sample &s : samples) {
    const Point p{s.pass, ToDouble(s.x), ToDouble(s.y)};
    passes[p.pass].push_back(p);
    xs.push_back(p.x);
    ys.push_back(p.y);
  }
  const bool legend = passes.size() > 1 || !labels.series.empty();
  const std::string title = Title(labels, samples.size(), passes.size(), ended);
  const std::vector<std::string> titleLines = Wrapped(title, kTitleChars);
  // A title of several lines moves everything under it down.
  const double below = kTitleLine * double(titleLines.size() - 1);
  const Mapping m{FullRange(xs), BulkRange(ys),  kLeft, legend ? kRightWithLegend : kRightAlone,
                  kTop + below,  kBottom + below};
  const auto beyond =
      std::count_if(ys.begin(), ys.end(), [&](double y) { return y < m.y.low || y > m.y.high; });

  const std::string width = std::to_string(int(kWidth)),
                    height = std::to_string(int(kHeight + below));
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
                    width + "\" height=\"" + height + "\" viewBox=\"0 0 " + width + " " + height +
                    "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  out += "<title>" + Escaped(title) + "</title>\n";
  out += "<desc>" + Escaped(labels.yName) + " against " + Escaped(labels.xName) + "</desc>\n";
  out += "<defs><clipPath id=\"plot-area\"><rect x=\"" + Num(m.left) + "\" y=\"" + Num(m.top) +
         "\" width=\"" + Num(m.right - m.left) + "\" height=\"" + Num(m.bottom - m.top) +
         "\"/></clipPath></defs>\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  TitleText(out, titleLines);
  if (beyond > 0) {
    const auto [lo, hi] = std::minmax_element(ys.begin(), ys.end());
    const double step = NiceTicks({*lo, *hi}, 7).step;
    Text(out, kWidth / 2, 44 + below, "middle", " id=\"beyond-note\" fill=\"#aa0000\"",
         std::to_string(beyond) + (beyond == 1 ? " point lies" : " points lie") +
             " beyond the vertical range (triangles on the edge); the values run from " +
             TickText(*lo, step / 100) + " to " + TickText(*hi, step / 100));
  }
  Axes(out, m, labels);
  out += "<g id=\"curves\">\n";
  for (const auto &[pass, points] : passes)
    Pass(out, m, pass, points, Colour(pass));
  out += "</g>\n";
  const Segments segments = CurveSegments(m, passes);
  Marks(out, kFoldMark, m, samples, labels, segments);
  Marks(out, kBranchMark, m, samples, labels, segments);
  if (legend)
    Legend(out, m, LegendEntries(passes, labels));
  out += "</svg>\n";
  return out;
}

} // namespace

std::string CurvePicture(std::span<const Sample> samples, const Labels &labels,
                         std::string_view ended) {
  MaskedTraps masked;
  return Picture(samples, labels, ended);
}

Range BulkRange(std::vector<double> values) {
  if (values.empty())
    return {0.0, 1.0};
  std::sort(values.begin(), values.end());
  const double q1 = Quantile(values, 0.25), q3 = Quantile(values, 0.75);
  const double iqr = q3 - q1;
  double low = values.front(), high = values.back();
  if (iqr > 0) {
    const double lowFence = q1 - 3 * iqr, highFence = q3 + 3 * iqr;
    const auto first = std::lower_bound(values.begin(), values.end(), lowFence);
    const auto last = std::upper_bound(values.begin(), values.end(), highFence);
    const auto outside = values.size() - std::size_t(last - first);
    if (outside > 0 && outside * 10 <= values.size()) {
      low = *first;
      high = *(last - 1);
    }
  }
  return Padded(low, high, 0.04);
}

bool IsJump(std::span<const double> values, std::size_t i, Range visible) {
  const double a = values[i], b = values[i + 1];
  if (!Opposite(a, b))
    return false;
  if ((a > visible.high && b < visible.low) || (a < visible.low && b > visible.high))
    return true;
  const bool before = i > 0, after = i + 2 < values.size();
  if (!before && !after)
    return false;
  const double d = b - a;
  const auto against = [d](double e) { return Opposite(e, d) && std::fabs(e) < std::fabs(d); };
  return (!before || against(a - values[i - 1])) && (!after || against(values[i + 2] - b));
}

Ticks NiceTicks(Range range, int wanted) {
  const double span = range.high - range.low;
  if (!(span > 0) || !std::isfinite(span))
    return {{range.low}, 1.0};
  const double raw = span / wanted;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / magnitude;
  const double step = (norm < 1.5 ? 1 : norm < 3 ? 2 : norm < 7 ? 5 : 10) * magnitude;
  Ticks t{{}, step};
  for (double k = std::ceil(range.low / step); k * step <= range.high && t.values.size() < 50; ++k)
    t.values.push_back(k * step);
  return t;
}

std::string TickText(double value, double step) {
  char buf[64];
  std::to_chars_result r;
  if (value != 0 && (std::fabs(value) >= 1.0e6 || step < 1.0e-5)) {
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  } else {
    const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step) - 1.0e-9));
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  }
  std::string text(buf, r.ptr);
  // A value that rounds to zero is written without its sign.
  if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-')
    text.erase(0, 1);
  return text;
}

} // namespace zanfel::svg
