#include "app/progress.hpp"
#include "app/summary.hpp"
#include "runtime/write_all.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

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

bool stderrIsTerminal = false;
Clock::time_point started = Clock::now();
Status status;
// The pass's sweep: from startP towards the end of the range it moves to.
REAL sweepStart = 0.0L, sweepEnd = 0.0L;
bool sweepKnown = false;

// Where a repeated console message belongs: the record being solved for.
std::string RepeatNote() {
  const std::string P = summary::NotedPText();
  return "record " + std::to_string(status.records + 1) + (P.empty() ? "" : ", P = " + P);
}
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

// Columns a UTF-8 text takes (every character one).
size_t Columns(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text)
    n += (c & 0xC0) != 0x80;
  return n;
}

std::string Elapsed(double seconds) {
  const long s = static_cast<long>(seconds);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

std::string Printed(const char *format, double v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// The share of the range behind P. Below 10 % with two significant digits:
// a range that is a far bound rather than a goal (family B's 700) would
// otherwise show 0 % for a whole run.
std::string Percent(double share) {
  const double percent = 100.0 * share;
  if (percent > 0.0 && percent < 0.01)
    return "<0.01%";
  return Printed(percent > 0.0 && percent < 9.5 ? "%.2g%%" : "%.0f%%", percent);
}

// The title, and the line on a terminal in the foreground: a background run
// leaves the terminal to the foreground job.
void Show(const std::string &title, const std::string &line) {
  shownBefore = true;
  lastShown = Clock::now();
  graph::SetWindowTitle(title);
  windowSeen = windowSeen || graph::WindowShown();
  if (!stderrIsTerminal || TerminalInBackground(2))
    return;
  const std::string text = LineOver(line, lineShown ? static_cast<std::size_t>(lineLength) : 0);
  const auto length = static_cast<sig_atomic_t>(Columns(line));
  // Marked before the write: an end signal in the middle of it still erases.
  if (length > lineLength || !lineShown)
    lineLength = length;
  lineShown = 1;
  WriteToStderr(text.data(), text.size());
}

void ShowProgress() {
  status.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  status.covered = -1.0;
  if (sweepKnown && sweepEnd != sweepStart) {
    const double share = static_cast<double>((status.P - sweepStart) / (sweepEnd - sweepStart));
    status.covered = share <= 0.0 ? 0.0 : share > 1.0 ? 1.0 : share;
  }
  Show(StatusText(status.program, status.P, status.records, ""),
       StatusLine(status, TerminalColumns(2)));
}

} // namespace

std::string FitWords(const std::string &text, unsigned width) {
  if (width == 0 || Columns(text) < width)
    return text;
  size_t cut = 0, columns = 0;
  for (size_t i = 0; i < text.size() && columns < width - 1u; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
      ++columns;
    if (text[i] == ' ' && (i + 1 >= text.size() || text[i + 1] != ' ') && columns < width)
      cut = i;
  }
  // No word boundary in reach: the line is cut where it must be.
  if (cut == 0)
    return text.substr(0, width - 1u);
  return text.substr(0, text.find_last_not_of(' ', cut) + 1);
}

std::string StatusLine(const Status &st, unsigned width) {
  std::vector<std::string> fields{st.program};
  if (st.records > 0) {
    const std::string P = Fixed(st.P, 12, 8);
    fields.push_back("P = " + P.substr(P.find_first_not_of(' ')));
    if (st.covered >= 0.0)
      fields.push_back(Percent(st.covered));
    fields.push_back(std::to_string(st.records) + (st.records == 1 ? " record" : " records"));
    if (st.recordsHere > 0 && st.seconds >= 1.0)
      fields.push_back(Printed(st.recordsHere * 60.0 / st.seconds < 10.0 ? "%.1f/min" : "%.0f/min",
                               st.recordsHere * 60.0 / st.seconds));
  }
  fields.push_back(Elapsed(st.seconds));
  if (st.iterations >= 0)
    fields.push_back("Newton " + std::to_string(st.iterations));
  if (st.records > 0 && !st.plotted.empty())
    fields.push_back(st.plotted + " = " + Printed("%.6g", static_cast<double>(st.value)));
  std::string line;
  for (const std::string &field : fields) {
    const std::string longer = line.empty() ? field : line + "  " + field;
    if (width != 0 && Columns(longer) >= width)
      break;
    line = longer;
  }
  return line.empty() ? FitWords(st.program, width) : line;
}

void NoteSweep(const PassStart &pass) {
  sweepStart = pass.startP;
  sweepEnd = pass.upwards ? pass.P2 : pass.P1;
  sweepKnown = true;
  status.plotted = pass.plotted ? pass.plotted : "";
}

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
  status.program = std::string(program);
  started = Clock::now();
  stderrIsTerminal = isatty(2) == 1;
  DumbTerminal(); // read now, before a signal handler needs it
  SetBeforeMessageHook(EraseLine);
  SetRepeatNote(RepeatNote);
  AddEndHook(EraseLine);
  AddJobStopHook(EraseLine);
}

void AfterRecord(REAL P, long records, int iterations, REAL value, bool resumed) {
  status.P = P;
  status.records = records;
  status.value = value;
  if (!resumed) {
    ++status.recordsHere;
    status.iterations = iterations;
  }
  if (shownBefore && Clock::now() - lastShown < kInterval)
    return;
  ShowProgress();
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
  const std::string text = summary::WaitingText() + " - waiting for Enter";
  // With a window the terminal gets the prompt of the wait instead.
  if (graph::WindowShown())
    graph::SetWindowTitle(text);
  else
    Show(text, FitWords(text, TerminalColumns(2)));
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
