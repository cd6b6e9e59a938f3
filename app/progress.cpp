#include "app/progress.hpp"
#include "app/summary.hpp"
#include "runtime/write_all.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

#include "graph/graph.hpp"
#include "report/format.hpp"
#include "runtime/console.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/line_over.hpp"
#include "runtime/signals.hpp"

namespace zanfel::progress {

namespace {

using Clock = std::chrono::steady_clock;
// A few updates a second are enough to see a sweep move; more would only
// cost terminal and window-manager traffic.
constexpr auto kInterval = std::chrono::milliseconds(250);

std::string programName = "ZANFEL";
bool stderrIsTerminal = false;
REAL lastP = 0.0L;
long lastRecords = 0;
// Whether the window was ever seen shown: a window gone since then was closed
// by the user, which ends a sweep as a key does.
bool windowSeen = false;
bool shownBefore = false;
Clock::time_point lastShown;
// Read by EraseLine inside signal handlers.
volatile sig_atomic_t lineShown = 0;
volatile sig_atomic_t lineLength = 0; // characters of the line shown

void WriteToStderr(const char *s, size_t n) {
  WriteAll(2, s, n);
}

void Show(const std::string &text) {
  shownBefore = true;
  lastShown = Clock::now();
  graph::SetWindowTitle(text);
  if (graph::WindowShown()) {
    windowSeen = true;
    EraseLine(); // shown before the window opened
    return;
  }
  if (!stderrIsTerminal)
    return;
  const std::string fitted = FitToTerminal(2, text);
  const std::string line = LineOver(fitted, lineShown ? static_cast<std::size_t>(lineLength) : 0);
  // Marked before the write: an end signal in the middle of it still erases.
  if (static_cast<sig_atomic_t>(fitted.size()) > lineLength || !lineShown)
    lineLength = static_cast<sig_atomic_t>(fitted.size());
  lineShown = 1;
  WriteToStderr(line.data(), line.size());
}

} // namespace

std::string StatusText(std::string_view program, REAL P, long records, std::string_view ended) {
  std::string text(program);
  if (records > 0)
    text += "  P = " + Fixed(P, 12, 8) + "  records " + std::to_string(records);
  if (!ended.empty()) {
    text += "  ";
    text += ended;
  }
  return text;
}

void Start(std::string_view program) {
  programName = std::string(program);
  stderrIsTerminal = isatty(2) == 1;
  DumbTerminal(); // read now, before a signal handler needs it
  SetBeforeMessageHook(EraseLine);
  AddEndHook(EraseLine);
  AddJobStopHook(EraseLine);
}

void AfterRecord(REAL P, long records) {
  lastP = P;
  lastRecords = records;
  if (shownBefore && Clock::now() - lastShown < kInterval)
    return;
  Show(StatusText(programName, lastP, lastRecords, ""));
}

void NoteWindow() {
  windowSeen = windowSeen || graph::WindowShown();
}

bool WindowSeen() {
  return windowSeen;
}

const char *SweepEndText(SweepEnd why, bool windowWasShown) {
  if (why == SweepEnd::LeftRange)
    return "P left its range";
  if (why == SweepEnd::Records)
    return "stopped after the records asked for (--records)";
  if (why == SweepEnd::MinStep)
    return "the step along the curve fell below its minimum";
  if (windowWasShown && !graph::WindowShown())
    return graph::WindowLost() ? "display lost" : "window closed";
  return "stopped by a key";
}

void ShowWaiting() {
  // The summary of the run as it stands, and what it waits for.
  Show(summary::WaitingText() + " - waiting for Enter");
}

void EraseLine() {
  if (!lineShown)
    return;
  lineShown = 0;
  const int savedErrno = errno; // a signal handler may have interrupted errno's reader
  EraseLineOver(2, static_cast<std::size_t>(lineLength));
  errno = savedErrno;
}

void WaitForEnterShowingProgress() {
  ShowWaiting();
  WaitForEnter();
  EraseLine();
}

} // namespace zanfel::progress
