// Helpers shared by the tests: scratch directories, whole-file reads, the
// reference runs, the system's messages, and running a piece of the system
// in a child process (fatal ends exit) with its standard streams on files,
// pipes or a pseudo-terminal.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zanfel {
class SweepObserver;
struct RunOutcome;
using ProgramBody = RunOutcome (*)(SweepObserver &);
} // namespace zanfel

namespace zanfel::testing {

// --- Files ---

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
public:
  TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  ~TempDir();
  const std::string &Path() const { return path_; }
  // Path of `name` inside the directory.
  std::string File(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

std::string ReadFile(const std::string &path);
// A ZANFEL.CSV's rows: the file without its "#" lines.
std::string CsvWithoutComments(const std::string &csv);
void WriteFile(const std::string &path, const std::string &bytes);
// The names in a directory, sorted.
std::vector<std::string> Entries(const std::string &dir);
bool Exists(const std::string &path);

// A file of a reference run: `run` is the folder under tests/golden
// (shoot_a1, shoot_b1, shoot_c2), `file` one of ZANFEL.RES, stdout.bin,
// exit.txt, plot.log.
std::string Golden(const std::string &run, const std::string &file);

// Whether this processor rounds the integrator's transcendental steps as the
// reference runs' processors do (ZANFEL_TEST_OTHER_ARITHMETIC set: never).
// Elsewhere a run's last bits, and so where it ends, are this machine's own.
bool ReferenceArithmetic();
// A file (ZANFEL.RES, stdout.bin, ZANFEL.CSV) of shoot_c2 run with standard
// input at its end: the reference run's where the arithmetic is its own,
// else the same run made here.
std::string PlainShootC2(const std::string &file);
// Why that run ends early, as its summary and CSV say.
std::string ShootC2EndsWhy();
inline const std::string kOtherArithmetic =
    "this processor's f2xm1, fyl2x or fyl2xp1 rounds some arguments unlike the reference runs' "
    "processors: those runs' bytes and ends are not this machine's (the configurations were "
    "still compared with each other)";

// Path of a file of the build tree, e.g. "tests/tools/frame_demo".
std::string BuiltPath(const std::string &relative);
// Path of a built program of this project (shoot_a1 ... shoot_c2).
std::string ProgramPath(const std::string &name);
// Path of an installed program in the usual directories, or "".
std::string FindProgram(const char *name);

// --- The system's console messages, without their line ends ---

// The Russian messages as UTF-8; the Latin look-alikes stand apart so they
// are seen.
inline const std::string kTooManySteps = "C"
                                         "лишк"
                                         "o"
                                         "м много шагов";
inline const std::string kTooPrecise = "C"
                                       "лишк"
                                       "o"
                                       "м высокая требуемая точность:";
inline const std::string kInvalidCall = "He"
                                        "п"
                                        "pa"
                                        "вильный вызов";
// The same in code page 866, as a file or pipe gets them.
inline const std::string kTooManySteps866 =
    "C\xAB\xA8\xE8\xAAo\xAC \xAC\xAD\xAE\xA3\xAE \xE8\xA0\xA3\xAE\xA2";
inline const std::string kTooPrecise866 =
    "C\xAB\xA8\xE8\xAAo\xAC \xA2\xEB\xE1\xAE\xAA\xA0\xEF "
    "\xE2\xE0\xA5\xA1\xE3\xA5\xAC\xA0\xEF \xE2\xAE\xE7\xAD\xAE\xE1\xE2\xEC:";
inline const std::string kInvalidCall866 =
    "He\xAFpa\xA2\xA8\xAB\xEC\xAD\xEB\xA9 \xA2\xEB\xA7\xAE\xA2";
inline const std::string kIterationLimit = "ntial malo";

// What erases the progress status line on a terminal.
inline const std::string kEraseLine = "\r\033[K";

// --- Child processes ---

// The child's standard input: /dev/null, a pipe at its end, closed, a pipe
// holding one byte and then at its end (a key that nobody consumes; waits for
// Enter end at the end of the input), a pipe the test keeps open (optionally
// with a byte waiting), or the pseudo-terminal.
enum class Stdin { DevNull, EndOfFile, Closed, PendingByte, Open, PendingByteThenOpen, Terminal };

// Where standard output or error goes: a file read at the end, a pipe read as
// the child writes, or the pseudo-terminal.
enum class Sink { File, Pipe, Terminal };

// The environment every child of a test starts from, whatever the caller's
// (a CI runner's TERM=dumb, a desktop's DISPLAY, a Russian locale): TERM=xterm,
// no locale variable at all (LANG, LC_*: a terminal then gets UTF-8), and no
// display but `display` when it is not empty (no Wayland or SDL driver
// choice either). A test that needs another value sets it after this.
void UseChildEnvironment(const std::string &display = "");

struct ChildSetup {
  std::string dir; // working directory
  Stdin in = Stdin::EndOfFile;
  Sink out = Sink::File;
  Sink err = Sink::File;
  // DISPLAY of the child; none when empty.
  std::string display;
  // Killed, and the test failed, after this long; 0: no limit.
  int timeoutSeconds = 0;
  // Arguments of a built program (RunBuilt).
  std::vector<std::string> args;
};

struct ChildResult {
  int status = -1;      // exit status, or 128 + signal number
  int signal = 0;       // the signal that ended the child; 0 when it exited
  std::string out;      // standard output bytes (file or pipe)
  std::string err;      // standard error bytes (file or pipe)
  std::string terminal; // what the pseudo-terminal showed
  double seconds = 0.0;
  bool terminalCanonical = false; // the terminal's line mode after the end
};

// What the test may do while the child runs: called whenever bytes arrive
// and at least every 100 ms, with the result so far and the writing end of
// the child's standard input (-1 once closed or when there is none).
using Watch = std::function<void(pid_t pid, int &stdinFd, const ChildResult &soFar)>;

// Runs `body` in a forked child set up as asked. The child's exit status is
// what `body` returns, unless it ends the process itself.
ChildResult RunChild(const ChildSetup &setup, const std::function<int()> &body,
                     const Watch &watch = {});

// The same with standard output and error in files and the environment
// unchanged.
ChildResult RunInChild(const std::string &dir, Stdin in, const std::function<int()> &body);

// Runs a built program of this project (ProgramPath) the same way.
ChildResult RunBuilt(const ChildSetup &setup, const std::string &name, const Watch &watch = {});

// Runs a program (a path) with arguments in `dir` as RunInChild does.
ChildResult RunProgram(const std::string &dir, Stdin in, const std::string &program,
                       const std::vector<std::string> &args = {});

// Replaces the process by `program` with `args`; 127 when that fails.
int ExecProgram(const std::string &program, const std::vector<std::string> &args);

// Runs a program body in a child (in `dir`, standard input at its end) as
// the program would run, with its graphics calls recorded in plot.log, a key
// pending from the keyFromTest-th key test on (0: never), no waits for Enter
// and `threads` trajectory threads (0: every CPU).
ChildResult RunRecordedBody(const std::string &dir, ProgramBody body, int keyFromTest,
                            int threads = 0);

// Makes a fatal end of the program that no test asked for exit with status 86
// (it would otherwise exit with 0, in the middle of a test, as a success).
void ExitOnUnexpectedFatalEnd();

// Runs `body` in a child in a scratch directory where the program may end
// the way it ends (no guard against fatal ends).
ChildResult RunToItsEnd(Stdin in, const std::function<int()> &body);

// --- Displays ---

// Forgets any display of this process (DISPLAY, WAYLAND_DISPLAY,
// SDL_VIDEODRIVER): graphics then draw off-screen.
void NoDisplay();

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

} // namespace zanfel::testing
