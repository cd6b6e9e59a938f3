// Run-time faults and the program's fatal ends.
//
// Every fault ends the program with "Runtime error N" on standard output and
// N as exit status, after the terminal mode has been restored.
#pragma once

#include <string>
#include <string_view>

namespace zanfel {

enum RuntimeErrorCode : int {
  kFileNotFound = 2,
  kPathNotFound = 3,
  kAccessDenied = 5,
  kDiskWriteError = 101,
  kDivisionByZero = 200,
  kRangeCheck = 201,
  kFloatOverflow = 205,
  kInvalidFloatOp = 207,
  kIntegerOverflow = 215,
};

// Enables the floating-point traps (invalid, division by zero, overflow) and
// installs the handlers for SIGFPE, SIGINT, SIGTERM and SIGHUP. Call once at
// program start. A trap reports 200, 205 or 207 (any other floating-point
// fault); SIGINT, SIGTERM and SIGHUP restore the terminal and then end the
// process by the signal's default action, so the parent sees the signal.
// Every other signal whose default action ends the process does the same
// (SIGXFSZ only when sent from outside: a write beyond the file-size limit
// fails with EFBIG instead), and the job-control signals hand the terminal
// back on a stop and take it again on continue (see the stop hooks).
void InstallFaultHandling();

// "Runtime error N" on standard output, exit status N. Runs the fatal-end
// hook first (the singular-matrix end and the range checks of the plot leave
// their picture too); a fault inside the hook itself skips it.
[[noreturn]] void RuntimeError(int code);
[[noreturn]] void RangeFault();      // 201
[[noreturn]] void IntegerOverflow(); // 215

// "Runtime error N: <path>: <reason>", exit status N; N from the errno value
// (and, for a missing entry, from whether the path's directory exists). Runs
// the fatal-end hook first, as RuntimeError does.
[[noreturn]] void IoError(int errnoValue, std::string_view path);
// The same with the number and the reason given.
[[noreturn]] void IoError(int code, std::string_view path, std::string_view reason);
// 3 for a missing entry on the way (ENOENT, ENOTDIR, ...), 5 for denied
// access (EACCES, EPERM, EROFS, EISDIR), 101 for anything else.
int IoErrorCode(int errnoValue);
// As above, but ENOENT in a directory that exists is 2 (file not found).
int IoErrorCode(int errnoValue, std::string_view path);

// A fatal end of the system itself (iteration limit, invalid integrator call,
// the singular-matrix end): runs the fatal-end hook (the graphics snapshot),
// restores the terminal and exits with `status`.
[[noreturn]] void FatalEnd(int status);

// Ends the process by `sig` as its default action would, so that the parent
// sees the signal: the terminal restoration and the end hooks first, then the
// last word. Async-signal-safe.
[[noreturn]] void EndBySignal(int sig);

// A fatal end of the system that reports as a run-time error (the
// singular-matrix end): the fatal-end hook first, then the report of
// RuntimeError(code), the exit status `status`.
[[noreturn]] void FatalRuntimeError(int code, int status);

// How work run by RunDeferringEnds would have ended the program.
struct DeferredEnd {
  enum class Kind { None, Trap, Report, Fatal };
  Kind kind = Kind::None;
  int code = 0;       // the error number, or the exit status of a fatal end
  std::string suffix; // what follows "Runtime error N" on its line
};

// Runs work(ctx) on this thread with every end of the program held back: a
// floating-point trap, a run-time error or a fatal end inside it stops the
// work and is returned instead. The floating-point environment is restored.
//
// The stop is a siglongjmp from where the end happens (for a trap, from the
// signal handler) back into this function: the frames in between are
// abandoned, not unwound, and no destructor of theirs runs. That is sound only
// for work that, wherever it can end, holds nothing that needs destruction,
// release or completion: no live std::string or container, no lock, no
// half-made update of state shared with other threads. The work run here is
// one trajectory of the shooting layer, and it qualifies: its frames (RKF,
// the integrator, the model's hooks) hold fixed-size arrays, scalars and
// views; it writes its messages into its own capture buffer, and a message's
// strings are gone before the fatal end that may follow it; the formatting of
// the reals in a message cannot trap; the ends below write their report text
// straight into the DeferredEnd, outside the abandoned frames. Work that
// breaks these rules must not run here.
DeferredEnd RunDeferringEnds(void (*work)(void *), void *ctx);
// Ends the program exactly as the held-back end would have.
[[noreturn]] void EndAsDeferred(const DeferredEnd &end);

// Work that must happen before a fatal end of the system (not before a trap).
using FatalEndHook = void (*)();
void SetFatalEndHook(FatalEndHook hook);

// Further work on the same ends, right after the fatal-end hook: the
// pictures drawn from the run's data, which need to know how the run ends.
// `status` is the exit status the end will have; `runtimeError` says whether
// it reports "Runtime error <status>".
using FatalEndWork = void (*)(int status, bool runtimeError);
void SetFatalEndWork(FatalEndWork work);

// Terminal restoration, called first on every way out. Must be
// async-signal-safe. Set by the console.
using RestoreHook = void (*)();
void SetRestoreHook(RestoreHook hook);

// Work on every way out through the fault handling (a trap, an end signal, a
// run-time error, a fatal end), run right after the terminal restoration and
// before any report is written. Must be async-signal-safe. Up to
// kMaxEndHooks hooks, run in the order they were added; adding one twice
// keeps one. False when the table is full.
constexpr int kMaxEndHooks = 4;
using EndHook = void (*)();
bool AddEndHook(EndHook hook);

// How the program ended, for the last word of the run.
enum class EndWay { Normal, Fatal, RuntimeError, Signal };
// Said once, on whichever way out comes first, after its report: `code` is
// the exit status, the error number or the signal. Must be
// async-signal-safe (a trap or a signal may call it).
using LastWordHook = void (*)(EndWay way, int code);
void SetLastWordHook(LastWordHook hook);
// Calls the hook unless it was called before. Async-signal-safe.
void SayLastWord(EndWay way, int code);
// Job control. When a stop signal (SIGTSTP, SIGTTIN, SIGTTOU) arrives, the
// terminal hook `onStop` runs, then the stop hooks, then the process stops;
// on SIGCONT `onContinue` runs. All must be async-signal-safe. Set by the
// console (terminal mode) and the progress display (its line); the stop
// hooks follow the rules of AddEndHook.
using JobControlHook = void (*)();
void SetTerminalJobControlHooks(JobControlHook onStop, JobControlHook onContinue);
bool AddStopHook(EndHook hook);

} // namespace zanfel
