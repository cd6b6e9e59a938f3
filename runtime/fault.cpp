// Minimal fault reporting; the full handling (traps, signals, terminal)
// replaces this.
#include "runtime/fault.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace zanfel {

namespace {
FatalEndHook fatalHook = nullptr;
RestoreHook restoreHook = nullptr;

void WriteAll(const char *s, size_t n) {
  while (n > 0) {
    ssize_t w = write(1, s, n);
    if (w <= 0)
      return;
    s += w;
    n -= static_cast<size_t>(w);
  }
}
} // namespace

void InstallFaultHandling() {}

void RuntimeError(int code) {
  if (restoreHook)
    restoreHook();
  std::string s = "Runtime error " + std::to_string(code) + "\n";
  WriteAll(s.data(), s.size());
  _exit(code);
}
void RangeFault() { RuntimeError(kRangeCheck); }
void IntegerOverflow() { RuntimeError(kIntegerOverflow); }

int IoErrorCode(int e) {
  switch (e) {
  case ENOENT:
    return kPathNotFound;
  case EACCES:
  case EPERM:
  case EROFS:
    return kAccessDenied;
  default:
    return kDiskWriteError;
  }
}

void IoError(int e, std::string_view path) {
  if (restoreHook)
    restoreHook();
  int code = IoErrorCode(e);
  std::string s = "Runtime error " + std::to_string(code) + ": " + std::string(path) + ": " +
                  std::strerror(e) + "\n";
  WriteAll(s.data(), s.size());
  _exit(code);
}

void FatalEnd(int status) {
  if (fatalHook)
    fatalHook();
  if (restoreHook)
    restoreHook();
  _exit(status);
}

void SetFatalEndHook(FatalEndHook hook) { fatalHook = hook; }
void SetRestoreHook(RestoreHook hook) { restoreHook = hook; }

} // namespace zanfel
