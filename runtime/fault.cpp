// Run-time faults: the floating-point traps, the signals that end a run and
// the reports that end the program.
//
// Every way out writes its report with write(2) on descriptor 1 and leaves
// with _exit: the results file flushes each finished record itself, and
// nothing else may run (no destructors, no atexit work) once a fault is
// known.
#include "runtime/fault.hpp"
#include "runtime/write_all.hpp"

#include <cerrno>
#include <cfenv>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zanfel {

namespace {

// Read from signal handlers: plain pointers written once at start-up.
volatile FatalEndHook fatalHook = nullptr;
volatile FatalEndWork fatalWork = nullptr;
volatile RestoreHook restoreHook = nullptr;
// Filled before the count grows, so that a handler never sees a slot that is
// not yet written.
volatile EndHook endHooks[kMaxEndHooks] = {};
volatile sig_atomic_t endHookCount = 0;
// Set while the fatal-end hook runs, so that a fault inside it (say an I/O
// error while the snapshot is written) reports itself instead of looping.
volatile sig_atomic_t inFatalHook = 0;

// Async-signal-safe.
void WriteAll(const char *s, size_t n) {
  zanfel::WriteAll(1, s, n);
}

// "Runtime error N" into buf without any library call that might allocate;
// returns the length. Async-signal-safe.
size_t FormatReport(char *buf, int code) {
  static const char prefix[] = "Runtime error ";
  size_t n = sizeof prefix - 1;
  std::memcpy(buf, prefix, n);
  char digits[12];
  int k = 0;
  unsigned v = code < 0 ? 0u : static_cast<unsigned>(code);
  do {
    digits[k++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (k > 0)
    buf[n++] = digits[--k];
  return n;
}

// The held-back end of the work running on this thread, if any.
struct Deferral {
  sigjmp_buf jump;
  DeferredEnd *end;
};
thread_local Deferral *deferral = nullptr;

[[noreturn]] void Defer(DeferredEnd::Kind kind, int code) {
  Deferral *d = deferral;
  d->end->kind = kind;
  d->end->code = code;
  siglongjmp(d->jump, 1);
}

// The terminal mode first, then the rest of the end work (the status line).
void RestoreTerminalNow() {
  RestoreHook hook = restoreHook;
  if (hook)
    hook();
  for (sig_atomic_t i = 0; i < endHookCount; ++i) {
    EndHook end = endHooks[i];
    if (end)
      end();
  }
}

// The fatal-end work of the system (the graphics snapshot, then the
// pictures drawn from the run's data), once.
void RunFatalHook(int status, bool runtimeError) {
  if (inFatalHook)
    return;
  inFatalHook = 1;
  FatalEndHook hook = fatalHook;
  if (hook)
    hook();
  FatalEndWork work = fatalWork;
  if (work)
    work(status, runtimeError);
}

int TrapCode(const siginfo_t *info) {
  switch (info->si_code) {
  case FPE_FLTDIV:
  case FPE_INTDIV:
    return kDivisionByZero;
  case FPE_FLTOVF:
    return kFloatOverflow;
  default:
    return kInvalidFloatOp;
  }
}

[[noreturn]] void EndWithTrapReport(int code) {
  RestoreTerminalNow();
  char buf[32];
  size_t n = FormatReport(buf, code);
  buf[n++] = '\n';
  WriteAll(buf, n);
  _exit(code);
}

void OnFloatingPointTrap(int, siginfo_t *info, void *) {
  // The kernel hands a signal handler a clean floating-point state, so the
  // pending exception cannot fire again in here. Returning would restart the
  // faulting instruction: the handler never returns.
  if (deferral)
    Defer(DeferredEnd::Kind::Trap, TrapCode(info));
  EndWithTrapReport(TrapCode(info));
}

// Interrupt, termination and hang-up end the run as they would without the
// handler (the parent sees the signal), only with the terminal mode restored.
void OnEndSignal(int sig) {
  RestoreTerminalNow();
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

// Report text and exit for the paths outside signal handlers: whatever stdio
// holds for standard output goes first, so the report follows it in order.
[[noreturn]] void EndWithReport(int code, const std::string &suffix) {
  if (deferral) {
    deferral->end->suffix = suffix;
    Defer(DeferredEnd::Kind::Report, code);
  }
  std::fflush(stdout);
  RunFatalHook(code, true);
  RestoreTerminalNow();
  char buf[32];
  std::string line(buf, FormatReport(buf, code));
  line += suffix;
  line += '\n';
  WriteAll(line.data(), line.size());
  _exit(code);
}

// Whether the directory part of path exists as a directory.
bool DirectoryOfPathExists(std::string_view path) {
  std::string p(path);
  size_t slash = p.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void InstallFaultHandling() {
  std::feclearexcept(FE_ALL_EXCEPT);
  // glibc unmasks the exceptions in both the x87 control word (long double)
  // and the SSE control register.
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);

  struct sigaction fpe {};
  fpe.sa_sigaction = OnFloatingPointTrap;
  fpe.sa_flags = SA_SIGINFO;
  sigemptyset(&fpe.sa_mask);
  sigaction(SIGFPE, &fpe, nullptr);

  struct sigaction end {};
  end.sa_handler = OnEndSignal;
  sigemptyset(&end.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&end.sa_mask, sig);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the parent chose to ignore (nohup, a background job) stays
    // ignored.
    struct sigaction old {};
    sigaction(sig, nullptr, &old);
    if (old.sa_handler != SIG_IGN)
      sigaction(sig, &end, nullptr);
  }
}

void RuntimeError(int code) {
  EndWithReport(code, "");
}
void FatalRuntimeError(int code) {
  if (deferral) {
    deferral->end->suffix.clear();
    Defer(DeferredEnd::Kind::Report, code);
  }
  std::fflush(stdout);
  RunFatalHook(code, true);
  RuntimeError(code);
}
void RangeFault() {
  RuntimeError(kRangeCheck);
}
void IntegerOverflow() {
  RuntimeError(kIntegerOverflow);
}

int IoErrorCode(int e) {
  switch (e) {
  case ENOENT:
  case ENOTDIR:
  case ENAMETOOLONG:
  case ELOOP:
    return kPathNotFound;
  case EACCES:
  case EPERM:
  case EROFS:
  case EISDIR:
    return kAccessDenied;
  default:
    return kDiskWriteError;
  }
}

int IoErrorCode(int e, std::string_view path) {
  // A missing file in a directory that exists is "file not found"; a missing
  // directory on the way (the usual case when the file is created) is "path
  // not found".
  if (e == ENOENT && DirectoryOfPathExists(path))
    return kFileNotFound;
  return IoErrorCode(e);
}

void IoError(int e, std::string_view path) {
  int code = IoErrorCode(e, path);
  EndWithReport(code, ": " + std::string(path) + ": " + std::strerror(e));
}

void FatalEnd(int status) {
  if (deferral)
    Defer(DeferredEnd::Kind::Fatal, status);
  std::fflush(stdout);
  RunFatalHook(status, false);
  RestoreTerminalNow();
  _exit(status);
}

void SetFatalEndHook(FatalEndHook hook) {
  fatalHook = hook;
}
void SetFatalEndWork(FatalEndWork work) {
  fatalWork = work;
}
void SetRestoreHook(RestoreHook hook) {
  restoreHook = hook;
}

DeferredEnd RunDeferringEnds(void (*work)(void *), void *ctx) {
  DeferredEnd end;
  fenv_t env;
  fegetenv(&env);
  Deferral d{};
  d.end = &end;
  Deferral *outer = deferral;
  if (sigsetjmp(d.jump, 1) == 0) {
    deferral = &d;
    work(ctx);
  } else {
    // After a trap the kernel left the handler's clean, all-masked state:
    // the traps come back with the environment of the work's start.
    feclearexcept(FE_ALL_EXCEPT);
    fesetenv(&env);
  }
  deferral = outer;
  return end;
}

void EndAsDeferred(const DeferredEnd &end) {
  switch (end.kind) {
  case DeferredEnd::Kind::Trap:
    EndWithTrapReport(end.code);
  case DeferredEnd::Kind::Report:
    // Every reported end outside a trap takes the fatal-end work first.
    EndWithReport(end.code, end.suffix);
  case DeferredEnd::Kind::Fatal:
  case DeferredEnd::Kind::None:
    break;
  }
  FatalEnd(end.code);
}

bool AddEndHook(EndHook hook) {
  for (sig_atomic_t i = 0; i < endHookCount; ++i)
    if (endHooks[i] == hook)
      return true;
  if (endHookCount >= kMaxEndHooks)
    return false;
  endHooks[endHookCount] = hook;
  endHookCount = endHookCount + 1;
  return true;
}

} // namespace zanfel
