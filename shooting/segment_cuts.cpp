#include "shooting/segment_cuts.hpp"

#include <cmath>

#include "report/csv.hpp"

namespace zanfel {

SegmentCuts EqualSegments(int M) {
  SegmentCuts cuts;
  cuts.M = M;
  for (int k = 0; k <= M; ++k)
    cuts.t[k] = static_cast<REAL>(k) / static_cast<REAL>(M);
  cuts.t[M] = 1.0L;
  return cuts;
}

std::string ParseSegments(std::string_view value, SegmentCuts &cuts) {
  long M = 0;
  if (!ParseWholeNumber(value, 1, kSegmentCap, M))
    return "--segments wants a whole number from 1 to " + std::to_string(kSegmentCap) + ", not '" +
           std::string(value) + "'";
  cuts = EqualSegments(static_cast<int>(M));
  return "";
}

std::string ParseNodes(std::string_view value, SegmentCuts &cuts) {
  const auto refuse = [&](std::string_view wants) {
    return "--nodes wants " + std::string(wants) + ", not '" + std::string(value) + "'";
  };
  SegmentCuts c;
  c.chosen = true;
  c.M = 1;
  for (std::size_t at = 0; at <= value.size();) {
    std::size_t end = value.find(',', at);
    end = end == std::string_view::npos ? value.size() : end;
    REAL t = 0.0L;
    const std::string_view field = value.substr(at, end - at);
    if (field.find_first_of("xX") != std::string_view::npos || !ParseReal(field, t) ||
        !std::isfinite(t))
      return refuse("decimal numbers t1,t2,... separated by commas");
    if (c.M == kSegmentCap)
      return refuse("at most " + std::to_string(kSegmentCap - 1) + " nodes");
    if (!(t > c.t[c.M - 1]))
      return refuse("nodes in increasing order inside (0, 1)");
    if (t - c.t[c.M - 1] < kShortestSegment || 1.0L - t < kShortestSegment)
      return refuse(t < 1.0L ? "nodes at least 1e-9 apart and from 0 and 1"
                             : "nodes in increasing order inside (0, 1)");
    c.t[c.M++] = t;
    at = end + 1;
  }
  c.t[c.M] = 1.0L;
  cuts = c;
  return "";
}

std::string SegmentCutsText(const SegmentCuts &cuts) {
  if (!cuts.Multiple())
    return "";
  if (!cuts.chosen)
    return " --segments " + std::to_string(cuts.M);
  std::string text = " --nodes ";
  for (int k = 1; k < cuts.M; ++k)
    text += (k > 1 ? "," : "") + FullReal(cuts.t[k]);
  return text;
}

bool SameCuts(const SegmentCuts &a, const SegmentCuts &b) {
  if (a.M != b.M || a.chosen != b.chosen)
    return false;
  for (int k = 0; k <= a.M; ++k)
    if (!SameBits(a.t[k], b.t[k]))
      return false;
  return true;
}

} // namespace zanfel
