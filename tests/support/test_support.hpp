// Helpers shared by the tests: scratch directories, whole-file reads and
// running a piece of the system in a child process (fatal ends exit).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zanfel {
struct Hooks;
}

namespace zanfel::testing {

// A fresh empty directory under the system's temporary directory.
std::string MakeTempDir();
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);

enum class Stdin { DevNull, EndOfFile, Closed, PendingByte };

struct ChildResult {
  int status = -1; // exit status, or 128 + signal number
  std::string out; // standard output bytes
  std::string err; // standard error bytes
};

// Runs `body` in a forked child with its working directory `dir`, standard
// output and error captured and standard input as chosen. The child's exit
// status is what `body` returns, unless it ends the process itself.
ChildResult RunInChild(const std::string &dir, Stdin in, const std::function<int()> &body);

// Runs a program (argv[0] a path) the same way, with arguments if given.
ChildResult RunProgram(const std::string &dir, Stdin in, const std::string &program,
                       const std::vector<std::string> &args = {});

// Runs a program body in a child (in `dir`, standard input at its end) as
// the program would run, with its graphics calls recorded in plot.log, a key
// pending from the keyFromTest-th key test on (0: never), no waits for Enter
// and `threads` trajectory threads (0: every CPU).
ChildResult RunRecordedProgram(const std::string &dir, int (*body)(const Hooks &), int keyFromTest,
                               int threads = 0);

// Makes a fatal end of the program that no test asked for exit with status 86
// (it would otherwise exit with 0, in the middle of a test, as a success).
void ExitOnUnexpectedFatalEnd();

// Runs `body` in a child in a scratch directory where the program may end
// the way it ends (no guard against fatal ends); the directory is removed.
ChildResult RunToItsEnd(Stdin in, const std::function<int()> &body);

// Path of an installed program in the usual directories, or "".
std::string FindProgram(const char *name);

// A virtual X server on a display of its own choosing, ended with the test.
class VirtualDisplay {
public:
  VirtualDisplay() = default;
  VirtualDisplay(const VirtualDisplay &) = delete;
  VirtualDisplay &operator=(const VirtualDisplay &) = delete;
  ~VirtualDisplay();
  // False when the server did not say it is ready within 20 s.
  bool Start();
  // Ends the server now (a display that goes away under a running program).
  void Stop();
  const std::string &Name() const { return name_; }

private:
  int pid_ = -1;
  std::string name_;
};

// Path of a built program of this project.
std::string ProgramPath(const std::string &name);

} // namespace zanfel::testing
