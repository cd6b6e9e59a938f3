// The wait for Enter: standard input, the graphics window and the stop
// signals watched at once, with a prompt line on the terminal meanwhile.
#include "runtime/console.hpp"
#include "runtime/write_all.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/interrupt.hpp"
#include "runtime/line_over.hpp"
#include "runtime/signals.hpp"

namespace zanfel {

namespace {

WaitSource windowWait = nullptr;

// The window is asked often enough to be repainted within a frame or two; a
// wait without one only has the stop signals to look out for.
constexpr int kWindowPollMs = 20;
constexpr int kPlainPollMs = 200;

// Where the prompt line is shown; -1 while none is. Read by ErasePrompt
// inside signal handlers.
volatile sig_atomic_t promptFd = -1;
volatile sig_atomic_t promptLength = 0;
int terminalOfStdin = -1; // opened once, when standard error is not a terminal

// The prompt goes to standard error when that is a terminal, otherwise to the
// terminal of standard input: a redirected standard error (a log) gets no
// prompt, and the person at the terminal still sees one.
int PromptTerminal() {
  if (isatty(2))
    return 2;
  if (terminalOfStdin < 0) {
    const char *name = ttyname(0);
    if (name)
      terminalOfStdin = open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  }
  return terminalOfStdin;
}

// On every way out while the prompt is shown (a stop, a hang-up).
// Async-signal-safe.
void ErasePrompt() {
  const int fd = promptFd;
  if (fd < 0)
    return;
  promptFd = -1;
  const int savedErrno = errno;
  EraseLineOver(fd, static_cast<std::size_t>(promptLength));
  errno = savedErrno;
}

// A prompt erased when the run was stopped (Ctrl-Z), to show again once the
// run is back in the foreground.
volatile sig_atomic_t promptStopped = 0;

// Async-signal-safe.
void ErasePromptAtStop() {
  if (promptFd < 0)
    return;
  ErasePrompt();
  promptStopped = 1;
}

void ShowPrompt(bool window) {
  const int fd = PromptTerminal();
  if (fd < 0)
    return;
  BeforeConsoleText(); // the status line makes room
  const std::string text =
      window ? "Press Enter to continue (or Return in the window)" : "Press Enter to continue";
  const std::string fitted = FitToTerminal(fd, text);
  const std::string line = LineOver(fitted, 0);
  DumbTerminal(); // read before ErasePrompt can need it in a handler
  promptLength = static_cast<sig_atomic_t>(fitted.size());
  AddEndHook(ErasePrompt);
  AddJobStopHook(ErasePromptAtStop);
  promptFd = fd;
  WriteAll(fd, line.data(), line.size());
}

// After the wait. An Enter typed during the wait was echoed and moved the
// cursor to the next line: the prompt is one line up then.
void ErasePromptAfterWait(bool enterEchoed) {
  const int fd = promptFd;
  if (fd < 0)
    return;
  promptFd = -1;
  static const char up[] = "\033[A\r\033[K";
  if (!enterEchoed)
    EraseLineOver(fd, static_cast<std::size_t>(promptLength));
  else if (!DumbTerminal()) // a dumb terminal cannot go up: the prompt stays
    WriteAll(fd, up, sizeof up - 1);
}

bool SameTerminal(int a, int b) {
  struct stat sa {
  }, sb{};
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && S_ISCHR(sa.st_mode) &&
         sa.st_rdev == sb.st_rdev;
}

// Whether an Enter typed on standard input's terminal shows on the prompt's.
bool EnterEchoesOnPrompt() {
  struct termios mode {};
  if (promptFd < 0 || tcgetattr(0, &mode) != 0)
    return false;
  return (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & (ECHO | ECHONL)) != 0 &&
         SameTerminal(0, promptFd);
}

// Bytes already typed on the terminal before the wait: in the run mode they
// were not echoed.
long TypedAhead() {
  int n = 0;
  if (!isatty(0) || ioctl(0, FIONREAD, &n) != 0)
    return 0;
  return n;
}

enum class WaitEnd { Line, EndOfInput, Window };

// Reads standard input up to its line end while the window and the stop
// signals are looked at; `bytes` counts what was read.
WaitEnd ReadLineOrWindow(long &bytes, bool readStdin) {
  if (!readStdin && !windowWait)
    return WaitEnd::EndOfInput;
  for (;;) {
    if (InterruptSignal() != 0) {
      ErasePrompt();
      EndIfInterrupted();
    }
    if (windowWait && windowWait())
      return WaitEnd::Window;
    if (promptStopped && !TerminalInBackground(0)) {
      promptStopped = 0;
      ShowPrompt(windowWait != nullptr);
    }
    struct pollfd p {};
    p.fd = readStdin ? 0 : -1;
    p.events = POLLIN;
    const int r = poll(&p, 1, windowWait ? kWindowPollMs : kPlainPollMs);
    if (r < 0 && errno == EINTR)
      continue;
    if (r < 0 || (r > 0 && (p.revents & POLLNVAL) != 0))
      return WaitEnd::EndOfInput; // a closed descriptor
    if (r == 0)
      continue;
    char c;
    const ssize_t n = read(0, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (n <= 0)
      return WaitEnd::EndOfInput;
    ++bytes;
    if (c == '\n')
      return WaitEnd::Line;
  }
}

} // namespace

void SetWindowWaitSource(WaitSource source) {
  windowWait = source;
}

void WaitForEnter() {
  std::fflush(stdout);
  const bool wasRunMode = InRunMode();
  // A terminal in the background is the foreground job's: the window alone
  // can answer, and without one the wait is over at once.
  const bool readStdin = !TerminalInBackground(0);
  // The key that stopped the sweep, or anything typed before, belongs to the
  // sweep and does not answer this wait.
  if (isatty(0) && readStdin)
    tcflush(0, TCIFLUSH);
  const long typedAhead = TypedAhead();
  RestoreTerminal();
  // A window closed before the wait has answered it already.
  if (!(windowWait && windowWait())) {
    if (isatty(0) && readStdin)
      ShowPrompt(windowWait != nullptr);
    long bytes = 0;
    const WaitEnd end = ReadLineOrWindow(bytes, readStdin);
    promptStopped = 0;
    ErasePromptAfterWait(end == WaitEnd::Line && bytes > typedAhead && EnterEchoesOnPrompt());
    // What was typed on the terminal belonged to this wait.
    if (end == WaitEnd::Window && isatty(0))
      tcflush(0, TCIFLUSH);
  }
  if (wasRunMode)
    EnterRunMode();
}

} // namespace zanfel
