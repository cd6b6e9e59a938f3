// Bratu's problem of examples/bratu in a window frame a thousand times too
// small: u'(0) leaves the frame's 0..0.006 after a few records and runs to
// 4 at the fold, far beyond what a 16-bit window coordinate can place.
#pragma once

#include <cmath>

#include "continuation/own_problem.hpp"

// The example's model (and its own table, unused here) kept apart.
namespace example {
#include "../../examples/bratu/bratu.hpp"
} // namespace example

inline constexpr zanfel::OwnProblem<example::Bratu> kOwnProblem{
    "Bratu's problem with a window frame far too small for its curve.",
    {},
    {0.0L, {0.0L}},
    {1.0L, 0.001L, 0, 4, 0, 6},
    {0.0625L, 0.0L, 10.0L},
    {"du_0", "du_1", "dE", "E="}};
