// The solve at fixed P by multiple shooting (shooting/segments.hpp): Newton's
// method on the model's unknowns and the node states together, the node
// states started by integrating the start guess segment by segment and
// carried from each solve to the next.
#pragma once

#include <cmath>
#include <string>

#include "continuation/outcome.hpp"
#include "continuation/settings.hpp"
#include "nonlinear/mnewt.hpp"
#include "nonlinear/newton_trace.hpp"
#include "shooting/segments.hpp"

namespace zanfel {

// What is wrong with the segments asked for this model (more than it
// takes), or "".
template <class Model> std::string SegmentsError(const SettingOptions &o) {
  if (!o.cuts || o.cuts->M <= MaxSegments<Model>())
    return "";
  return "this model takes at most " + std::to_string(MaxSegments<Model>()) + " segments, not " +
         std::to_string(o.cuts->M);
}

// What is wrong with the options for this model's table, the segments
// included; "" when nothing.
template <class Model, class Table>
std::string SettingsErrorWithSegments(const Table &table, const SettingOptions &o) {
  if (const std::string error = SegmentsError<Model>(o); !error.empty())
    return error;
  return SettingsError(table, o);
}

// Whether a segment's end state can start the next one.
template <int NEQN> bool FiniteState(const Array1<REAL, 1, NEQN> &y) {
  for (int i = 1; i <= NEQN; ++i)
    if (!std::isfinite(y[i]))
      return false;
  return true;
}

// The node states from the unknowns X: each segment integrated from the end
// of the one before, and restarted from the start state of X where that
// integration fails (cut short, refused, a trap or a value no longer
// finite). A failure here is no failure of the run: its messages and any
// held-back end are dropped, and Newton's method starts from what there is.
template <ShootingModel Model>
void StartNodes(SegmentedShooting<Model> &ms, const typename Model::Globals &g) {
  using MS = SegmentedShooting<Model>;
  const GLNARRAY<Model::N> X = ModelUnknowns<Model>(ms.Z);
  typename MS::State start;
  typename Model::Globals gc = g;
  Model::INITVAL(gc, X, View1<REAL>{start.data()});
  typename MS::State y = start;
  for (int k = 1; k < ms.cuts.M; ++k) {
    LoadPiece(ms, 0, g, k, X, k == 1 ? nullptr : &y);
    auto &p = ms.pieces[0];
    RunPiece<Model>(p, ms.cuts);
    const bool reached = p.deferred.kind == DeferredEnd::Kind::None &&
                         p.end == TrajectoryEnd::Reached && FiniteState(p.y);
    y = reached ? p.y : start;
    for (int i = 1; i <= Model::NEQN; ++i)
      ms.Z[MS::NodeAt(k) + i] = y[i];
  }
  ms.nodesKnown = true;
}

// MNEWT on the segmented equations from the program's unknowns g.X and the
// node states of the solve before (or of StartNodes), with the limits of
// g.solve, traced in `trace`; `atSafePoint()` before every residual call.
// Converged, g.X holds the model's unknowns, ms.Z the node states, g.YOUT
// the model's end values at them (the last call's when MNEWT stopped at its
// input, else from the base trajectories again).
template <ShootingModel Model, class SafePoint>
[[nodiscard]] Failure SolveOnSegments(SegmentedShooting<Model> &ms, typename Model::Globals &g,
                                      NewtonTrace &trace, SafePoint &&atSafePoint) {
  using MS = SegmentedShooting<Model>;
  constexpr int N = Model::N;
  for (int I = 1; I <= N; ++I)
    ms.Z[I] = g.X[I];
  if (!ms.nodesKnown)
    StartNodes(ms, g);
  const SolveSettings &limits = g.solve;
  const auto usrfun = [&](GLNARRAY<MS::NZ> &Z, INT16 n, GLNBYN<MS::NZ> &ALPHA,
                          GLNARRAY<MS::NZ> &BETA) {
    atSafePoint();
    SegmentEnds ends;
    const UsrfunResult r = SegmentedUSRFUN(ms, g, Z, ALPHA, BETA, ends);
    trace.NoteTrajectories(ms.PiecesOfCall(), r.cutShort);
    trace.NoteSegments(ends.cutShort, ends.invalidCall);
    if (r.invalidCall)
      return false;
    trace.NoteJacobian(ALPHA, n);
    return true;
  };
  GLNARRAY<MS::NZ> Z = ms.Z;
  ms.haveCall = false;
  const NewtonStatus status = MNEWT(limits.NTRIAL, Z, static_cast<INT16>(ms.Order()), limits.TOLX,
                                    limits.TOLF, g.ITER, usrfun, &trace);
  if (status != NewtonStatus::Converged)
    return FailureOf(status);
  ms.Z = Z;
  if (!(ms.haveCall && SameBits(ms.ZIn, Z) && SameBits(ms.PIn, g.P))) {
    GLNARRAY<MS::NZ> BETA;
    SegmentEnds ends;
    if (SegmentBase(ms, g, Z, BETA, ends).invalidCall) {
      trace.NoteSegments(ends.cutShort, ends.invalidCall);
      return Failure::InvalidIntegratorCall;
    }
  }
  ms.haveCall = false;
  g.X = ModelUnknowns<Model>(Z);
  g.YOUT = ms.YOUT;
  return Failure::None;
}

} // namespace zanfel
