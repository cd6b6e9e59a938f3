// The ways out of the program and the work each one does, in one ordered
// list (exit_sequence.cpp): terminal restoration, end hooks, the fatal-end
// hook and work, the report, the last word, the exit itself.
//
// Every way out writes its report with write(2) on descriptor 1 and leaves
// with _exit: the results file flushes each finished record itself, and
// nothing else may run (no destructors, no atexit work) once an end is known.
#pragma once

#include <string_view>

#include "runtime/hook_table.hpp"

namespace zanfel {

// The ways out that go through the exit sequence.
enum class ExitKind {
  Trap,   // a floating-point trap: "Runtime error N", from a signal handler
  Report, // a run-time error: "Runtime error N[<suffix>]"
  Fatal,  // a fatal end of the system itself: no report, exit status N
  Signal, // an end signal: the process ends by signal N
};

// Runs the steps of the exit sequence that apply to `kind` and leaves the
// process. `code` is the error number, the exit status or the signal;
// `suffix` follows "Runtime error N" on its line (Report only). For Trap and
// Signal every step is async-signal-safe. `status`, when not negative, is
// the exit status instead of `code` (a report whose end has a status of its
// own).
[[noreturn]] void EndWith(ExitKind kind, int code, std::string_view suffix = {}, int status = -1);

// Ends the process by `sig` as its default action would, so that the parent
// sees the signal: the terminal restoration and the end hooks first, then the
// last word. Async-signal-safe.
[[noreturn]] void EndBySignal(int sig);

// Work that must happen before a fatal end of the system or a run-time error
// (not before a trap or an end signal).
using FatalEndHook = void (*)();
void SetFatalEndHook(FatalEndHook hook);

// Further work on the same ends, right after the fatal-end hook: the
// pictures drawn from the run's data, which need to know how the run ends.
// `status` is the exit status the end will have; `runtimeError` says whether
// it reports "Runtime error <status>".
using FatalEndWork = void (*)(int status, bool runtimeError);
void SetFatalEndWork(FatalEndWork work);

// Terminal restoration, the first step on every way out. Must be
// async-signal-safe. Set by the console.
using RestoreHook = void (*)();
void SetRestoreHook(RestoreHook hook);

// Work on every way out, right after the terminal restoration and before any
// report is written. Must be async-signal-safe. Up to kMaxEndHooks hooks, run
// in the order they were added; adding one twice keeps one. False when the
// table is full.
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

} // namespace zanfel
