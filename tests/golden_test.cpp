// Whole-program runs. Each configuration (program, key timing, thread count)
// runs once, and every output it leaves is checked there: exit status,
// console bytes, results file, graphics calls, picture and the progress
// display. The reference runs (tests/golden) are matched byte for byte; the
// configurations of one case must give the same bytes at every thread count.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/run_program.hpp"
#include "continuation/families.hpp"
#include "graph/graph.hpp"
#include "runtime/end_cause.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "shooting/trajectory_pool.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::ChildSetup;
using testing::Golden;
using testing::ReadFile;
using testing::Sink;
using testing::Stdin;

// How a configuration runs.
enum class Start {
  // The built program, on every CPU it may use.
  Built,
  // The program's body as its main runs it, in a forked child, with the
  // graphics calls recorded and `threads` trajectory threads.
  Main,
  // The same without the console seams of main: a key pending from the
  // `keyFromTest`-th key test on, no progress display.
  Counted,
};

// What the test does around and during the run.
enum class Action {
  None,
  BlockResultsFile,    // a directory in the results file's place
  KeyAfterFirstRecord, // a byte on standard input once a record is complete
  InterruptAtStatus,   // SIGINT once the status line shows
  EnterAtWindowTitle,  // under a virtual display: Enter once the title shows the end
};

struct Outcome {
  ChildResult child;
  std::string results;   // ZANFEL.RES
  std::string rows;      // ZANFEL.CSV without its "#" lines (the start time)
  std::string plot;      // plot.log, of Main and Counted runs
  bool recorded = false; // plot.log exists
  bool picture = false;  // ZANFEL.PNG written
  bool acted = false;    // the action took place
  std::string windows;   // the window tree last seen (EnterAtWindowTitle)
  std::string dir;       // where the run wrote its files (removed since)
  std::string csv, svg;  // ZANFEL.CSV, ZANFEL.SVG
};

struct Configuration {
  Start start;
  int threads = 0;     // Main, Counted; 0: every CPU
  int keyFromTest = 0; // Counted
  Stdin in = Stdin::EndOfFile;
  Sink err = Sink::Pipe;
  // Checks of this run's own outputs; may be empty.
  void (*check)(const Outcome &) = nullptr;
  // It stops early (a key): its outputs are a prefix of the first
  // configuration's.
  bool prefix = false;
};

struct Case {
  const char *name;
  const char *program;
  ConfiguredBody body;
  Action action;
  // The first configuration is the one the others are compared with.
  std::vector<Configuration> configurations;
  // Whether the checks are facts of the reference runs' arithmetic (their
  // bytes, record counts, ends), which another processor's last bits change.
  bool ofTheReferenceArithmetic = false;
};

// --- The child ---

int keyTests = 0;
int keyFrom = 0;
bool KeyFromNthTest() {
  return ++keyTests >= keyFrom;
}

int RunInProcess(const Case &c, const Configuration &k) {
  SetTrajectoryThreads(k.threads);
  graph::RecordCallsTo("plot.log");
  if (k.start == Start::Main) {
    const char *const argv[] = {c.program, nullptr};
    ProgramInfo info;
    info.name = c.program;
    return RunProgram({info, c.body, nullptr, [](const SettingOptions &) { return std::string(); }},
                      1, argv);
  }
  InstallFaultHandling();
  keyFrom = k.keyFromTest;
  Hooks hooks;
  hooks.keyPressed = KeyFromNthTest;
  RunObserver observer(hooks);
  return ConcludeRun(c.body(observer, {}));
}

// The names of the top-level windows of the display, as the window tree lists
// them.
std::string WindowTree(const std::string &xwininfo, const std::string &display) {
  const std::string command = xwininfo + " -root -tree -display " + display + " 2>/dev/null";
  std::string text;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
      text.append(buf, n);
    pclose(p);
  }
  return text;
}

// The summary line of a run that a key stopped.
std::string StoppedByAKey(const std::string &program, const std::string &records,
                          const std::string &dir) {
  return program + ": stopped by a key; " + records + " in " + dir + "/ZANFEL.RES; pictures " +
         dir + "/ZANFEL.PNG and ZANFEL.SVG";
}

void CloseInput(int &fd) {
  close(fd);
  fd = -1;
}

// What the test does while the program runs; each notes in `o` that it acted.

// A byte on standard input once the results file holds a complete record.
testing::Watch KeyAfterFirstRecord(const std::string &results, Outcome &o) {
  return [results, &o](pid_t, int &in, const ChildResult &) {
    if (in >= 0 && ReadFile(results).find("\r\n\r\n") != std::string::npos) {
      EXPECT_EQ(write(in, "k", 1), 1);
      CloseInput(in); // the waits for Enter then end at the end of the input
      o.acted = true;
    }
  };
}

// SIGINT once the status line shows a record.
testing::Watch InterruptAtStatus(Outcome &o) {
  return [&o](pid_t pid, int &, const ChildResult &soFar) {
    if (!o.acted && soFar.terminal.find("records") != std::string::npos) {
      kill(pid, SIGINT);
      o.acted = true;
    }
  };
}

// Enter once the window's title on `display` shows how the sweep ended.
testing::Watch EnterAtWindowTitle(const std::string &display, Outcome &o) {
  return [display, &o, xwininfo = testing::FindProgram("xwininfo")](pid_t, int &in,
                                                                    const ChildResult &) {
    if (in < 0)
      return;
    o.windows = WindowTree(xwininfo, display);
    const std::string title =
        "\"" + StoppedByAKey("shoot_b1", "1 record", o.dir) + " - waiting for Enter\"";
    if (o.windows.find(title) != std::string::npos) {
      EXPECT_EQ(write(in, "\n", 1), 1);
      CloseInput(in);
      o.acted = true;
    }
  };
}

Outcome RunConfiguration(const Case &c, const Configuration &k) {
  const testing::TempDir dir;
  ChildSetup setup;
  setup.dir = dir.Path();
  setup.in = k.in;
  setup.err = k.err;
  setup.display = "";
  setup.timeoutSeconds = 600;
  Outcome o;
  o.dir = dir.Path();
  testing::VirtualDisplay display;
  testing::Watch watch;
  switch (c.action) {
  case Action::None:
    break;
  case Action::BlockResultsFile:
    EXPECT_EQ(mkdir(dir.File("ZANFEL.RES").c_str(), 0755), 0);
    break;
  case Action::KeyAfterFirstRecord:
    watch = KeyAfterFirstRecord(dir.File("ZANFEL.RES"), o);
    break;
  case Action::InterruptAtStatus:
    watch = InterruptAtStatus(o);
    break;
  case Action::EnterAtWindowTitle:
    if (!display.Start()) {
      ADD_FAILURE() << "Xvfb did not start";
      return o;
    }
    setup.display = display.Name();
    watch = EnterAtWindowTitle(display.Name(), o);
    break;
  }
  if (k.start == Start::Built)
    o.child = testing::RunBuilt(setup, c.program, watch);
  else
    o.child = testing::RunChild(
        setup, [&] { return RunInProcess(c, k); }, watch);
  o.results = ReadFile(dir.File("ZANFEL.RES"));
  o.rows = testing::CsvWithoutComments(ReadFile(dir.File("ZANFEL.CSV")));
  o.recorded = testing::Exists(dir.File("plot.log"));
  o.plot = ReadFile(dir.File("plot.log"));
  o.picture = testing::Exists(dir.File("ZANFEL.PNG"));
  o.csv = ReadFile(dir.File("ZANFEL.CSV"));
  o.svg = ReadFile(dir.File("ZANFEL.SVG"));
  return o;
}

// --- Checks ---

std::vector<std::string> CrLfLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
    lines.push_back(text.substr(start, p - start));
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

int CountRecords(const std::string &res) {
  return int(CrLfLines(res).size() / 6);
}

// Every record complete: six CRLF lines, the first starting with "h:=", the
// sixth empty, the first `residuals` values of the second at round-off (every
// one printed as +-0.00000000).
void ExpectCompleteRecords(const std::string &res, int residuals) {
  const auto lines = CrLfLines(res);
  ASSERT_EQ(lines.size() % 6, 0u);
  const std::regex zero(R"(-?0\.00000000)");
  for (size_t i = 0; i < lines.size(); i += 6) {
    EXPECT_EQ(lines[i].rfind("h:=", 0), 0u);
    EXPECT_EQ(lines[i + 5], "");
    std::istringstream in(lines[i + 1]);
    std::string value;
    for (int k = 0; k < residuals; ++k) {
      in >> value;
      EXPECT_TRUE(std::regex_match(value, zero)) << "record " << i / 6 + 1 << ": " << lines[i + 1];
    }
  }
}

std::string Repeat(const std::string &s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i)
    r += s;
  return r;
}

bool StartsWith(const std::string &s, const std::string &head) {
  return s.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The reference runs come from a build where the iteration limit ended with
// status 0; it has its own status now, everything else is the same.
int ReferenceStatus(const std::string &run) {
  const int status = std::stoi(Golden(run, "exit.txt"));
  return status == 0 && EndsWith(Golden(run, "stdout.bin"), "ntial malo\n") ? kIterationLimitStatus
                                                                            : status;
}

// The reference run `run` byte for byte; the graphics calls where recorded.
void ExpectReference(const Outcome &o, const std::string &run) {
  EXPECT_EQ(o.child.out, Golden(run, "stdout.bin"));
  EXPECT_EQ(o.child.status, ReferenceStatus(run));
  EXPECT_EQ(o.results, Golden(run, "ZANFEL.RES"));
  if (o.recorded) {
    EXPECT_EQ(o.plot, Golden(run, "plot.log"));
  }
  EXPECT_TRUE(o.picture);
}

// The texts of the status line as written: every "\r" text "\033[K"; an
// erasure is an empty text.
std::vector<std::string> LineTexts(const std::string &seen) {
  std::vector<std::string> texts;
  static const std::regex line("\r([^\r\033]*)\033\\[K");
  for (auto it = std::sregex_iterator(seen.begin(), seen.end(), line); it != std::sregex_iterator();
       ++it)
    texts.push_back((*it)[1].str());
  return texts;
}

// The status line's part of what a run wrote on its terminal, and the
// summary line that ends it (without its line end).
std::pair<std::string, std::string> SplitSummary(const std::string &seen) {
  const size_t last = seen.rfind(testing::kEraseLine);
  if (last == std::string::npos || !EndsWith(seen, "\r\n"))
    return {seen, ""};
  const size_t from = last + testing::kEraseLine.size();
  return {seen.substr(0, from), seen.substr(from, seen.size() - from - 2)};
}

// The status line follows the sweep: the first record at once, then a few
// updates a second with growing record counts, erased at the end; the
// summary line follows.
void ExpectStatusLineFollowsTheSweep(const Outcome &o, const std::string &program,
                                     const std::string &firstText, long records) {
  const auto [seen, summary] = SplitSummary(o.child.terminal);
  EXPECT_EQ(summary.rfind(program + ": ", 0), 0u) << o.child.terminal;
  const auto texts = LineTexts(seen);
  ASSERT_GE(texts.size(), 2u) << seen;
  EXPECT_EQ(texts.front(), firstText) << "the first record at once";
  EXPECT_TRUE(EndsWith(seen, testing::kEraseLine)) << "the line is gone at the end";
  EXPECT_EQ(texts.back(), "");
  const std::regex status(program +
                          R"(  P = -?\d+\.\d{8}  [\d.]+%  (\d+) records?  .* Newton \d+  .+)");
  long previous = 0;
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(texts[i], m, status)) << texts[i];
    EXPECT_GT(std::stol(m[1]), previous);
    previous = std::stol(m[1]);
  }
  EXPECT_LE(previous, records);
  // Not one update a record: at most one every 250 ms after the first.
  EXPECT_LE(double(texts.size() - 1), o.child.seconds / 0.25 + 2.0) << o.child.seconds << " s";
  EXPECT_EQ(seen.find('\n'), std::string::npos);
}

// The final state stays during each wait for Enter and goes after it; the
// summary line stays.
void ExpectFinalStateDuringTheWaits(const Outcome &o, const std::string &ended, int waits) {
  const auto [seen, summary] = SplitSummary(o.child.terminal);
  EXPECT_EQ(summary, ended);
  const std::string final = ended + " - waiting for Enter";
  const auto texts = LineTexts(seen);
  ASSERT_GE(texts.size(), size_t(2 * waits)) << seen;
  for (int i = 0; i < waits; ++i) {
    EXPECT_EQ(texts[texts.size() - 2 * waits + 2 * i], final);
    EXPECT_EQ(texts[texts.size() - 2 * waits + 2 * i + 1], "");
  }
  EXPECT_TRUE(EndsWith(seen, testing::kEraseLine));
}

const std::string kTooManyStepsLine = testing::kTooManySteps866 + "\n";
const std::string kIterationLimitLine = testing::kIterationLimit + "\n";

// shoot_c2 to its end, at the iteration limit after 22 records: the CSV's
// last line and the picture's title say why and what to try.
void ExpectShootC2(const Outcome &o) {
  ExpectReference(o, "shoot_c2");
  const std::string why = testing::ShootC2EndsWhy();
  EXPECT_TRUE(EndsWith(o.csv, "\n# ended early: " + why + "\n"))
      << o.csv.substr(o.csv.size() - 300);
  EXPECT_NE(o.svg.find("ended early: " + why), std::string::npos);
}
void ExpectShootC2WithStatusLine(const Outcome &o) {
  ExpectReference(o, "shoot_c2");
  ExpectStatusLineFollowsTheSweep(
      o, "shoot_c2", "shoot_c2  P = 1.04437262  0%  1 record  0:00  Newton 6  y2(1) = -1.13026",
      22);
}

// As H grows the trajectories need more than the integrator's evaluation
// budget; past H = 3.79364898 the Newton iteration no longer converges.
void ExpectShootC1ToItsEnd(const Outcome &o) {
  EXPECT_EQ(o.child.status, kIterationLimitStatus);
  EXPECT_EQ(o.child.out, Repeat(kTooManyStepsLine, 601) + kIterationLimitLine);
  EXPECT_EQ(CountRecords(o.results), 269);
  EXPECT_TRUE(StartsWith(o.results, "h:=1.11364898   x[1]:="));
  EXPECT_NE(o.results.find("h:=3.79364898"), std::string::npos);
  ExpectCompleteRecords(o.results, 4);
  EXPECT_TRUE(o.picture);
  // The messages column of the last records: the count a one-at-a-time run
  // gives, whatever the number of threads.
  std::string counts;
  for (std::size_t end = o.rows.size() - 1, rows = 0; rows < 4; ++rows) {
    const std::size_t start = o.rows.rfind('\n', end - 1) + 1;
    const std::string row = o.rows.substr(start, end - start);
    std::size_t field = row.size();
    for (int commas = 0; commas < 2; ++commas)
      field = row.rfind(',', field - 1);
    counts = row.substr(0, row.find(',')) + ":" +
             row.substr(field + 1, row.find(',', field + 1) - field - 1) + " " + counts;
    end = start - 1;
  }
  EXPECT_EQ(counts, "266:1 267:10 268:5 269:85 ");
}

// A key from the start: one record, then the wait for Enter.
void ExpectShootC1StoppedAtOnce(const Outcome &o) {
  EXPECT_EQ(o.child.status, 0);
  EXPECT_EQ(o.child.out, "");
  EXPECT_EQ(CountRecords(o.results), 1);
  EXPECT_TRUE(StartsWith(o.results, "h:=1.11364898   x[1]:="));
  ExpectCompleteRecords(o.results, 4);
  EXPECT_TRUE(o.picture);
  ExpectFinalStateDuringTheWaits(o, StoppedByAKey("shoot_c1", "1 record", o.dir), 1);
}

// shoot_a1 with a key pending stops each of its 25 passes after one record and
// waits twice for Enter at the end.
void ExpectShootA1Passes(const Outcome &o) {
  ExpectReference(o, "shoot_a1");
}
void ExpectShootA1PassesWithStatusLine(const Outcome &o) {
  ExpectReference(o, "shoot_a1");
  // The results file holds the last pass's record only.
  ExpectFinalStateDuringTheWaits(
      o, StoppedByAKey("shoot_a1", "25 records in 25 passes, the last pass's 1", o.dir), 2);
}

// From its start guess the mode 1 sweep converges up to H = 0.26; the solve
// at 0.28 fails and ends the run in its first pass.
void ExpectShootA1FirstPassFails(const Outcome &o) {
  EXPECT_EQ(o.child.status, kIterationLimitStatus);
  EXPECT_EQ(o.child.out, kIterationLimitLine);
  EXPECT_EQ(CountRecords(o.results), 9);
  EXPECT_TRUE(StartsWith(o.results, "h:=0.10000000   ;x[1]:=")) << "first record at the start P";
  EXPECT_NE(o.results.find("h:=0.26000000"), std::string::npos);
  ExpectCompleteRecords(o.results, 4);
  EXPECT_TRUE(o.picture);
}

// The pass-14 guess is not close enough: every Newton iterate after the first
// has trajectories that exhaust the evaluation budget, and the initial solve
// gives up before any record.
void ExpectShootA2InitialSolveFails(const Outcome &o) {
  EXPECT_EQ(o.child.status, kIterationLimitStatus);
  EXPECT_EQ(o.child.out, Repeat(kTooManyStepsLine, 594) + kIterationLimitLine);
  EXPECT_EQ(o.results, "");
  EXPECT_TRUE(o.picture);
}

void ExpectShootB1FortyRecords(const Outcome &o) {
  ExpectReference(o, "shoot_b1");
}

void ExpectShootB1TwoHundredRecords(const Outcome &o) {
  EXPECT_EQ(o.child.status, 0);
  EXPECT_EQ(o.child.out, "");
  EXPECT_EQ(CountRecords(o.results), 200);
  EXPECT_TRUE(StartsWith(o.results, Golden("shoot_b1", "ZANFEL.RES")));
  ExpectCompleteRecords(o.results, 4);
}

// The progress goes to the window's title, and the terminal on standard error
// stays untouched.
void ExpectShootB1TitleAtTheEnd(const Outcome &o) {
  EXPECT_TRUE(o.acted) << o.windows;
  EXPECT_EQ(o.child.status, 0);
  EXPECT_EQ(o.child.out, "");
  // The summary line at the end, after the status line (shown with the
  // window too).
  EXPECT_TRUE(EndsWith(o.child.terminal,
                       testing::kEraseLine + StoppedByAKey("shoot_b1", "1 record", o.dir) + "\r\n"))
      << o.child.terminal;
  EXPECT_EQ(CountRecords(o.results), 1);
  EXPECT_TRUE(StartsWith(o.results, "h:=  1.11364898   ;x[1]:=  0.11893163"));
  ExpectCompleteRecords(o.results, 4);
  EXPECT_TRUE(o.picture);
}

void ExpectShootB1Interrupted(const Outcome &o) {
  ASSERT_TRUE(o.acted);
  EXPECT_EQ(o.child.status, 128 + SIGINT);
  EXPECT_EQ(o.child.signal, SIGINT);
  const auto [seen, summary] = SplitSummary(o.child.terminal);
  EXPECT_TRUE(EndsWith(seen, testing::kEraseLine)) << o.child.terminal;
  EXPECT_TRUE(std::regex_search(
      summary, std::regex("^shoot_b1: interrupted \\(SIGINT\\); \\d+ records? in ")))
      << o.child.terminal;
  EXPECT_EQ(o.child.out, "");
}

// A key typed during the sweep: it stops after the record in progress.
void ExpectShootB2StoppedByTheKey(const Outcome &o) {
  EXPECT_TRUE(o.acted);
  EXPECT_EQ(o.child.status, 0);
  EXPECT_EQ(o.child.out, "");
  EXPECT_GE(CountRecords(o.results), 1);
  ExpectCompleteRecords(o.results, 4);
  EXPECT_TRUE(StartsWith(o.results, "h:=  1.54"));
  EXPECT_TRUE(o.picture);
}

void ExpectEndBeforeAnyComputation(const Outcome &o) {
  EXPECT_EQ(o.child.status, 5);
  EXPECT_TRUE(StartsWith(o.child.out, "Runtime error 5: ZANFEL.RES: ")) << o.child.out;
}

// A run stopped by a key after fewer records than `full` ran to its end: the
// same records, console bytes and graphics calls up to there, and a normal
// end whichever way the full run ended.
void ExpectPrefixOf(const Outcome &full, const Outcome &part, int records) {
  EXPECT_EQ(part.child.status, 0);
  EXPECT_EQ(CountRecords(part.results), records);
  EXPECT_TRUE(StartsWith(full.results, part.results));
  EXPECT_TRUE(StartsWith(full.child.out, part.child.out));
  const std::string close = "CloseGraph\n";
  ASSERT_TRUE(EndsWith(part.plot, close));
  EXPECT_TRUE(StartsWith(full.plot, part.plot.substr(0, part.plot.size() - close.size())));
}

// The same bytes as the first configuration; the graphics calls as the first
// that recorded them.
void ExpectSame(const std::vector<Outcome> &outcomes, const Outcome &other) {
  const Outcome &first = outcomes.front();
  EXPECT_EQ(other.child.status, first.child.status);
  EXPECT_EQ(other.child.out, first.child.out);
  EXPECT_EQ(other.results, first.results);
  EXPECT_EQ(other.rows, first.rows);
  for (const Outcome &o : outcomes)
    if (o.recorded && other.recorded && &o != &other) {
      EXPECT_EQ(other.plot, o.plot);
      break;
    }
}

// --- The table ---

Configuration Built(Stdin in, Sink err, void (*check)(const Outcome &)) {
  return {Start::Built, 0, 0, in, err, check};
}
Configuration Main(int threads, Stdin in, Sink err, void (*check)(const Outcome &)) {
  return {Start::Main, threads, 0, in, err, check};
}
Configuration Counted(int threads, int keyFromTest, void (*check)(const Outcome &),
                      bool prefix = false) {
  return {Start::Counted, threads, keyFromTest, Stdin::EndOfFile, Sink::Pipe, check, prefix};
}

const Case kCases[] = {
    {"ShootC1ToItsEnd",
     "shoot_c1",
     RunShootC1,
     Action::None,
     // Its last records' solves print many integrator messages: the CSV
     // counts them the same at every thread count.
     {Main(2, Stdin::EndOfFile, Sink::Pipe, ExpectShootC1ToItsEnd),
      Main(1, Stdin::EndOfFile, Sink::Pipe, ExpectShootC1ToItsEnd),
      Main(12, Stdin::EndOfFile, Sink::File, ExpectShootC1ToItsEnd)},
     true},
    {"ShootC1KeyFromTheStart",
     "shoot_c1",
     RunShootC1,
     Action::None,
     {Built(Stdin::PendingByte, Sink::Terminal, ExpectShootC1StoppedAtOnce)}},
    {"ShootC2ToItsEnd",
     "shoot_c2",
     RunShootC2,
     Action::None,
     {Built(Stdin::EndOfFile, Sink::Terminal, ExpectShootC2WithStatusLine),
      Main(1, Stdin::EndOfFile, Sink::Pipe, ExpectShootC2)},
     true},
    {"ShootA1KeyFromTheStart",
     "shoot_a1",
     RunShootA1,
     Action::None,
     {Built(Stdin::PendingByte, Sink::Terminal, ExpectShootA1PassesWithStatusLine),
      Main(1, Stdin::PendingByte, Sink::Pipe, ExpectShootA1Passes),
      Main(12, Stdin::PendingByte, Sink::File, ExpectShootA1Passes)},
     true},
    {"ShootA1ToItsEnd",
     "shoot_a1",
     RunShootA1,
     Action::None,
     {Main(2, Stdin::EndOfFile, Sink::Pipe, ExpectShootA1FirstPassFails),
      Main(1, Stdin::EndOfFile, Sink::Pipe, ExpectShootA1FirstPassFails),
      Main(12, Stdin::EndOfFile, Sink::File, ExpectShootA1FirstPassFails)},
     true},
    {"ShootA2ToItsEnd",
     "shoot_a2",
     RunShootA2,
     Action::None,
     {Built(Stdin::EndOfFile, Sink::Pipe, ExpectShootA2InitialSolveFails),
      Main(1, Stdin::EndOfFile, Sink::Pipe, ExpectShootA2InitialSolveFails),
      Main(12, Stdin::EndOfFile, Sink::File, ExpectShootA2InitialSolveFails)},
     true},
    {"ShootB1FortyRecords",
     "shoot_b1",
     RunShootB1,
     Action::None,
     {Counted(2, 40, ExpectShootB1FortyRecords)},
     true},
    {"ShootB1TwoHundredRecords",
     "shoot_b1",
     RunShootB1,
     Action::None,
     {Counted(2, 200, ExpectShootB1TwoHundredRecords),
      Counted(1, 200, ExpectShootB1TwoHundredRecords)},
     true},
    {"ShootB1KeyFromTheStartInAWindow",
     "shoot_b1",
     RunShootB1,
     Action::EnterAtWindowTitle,
     {Built(Stdin::PendingByteThenOpen, Sink::Terminal, ExpectShootB1TitleAtTheEnd)}},
    {"ShootB1Interrupted",
     "shoot_b1",
     RunShootB1,
     Action::InterruptAtStatus,
     {Built(Stdin::Open, Sink::Terminal, ExpectShootB1Interrupted)}},
    {"ShootB2KeyDuringTheSweep",
     "shoot_b2",
     RunShootB2,
     Action::KeyAfterFirstRecord,
     {Built(Stdin::Open, Sink::Pipe, ExpectShootB2StoppedByTheKey)}},
    {"ResultsFileBlocked",
     "shoot_c1",
     RunShootC1,
     Action::BlockResultsFile,
     {Built(Stdin::EndOfFile, Sink::Pipe, ExpectEndBeforeAnyComputation)}},
};

class WholeRuns : public ::testing::TestWithParam<Case> {};

TEST_P(WholeRuns, EachConfigurationOnce) {
  const Case &c = GetParam();
  if (c.action == Action::EnterAtWindowTitle &&
      (testing::FindProgram("Xvfb").empty() || testing::FindProgram("xwininfo").empty()))
    GTEST_SKIP() << "Xvfb or xwininfo (x11-utils) is not installed";
  // Elsewhere the configurations still give the same bytes as each other.
  const bool checked = !c.ofTheReferenceArithmetic || testing::ReferenceArithmetic();
  std::vector<Outcome> outcomes;
  outcomes.reserve(c.configurations.size());
  for (const Configuration &k : c.configurations) {
    SCOPED_TRACE(::testing::Message() << "configuration " << outcomes.size() + 1 << ", threads "
                                      << k.threads << ", key from test " << k.keyFromTest);
    outcomes.push_back(RunConfiguration(c, k));
    const Outcome &o = outcomes.back();
    // Standard error is for the status line on a terminal only.
    if (k.err != Sink::Terminal) {
      EXPECT_EQ(o.child.err, "");
    }
    if (k.check && checked)
      k.check(o);
    if (outcomes.size() == 1)
      continue;
    if (k.prefix)
      ExpectPrefixOf(outcomes.front(), o, k.keyFromTest);
    else
      ExpectSame(outcomes, o);
  }
  if (!checked)
    GTEST_SKIP() << testing::kOtherArithmetic;
}

void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<Case> &param) {
  return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(, WholeRuns, ::testing::ValuesIn(kCases), CaseName);

} // namespace
} // namespace zanfel
