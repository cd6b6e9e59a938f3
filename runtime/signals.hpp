// The signal handlers of a run: the floating-point traps, the end signals
// and job control (a job stop: Ctrl-Z, SIGTSTP, SIGTTIN, SIGTTOU).
#pragma once

#include <csignal>

#include "runtime/hook_table.hpp"

namespace zanfel {

// Enables the floating-point traps (invalid, division by zero, overflow) and
// installs the handlers for SIGFPE, SIGINT, SIGTERM and SIGHUP. Call once at
// program start. A trap reports 200, 205 or 207 (any other floating-point
// fault); SIGINT, SIGTERM and SIGHUP restore the terminal and then end the
// process by the signal's default action, so the parent sees the signal.
// Every other signal whose default action ends the process does the same
// (SIGXFSZ only when sent from outside: a write beyond the file-size limit
// fails with EFBIG instead), and the job-control signals hand the terminal
// back on a job stop and take it again on continue (see the job stop hooks).
void InstallFaultHandling();

// Installs `action` for `sig` unless the parent chose to ignore the signal
// (nohup, a background job): an ignored signal stays ignored.
void InstallUnlessIgnored(int sig, const struct sigaction &action);

// Job control. When a job stop signal (SIGTSTP, SIGTTIN, SIGTTOU) arrives,
// the terminal hook `onJobStop` runs, then the job stop hooks, then the
// process stops; on SIGCONT `onContinue` runs. All must be async-signal-safe.
// Set by the console (terminal mode) and the progress display (its line); the
// job stop hooks follow the rules of AddEndHook.
using JobControlHook = void (*)();
void SetTerminalJobControlHooks(JobControlHook onJobStop, JobControlHook onContinue);
bool AddJobStopHook(EndHook hook);

} // namespace zanfel
