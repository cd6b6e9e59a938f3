// Where multiple shooting cuts [0, 1]: M segments between the nodes
// 0 = t[0] < t[1] < ... < t[M] = 1, equal ones (--segments M) or at chosen
// interior nodes (--nodes t1,...). A run-time value: the solve's arrays are
// sized for the most segments a model takes (shooting/segments.hpp).
#pragma once

#include <string>
#include <string_view>

#include "runtime/types.hpp"

namespace zanfel {

// The most segments any solve takes.
constexpr int kSegmentCap = 32;
// The shortest segment: far above the integrator's smallest step (26 units
// of round-off of t), so that every segment is integrated in steps of its
// own and not extrapolated across.
constexpr REAL kShortestSegment = 1.0E-9L;

struct SegmentCuts {
  int M = 1;
  bool chosen = false; // interior nodes given one by one, not M equal segments
  REAL t[kSegmentCap + 1] = {0.0L, 1.0L};

  bool Multiple() const { return M > 1; }
};

// M equal segments: t[k] = k/M.
SegmentCuts EqualSegments(int M);

// --segments M: a whole number from 1 to kSegmentCap. The error, or "".
std::string ParseSegments(std::string_view value, SegmentCuts &cuts);
// --nodes t1,...: increasing, inside (0, 1), at least kShortestSegment
// apart and from the ends, at most kSegmentCap - 1 of them. The error, or "".
std::string ParseNodes(std::string_view value, SegmentCuts &cuts);

// The cuts in option form for the settings line: "" for one segment,
// " --segments M" for equal ones, " --nodes t1,..." at full precision.
std::string SegmentCutsText(const SegmentCuts &cuts);

// Whether two cuts are the same, bit for bit.
bool SameCuts(const SegmentCuts &a, const SegmentCuts &b);

} // namespace zanfel
