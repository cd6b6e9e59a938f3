// The exit sequence: what runs on each way out, in order.
#include "runtime/exit_sequence.hpp"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "runtime/write_all.hpp"

namespace zanfel {

namespace {

// Read from signal handlers: plain pointers written once at start-up.
volatile FatalEndHook fatalHook = nullptr;
volatile FatalEndWork fatalWork = nullptr;
volatile RestoreHook restoreHook = nullptr;
volatile LastWordHook lastWordHook = nullptr;
HookTable endHooks;
// Set while the fatal-end work runs, so that a fault inside it (say an I/O
// error while the snapshot is written) reports itself instead of looping.
volatile sig_atomic_t inFatalWork = 0;
volatile sig_atomic_t lastWordSaid = 0;

enum class Step {
  FlushStdout,     // whatever stdio holds goes before the report
  FatalEndWork,    // the fatal-end hook, then the fatal-end work; once
  RestoreTerminal, // the terminal's own mode
  EndHooks,        // the status line, the prompt, the results file
  Report,          // "Runtime error N" and its suffix
  LastWord,        // the summary, once
  Leave,           // _exit, or the signal's default action
};

constexpr unsigned Bit(ExitKind kind) {
  return 1u << static_cast<unsigned>(kind);
}
constexpr unsigned kTrap = Bit(ExitKind::Trap);
constexpr unsigned kReport = Bit(ExitKind::Report);
constexpr unsigned kFatal = Bit(ExitKind::Fatal);
constexpr unsigned kSignal = Bit(ExitKind::Signal);
constexpr unsigned kEvery = kTrap | kReport | kFatal | kSignal;

// The exit sequence. A trap and an end signal come from signal handlers and
// take only the async-signal-safe steps; the system's own ends flush stdio
// and leave their pictures first.
struct ExitStep {
  Step step;
  unsigned ends;
};
constexpr ExitStep kExitSequence[] = {
    {Step::FlushStdout, kReport | kFatal},
    {Step::FatalEndWork, kReport | kFatal},
    {Step::RestoreTerminal, kEvery},
    {Step::EndHooks, kEvery},
    {Step::Report, kTrap | kReport},
    {Step::LastWord, kEvery},
    {Step::Leave, kEvery},
};

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

// The report line; without a suffix (a trap) nothing is allocated.
void WriteReport(int code, std::string_view suffix) {
  char buf[32];
  size_t n = FormatReport(buf, code);
  if (suffix.empty()) {
    buf[n++] = '\n';
    WriteAll(1, buf, n);
    return;
  }
  std::string line(buf, n);
  line += suffix;
  line += '\n';
  WriteAll(1, line.data(), line.size());
}

void RunFatalEndWork(int status, bool runtimeError) {
  if (inFatalWork)
    return;
  inFatalWork = 1;
  FatalEndHook hook = fatalHook;
  if (hook)
    hook();
  FatalEndWork work = fatalWork;
  if (work)
    work(status, runtimeError);
}

EndWay WayOf(ExitKind kind) {
  switch (kind) {
  case ExitKind::Fatal:
    return EndWay::Fatal;
  case ExitKind::Signal:
    return EndWay::Signal;
  case ExitKind::Trap:
  case ExitKind::Report:
    break;
  }
  return EndWay::RuntimeError;
}

// Interrupt, termination and hang-up end the run as they would without the
// handler (the parent sees the signal).
[[noreturn]] void LeaveBySignal(int sig) {
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

void RunStep(Step step, ExitKind kind, int code, std::string_view suffix, int status) {
  switch (step) {
  case Step::FlushStdout:
    std::fflush(stdout);
    break;
  case Step::FatalEndWork:
    RunFatalEndWork(code, kind == ExitKind::Report);
    break;
  case Step::RestoreTerminal:
    if (RestoreHook hook = restoreHook)
      hook();
    break;
  case Step::EndHooks:
    endHooks.Run();
    break;
  case Step::Report:
    WriteReport(code, suffix);
    break;
  case Step::LastWord:
    SayLastWord(WayOf(kind), code);
    break;
  case Step::Leave:
    if (kind == ExitKind::Signal)
      LeaveBySignal(code);
    _exit(status < 0 ? code : status);
  }
}

} // namespace

void EndWith(ExitKind kind, int code, std::string_view suffix, int status) {
  for (const ExitStep &s : kExitSequence)
    if ((s.ends & Bit(kind)) != 0)
      RunStep(s.step, kind, code, suffix, status);
  _exit(code); // not reached: the sequence ends with Leave
}

void EndBySignal(int sig) {
  EndWith(ExitKind::Signal, sig);
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
bool AddEndHook(EndHook hook) {
  return endHooks.Add(hook);
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

} // namespace zanfel
