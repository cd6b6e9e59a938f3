// Run-time faults and the program's fatal ends: the reports and the mapping
// of errno values to error numbers. What runs on each end is the exit
// sequence (runtime/exit_sequence.hpp).
//
// Every fault ends the program with "Runtime error N" on standard output and
// N as exit status, after the terminal mode has been restored. Inside
// RunDeferringEnds (runtime/deferred_end.hpp) each of these ends is held back
// instead.
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

// A fatal end of the system that reports as a run-time error (the
// singular-matrix end): the fatal-end hook first, then the report of
// RuntimeError(code), the exit status `status`.
[[noreturn]] void FatalRuntimeError(int code, int status);

} // namespace zanfel
