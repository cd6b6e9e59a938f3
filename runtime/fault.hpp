// Run-time faults and the program's fatal ends.
//
// Every fault ends the program with "Runtime error N" on standard output and
// N as exit status, after the terminal mode has been restored.
#pragma once

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
// program start.
void InstallFaultHandling();

// "Runtime error N" on standard output, exit status N.
[[noreturn]] void RuntimeError(int code);
[[noreturn]] void RangeFault();      // 201
[[noreturn]] void IntegerOverflow(); // 215

// "Runtime error N: <path>: <reason>", exit status N; N from the errno value.
[[noreturn]] void IoError(int errnoValue, std::string_view path);
int IoErrorCode(int errnoValue);

// A fatal end of the system itself (iteration limit, invalid integrator call,
// the singular-matrix end): runs the fatal-end hook (the graphics snapshot),
// restores the terminal and exits with `status`.
[[noreturn]] void FatalEnd(int status);

// Work that must happen before a fatal end of the system (not before a trap).
using FatalEndHook = void (*)();
void SetFatalEndHook(FatalEndHook hook);

// Terminal restoration, called first on every way out. Must be
// async-signal-safe. Set by the console.
using RestoreHook = void (*)();
void SetRestoreHook(RestoreHook hook);

} // namespace zanfel
