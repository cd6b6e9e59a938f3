// A picture of a whole run's curve as SVG 1.1 text, scaled to the data
// (the window and ZANFEL.PNG keep their fixed frame), and the write of such a
// picture that never leaves a half-written file behind.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/record_kind.hpp"
#include "runtime/types.hpp"

namespace zanfel::svg {

// One record of the run: the pass it belongs to (counted from 1), the
// horizontal and the vertical value; its kind (a fold of the curve in P is
// marked), and its P.
struct Sample {
  int pass;
  REAL x;
  REAL y;
  RecordKind kind = RecordKind::Plain;
  REAL P = 0.0L;
};

struct Labels {
  std::string program; // first in the title
  std::string xName;   // horizontal axis
  std::string yName;   // vertical axis
  std::string note{};  // last in the title when not empty
  // Names of the passes when they are curves of another kind (the profiles
  // of records): the legend names each one, and the title counts them as
  // `seriesCounted` ("profile") instead of records.
  std::vector<std::string> series = {};
  std::string seriesCounted = {};
};

// The picture: axes scaled to the samples with tick values, the title
// "program — N records — ended", each pass as markers joined by lines (not
// across a jump at a pole), a legend when there is more than one pass, and
// the vertical range on the bulk of the values when a few lie far outside
// it (they are drawn as triangles on the edge, and a note counts them). No
// sample: the empty axes, titled "program — no record — ended". A fold is
// marked by a diamond with a note of its P and horizontal value.
std::string CurvePicture(std::span<const Sample> samples, const Labels &labels,
                         std::string_view ended);

// The rules the picture follows, open for tests.

struct Range {
  double low, high;
};

// The vertical range: the values inside Tukey's far-out fences (three
// interquartile ranges beyond the quartiles) when the values outside them are
// a few (at most one in twenty), all values otherwise; then a margin of 4 %
// on each side.
Range BulkRange(std::vector<double> values);

// Whether the step from values[i] to values[i + 1] within one pass jumps
// across a pole, seen in a window `visible`: the value changes sign and
// either runs from beyond one edge of the window to beyond the other, or
// moves against the direction of the neighbouring steps and is larger than
// each of them (a pass of two values has no neighbouring step).
bool IsJump(std::span<const double> values, std::size_t i, Range visible);

// Tick values at 1, 2 or 5 times a power of ten, about `wanted` of them
// inside the range, and their text with as many decimals as the step needs.
struct Ticks {
  std::vector<double> values;
  double step;
};
Ticks NiceTicks(Range range, int wanted);
std::string TickText(double value, double step);

} // namespace zanfel::svg
