// Installation and handlers of the signals: floating-point traps, end
// signals, job control. What an end does is the exit sequence's business.
#include "runtime/signals.hpp"

#include <cerrno>
#include <cfenv>
#include <unistd.h>

#include "runtime/deferred_end.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"

namespace zanfel {

namespace {

// Read from signal handlers: plain pointers written once at start-up.
volatile JobControlHook jobStopHook = nullptr;
volatile JobControlHook continueHook = nullptr;
HookTable jobStopHooks;

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

void OnFloatingPointTrap(int, siginfo_t *info, void *) {
  // The kernel hands a signal handler a clean floating-point state, so the
  // pending exception cannot fire again in here. Returning would restart the
  // faulting instruction: the handler never returns.
  if (EndsDeferred())
    DeferEnd(DeferredEnd::Kind::Trap, TrapCode(info));
  EndWith(ExitKind::Trap, TrapCode(info));
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
// the handler is put back for the next job stop.
void OnJobStop(int sig) {
  const int savedErrno = errno;
  JobControlHook hook = jobStopHook;
  if (hook)
    hook();
  jobStopHooks.Run();
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

bool IgnoredAtStart(int sig) {
  struct sigaction old {};
  sigaction(sig, nullptr, &old);
  return old.sa_handler == SIG_IGN;
}

// An ignored signal stays ignored (it is not SIG_DFL), and a handler installed by someone else
// before the program started (a sanitizer, a profiler) stays in place.
bool MayTakeOver(int sig) {
  struct sigaction old {};
  if (sigaction(sig, nullptr, &old) != 0)
    return false;
  if ((old.sa_flags & SA_SIGINFO) != 0)
    return old.sa_sigaction == OnFileSizeSignal;
  return old.sa_handler == SIG_DFL || old.sa_handler == OnEndSignal ||
         old.sa_handler == OnJobStop || old.sa_handler == OnContinueSignal;
}

void TakeOver(int sig, const struct sigaction &action) {
  if (MayTakeOver(sig))
    sigaction(sig, &action, nullptr);
}

void InstallTrapHandler() {
  std::feclearexcept(FE_ALL_EXCEPT);
  // glibc unmasks the exceptions in both the x87 control word (long double)
  // and the SSE control register.
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);

  struct sigaction fpe {};
  fpe.sa_sigaction = OnFloatingPointTrap;
  fpe.sa_flags = SA_SIGINFO;
  sigemptyset(&fpe.sa_mask);
  sigaction(SIGFPE, &fpe, nullptr);
}

void InstallEndSignalHandlers() {
  struct sigaction end {};
  end.sa_handler = OnEndSignal;
  sigemptyset(&end.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&end.sa_mask, sig);
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    InstallUnlessIgnored(sig, end);
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
  struct sigaction jobStop {};
  jobStop.sa_handler = OnJobStop;
  jobStop.sa_flags = SA_RESTART;
  sigemptyset(&jobStop.sa_mask);
  for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU})
    sigaddset(&jobStop.sa_mask, sig);
  for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU})
    TakeOver(sig, jobStop);

  struct sigaction cont {};
  cont.sa_handler = OnContinueSignal;
  cont.sa_flags = SA_RESTART;
  sigemptyset(&cont.sa_mask);
  TakeOver(SIGCONT, cont);
}

} // namespace

void InstallUnlessIgnored(int sig, const struct sigaction &action) {
  if (!IgnoredAtStart(sig))
    sigaction(sig, &action, nullptr);
}

void InstallFaultHandling() {
  InstallTrapHandler();
  InstallEndSignalHandlers();
  InstallOtherEndSignalHandlers();
  InstallJobControlHandlers();
}

bool AddJobStopHook(EndHook hook) {
  return jobStopHooks.Add(hook);
}

void SetTerminalJobControlHooks(JobControlHook onJobStop, JobControlHook onContinue) {
  jobStopHook = onJobStop;
  continueHook = onContinue;
}

} // namespace zanfel
