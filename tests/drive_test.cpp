// Driving a run: the command line, the prompt and the summary on a terminal,
// Ctrl-C and SIGTERM, the character set of a terminal, scripts/run.sh and the
// installed manual.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <regex>
#include <sys/wait.h>
#include <unistd.h>

#include "app/command_line.hpp"
#include "app/progress.hpp"
#include "app/summary.hpp"
#include "runtime/charset.hpp"
#include "runtime/console.hpp"
#include "runtime/end_cause.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/interrupt.hpp"
#include "runtime/signals.hpp"
#include "support/terminal.hpp"
#include "support/test_support.hpp"

// Last: its baud-rate macros (B0) would rename names in the headers above.
#include <termios.h>

namespace zanfel {
namespace {

using testing::Exec;
using testing::ProgramPath;
using testing::ReadFile;
using testing::RunOnTerminal;
using testing::Stdin;
using testing::TempDir;
using testing::TerminalRun;
using testing::VisibleLines;

const char *const kPrograms[] = {"shoot_a1", "shoot_a2", "shoot_b1",
                                 "shoot_b2", "shoot_c1", "shoot_c2"};

using testing::Exists;
using testing::PlainShootC2;
using testing::ReferenceArithmetic;
using testing::ShootC2EndsWhy;

// Six CRLF lines a record, nothing after the last one. Returns the count.
long WholeRecords(const std::string &res) {
  long lines = 0;
  for (size_t p = res.find("\r\n"); p != std::string::npos; p = res.find("\r\n", p + 2))
    ++lines;
  EXPECT_EQ(lines % 6, 0) << "a record cut short";
  EXPECT_TRUE(res.empty() || res.substr(res.size() - 4) == "\r\n\r\n") << "text after a record";
  return lines / 6;
}

std::string Summary(const std::string &program, const std::string &why, long records,
                    const std::string &dir) {
  return program + ": " + why + "; " + std::to_string(records) +
         (records == 1 ? " record in " : " records in ") + dir + "/ZANFEL.RES; pictures " + dir +
         "/ZANFEL.PNG and ZANFEL.SVG";
}

// --- The command line ---

CommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "shoot_c1");
  std::vector<const char *> argv;
  for (const auto &a : args)
    argv.push_back(a.c_str());
  return ParseCommandLine(int(argv.size()), argv.data());
}

TEST(CommandLine, ReadsItsOptionsAndRejectsAnythingElse) {
  using Action = CommandLine::Action;
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  testing::WriteFile(dir + "/file", "");
  EXPECT_EQ(Parse({}).action, Action::Run);
  EXPECT_EQ(Parse({"--help"}).action, Action::Help);
  EXPECT_EQ(Parse({"--version"}).action, Action::Version);
  EXPECT_EQ(Parse({"-h"}).action, Action::Help);
  EXPECT_EQ(Parse({"-V"}).action, Action::Version);
  EXPECT_TRUE(Parse({"--no-window"}).noWindow);
  EXPECT_FALSE(Parse({}).noWindow);
  // Help looks at no directory.
  EXPECT_EQ(Parse({"--dir", "/no/such/dir", "--help"}).action, Action::Help);

  CommandLine line = Parse({"--dir", dir, "--threads", "3"});
  EXPECT_EQ(line.action, Action::Run);
  EXPECT_EQ(line.dir, dir);
  EXPECT_EQ(line.threads, 3);
  EXPECT_FALSE(line.resume);
  line = Parse({"--threads=1024", "--resume", "--dir=" + dir});
  EXPECT_TRUE(line.resume);
  EXPECT_EQ(line.action, Action::Run);
  EXPECT_EQ(line.dir, dir);
  EXPECT_EQ(line.threads, 1024);

  // Settings in both forms; reals read exactly into the 80-bit real.
  line = Parse({"--from", "0.1", "--step=-0.005", "--range", "-1e1:15", "--records=7", "--tolf",
                "1e-12", "--tolx=0", "--ntrial", "3", "--budgets=10"});
  EXPECT_EQ(line.action, Action::Run);
  const SettingOptions &o = line.settings;
  EXPECT_EQ(o.from, 0.1L); // not 0.1 as a double
  EXPECT_EQ(o.step, -0.005L);
  EXPECT_EQ(o.P1, -10.0L);
  EXPECT_EQ(o.P2, 15.0L);
  EXPECT_EQ(o.records, 7);
  EXPECT_EQ(o.tolf, 1e-12L);
  EXPECT_EQ(o.tolx, 0.0L);
  EXPECT_EQ(o.ntrial, 3);
  EXPECT_EQ(o.budgets, 10);
  EXPECT_FALSE(Parse({}).settings.tolf.has_value());
  line = Parse({"--dir", dir, "--dir", dir + "/", "--from=2", "--from", "3", "--threads=4"});
  EXPECT_EQ(line.action, Action::Run);
  EXPECT_EQ(line.dir, dir + "/");
  EXPECT_EQ(line.settings.from, 3.0L);

  const struct {
    std::vector<std::string> args;
    const char *error;
  } wrong[] = {
      {{"--bogus"}, "unknown argument '--bogus'"},
      {{"-v"}, "unknown argument '-v'"},
      {{"-hV"}, "unknown argument '-hV'"},
      {{"--help", "x"}, "unknown argument 'x'"},
      {{"--threads", "0"}, "--threads wants a whole number from 1 to 1024, not '0'"},
      {{"--threads", "1025"}, "not '1025'"},
      {{"--threads=2x"}, "not '2x'"},
      {{"--threads", "-1"}, "not '-1'"},
      {{"--threads"}, "option --threads needs a value"},
      {{"--dir"}, "option --dir needs a value"},
      {{"--dir="}, "option --dir needs a directory"},
      {{"--dir", "/no/such/dir"}, "--dir /no/such/dir: No such file or directory"},
      {{"--dir", dir + "/file"}, "not a directory"},
      // An option is its whole name, or its name and '='.
      {{"--dirX"}, "unknown argument '--dirX'"},
      {{"--dirX=" + dir}, "unknown argument '--dirX="},
      {{"--threadsX=2"}, "unknown argument '--threadsX=2'"},
      {{"--resumeX"}, "unknown argument '--resumeX'"},
      {{"--help=1"}, "unknown argument '--help=1'"},
      {{"--dir", dir, "--version", "--bogus"}, "unknown argument '--bogus'"},
      // Settings out of bounds.
      {{"--tolf", "nan"}, "--tolf wants a finite number, not 'nan'"},
      {{"--tolx=inf"}, "--tolx wants a finite number, not 'inf'"},
      {{"--tolf", "-1e-12"}, "--tolf wants a tolerance of 0 or more"},
      {{"--from", "1e"}, "--from wants a finite number, not '1e'"},
      {{"--from", ""}, "--from wants a finite number"},
      {{"--step", "0"}, "--step wants a step other than 0"},
      {{"--step=-0.0"}, "--step wants a step other than 0"},
      {{"--range", "5:5"}, "--range wants P1 below P2, not '5:5'"},
      {{"--range", "7:1"}, "P1 below P2"},
      {{"--range", "1,5"}, "--range wants two finite numbers P1:P2"},
      {{"--range", "1:"}, "two finite numbers"},
      {{"--budgets", "0"}, "--budgets wants a whole number from 1 to 32767, not '0'"},
      {{"--ntrial", "32768"}, "--ntrial wants a whole number from 1 to 32767"},
      {{"--records", "0"}, "--records wants a whole number from 1"},
      {{"--records", "-3"}, "not '-3'"},
      {{"--records", "2.5"}, "not '2.5'"},
      {{"--budgets"}, "option --budgets needs a value"},
      {{"--tolfX=1"}, "unknown argument '--tolfX=1'"},
      // Reals are decimal text, as whole numbers are: no hexadecimal.
      {{"--from", "0x1p3"}, "--from wants decimal text, not '0x1p3'"},
      {{"--step=-0X1p-7"}, "--step wants decimal text, not '-0X1p-7'"},
      {{"--range", "1:0x10"}, "--range wants decimal text, not '1:0x10'"},
      {{"--tolf", "0x1p-40"}, "--tolf wants decimal text"},
      {{"--continuation", "arclength", "--max-step", "0x1"}, "--max-step wants decimal text"},
      {{"--records", "0x10"}, "--records wants a whole number from 1"},
      // An option given twice: each value is checked, the last one counts.
      {{"--dir", "/no/such/dir", "--dir", dir}, "--dir /no/such/dir: No such file or directory"},
      {{"--dir", dir, "--dir=/no/such/dir"}, "--dir /no/such/dir: No such file"},
      {{"--threads", "0", "--threads", "2"}, "--threads wants a whole number"},
      {{"--from", "1", "--from", "nan"}, "--from wants a finite number, not 'nan'"},
  };
  for (const auto &w : wrong) {
    SCOPED_TRACE(w.args.front());
    line = Parse(w.args);
    EXPECT_EQ(line.action, Action::Error);
    EXPECT_NE(line.error.find(w.error), std::string::npos) << line.error;
  }
}

TEST(CommandLine, HelpVersionAndAWrongCommandLineTouchNoFile) {
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  for (const std::string program : kPrograms) {
    SCOPED_TRACE(program);
    auto r = testing::RunProgram(dir, Stdin::EndOfFile, ProgramPath(program), {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: " + program +
                              " [--dir DIR] [--threads N] [--resume] [--no-window] [SETTINGS]\n",
                          0),
              0u);
    for (const char *part :
         {"ZANFEL.RES", "ZANFEL.PNG", "ZANFEL.SVG", "Ctrl-C", "Exit status:", "128+N",
          "--budgets K", "(default: 1e-15)", "  10  ", "  11  ", "  12  "})
      EXPECT_NE(r.out.find(part), std::string::npos) << part;
    EXPECT_EQ(r.err, "");

    r = testing::RunProgram(dir, Stdin::EndOfFile, ProgramPath(program), {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex(program + R"( \(ZANFEL\) \d+\.\d+\n)")))
        << r.out;

    r = testing::RunProgram(dir, Stdin::EndOfFile, ProgramPath(program), {"--threads", "many"});
    EXPECT_EQ(r.status, 64);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, program + ": --threads wants a whole number from 1 to 1024, not 'many' " +
                         "(usage: " + program +
                         " [--dir DIR] [--threads N] [--resume] [--no-window] [SETTINGS] [--help] "
                         "[--version])\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << "no file written";

    // A start outside the range is known only to the program.
    r = testing::RunProgram(dir, Stdin::EndOfFile, ProgramPath(program), {"--range=20:30"});
    EXPECT_EQ(r.status, 64);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(program + ": the start P = "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lies outside the range [20, 30]"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << "no file written";
  }
  // An argument with a line end in it still gives one line.
  auto r = testing::RunProgram(dir, Stdin::EndOfFile, ProgramPath("shoot_c2"), {"a\nb\x01"});
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.err.rfind("shoot_c2: unknown argument 'a\\nb\\x01' (usage: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  // An answer that cannot be written is an I/O error, not a success.
  if (access("/dev/full", W_OK) == 0)
    for (const char *option : {"--help", "--version"}) {
      r = testing::RunInChild(dir, Stdin::EndOfFile, [option] {
        const int full = open("/dev/full", O_WRONLY);
        dup2(full, 1);
        return testing::ExecProgram(ProgramPath("shoot_c2"), {option});
      });
      EXPECT_EQ(r.status, 74) << option;
    }
  // A resume that cannot start says why in one line, and nothing more, on a
  // terminal too.
  testing::ChildSetup setup;
  setup.dir = dir;
  setup.err = testing::Sink::Terminal;
  setup.args = {"--resume"};
  r = testing::RunBuilt(setup, "shoot_c2");
  EXPECT_EQ(r.status, 66);
  EXPECT_EQ(r.terminal.find("finished"), std::string::npos) << r.terminal;
  EXPECT_NE(r.terminal.find("shoot_c2: cannot resume: ZANFEL.RES: No such file"), std::string::npos)
      << r.terminal;
  EXPECT_TRUE(std::filesystem::is_empty(dir)) << "no file written";
}

// The reference run, with its files in another directory and on one thread.
TEST(CommandLine, DirAndThreadsPutTheSameBytesElsewhere) {
  const TempDir cwdTmp;
  const std::string cwd = cwdTmp.Path();
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  const auto r = testing::RunProgram(cwd, Stdin::EndOfFile, ProgramPath("shoot_c2"),
                                     {"--dir", dir, "--threads=1"});
  EXPECT_EQ(r.status, kIterationLimitStatus); // the run ends at the iteration limit
  EXPECT_EQ(r.out, PlainShootC2("stdout.bin"));
  EXPECT_EQ(ReadFile(dir + "/ZANFEL.RES"), PlainShootC2("ZANFEL.RES"));
  EXPECT_TRUE(Exists(dir + "/ZANFEL.PNG"));
  EXPECT_TRUE(std::filesystem::is_empty(cwd));
}

// --- On a terminal ---

// A person at a terminal: stops the sweep with a key once a record is shown,
// answers the prompt, and is left with the summary line alone.
TEST(Terminal, ThePromptShowsDuringTheFinalWaitAndTheSummaryStays) {
  TerminalRun run;
  const TempDir runTmp;
  run.dir = runTmp.Path();
  bool keyTyped = false, enterTyped = false, picturesThere = false;
  const auto r = RunOnTerminal(
      run, Exec({ProgramPath("shoot_b1")}), [&](pid_t, int master, const std::string &screen) {
        if (!keyTyped && screen.find("records") != std::string::npos)
          keyTyped = write(master, "k", 1) == 1;
        if (!enterTyped && screen.find("\rPress Enter to continue\033[K") != std::string::npos) {
          // The summary shown during the wait names the pictures: they are there.
          picturesThere = Exists(run.dir + "/ZANFEL.PNG") && Exists(run.dir + "/ZANFEL.SVG");
          enterTyped = write(master, "\n", 1) == 1;
        }
      });
  EXPECT_TRUE(enterTyped) << r.screen;
  EXPECT_TRUE(picturesThere);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.canonical);
  const long records = WholeRecords(ReadFile(run.dir + "/ZANFEL.RES"));
  EXPECT_GE(records, 1);
  const auto lines = VisibleLines(r.screen);
  EXPECT_EQ(lines,
            std::vector<std::string>{Summary("shoot_b1", "stopped by a key", records, run.dir)})
      << r.screen;
  EXPECT_EQ(ReadFile(run.dir + "/stdout.bin"), "");
}

// With --no-window there is no picture on the screen to look at: a key stop
// ends the run with its summary, without a wait for Enter.
TEST(Terminal, WithoutAWindowAKeyStopEndsWithoutTheFinalWait) {
  TerminalRun run;
  const TempDir runTmp;
  run.dir = runTmp.Path();
  bool keyTyped = false, waited = false;
  const auto r = RunOnTerminal(run, Exec({ProgramPath("shoot_b1"), "--no-window"}),
                               [&](pid_t, int master, const std::string &screen) {
                                 if (!keyTyped && screen.find("records") != std::string::npos)
                                   keyTyped = write(master, "k", 1) == 1;
                                 if (!waited && screen.find("Press Enter") != std::string::npos)
                                   waited = write(master, "\n", 1) == 1;
                               });
  EXPECT_TRUE(keyTyped) << r.screen;
  EXPECT_FALSE(waited) << r.screen;
  EXPECT_EQ(r.status, 0);
  const long records = WholeRecords(ReadFile(run.dir + "/ZANFEL.RES"));
  EXPECT_EQ(VisibleLines(r.screen),
            std::vector<std::string>{Summary("shoot_b1", "stopped by a key", records, run.dir)})
      << r.screen;
}

TEST(Terminal, CtrlCEndsWithinASecondKeepingTheRecordsAndThePicture) {
  TerminalRun run;
  const TempDir runTmp;
  run.dir = runTmp.Path();
  std::chrono::steady_clock::time_point typed;
  bool interrupted = false;
  const auto r = RunOnTerminal(run, Exec({ProgramPath("shoot_b1")}),
                               [&](pid_t, int master, const std::string &screen) {
                                 if (!interrupted && screen.find("records") != std::string::npos) {
                                   interrupted = write(master, "\x03", 1) == 1;
                                   typed = std::chrono::steady_clock::now();
                                 }
                               });
  const double after =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - typed).count();
  ASSERT_TRUE(interrupted);
  EXPECT_EQ(r.status, 128 + SIGINT);
  EXPECT_EQ(r.signal, SIGINT) << "ended by the signal, not by an exit with its number";
  EXPECT_LT(after, 1.0);
  EXPECT_TRUE(r.canonical);
  const long records = WholeRecords(ReadFile(run.dir + "/ZANFEL.RES"));
  EXPECT_EQ(ReadFile(run.dir + "/ZANFEL.PNG").substr(0, 4), "\x89PNG");
  EXPECT_EQ(VisibleLines(r.screen),
            std::vector<std::string>{Summary("shoot_b1", "interrupted (SIGINT)", records, run.dir)})
      << r.screen;

  // SIGTERM from a script: nothing on the terminal, the picture all the same.
  const TempDir secondTmp;
  run.dir = secondTmp.Path();
  run.stdinOnTerminal = run.stderrOnTerminal = false;
  bool terminated = false;
  const auto t =
      RunOnTerminal(run, Exec({ProgramPath("shoot_b1")}), [&](pid_t pid, int, const std::string &) {
        if (!terminated && ReadFile(run.dir + "/ZANFEL.RES").find("\r\n\r\n") != std::string::npos)
          terminated = kill(pid, SIGTERM) == 0;
      });
  ASSERT_TRUE(terminated);
  EXPECT_EQ(t.status, 128 + SIGTERM);
  EXPECT_EQ(t.screen, "");
  EXPECT_GE(WholeRecords(ReadFile(run.dir + "/ZANFEL.RES")), 1);
  EXPECT_TRUE(Exists(run.dir + "/ZANFEL.PNG"));
}

// A wait on its own: the prompt is erased where it is, and only an Enter
// typed during the wait answers it (what was typed before it, in the run
// mode, is the sweep's and is discarded). Stopped with Ctrl-Z and continued,
// the wait shows its prompt again.
TEST(Terminal, OnlyAnEnterTypedDuringTheWaitAnswersIt) {
  TerminalRun run;
  const TempDir runTmp;
  run.dir = runTmp.Path();
  int sync[2];
  ASSERT_EQ(pipe(sync), 0);
  const int ready = sync[1];
  auto waitOnce = [ready] {
    InstallFaultHandling();
    EnterRunMode();
    if (write(2, "before\n", 7) != 7 || write(ready, "r", 1) != 1)
      _exit(98);
    usleep(300000); // time to type ahead
    WaitForEnter();
    RestoreTerminal();
    _exit(0);
  };
  const std::string prompt = "Press Enter to continue";
  const auto count = [&prompt](const std::string &screen) {
    size_t n = 0;
    for (size_t at = screen.find(prompt); at != std::string::npos; at = screen.find(prompt, at + 1))
      ++n;
    return n;
  };
  enum class Way { During, Ahead, StoppedAndContinued };
  for (Way way : {Way::During, Way::Ahead, Way::StoppedAndContinued}) {
    SCOPED_TRACE(int(way));
    bool typedAhead = false, stopped = false, continued = false, typed = false;
    const auto r =
        RunOnTerminal(run, waitOnce, [&](pid_t pid, int master, const std::string &screen) {
          pollfd p = {sync[0], POLLIN, 0};
          char c;
          if (!typedAhead && poll(&p, 1, 0) > 0 && read(sync[0], &c, 1) == 1)
            typedAhead = way != Way::Ahead || write(master, "k\n", 2) == 2;
          const size_t prompts = count(screen);
          if (way == Way::StoppedAndContinued && prompts == 1 && !stopped)
            stopped = kill(pid, SIGTSTP) == 0;
          else if (stopped && !continued && screen.substr(screen.size() - 3) == "\r\033[K")
            continued = kill(pid, SIGCONT) == 0;
          else if (!typed && prompts == (way == Way::StoppedAndContinued ? 2u : 1u))
            typed = write(master, "\n", 1) == 1;
        });
    EXPECT_TRUE(typed) << r.screen;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.screen), way == Way::StoppedAndContinued ? 2u : 1u) << r.screen;
    EXPECT_EQ(VisibleLines(r.screen), std::vector<std::string>{"before"}) << r.screen;
  }
  close(sync[0]);
  close(sync[1]);
}

// A run started with & where an earlier run left its files: the terminal
// has output stops on (stty tostop) and the run is not in its foreground, so
// touching the terminal's mode or reading it would stop the run. It runs to
// its end untouched by a key typed there, keeps the earlier files under
// one number and says so, and shows no status line.
TEST(Terminal, ABackgroundRunKeepsTheEarlierResultsAndLeavesTheTerminalAlone) {
  TerminalRun run;
  const TempDir runTmp;
  run.dir = runTmp.Path();
  for (const char *name : {"ZANFEL.RES", "ZANFEL.CSV", "ZANFEL.PNG", "ZANFEL.SVG"})
    testing::WriteFile(run.dir + "/" + name, std::string("earlier ") + name);
  const std::string program = ProgramPath("shoot_c2");
  const auto shell = [program] {
    termios mode{};
    tcgetattr(0, &mode);
    mode.c_lflag |= TOSTOP;
    tcsetattr(0, TCSANOW, &mode);
    const pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      execl(program.c_str(), program.c_str(), "--threads", "1", nullptr);
      _exit(127);
    }
    setpgid(job, job);
    int status = 0;
    while (waitpid(job, &status, WUNTRACED) < 0) {
    }
    if (WIFSTOPPED(status)) {
      kill(job, SIGKILL);
      _exit(99); // stopped by the terminal
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 98);
  };
  bool typed = false;
  // Typed once the run has said where the earlier results went, so that the
  // terminal's echo of it comes after that line.
  const auto r = RunOnTerminal(run, shell, [&](pid_t, int master, const std::string &screen) {
    if (!typed && screen.find("Earlier results kept") != std::string::npos)
      typed = write(master, "k\n", 2) == 2;
  });
  EXPECT_EQ(r.status, kIterationLimitStatus) << r.screen;
  EXPECT_TRUE(r.canonical);
  EXPECT_EQ(ReadFile(run.dir + "/ZANFEL.RES"), PlainShootC2("ZANFEL.RES"));
  EXPECT_EQ(ReadFile(run.dir + "/stdout.bin"), PlainShootC2("stdout.bin"));
  for (const char *name : {"ZANFEL.RES", "ZANFEL.CSV", "ZANFEL.PNG", "ZANFEL.SVG"})
    EXPECT_EQ(ReadFile(run.dir + "/" + name + ".~1~"), std::string("earlier ") + name);
  EXPECT_EQ(r.screen.find("\r"), r.screen.find("\r\n")) << "no line rewritten in place";
  const long records = WholeRecords(ReadFile(run.dir + "/ZANFEL.RES"));
  EXPECT_EQ(VisibleLines(r.screen),
            (std::vector<std::string>{
                "Earlier results kept as ZANFEL.RES.~1~, ZANFEL.CSV.~1~, ZANFEL.PNG.~1~, "
                "ZANFEL.SVG.~1~",
                "k", // the terminal's own echo of the key, left for the foreground
                Summary("shoot_c2", ShootC2EndsWhy(), records, run.dir)}))
      << r.screen;
}

// --- The summary line ---

TEST(Summary, SaysWhyTheRunEndedWhicheverWayItEnds) {
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  const auto r = testing::RunInChild(dir, Stdin::DevNull, [] {
    summary::Start("shoot_c1", "ZANFEL.RES", "/pictures/ZANFEL.PNG", "/pictures/ZANFEL.SVG");
    std::string text;
    auto say = [&text](EndWay way, int code) {
      char buf[1024];
      text += std::string(buf, summary::Compose(buf, sizeof buf, way, code)) + "\n";
    };
    say(EndWay::Normal, 0);
    summary::NoteRecords(1, 1, 1);
    summary::NoteSweepEnd(progress::SweepEndText(SweepEnd::LeftRange, false));
    say(EndWay::Normal, 0);
    summary::NoteRecords(269, 269, 1);
    summary::NoteP(3.80364898L);
    NoteFatalCause(FatalCause::IterationLimit);
    say(EndWay::Fatal, 0);
    // Passes counted as the pictures count them; a file that keeps only the
    // last pass says so.
    summary::NoteRecords(61, 61, 2);
    say(EndWay::Signal, SIGINT);
    summary::NoteRecords(1, 25, 25);
    say(EndWay::Signal, SIGINT);
    // Every other reason, as the line and the pictures' titles say it.
    summary::NoteSweepEnd(progress::SweepEndText(SweepEnd::Key, false));
    text += summary::ReasonText(EndWay::Normal, 0) + "\n";
    summary::NoteSweepEnd(progress::SweepEndText(SweepEnd::Key, true)); // no window now
    text += summary::ReasonText(EndWay::Normal, 0) + "\n";
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ, SIGUSR1, SIGWINCH})
      text += summary::ReasonText(EndWay::Signal, sig) + "\n";
    text += summary::ReasonText(EndWay::RuntimeError, 207) + "\n";
    NoteFatalCause(FatalCause::InvalidIntegratorCall);
    text += summary::ReasonText(EndWay::Fatal, 0) + "\n";
    NoteFatalCause(FatalCause::Unknown);
    text += summary::ReasonText(EndWay::Fatal, 1) + "\n";
    return write(1, text.data(), text.size()) == ssize_t(text.size()) ? 0 : 1;
  });
  const std::string res = std::filesystem::canonical(dir).string() + "/ZANFEL.RES";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.out,
      "shoot_c1: finished; no records in " + res + "; no picture\n" +
          "shoot_c1: P left its range; 1 record in " + res + "; no picture\n" +
          "shoot_c1: iteration limit at P = 3.80364898; 269 records in " + res + "; no picture\n" +
          "shoot_c1: interrupted (SIGINT); 61 records in 2 passes in " + res + "; no picture\n" +
          "shoot_c1: interrupted (SIGINT); 25 records in 25 passes, the last pass's 1 in " + res +
          "; no picture\n"
          "stopped by a key\n"
          "window closed\n"
          "interrupted (SIGINT)\n"
          "terminated (SIGTERM)\n"
          "hang-up (SIGHUP)\n"
          "quit (SIGQUIT)\n"
          "broken pipe (SIGPIPE)\n"
          "file-size limit (SIGXFSZ)\n"
          "SIGUSR1\n"
          "signal " +
          std::to_string(SIGWINCH) +
          "\n"
          "run-time error 207\n"
          "invalid integrator call\n"
          "graphics could not be initialised\n");
}

// --- The character set of a terminal ---

TEST(Charset, ATerminalIsUtf8UnlessTheLocaleNamesAnotherSet) {
  // zz_ZZ is installed nowhere: its name alone tells.
  const struct {
    const char *all, *ctype, *lang, *charset;
  } cases[] = {
      {"", "", "", "UTF-8"},
      {"", "", "C", "UTF-8"},
      {"", "", "POSIX", "UTF-8"},
      {"", "", "C.UTF-8", "UTF-8"},
      {"", "", "zz_ZZ.utf8", "UTF-8"},
      {"", "", "zz_ZZ", "UTF-8"},
      {"", "", "zz_ZZ.KOI8-R", "KOI8-R"},
      {"", "zz_ZZ.CP1251", "C.UTF-8", "CP1251"},
      {"zz_ZZ.ISO-8859-5@cyrillic", "zz_ZZ.CP1251", "", "ISO-8859-5"},
      {"C.UTF-8", "zz_ZZ.CP1251", "", "UTF-8"},
  };
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.all) + "|" + c.ctype + "|" + c.lang);
    const auto r = testing::RunInChild(dir, Stdin::DevNull, [&c] {
      for (const auto &[name, value] :
           {std::pair{"LC_ALL", c.all}, {"LC_CTYPE", c.ctype}, {"LANG", c.lang}})
        *value ? setenv(name, value, 1) : unsetenv(name);
      const std::string charset = TerminalCharset();
      return write(1, charset.data(), charset.size()) > 0 ? 0 : 1;
    });
    EXPECT_EQ(r.out, c.charset);
  }
}

// The bytes on the terminal: UTF-8 with no locale set, KOI8-R when a locale
// that is not installed names it.
TEST(Charset, MessagesOnATerminalInTheCharsetItUses) {
  const std::string tooManySteps = "C"
                                   "лишк"
                                   "o"
                                   "м много шагов";
  TerminalRun run;
  const TempDir runTmp;
  run.dir = runTmp.Path();
  run.stdoutOnTerminal = true;
  run.unset.insert(run.unset.end(), {"LANG", "LC_ALL", "LC_CTYPE"});
  auto write = [&] {
    WriteMessageLine(tooManySteps);
    _exit(0);
  };
  auto r = RunOnTerminal(run, write);
  EXPECT_EQ(r.screen, tooManySteps + "\r\n");
  run.set = {{"LANG", "zz_ZZ.KOI8-R"}};
  r = RunOnTerminal(run, write);
  EXPECT_EQ(r.screen, "C\xCC\xC9\xDB\xCBo\xCD \xCD\xCE\xCF\xC7\xCF \xDB\xC1\xC7\xCF\xD7\r\n");
}

// --- Ctrl-C and SIGTERM inside the program ---

TEST(Interrupt, TheFirstAsksTheSecondEndsAtOnce) {
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  auto r = testing::RunInChild(dir, Stdin::DevNull, [] {
    InstallFaultHandling();
    InstallInterruptHandlers();
    raise(SIGINT);
    if (InterruptSignal() != SIGINT)
      return 1;
    if (write(1, "asked\n", 6) != 6)
      return 2;
    raise(SIGINT);
    return 3;
  });
  EXPECT_EQ(r.status, 128 + SIGINT);
  EXPECT_EQ(r.signal, SIGINT);
  EXPECT_EQ(r.out, "asked\n");

  r = testing::RunInChild(dir, Stdin::DevNull, [] {
    InstallFaultHandling();
    InstallInterruptHandlers();
    SetInterruptWork([] { (void)!write(1, "picture\n", 8); });
    raise(SIGTERM);
    if (write(1, "safe point\n", 11) != 11)
      return 2;
    EndIfInterrupted();
    return 3;
  });
  EXPECT_EQ(r.status, 128 + SIGTERM);
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_EQ(r.out, "safe point\npicture\n");

  // Started with Ctrl-C ignored (nohup, a background job): it stays so.
  r = testing::RunInChild(dir, Stdin::DevNull, [] {
    signal(SIGINT, SIG_IGN);
    InstallFaultHandling();
    InstallInterruptHandlers();
    raise(SIGINT);
    EndIfInterrupted();
    return InterruptSignal() == 0 ? 0 : 1;
  });
  EXPECT_EQ(r.status, 0);
}

// --- The script and the installation ---

TEST(RunScript, AnUnknownProgramIsAnErrorThatListsTheSix) {
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  const auto r =
      testing::RunProgram(dir, Stdin::DevNull, "/bin/sh",
                          {std::string(ZANFEL_SOURCE_DIR) + "/scripts/run.sh", "shoot_x1"});
  EXPECT_EQ(r.status, 64);
  EXPECT_EQ(r.out, "");
  for (const char *program : kPrograms)
    EXPECT_NE(r.err.find(program), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// The children of the tests see the same environment whatever the caller's
// (cron's TERM=dumb, a desktop's display, a locale of its own), on pipes and
// on a terminal alike: the suite's expectations do not depend on who runs it.
TEST(ChildEnvironment, IsTheSameWhateverTheCallerHas) {
  const std::vector<std::pair<const char *, const char *>> caller = {
      {"TERM", "dumb"},
      {"LC_ALL", "ru_RU.KOI8-R"},
      {"LANG", "de_DE.ISO-8859-1"},
      {"DISPLAY", ":77"},
      {"WAYLAND_DISPLAY", "wayland-7"}};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const auto &[name, value] : caller) {
    const char *was = std::getenv(name);
    saved.emplace_back(name, was ? std::optional<std::string>(was) : std::nullopt);
    setenv(name, value, 1);
  }
  const std::string probe = "echo \"TERM=$TERM LC_ALL=${LC_ALL-} LANG=${LANG-} "
                            "DISPLAY=${DISPLAY-} WAYLAND=${WAYLAND_DISPLAY-}\"";
  const TempDir dir;
  const auto onPipes = testing::RunProgram(dir.Path(), Stdin::DevNull, "/bin/sh", {"-c", probe});
  TerminalRun run;
  run.dir = dir.Path();
  run.stdoutOnTerminal = true;
  const auto onTerminal = RunOnTerminal(run, Exec({"/bin/sh", "-c", probe}));
  for (const auto &[name, value] : saved)
    value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  const std::string expected = "TERM=xterm LC_ALL= LANG= DISPLAY= WAYLAND=";
  EXPECT_EQ(onPipes.out, expected + "\n");
  EXPECT_EQ(VisibleLines(onTerminal.screen), std::vector<std::string>{expected});
}

// A run that ends early says on the console why, and the command that goes
// further, from the CSV's closing line; the program's own output is as it
// always is (the console bytes of the reference run before run.sh's lines).
TEST(RunScript, AnEarlyEndSaysWhyAndHowToGoFurther) {
  const std::string source = ZANFEL_SOURCE_DIR;
  if (std::filesystem::path(ZANFEL_BINARY_DIR) != std::filesystem::path(source + "/build"))
    GTEST_SKIP() << "run.sh builds and runs build/ of the sources, not this build";
  const TempDir dirTmp;
  const auto r = testing::RunProgram(dirTmp.Path(), Stdin::DevNull, "/bin/sh",
                                     {source + "/scripts/run.sh", "shoot_c2", "--threads", "1"});
  EXPECT_EQ(r.status, kIterationLimitStatus) << r.err;
  const std::string ended = PlainShootC2("stdout.bin") + "results: " + dirTmp.Path() +
                            "/ZANFEL.RES  plot: " + dirTmp.Path() +
                            "/ZANFEL.PNG and ZANFEL.SVG  exit status: 10\n"
                            "shoot_c2 ended early: " +
                            ShootC2EndsWhy() + "\n";
  const std::string further = "to go further: sh scripts/run.sh shoot_c2 --resume --tolf 1e-13\n";
  if (ReferenceArithmetic()) {
    EXPECT_TRUE(r.out.ends_with(ended + further)) << r.out;
  } else { // what to try is this run's own
    EXPECT_NE(r.out.find(ended + "to go further: "), std::string::npos) << r.out;
  }
}

TEST(Install, PutsTheProgramsTheManualAndTheManualPages) {
  const std::string cmake = testing::FindProgram("cmake");
  ASSERT_FALSE(cmake.empty());
  const TempDir prefixTmp;
  const std::string prefix = prefixTmp.Path();
  const auto r = testing::RunProgram(prefix, Stdin::DevNull, cmake,
                                     {"--install", ZANFEL_BINARY_DIR, "--prefix", prefix});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string readme = ReadFile(std::string(ZANFEL_SOURCE_DIR) + "/README.md");
  EXPECT_EQ(ReadFile(prefix + "/share/doc/zanfel/README.md"), readme);
  // Every picture the manual shows, where its relative link finds it.
  const std::regex picture(R"(!\[[^\]]*\]\(([^)]+)\))");
  int pictures = 0;
  for (auto it = std::sregex_iterator(readme.begin(), readme.end(), picture);
       it != std::sregex_iterator(); ++it, ++pictures)
    EXPECT_TRUE(Exists(prefix + "/share/doc/zanfel/" + (*it)[1].str())) << (*it)[1];
  EXPECT_GE(pictures, 2);
  for (const std::string program : kPrograms) {
    EXPECT_EQ(access((prefix + "/bin/" + program).c_str(), X_OK), 0) << program;
    const std::string page = ReadFile(prefix + "/share/man/man1/" + program + ".1");
    EXPECT_NE(page.find("--threads"), std::string::npos) << program << ".1";
    const std::size_t seeAlso = page.find("SEE ALSO");
    EXPECT_NE(seeAlso, std::string::npos) << program << ".1";
    EXPECT_NE(page.find("share/doc/zanfel", seeAlso), std::string::npos) << program << ".1";
  }
}

} // namespace
} // namespace zanfel
