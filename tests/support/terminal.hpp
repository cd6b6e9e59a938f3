// A pseudo-terminal as the controlling terminal of a child process, for
// tests that type on it (Enter, Ctrl-C) and read what a person would see.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace zanfel::testing {

struct TerminalRun {
  std::string dir;             // working directory of the child
  bool stdinOnTerminal = true; // otherwise /dev/null
  bool stderrOnTerminal = true;
  bool stdoutOnTerminal = false; // otherwise the file stdout.bin in dir
  // Over the children's standard environment (UseChildEnvironment: no
  // display, TERM=xterm, no locale), variables removed, then set.
  std::vector<std::string> unset;
  std::vector<std::pair<std::string, std::string>> set;
};

struct TerminalOutcome {
  int status = -1;        // exit status, or 128 + signal number
  std::string screen;     // every byte the terminal received
  bool canonical = false; // the terminal's mode after the end: line mode with echo
  int signal = 0;         // the signal that ended the child; 0 when it exited
  double seconds = 0.0;
};

// Called whenever bytes arrive and at least every 50 ms, with the bytes so
// far; writing to `master` types on the terminal.
using TerminalWatch = std::function<void(pid_t pid, int master, const std::string &screen)>;

// Runs `child` (which should exec or _exit) in a new session whose controlling
// terminal is a fresh pseudo-terminal, until it ends or 60 s pass.
TerminalOutcome RunOnTerminal(const TerminalRun &run, const std::function<void()> &child,
                              const TerminalWatch &watch = {});

// A child that execs argv (argv[0] a path).
std::function<void()> Exec(std::vector<std::string> argv);

// The lines left visible by terminal output: text, "\r", "\n", erase to the
// end of the line ("\033[K") and cursor up ("\033[A"); other escapes are
// dropped. Trailing empty lines are left out.
std::vector<std::string> VisibleLines(const std::string &bytes);

} // namespace zanfel::testing
