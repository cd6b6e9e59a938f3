// What a program tells its user about itself (--help and the manual pages):
// what it computes, and the start and sweep of its table that --from, --step
// and --range set, made from the table itself so that the text and the run
// cannot disagree.
#pragma once

#include <string>

#include "continuation/settings.hpp"

namespace zanfel {

struct ProgramInfo {
  std::string name;
  std::string what; // what it computes, a few lines
  REAL from = 0.0L; // the table's start P of what --from sets
  SweepSettings sweep{};
  std::string sweepMeaning; // what --from, --step and --range set, with the step rule
  // A program of one's own: P is its horizontal axis, and its frame was not
  // made for the curve of every run.
  bool ownProblem = false;
  std::string params{};  // the lines of --help that list the model's named parameters
  SolveSettings solve{}; // the limits of its solves that the options set
};

// "P from P0 upwards by |DP|": a sweep as its settings give it; `addStep` is
// the program's rule (P + DP, or P - DP).
std::string SteppingText(REAL from, REAL DP, bool addStep);

// "the sweep (P := P + DP)".
std::string SweepRuleText(bool addStep);

} // namespace zanfel
