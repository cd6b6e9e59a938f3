// A program's main: the command line, the run's set-up (faults, signals, the
// terminal, the progress display, the summary, the pictures), the engine's
// body with the application as its observer, and the last word.
#pragma once

#include <string>

#include "app/run_observer.hpp"
#include "continuation/outcome.hpp"
#include "continuation/program_info.hpp"
#include "continuation/settings.hpp"

namespace zanfel {

using ProgramBody = RunOutcome (*)(SweepObserver &);
using ConfiguredBody = RunOutcome (*)(SweepObserver &, const SettingOptions &);
using SettingsCheck = std::string (*)(const SettingOptions &);

// A program as its main hands it over: what it says of itself, its body, the
// body that resumes a stopped sweep (null: the program does not resume), and
// the check of its settings.
struct ProgramDescription {
  ProgramInfo info;
  ConfiguredBody run;
  ConfiguredBody resume;
  SettingsCheck settingsError;
};

// The status of a body's normal end; a failed solve ends the program here,
// as that failure always has: its message (and, for a singular matrix, the
// wait for Enter), then the exit sequence with the CSV's closing line, the
// pictures and the failure's own status.
int ConcludeRun(const RunOutcome &outcome);

// The command line first (--help, --version and a wrong one end here); then
// traps and stop signals on, the terminal in run mode, the progress display
// of the program (window title, status line) and the summary of the run,
// then the program body, or with --resume the resuming body (a program
// without one refuses). Settings that `settingsError` finds wrong end the
// run with status 64 before anything is opened.
int RunProgram(const ProgramDescription &program, int argc, const char *const *argv);

} // namespace zanfel
