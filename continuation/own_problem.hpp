// The body of a program of your own: one sweep of P over a model without a
// second scale (shooting/model.hpp, ModelWithoutScale), with everything the
// built-in programs have (the results files, resume, the window, the
// pictures). A program is its model and one OwnProblem table; the CMake
// function zanfel_add_program makes its main.
#pragma once

#include <algorithm>
#include <cmath>

#include "continuation/program_info.hpp"
#include "continuation/resume.hpp"

namespace zanfel {

// What the record and ZANFEL.CSV call the three end values YOUT[N+1..N+3]
// (N the number of unknowns). The first is also the plotted value.
struct EndValueNames {
  const char *v;      // YOUT[N+1]: the record's `v=`, the curve's vertical axis
  const char *dg;     // YOUT[N+2]: the record's `DG=`
  const char *z;      // YOUT[N+3]: the CSV column
  const char *zLabel; // YOUT[N+3]: the label of the record's fifth line, e.g. "w="
};

// The settings of a program of your own: what --help says it computes, its
// parameters, the start point, the frame of the window and the sweep.
template <ModelWithoutScale Model> struct OwnProblem {
  const char *what; // the problem and its sweep, a few lines for --help
  typename Model::Globals::Params par;
  StartSettings<Model::N> start; // P and the guess of X[1..N] for it
  FrameSettings frame;           // P across, YOUT[N+1] up
  SweepSettings sweep;           // DP > 0 steps upwards, DP < 0 downwards
  EndValueNames names;
  // The parameters --param sets, by name (continuation/model_params.hpp);
  // their defaults are `par`. Left out: none.
  ParamNames<typename Model::Globals::Params> params{};
  SolveSettings solve{}; // the limits of its solves, the built-in ones unless given
};

// The record of a model without a second scale: `h:=` P, `x[1]:=` the first
// unknown; the residuals YOUT[1..N] (for N = 1 with YOUT[2] beside it, as
// every record shows two values there); the unknowns 2..N; `v=` YOUT[N+1]
// and `DG=` YOUT[N+2]; the user's label and YOUT[N+3].
template <class Model> RecordLayout OwnRecordLayout(const EndValueNames &names) {
  constexpr int N = Model::N;
  return {12, 12, ";x[1]:=", "; x[", 13, 10, names.zLabel, std::max(N, 2), N + 1, N + 3};
}

template <class Model> constexpr bool UpwardsOf(const OwnProblem<Model> &p) {
  return p.sweep.DP > 0.0L;
}

// A table that cannot make a sweep: no step, or a start outside the range
// (a sweep that would never end, or end after its first record).
template <class Model> constexpr bool SweepIsSound(const OwnProblem<Model> &p) {
  return p.sweep.DP != 0.0L && p.sweep.P1 <= p.start.P && p.start.P <= p.sweep.P2;
}

template <class Model> REAL OwnScale(const Program<ScaleIsP<Model>> &s) {
  return s.g.P;
}
template <class Model> REAL OwnPartner(const Program<ScaleIsP<Model>> &s) {
  return s.g.X[1];
}

// The sweep rules and the one-pass settings of an OwnProblem, kept together
// for the run (the rules refer to the layout).
template <class Model> struct OwnRun {
  using Shot = ScaleIsP<Model>;
  RecordLayout layout;
  SweepRules<Shot> rules;
  OnePassSettings<Shot> settings;

  explicit OwnRun(const OwnProblem<Model> &p)
      : layout(OwnRecordLayout<Model>(p.names)),
        rules{layout,       Model::N + 1, p.names.v, OwnScale<Model>, OwnPartner<Model>,
              UpwardsOf(p), p.names.z,    p.names.v, p.names.dg},
        settings{p.par,    p.start, p.frame, {std::abs(p.sweep.DP), p.sweep.P1, p.sweep.P2},
                 p.params, p.solve} {}
  OwnRun(const OwnRun &) = delete;
};

template <class Model>
RunOutcome RunOwnProblem(std::string_view program, const OwnProblem<Model> &problem,
                         const SettingOptions &options, SweepObserver &observer) {
  const OwnRun<Model> run(problem);
  return RunOnePass(program, run.settings, options, run.rules, observer);
}

template <class Model>
RunOutcome ResumeOwnProblem(std::string_view program, const OwnProblem<Model> &problem,
                            const SettingOptions &options, SweepObserver &observer) {
  const OwnRun<Model> run(problem);
  return ResumeOnePass(program, run.settings, options, run.rules, observer);
}

// What a program of your own says of itself: its text, its table's sweep.
template <class Model> ProgramInfo OwnInfo(const char *name, const OwnProblem<Model> &problem) {
  const OwnRun<Model> run(problem);
  ProgramInfo info{name,
                   problem.what,
                   run.settings.start.P,
                   run.settings.sweep,
                   SweepRuleText(UpwardsOf(problem)),
                   true,
                   ParamsHelp(problem.params, problem.par),
                   problem.solve};
  return info;
}

// What is wrong with the options for this problem's table; "" when nothing.
template <class Model>
std::string OwnSettingsError(const OwnProblem<Model> &problem, const SettingOptions &options) {
  const OwnRun<Model> run(problem);
  return SettingsErrorWithSegments<typename OwnRun<Model>::Shot>(run.settings, options);
}

} // namespace zanfel
