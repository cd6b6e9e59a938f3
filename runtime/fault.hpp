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
// 3 for a missing entry on the way (ENOENT, ENOTDIR, ...), 5 for denied
// access (EACCES, EPERM, EROFS, EISDIR), 101 for anything else.
int IoErrorCode(int errnoValue);
// As above, but ENOENT in a directory that exists is 2 (file not found).
int IoErrorCode(int errnoValue, std::string_view path);

// A fatal end of the system itself (iteration limit, invalid integrator call,
// the singular-matrix end): runs the fatal-end hook (the graphics snapshot),
// restores the terminal and exits with `status`.
[[noreturn]] void FatalEnd(int status);

// A fatal end of the system that reports as a run-time error (the
// singular-matrix end): the fatal-end hook first, then RuntimeError(code).
[[noreturn]] void FatalRuntimeError(int code);

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

} // namespace zanfel
