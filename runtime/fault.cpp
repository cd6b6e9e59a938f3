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
volatile JobControlHook stopHook = nullptr;
volatile JobControlHook continueHook = nullptr;

// Hooks run by signal handlers. A slot is filled before the count grows, so
// that a handler never sees a slot that is not yet written.
struct HookTable {
  volatile EndHook hooks[kMaxEndHooks] = {};
  volatile sig_atomic_t count = 0;

  bool Add(EndHook hook) {
    for (sig_atomic_t i = 0; i < count; ++i)
      if (hooks[i] == hook)
        return true;
    if (count >= kMaxEndHooks)
      return false;
    hooks[count] = hook;
    count = count + 1;
    return true;
  }
  void Run() const {
    for (sig_atomic_t i = 0; i < count; ++i) {
      EndHook hook = hooks[i];
      if (hook)
        hook();
    }
  }
};
HookTable endHooks;
HookTable stopHooks;
// Set while the fatal-end hook runs, so that a fault inside it (say an I/O
// error while the snapshot is written) reports itself instead of looping.
volatile sig_atomic_t inFatalHook = 0;
// The last word of the run (its summary), said once whichever way it ends.
volatile LastWordHook lastWordHook = nullptr;
volatile sig_atomic_t lastWordSaid = 0;

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
  endHooks.Run();
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
  SayLastWord(EndWay::RuntimeError, code);
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

void OnEndSignal(int sig) {
  EndBySignal(sig);
}

// The signals whose default action ends the process, apart from SIGKILL,
// SIGFPE (the traps), SIGINT, SIGTERM and SIGHUP (above) and SIGXFSZ (below);
// the real-time signals are added at installation.
constexpr int kOtherEndSignals[] = {SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGSEGV,
                                    SIGUSR1,   SIGUSR2, SIGPIPE, SIGALRM, SIGSTKFLT, SIGXCPU,
                                    SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

// A write beyond the file-size limit makes the kernel send SIGXFSZ as if the
// process had sent it to itself; the write then fails with EFBIG and is
// reported like any other failed write. Sent from outside, the signal ends
// the run as the other end signals do.
void OnFileSizeSignal(int sig, siginfo_t *info, void *) {
  if (info->si_code == SI_USER && info->si_pid == getpid())
    return;
  OnEndSignal(sig);
}

// Ctrl-Z and the background-terminal stops: the terminal gets its own mode
// back and the status line goes before the process stops; once continued,
// the handler is put back for the next stop.
void OnStopSignal(int sig) {
  const int savedErrno = errno;
  JobControlHook hook = stopHook;
  if (hook)
    hook();
  stopHooks.Run();
  struct sigaction ours {};
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, &ours);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig); // the process stops here until SIGCONT
  sigprocmask(SIG_BLOCK, &set, nullptr);
  sigaction(sig, &ours, nullptr);
  errno = savedErrno;
}

void OnContinueSignal(int) {
  const int savedErrno = errno;
  JobControlHook hook = continueHook;
  if (hook)
    hook();
  errno = savedErrno;
}

// A signal the parent chose to ignore stays ignored, and a handler installed
// by someone else before the program started (a sanitizer, a profiler) stays
// in place.
bool MayTakeOver(int sig) {
  struct sigaction old {};
  if (sigaction(sig, nullptr, &old) != 0)
    return false;
  if ((old.sa_flags & SA_SIGINFO) != 0)
    return old.sa_sigaction == OnFileSizeSignal;
  return old.sa_handler == SIG_DFL || old.sa_handler == OnEndSignal ||
         old.sa_handler == OnStopSignal || old.sa_handler == OnContinueSignal;
}

void TakeOver(int sig, const struct sigaction &action) {
  if (MayTakeOver(sig))
    sigaction(sig, &action, nullptr);
}

void InstallOtherEndSignalHandlers() {
  struct sigaction end {};
  end.sa_handler = OnEndSignal;
  // Nothing else runs while the run ends.
  sigfillset(&end.sa_mask);
  for (int sig : kOtherEndSignals)
    TakeOver(sig, end);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
    TakeOver(sig, end);

  struct sigaction fileSize {};
  fileSize.sa_sigaction = OnFileSizeSignal;
  fileSize.sa_flags = SA_SIGINFO | SA_RESTART;
  sigfillset(&fileSize.sa_mask);
  TakeOver(SIGXFSZ, fileSize);
}

void InstallJobControlHandlers() {
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU})
    sigaddset(&stop.sa_mask, sig);
  for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU})
    TakeOver(sig, stop);

  struct sigaction cont {};
  cont.sa_handler = OnContinueSignal;
  cont.sa_flags = SA_RESTART;
  sigemptyset(&cont.sa_mask);
  TakeOver(SIGCONT, cont);
}

// Report text and exit for the paths outside signal handlers: whatever stdio
// holds for standard output goes first, so the report follows it in order.
// The suffix is a view, so that no string lives in the frames a deferred end
// leaves behind.
[[noreturn]] void EndWithReport(int code, std::string_view suffix, int status = -1) {
  if (deferral) {
    deferral->end->suffix.assign(suffix);
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
  SayLastWord(EndWay::RuntimeError, code);
  _exit(status < 0 ? code : status);
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
  InstallOtherEndSignalHandlers();
  InstallJobControlHandlers();
}

void RuntimeError(int code) {
  EndWithReport(code, {});
}
void FatalRuntimeError(int code, int status) {
  if (deferral) {
    deferral->end->suffix.clear();
    Defer(DeferredEnd::Kind::Report, code);
  }
  std::fflush(stdout);
  RunFatalHook(code, true);
  EndWithReport(code, {}, status);
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

namespace {
// ": <path>: <reason>", appended to text.
void AppendIoReason(std::string &text, std::string_view path, std::string_view reason) {
  text.append(": ").append(path).append(": ").append(reason);
}
} // namespace

void IoError(int e, std::string_view path) {
  IoError(IoErrorCode(e, path), path, std::strerror(e));
}

void IoError(int code, std::string_view path, std::string_view reason) {
  // No string of this frame may be alive when a held-back end jumps out.
  if (deferral) {
    deferral->end->suffix.clear();
    AppendIoReason(deferral->end->suffix, path, reason);
    Defer(DeferredEnd::Kind::Report, code);
  }
  std::string suffix;
  AppendIoReason(suffix, path, reason);
  EndWithReport(code, suffix);
}

void FatalEnd(int status) {
  if (deferral)
    Defer(DeferredEnd::Kind::Fatal, status);
  std::fflush(stdout);
  RunFatalHook(status, false);
  RestoreTerminalNow();
  SayLastWord(EndWay::Fatal, status);
  _exit(status);
}

// Interrupt, termination and hang-up end the run as they would without the
// handler (the parent sees the signal), only with the terminal mode restored.
void EndBySignal(int sig) {
  RestoreTerminalNow();
  SayLastWord(EndWay::Signal, sig);
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

void SetLastWordHook(LastWordHook hook) {
  lastWordHook = hook;
}

void SayLastWord(EndWay way, int code) {
  LastWordHook hook = lastWordHook;
  if (!hook || lastWordSaid)
    return;
  lastWordSaid = 1;
  hook(way, code);
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
  return endHooks.Add(hook);
}

bool AddStopHook(EndHook hook) {
  return stopHooks.Add(hook);
}

void SetTerminalJobControlHooks(JobControlHook onStop, JobControlHook onContinue) {
  stopHook = onStop;
  continueHook = onContinue;
}

} // namespace zanfel
