// The progress display: the status line on a terminal on standard error, its
// erasure on every way out, silence when standard error is not a terminal,
// and the window title under a virtual display.
#include "drivers/progress.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::MakeTempDir;
using testing::ProgramPath;
using testing::ReadFile;

const std::string kErase = "\r\033[K";

enum class Input { EndOfFile, PendingByte, Open, PendingByteThenOpen };

struct ChildSetup {
  explicit ChildSetup(std::string directory, Input in = Input::EndOfFile)
      : dir(std::move(directory)), input(in) {}
  std::string dir;
  Input input = Input::EndOfFile;
  bool stderrOnTerminal = true;  // otherwise a pipe
  bool stdoutOnTerminal = false; // otherwise the file stdout.bin in dir
  bool stdinOnTerminal = false;  // overrides `input`
  std::string display;           // DISPLAY of the child; none when empty
};

struct Outcome {
  int status = -1;  // exit status, or 128 + signal number
  std::string seen; // what arrived from standard error's terminal or pipe
  double seconds = 0.0;
  bool terminalCanonical = false; // the terminal's mode after the end
};

// What the test may do while the child runs: called whenever bytes arrive
// and at least every 100 ms, with the bytes so far and the writing end of the
// child's standard input (-1 once closed or when there is none).
using Watch = std::function<void(pid_t pid, int &stdinFd, const std::string &seen)>;

// Runs `child` in a forked process set up as asked and collects what it
// writes on standard error until it ends.
Outcome RunWatched(const ChildSetup &setup, const std::function<void()> &child,
                   const Watch &watch) {
  Outcome outcome;
  int master = -1, slave = -1;
  struct winsize size {}; // no width: the line is never cut
  EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
  int errPipe[2] = {-1, -1};
  if (!setup.stderrOnTerminal) {
    EXPECT_EQ(pipe(errPipe), 0);
  }
  int in[2];
  EXPECT_EQ(pipe(in), 0);
  if (setup.input == Input::PendingByte || setup.input == Input::PendingByteThenOpen) {
    EXPECT_EQ(write(in[1], "k", 1), 1);
  }
  const auto start = std::chrono::steady_clock::now();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(setup.dir.c_str()) != 0)
      _exit(121);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
      signal(sig, SIG_DFL);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    if (!setup.display.empty())
      setenv("DISPLAY", setup.display.c_str(), 1);
    dup2(setup.stdinOnTerminal ? slave : in[0], 0);
    if (setup.stdoutOnTerminal) {
      dup2(slave, 1);
    } else {
      int out = open("stdout.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      close(out);
    }
    dup2(setup.stderrOnTerminal ? slave : errPipe[1], 2);
    for (int fd : {master, slave, in[0], in[1], errPipe[0], errPipe[1]})
      if (fd > 2)
        close(fd);
    child();
    _exit(122);
  }
  close(slave);
  close(in[0]);
  int stdinFd = in[1];
  if (setup.input != Input::Open && setup.input != Input::PendingByteThenOpen) {
    close(stdinFd);
    stdinFd = -1;
  }
  int from = master;
  if (!setup.stderrOnTerminal) {
    close(errPipe[1]);
    from = errPipe[0];
  }
  // A terminal nobody reads would block the child once its buffer is full:
  // the master is drained throughout even when it is not what is watched.
  const auto deadline = start + std::chrono::seconds(60);
  bool fromOpen = true, masterOpen = from != master;
  char buf[4096];
  while (fromOpen) {
    pollfd p[2] = {{from, POLLIN, 0}, {master, POLLIN, 0}};
    const int count = masterOpen ? 2 : 1;
    if (poll(p, count, 100) > 0) {
      if (p[0].revents != 0) {
        ssize_t n = read(from, buf, sizeof buf);
        if (n > 0)
          outcome.seen.append(buf, size_t(n));
        else
          fromOpen = false; // end of the pipe, or EIO once the terminal is closed
      }
      if (count == 2 && p[1].revents != 0 && read(master, buf, sizeof buf) <= 0)
        masterOpen = false;
    }
    if (watch)
      watch(pid, stdinFd, outcome.seen);
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the child did not end";
      kill(pid, SIGKILL);
      break;
    }
  }
  int ws = 0;
  waitpid(pid, &ws, 0);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  struct termios mode {};
  if (tcgetattr(master, &mode) == 0)
    outcome.terminalCanonical = (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & ECHO) != 0;
  if (stdinFd >= 0)
    close(stdinFd);
  close(master);
  if (from != master)
    close(from);
  return outcome;
}

Outcome RunProgramWatched(const ChildSetup &setup, const std::string &name,
                          const Watch &watch = {}) {
  const std::string path = ProgramPath(name);
  return RunWatched(
      setup, [&] { execl(path.c_str(), path.c_str(), static_cast<char *>(nullptr)); }, watch);
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

bool EndsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The status line's part of what a run wrote on its terminal, and the
// summary line that ends it (without its line end).
std::pair<std::string, std::string> SplitSummary(const std::string &seen) {
  const size_t last = seen.rfind(kErase);
  if (last == std::string::npos || !EndsWith(seen, "\r\n"))
    return {seen, ""};
  const size_t from = last + kErase.size();
  return {seen.substr(0, from), seen.substr(from, seen.size() - from - 2)};
}

std::string Golden(const std::string &program, const std::string &file) {
  return ReadFile(std::string(ZANFEL_GOLDEN_DIR) + "/" + program + "/" + file);
}

TEST(Progress, NothingReachesStandardErrorWhenItIsNotATerminal) {
  // A normal end with its final state and waits, a key stop, and a run made
  // of console messages.
  const struct {
    const char *program;
    Input input;
  } cases[] = {{"shoot_a1", Input::PendingByte},
               {"shoot_b1", Input::PendingByte},
               {"shoot_a2", Input::EndOfFile}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.program);
    ChildSetup setup(MakeTempDir(), c.input);
    setup.stderrOnTerminal = false;
    const Outcome r = RunProgramWatched(setup, c.program);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.seen, "");
  }
  const std::string dir = MakeTempDir();
  const auto file = testing::RunProgram(dir, testing::Stdin::PendingByte, ProgramPath("shoot_a1"));
  EXPECT_EQ(file.status, 0);
  EXPECT_EQ(file.err, "");
}

// The results and standard output are those of the reference run, made with
// standard error in a file.
TEST(Progress, OnATerminalTheLineFollowsTheSweepAndTheResultsStayTheSame) {
  const ChildSetup setup(MakeTempDir());
  const Outcome r = RunProgramWatched(setup, "shoot_c2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(setup.dir + "/stdout.bin"), Golden("shoot_c2", "stdout.bin"));
  EXPECT_EQ(ReadFile(setup.dir + "/ZANFEL.RES"), Golden("shoot_c2", "ZANFEL.RES"));

  const auto [seen, summary] = SplitSummary(r.seen);
  EXPECT_EQ(summary.rfind("shoot_c2: iteration limit at P = ", 0), 0u) << r.seen;
  const auto texts = LineTexts(seen);
  ASSERT_GE(texts.size(), 2u) << r.seen;
  EXPECT_EQ(texts.front(), "shoot_c2  P =   1.04437262  records 1") << "the first record at once";
  EXPECT_TRUE(EndsWith(seen, kErase)) << "the line is gone at the end";
  EXPECT_EQ(texts.back(), "");
  const std::regex status(R"(shoot_c2  P = +-?\d+\.\d{8}  records (\d+))");
  long previous = 0;
  for (size_t i = 0; i + 1 < texts.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(texts[i], m, status)) << texts[i];
    EXPECT_GT(std::stol(m[1]), previous);
    previous = std::stol(m[1]);
  }
  EXPECT_LE(previous, 22);
  // 22 records in about a second: a few updates a second, not one a record.
  EXPECT_LE(double(texts.size() - 1), r.seconds / 0.25 + 2.0) << r.seconds << " s";
  EXPECT_EQ(seen.find('\n'), std::string::npos);
}

TEST(Progress, AConsoleMessageStartsOnALineOfItsOwn) {
  ChildSetup setup(MakeTempDir());
  setup.stdoutOnTerminal = true;
  const Outcome r = RunProgramWatched(setup, "shoot_c2");
  EXPECT_EQ(r.status, 0);
  // The summary line of the run follows the message.
  const std::string message = kErase + "ntial malo\r\n";
  const size_t at = r.seen.rfind(message);
  ASSERT_NE(at, std::string::npos) << r.seen;
  EXPECT_EQ(r.seen.find('\n', at + message.size()), r.seen.size() - 1) << "one line after it";
  const auto texts = LineTexts(r.seen.substr(0, at));
  ASSERT_FALSE(texts.empty());
  for (const auto &text : texts)
    EXPECT_EQ(text.rfind("shoot_c2  P = ", 0), 0u) << text;
}

// shoot_a1 with a key pending stops each pass after its first record and
// waits twice for Enter at the end.
TEST(Progress, TheFinalStateStaysDuringTheWaitForEnterAndGoesAfterIt) {
  ChildSetup setup(MakeTempDir(), Input::PendingByte);
  const Outcome r = RunProgramWatched(setup, "shoot_a1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(setup.dir + "/stdout.bin"), "");
  EXPECT_EQ(ReadFile(setup.dir + "/ZANFEL.RES"), Golden("shoot_a1", "ZANFEL.RES"));
  const auto [seen, summary] = SplitSummary(r.seen);
  const auto texts = LineTexts(seen);
  ASSERT_GE(texts.size(), 4u) << r.seen;
  // The results file holds the last pass's record only.
  const std::string ended = "shoot_a1: stopped by a key; 1 record in " + setup.dir +
                            "/ZANFEL.RES; picture " + setup.dir + "/ZANFEL.PNG";
  const std::string final = ended + " - waiting for Enter";
  EXPECT_EQ(texts[texts.size() - 4], final);
  EXPECT_EQ(texts[texts.size() - 3], "");
  EXPECT_EQ(texts[texts.size() - 2], final);
  EXPECT_EQ(texts[texts.size() - 1], "");
  EXPECT_TRUE(EndsWith(seen, kErase));
  EXPECT_EQ(summary, ended);
}

TEST(Progress, AnInterruptErasesTheLine) {
  ChildSetup setup(MakeTempDir(), Input::Open);
  bool sent = false;
  const Outcome r =
      RunProgramWatched(setup, "shoot_b1", [&](pid_t pid, int &, const std::string &seen) {
        if (!sent && seen.find("records") != std::string::npos) {
          kill(pid, SIGINT);
          sent = true;
        }
      });
  ASSERT_TRUE(sent);
  EXPECT_EQ(r.status, 128 + SIGINT);
  const auto [seen, summary] = SplitSummary(r.seen);
  EXPECT_TRUE(EndsWith(seen, kErase)) << r.seen;
  EXPECT_EQ(summary.rfind("shoot_b1: interrupted (SIGINT); ", 0), 0u) << r.seen;
  EXPECT_EQ(ReadFile(setup.dir + "/stdout.bin"), "");
}

// The way out through the fault handling, as a program meets it after some
// records: the terminal mode comes back and the line goes before the report.
TEST(Progress, EveryWayOutErasesTheLineBeforeItsReport) {
  const struct {
    const char *name;
    void (*end)();
    int status;
    const char *report;
  } cases[] = {
      {"run-time error", [] { RuntimeError(kRangeCheck); }, 201, "Runtime error 201\r\n"},
      {"fatal end", [] { FatalEnd(0); }, 0, ""},
      {"trap",
       [] {
         volatile long double zero = 0.0L;
         volatile long double q = 1.0L / zero;
         (void)q;
       },
       200, "Runtime error 200\r\n"},
      {"termination", [] { raise(SIGTERM); }, 128 + SIGTERM, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ChildSetup setup(MakeTempDir());
    setup.stdinOnTerminal = setup.stdoutOnTerminal = true;
    const Outcome r = RunWatched(setup,
                                 [&] {
                                   InstallFaultHandling();
                                   EnterRunMode();
                                   progress::Start("probe");
                                   progress::AfterRecord(1.5L, 3);
                                   c.end();
                                 },
                                 {});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.seen, "\rprobe  P =   1.50000000  records 3\033[K" + kErase + c.report);
    EXPECT_TRUE(r.terminalCanonical) << "the terminal mode restored too";
  }
}

// --- The window title ---

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

// With a window shown the progress is in its title, and the terminal on
// standard error stays untouched.
TEST(Progress, TheWindowTitleTellsHowTheRunEnded) {
  const std::string xwininfo = zanfel::testing::FindProgram("xwininfo");
  if (zanfel::testing::FindProgram("Xvfb").empty() || xwininfo.empty())
    GTEST_SKIP() << "Xvfb or xwininfo (x11-utils) is not installed";
  zanfel::testing::VirtualDisplay display;
  ASSERT_TRUE(display.Start()) << "Xvfb did not start";
  ChildSetup setup(MakeTempDir(), Input::PendingByteThenOpen);
  setup.display = display.Name();
  // The key waits from the start: the sweep stops after its first record and
  // the program waits for Enter with the key byte read.
  const std::string title = "\"shoot_b1: stopped by a key; 1 record in " + setup.dir +
                            "/ZANFEL.RES; picture " + setup.dir +
                            "/ZANFEL.PNG - waiting for Enter\"";
  std::string tree;
  const Outcome r =
      RunProgramWatched(setup, "shoot_b1", [&](pid_t, int &stdinFd, const std::string &) {
        if (stdinFd < 0)
          return;
        tree = WindowTree(xwininfo, display.Name());
        if (tree.find(title) != std::string::npos) {
          EXPECT_EQ(write(stdinFd, "\n", 1), 1);
          close(stdinFd);
          stdinFd = -1;
        }
      });
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(tree.find(title), std::string::npos) << tree;
  // Nothing but the summary line at the end.
  EXPECT_EQ(r.seen.rfind("shoot_b1: stopped by a key; ", 0), 0u) << r.seen;
  EXPECT_EQ(r.seen.find('\n'), r.seen.size() - 1) << r.seen;
}

} // namespace
} // namespace zanfel
