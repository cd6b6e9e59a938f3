// --start-at FILE:branchK --switch: a run that starts at a branch point of an
// earlier run and follows the branch crossing it there. At a simple branch
// point the Jacobian of the residuals in (X, P) has a two-dimensional null
// space: the tangent of the branch the earlier run followed, and the
// direction the crossing branch leaves in. The second is the null vector of
// the Jacobian bordered by the first, found by inverse iteration; the run
// steps off along it (the other way with --reverse) and goes on along the
// arclength.
#pragma once

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "continuation/arc_solve.hpp"
#include "continuation/start_at.hpp"

namespace zanfel {

// The key of the CSV head's line that names the switch and its direction.
constexpr std::string_view kSwitchedKey = "switched at";

// Inverse iterations for the null vector: the bordered matrix is singular
// to the accuracy of the branch point's location, so two of them leave
// nothing of the other directions that the Jacobian's differences can show.
constexpr int kInverseIterations = 2;

// Scales v to unit length; false for a vector without length.
template <int NA> bool Normalised(GLNARRAY<NA> &v) {
  REAL norm = 0.0L;
  for (int I = 1; I <= NA; ++I)
    norm += v[I] * v[I];
  if (!(norm > 0.0L) || !std::isfinite(norm))
    return false;
  norm = sqrtl(norm);
  for (int I = 1; I <= NA; ++I)
    v[I] = v[I] / norm;
  return true;
}

// The direction the crossing branch leaves the branch point `at` in, in the
// coordinates scaled at it, from the chord that came to it from `before`:
// unit length, its largest component positive (negative with `reverse`).
// "" on success, else why there is none.
template <class Model>
std::string CrossingDirection(typename Model::Globals g, const ArcVector<Model> &before,
                              const ArcVector<Model> &at, bool reverse, ArcVector<Model> &dir) {
  constexpr int NA = Model::N + 1;
  for (int I = 1; I < NA; ++I)
    g.X[I] = at[I];
  g.P = at[NA];
  ArcMatrix<Model> A;
  ArcVector<Model> B;
  if (!USRFUNWithParameter<Model>(g, A, B))
    return "its trajectories do not reach t = 1";
  const ArcVector<Model> scale = ScaleAt(at);
  ArcVector<Model> chord = Direction(before, at, scale);
  for (int J = 1; J <= NA; ++J) {
    for (int I = 1; I < NA; ++I)
      A(I, J) = A(I, J) * scale[J];
    A(NA, J) = chord[J];
  }
  GLINDX<NA> INDX;
  REAL D;
  if (!LUDCMP(A, static_cast<INT16>(NA), INDX, D))
    return "its Jacobian has a row of zeros";
  for (int I = 1; I <= NA; ++I)
    dir[I] = 1.0L;
  for (int k = 0; k < kInverseIterations; ++k) {
    LUBKSB(A, static_cast<INT16>(NA), INDX, dir);
    if (!Normalised(dir))
      return "no direction leaves it";
  }
  int largest = 1;
  for (int I = 2; I <= NA; ++I)
    if (fabsl(dir[I]) > fabsl(dir[largest]))
      largest = I;
  if (std::signbit(dir[largest]) != reverse)
    for (int I = 1; I <= NA; ++I)
      dir[I] = -dir[I];
  return "";
}

// The switch of a run started at `start`: the direction in the program
// state, the note for the CSV head. 0, or the status after the message; a
// start that is not a branch point, or has no record before it on its
// branch, cannot switch.
template <class Model>
int SwitchAtStart(std::string_view program, Program<Model> &s, StartRecord<Model> &start,
                  bool reverse) {
  const std::string ref = "record " + std::to_string(start.row.record);
  if (start.row.label.kind != RecordKind::Branch)
    return CannotStartAt(program, kStartBadData,
                         ref + " is not a branch point, so --switch has no branch to switch to");
  if (!start.haveBefore)
    return CannotStartAt(program, kStartBadData,
                         ref + " has no record before it to give its branch's direction");
  ArcVector<Model> before, at;
  for (int I = 1; I <= Model::N; ++I) {
    before[I] = start.before.X[I];
    at[I] = start.row.X[I];
  }
  before[Model::N + 1] = start.before.P;
  at[Model::N + 1] = start.row.P;
  const std::string why = CrossingDirection<Model>(s.g, before, at, reverse, s.startDirection);
  if (!why.empty())
    return CannotStartAt(program, kStartBadData, ref + " cannot be switched at: " + why);
  s.haveStartDirection = true;
  s.switchedStart = true;
  std::string note = std::string(kSwitchedKey) + ": " + LabelText(start.row.label) +
                     ", onto the branch crossing there, along";
  for (int I = 1; I <= Model::N + 1; ++I)
    note += (I == 1 ? " " : ",") + FullReal(s.startDirection[I]);
  start.note += "\n# " + note;
  return 0;
}

// The direction a switched run left its branch point in, from the CSV head's
// line; false when the head has none (a run that did not switch).
template <int NA> bool SwitchedDirection(std::string_view head, GLNARRAY<NA> &dir) {
  const std::string line = HeadValue(head, kSwitchedKey);
  constexpr std::string_view kAlong = " along ";
  const std::size_t along = line.rfind(kAlong);
  if (along == std::string::npos)
    return false;
  const std::vector<std::string_view> fields =
      SplitFields(std::string_view(line).substr(along + kAlong.size()));
  if (fields.size() != static_cast<std::size_t>(NA))
    return false;
  for (int I = 1; I <= NA; ++I)
    if (!ParseReal(fields[static_cast<std::size_t>(I - 1)], dir[I]) || !std::isfinite(dir[I]))
      return false;
  return true;
}

} // namespace zanfel
