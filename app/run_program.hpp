// A program's main: the command line, the run's set-up (faults, signals, the
// terminal, the progress display, the summary, the pictures), the engine's
// body with the application as its observer, and the last word.
#pragma once

#include <string>

#include "app/run_observer.hpp"
#include "continuation/outcome.hpp"
#include "continuation/settings.hpp"

namespace zanfel {

// The command line first (--help, --version and a wrong one end here); then
// traps and stop signals on, the terminal in run mode, the progress display
// of program `name` (window title, status line) and the summary of the run,
// then the program body, or with --resume the resuming body (a program
// without one refuses). Settings that `settingsError` finds wrong end the
// run with status 64 before anything is opened. `what` is the --help text
// of a program of one's own (the built-in ones have theirs).
using ProgramBody = RunOutcome (*)(SweepObserver &);
using ConfiguredBody = RunOutcome (*)(SweepObserver &, const SettingOptions &);
using SettingsCheck = std::string (*)(const SettingOptions &);
// The status of a body's normal end; a failed solve ends the program here,
// as that failure always has: its message (and, for a singular matrix, the
// wait for Enter), then the exit sequence with the CSV's closing line, the
// pictures and the failure's own status.
int ConcludeRun(const RunOutcome &outcome);

int RunProgram(const char *name, ConfiguredBody body, ConfiguredBody resumeBody,
               SettingsCheck settingsError, int argc, const char *const *argv,
               const char *what = nullptr);

} // namespace zanfel
