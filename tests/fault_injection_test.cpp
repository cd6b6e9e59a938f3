// The built programs under the faults a harsh user meets: a full disk, a
// file-size limit, closed standard descriptors, signals, job control, two
// runs in one folder, a display that cannot be reached and one that goes
// away. Every case checks that the results file ends on a whole record, and
// the status, the message and the terminal mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "runtime/end_cause.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ProgramPath;
using testing::ReadFile;
using Clock = std::chrono::steady_clock;

using testing::PlainShootC2;

// A scratch directory removed with the test.
struct ScratchDir {
  testing::TempDir dir;
  std::string path = dir.Path();
  std::string operator/(const std::string &name) const { return path + "/" + name; }
};

// Whole records only: groups of six CR LF lines, the first starting "h:=",
// the sixth empty. Returns how many, or -1 after reporting the first defect.
int WholeRecords(const std::string &res) {
  int records = 0;
  for (size_t at = 0; at < res.size(); ++records) {
    size_t end = at;
    for (int line = 0; line < 6 && end != std::string::npos; ++line) {
      end = res.find("\r\n", end);
      end = end == std::string::npos ? end : end + 2;
    }
    if (res.compare(at, 3, "h:=") != 0 || end == std::string::npos ||
        res.compare(end - 4, 4, "\r\n\r\n") != 0) {
      ADD_FAILURE() << "record " << records + 1
                    << " is not whole: " << res.substr(at, std::min<size_t>(res.size() - at, 120));
      return -1;
    }
    at = end;
  }
  return records;
}

using testing::Entries;

// How a program is started: its standard descriptors (-1: closed), its
// environment and limits.
struct Launch {
  Launch(const std::string &name, std::string directory, int stdIn, int stdOut, int stdErr)
      : program(ProgramPath(name)), dir(std::move(directory)), in(stdIn), out(stdOut), err(stdErr) {
  }
  std::string program;
  std::string dir;
  int in, out, err;
  std::string display;          // DISPLAY, or none at all
  rlim_t fileSizeLimit = 0;     // bytes, 0: none
  bool ownProcessGroup = false; // a job of its own, as a shell starts it
  std::string term;             // TERM, when not empty
};

// In the child: descriptor `from` (or nothing) becomes `to`.
void Place(int from, int to) {
  if (from < 0)
    close(to);
  else if (from != to)
    dup2(from, to);
}

pid_t Start(const Launch &l) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0)
    return pid;
  if (chdir(l.dir.c_str()) != 0)
    _exit(121);
  if (l.ownProcessGroup)
    setpgid(0, 0);
  // Above 2, so that placing one never overwrites another.
  const int in = l.in < 0 ? -1 : fcntl(l.in, F_DUPFD, 10);
  const int out = l.out < 0 ? -1 : fcntl(l.out, F_DUPFD, 10);
  const int err = l.err < 0 ? -1 : fcntl(l.err, F_DUPFD, 10);
  Place(in, 0);
  Place(out, 1);
  Place(err, 2);
  testing::UseChildEnvironment(l.display);
  if (!l.term.empty())
    setenv("TERM", l.term.c_str(), 1);
  if (l.fileSizeLimit > 0) {
    const rlimit limit{l.fileSizeLimit, l.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  // Whatever the test runner ignores or blocks, the program gets the defaults.
  for (int sig : {SIGQUIT, SIGPIPE, SIGXFSZ, SIGUSR1, SIGALRM, SIGTSTP, SIGCONT})
    signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execl(l.program.c_str(), l.program.c_str(), static_cast<char *>(nullptr));
  _exit(127);
}

bool WaitUntil(const std::function<bool()> &done, int seconds = 60) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Exit status, or 128 + signal; a program still running after two minutes is
// ended and reported as -1.
int Finish(pid_t pid) {
  int ws = 0;
  const bool ended = WaitUntil([&] { return waitpid(pid, &ws, WNOHANG) == pid; }, 120);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &ws, 0);
    return -1;
  }
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
}

int OpenFile(const std::string &path, int flags) {
  return open(path.c_str(), flags | O_CLOEXEC, 0644);
}

// Records finished so far, for polling while the program writes.
int RecordEnds(const std::string &dir) {
  const std::string res = ReadFile(dir + "/ZANFEL.RES");
  int n = 0;
  for (size_t p = res.find("\r\n\r\n"); p != std::string::npos; p = res.find("\r\n\r\n", p + 4))
    ++n;
  return n;
}

// A pseudo-terminal as the user's terminal: cooked mode with echo, output
// passed through unchanged so that the status line's bytes can be read.
struct Terminal {
  int master = -1, slave = -1;
  std::string screen;

  bool Open() {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
      return false;
    termios t{};
    tcgetattr(slave, &t);
    t.c_lflag |= ICANON | ECHO;
    t.c_oflag &= ~tcflag_t(OPOST);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return true;
  }
  ~Terminal() {
    close(master);
    close(slave);
  }
  bool SingleKeyMode() const {
    termios t{};
    tcgetattr(slave, &t);
    return (t.c_lflag & (ICANON | ECHO)) == 0;
  }
  bool NormalMode() const {
    termios t{};
    tcgetattr(slave, &t);
    return (t.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
  }
  // Takes what the program has written so far.
  const std::string &Read() {
    pollfd p{master, POLLIN, 0};
    char buf[512];
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0)
        break;
      screen.append(buf, size_t(n));
    }
    return screen;
  }
  bool Shows(const std::string &text) { return Read().find(text) != std::string::npos; }
  // The status line was shown and the last thing written erased it.
  // The line was shown and erased; only the run's summary line may follow.
  bool StatusLineErased() {
    const std::string erase = "\r\033[K";
    const std::string &s = Read();
    const size_t last = s.rfind(erase);
    if (s.find("records") == std::string::npos || last == std::string::npos)
      return false;
    const std::string after = s.substr(last + erase.size());
    return after.empty() ||
           (after.find(": ") != std::string::npos && after.find(" record") != std::string::npos &&
            after.find("P = ") == std::string::npos);
  }
  void Type(const char *keys) {
    EXPECT_EQ(write(master, keys, strlen(keys)), ssize_t(strlen(keys)));
  }
};

// The report names the results file or its companion, whichever the limit
// stopped first; both end on whole records, the rows no more than the records.
void ExpectIoErrorOnWholeRecords(const std::string &out, const std::string &reason,
                                 const std::string &dir) {
  EXPECT_TRUE(out == "Runtime error 101: ZANFEL.RES: " + reason + "\n" ||
              out == "Runtime error 101: ZANFEL.CSV: " + reason + "\n")
      << out;
  const std::string res = ReadFile(dir + "/ZANFEL.RES");
  const int records = WholeRecords(res);
  EXPECT_GT(records, 0);
  EXPECT_EQ(PlainShootC2("ZANFEL.RES").compare(0, res.size(), res), 0);
  const std::string csv = ReadFile(dir + "/ZANFEL.CSV");
  ASSERT_FALSE(csv.empty());
  EXPECT_EQ(csv.back(), '\n') << "a row cut short";
  long rows = -1; // the header row
  // A last line without its end is counted too, and ends the count.
  for (size_t at = 0; at < csv.size();) {
    rows += csv[at] != '#';
    const size_t end = csv.find('\n', at);
    at = end == std::string::npos ? csv.size() : end + 1;
  }
  EXPECT_LE(rows, records);
  EXPECT_GE(rows, records - 1);
}

TEST(FaultInjection, AFileSizeLimitEndsWithAnIoErrorOnAWholeRecord) {
  ScratchDir dir;
  Terminal term;
  ASSERT_TRUE(term.Open());
  const int out = OpenFile(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  Launch l("shoot_c2", dir.path, term.slave, out, out);
  l.fileSizeLimit = 4096;
  const pid_t pid = Start(l);
  close(out);
  EXPECT_EQ(Finish(pid), 101);
  ExpectIoErrorOnWholeRecords(ReadFile(dir / "out"), "File too large", dir.path);
  EXPECT_TRUE(term.NormalMode()) << "the terminal is left in single-key mode";
  // The picture is small enough to be written under the limit.
  EXPECT_EQ(ReadFile(dir / "ZANFEL.PNG").compare(1, 3, "PNG"), 0);
  EXPECT_EQ(Entries(dir.path), (std::vector<std::string>{"ZANFEL.CSV", "ZANFEL.PNG", "ZANFEL.RES",
                                                         "ZANFEL.SVG", "out"}));
}

// A small file system of its own, unmounted with the test.
struct SmallDisk {
  std::string path;
  bool mounted = false;
  explicit SmallDisk(std::string where) : path(std::move(where)) {
    std::filesystem::create_directory(path);
    mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallDisk() {
    if (mounted)
      umount2(path.c_str(), MNT_DETACH);
  }
};

// A tmpfs of 16 pages, two of them left free: the results file and its
// companion fill them.
TEST(FaultInjection, AFullDiskEndsWithAnIoErrorAndKeepsTheEarlierPicture) {
  ScratchDir dir;
  SmallDisk small(dir / "disk");
  if (!small.mounted)
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << strerror(errno);
  const std::string &disk = small.path;
  testing::WriteFile(disk + "/ZANFEL.PNG", "an earlier picture");
  const int fill = OpenFile(disk + "/fill", O_WRONLY | O_CREAT);
  const std::string page(4096, 'f');
  off_t size = 0;
  while (write(fill, page.data(), page.size()) == ssize_t(page.size()))
    size += off_t(page.size());
  ASSERT_EQ(ftruncate(fill, size - 2 * off_t(page.size())), 0);
  close(fill);

  const int out = OpenFile(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = Start({"shoot_c2", disk, null, out, out});
  close(out);
  close(null);
  EXPECT_EQ(Finish(pid), 101);
  // The earlier picture is kept aside first, before anything is written.
  const std::string kept = "Earlier results kept as ZANFEL.PNG.~1~\n";
  const std::string report = ReadFile(dir / "out");
  EXPECT_EQ(report.substr(0, kept.size()), kept);
  ExpectIoErrorOnWholeRecords(report.substr(kept.size()), "No space left on device", disk);
  EXPECT_EQ(ReadFile(disk + "/ZANFEL.PNG.~1~"), "an earlier picture");
  EXPECT_EQ(Entries(disk),
            (std::vector<std::string>{"ZANFEL.CSV", "ZANFEL.PNG.~1~", "ZANFEL.RES", "fill"}));
}

// A display name no server answers to.
std::string UnreachableDisplay() {
  for (int n = 97;; ++n)
    if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) != 0)
      return ":" + std::to_string(n);
}

// Standard output closed: the results file must not take descriptor 1, where
// the console text ("ntial malo") would land in it. The display cannot be
// reached: the fallback to off-screen drawing writes nothing to a standard
// error that is not a terminal.
TEST(FaultInjection, ClosedStandardOutputAndAnUnreachableDisplayLeaveTheResultsAlone) {
  ScratchDir dir;
  const int err = OpenFile(dir / "err", O_WRONLY | O_CREAT | O_TRUNC);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  Launch l("shoot_c2", dir.path, null, -1, err);
  l.display = UnreachableDisplay();
  const pid_t pid = Start(l);
  close(err);
  close(null);
  EXPECT_EQ(Finish(pid), kIterationLimitStatus);
  EXPECT_EQ(ReadFile(dir / "ZANFEL.RES"), PlainShootC2("ZANFEL.RES"));
  EXPECT_EQ(ReadFile(dir / "err"), "");
  EXPECT_EQ(ReadFile(dir / "ZANFEL.PNG").compare(1, 3, "PNG"), 0);
}

// Standard error closed: the results file must not take descriptor 2, where
// the display library's complaint would land in it.
TEST(FaultInjection, ClosedStandardErrorLeavesTheResultsAlone) {
  ScratchDir dir;
  const int out = OpenFile(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  Launch l("shoot_c2", dir.path, null, out, -1);
  l.display = UnreachableDisplay();
  const pid_t pid = Start(l);
  close(out);
  close(null);
  EXPECT_EQ(Finish(pid), kIterationLimitStatus);
  EXPECT_EQ(ReadFile(dir / "ZANFEL.RES"), PlainShootC2("ZANFEL.RES"));
  EXPECT_EQ(ReadFile(dir / "out"), PlainShootC2("stdout.bin"));
}

// A sweep running on a terminal (standard input and error), its status line
// shown: the signal restores the terminal mode, erases the line and ends the
// program by the same signal.
TEST(FaultInjection, EndSignalsRestoreTheTerminalAndEraseTheStatusLine) {
  for (int sig : {SIGQUIT, SIGXFSZ, SIGUSR1, SIGALRM}) {
    SCOPED_TRACE(strsignal(sig));
    ScratchDir dir;
    Terminal term;
    ASSERT_TRUE(term.Open());
    const int out = OpenFile(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
    const pid_t pid = Start({"shoot_b1", dir.path, term.slave, out, term.slave});
    close(out);
    EXPECT_TRUE(WaitUntil([&] { return term.Shows("records") && term.SingleKeyMode(); }));
    kill(pid, sig);
    EXPECT_EQ(Finish(pid), 128 + sig);
    EXPECT_TRUE(term.NormalMode());
    EXPECT_TRUE(term.StatusLineErased()) << term.screen;
    EXPECT_GT(WholeRecords(ReadFile(dir / "ZANFEL.RES")), 0);
  }
}

// shoot_a2 writes its messages into a pipe that nobody reads: the run blocks
// on the full pipe until SIGTERM, which ends it as at a safe point (status,
// pictures, whole records), not only a second SIGTERM.
TEST(FaultInjection, AStopSignalEndsARunBlockedOnAFullConsole) {
  ScratchDir dir;
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  const int pipeSize = fcntl(p[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(pipeSize, 0);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = Start({"shoot_a2", dir.path, null, p[1], null});
  close(p[1]);
  close(null);
  // Full: the messages fill the pipe and the writer waits for room.
  EXPECT_TRUE(WaitUntil([&] {
    int queued = 0;
    const std::string wchan = ReadFile("/proc/" + std::to_string(pid) + "/wchan");
    return ioctl(p[0], FIONREAD, &queued) == 0 && queued > 0 &&
           (wchan.find("pipe_write") != std::string::npos ||
            wchan.find("poll") != std::string::npos);
  }));
  kill(pid, SIGTERM);
  EXPECT_EQ(Finish(pid), 128 + SIGTERM);
  close(p[0]);
  EXPECT_GE(WholeRecords(ReadFile(dir / "ZANFEL.RES")), 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "ZANFEL.SVG"));
}

// A terminal that takes no control sequences: the status line, its erasure
// and the summary come as plain text.
TEST(FaultInjection, ADumbTerminalGetsNoEscapeSequences) {
  ScratchDir dir;
  Terminal term;
  ASSERT_TRUE(term.Open());
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = OpenFile(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  Launch l("shoot_c2", dir.path, null, out, term.slave);
  l.term = "dumb";
  const pid_t pid = Start(l);
  close(null);
  close(out);
  std::string screen;
  EXPECT_TRUE(WaitUntil([&] {
    screen = term.Read();
    return screen.find("iteration limit at P") != std::string::npos;
  }));
  EXPECT_EQ(Finish(pid), kIterationLimitStatus);
  EXPECT_NE(screen.find("shoot_c2  P = "), std::string::npos) << screen;
  EXPECT_EQ(screen.find('\033'), std::string::npos) << screen;
}

// shoot_a2 writes its messages into a pipe whose reader is gone.
TEST(FaultInjection, ABrokenPipeRestoresTheTerminal) {
  ScratchDir dir;
  Terminal term;
  ASSERT_TRUE(term.Open());
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  close(p[0]);
  const pid_t pid = Start({"shoot_a2", dir.path, term.slave, p[1], term.slave});
  close(p[1]);
  EXPECT_EQ(Finish(pid), 128 + SIGPIPE);
  EXPECT_TRUE(term.NormalMode());
}

// Ctrl-Z, then fg: the terminal is the user's while the run is stopped, and
// afterwards a single key stops the sweep again, which then waits for its
// Enter.
TEST(FaultInjection, StopAndContinueHandTheTerminalBackAndTakeItAgain) {
  ScratchDir dir;
  Terminal term;
  ASSERT_TRUE(term.Open());
  const int out = OpenFile(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  Launch l("shoot_b1", dir.path, term.slave, out, term.slave);
  l.ownProcessGroup = true; // not orphaned: its stop signals stop it
  const pid_t pid = Start(l);
  close(out);
  ASSERT_TRUE(WaitUntil([&] { return term.Shows("records") && term.SingleKeyMode(); }));

  kill(pid, SIGTSTP);
  int ws = 0;
  ASSERT_EQ(waitpid(pid, &ws, WUNTRACED), pid);
  ASSERT_TRUE(WIFSTOPPED(ws));
  EXPECT_TRUE(term.NormalMode());
  EXPECT_TRUE(term.StatusLineErased()) << term.screen;

  kill(pid, SIGCONT);
  EXPECT_TRUE(WaitUntil([&] { return term.SingleKeyMode(); }, 10));
  term.Type("k");
  // The key ends the sweep; the program then waits for Enter, in normal mode.
  EXPECT_TRUE(WaitUntil([&] { return term.NormalMode() && term.Shows("waiting for Enter"); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(waitpid(pid, &ws, WNOHANG), 0) << "ended without its wait for Enter";
  term.Type("\n");
  EXPECT_EQ(Finish(pid), 0);
  EXPECT_EQ(ReadFile(dir / "out"), "");
  EXPECT_GT(WholeRecords(ReadFile(dir / "ZANFEL.RES")), 0);
}

TEST(FaultInjection, ASecondRunInTheSameFolderEndsBeforeChangingAnything) {
  ScratchDir dir;
  int key[2];
  ASSERT_EQ(pipe2(key, O_CLOEXEC), 0);
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t first = Start({"shoot_b1", dir.path, key[0], null, null});
  close(key[0]);
  ASSERT_TRUE(WaitUntil([&] { return RecordEnds(dir.path) > 0; }));

  const std::string before = ReadFile(dir / "ZANFEL.RES");
  const auto second =
      testing::RunProgram(dir.path, testing::Stdin::EndOfFile, ProgramPath("shoot_c2"));
  EXPECT_EQ(second.status, 5);
  EXPECT_EQ(second.out, "Runtime error 5: ZANFEL.RES: in use by another run\n");
  const std::string during = ReadFile(dir / "ZANFEL.RES");
  EXPECT_EQ(during.compare(0, before.size(), before), 0) << "the first run's records changed";

  // The user keeps the results so far under another name while the first
  // run goes on: its ZANFEL.CSV, still written, refuses the second run, which
  // leaves no file of its own behind.
  // (No ASSERT while the first run goes: it must still get its key.)
  EXPECT_EQ(rename((dir / "ZANFEL.RES").c_str(), (dir / "saved.RES").c_str()), 0);
  const auto beside =
      testing::RunProgram(dir.path, testing::Stdin::EndOfFile, ProgramPath("shoot_c2"));
  EXPECT_EQ(beside.status, 5);
  EXPECT_EQ(beside.out, "Runtime error 5: ZANFEL.CSV: in use by another run\n");
  EXPECT_EQ(Entries(dir.path), (std::vector<std::string>{"ZANFEL.CSV", "saved.RES"}));
  const size_t rows = ReadFile(dir / "ZANFEL.CSV").size();
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(dir / "ZANFEL.CSV").size() > rows; }, 20))
      << "the first run writes on under the name";
  EXPECT_EQ(rename((dir / "saved.RES").c_str(), (dir / "ZANFEL.RES").c_str()), 0);

  EXPECT_EQ(write(key[1], "k", 1), 1);
  close(key[1]);
  EXPECT_EQ(Finish(first), 0);
  const std::string res = ReadFile(dir / "ZANFEL.RES");
  EXPECT_GT(WholeRecords(res), 0);
  EXPECT_EQ(res.find("h:=1.04437262"), std::string::npos) << "a record of the second run";

  // The lock went with the first run.
  const auto third =
      testing::RunProgram(dir.path, testing::Stdin::EndOfFile, ProgramPath("shoot_c2"));
  close(null);
  EXPECT_EQ(third.status, kIterationLimitStatus);
  EXPECT_EQ(ReadFile(dir / "ZANFEL.RES"), PlainShootC2("ZANFEL.RES"));
}

// A directory or a link where a picture belongs refuses a run in an empty
// folder at once, and the run leaves nothing of its own: no results file.
TEST(FaultInjection, ARefusedRunLeavesEveryFileAsItWas) {
  const struct {
    const char *what;
    std::function<void(const std::string &)> plant;
    std::string report;
  } cases[] = {
      {"a directory as ZANFEL.PNG",
       [](const std::string &path) { std::filesystem::create_directory(path + "/ZANFEL.PNG"); },
       "Runtime error 5: ZANFEL.PNG: Is a directory\n"},
      {"a link as ZANFEL.SVG",
       [](const std::string &path) {
         std::filesystem::create_symlink("nowhere", path + "/ZANFEL.SVG");
       },
       "Runtime error 5: ZANFEL.SVG: not a regular file\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    c.plant(dir.path);
    const std::vector<std::string> before = Entries(dir.path);
    const auto r =
        testing::RunProgram(dir.path, testing::Stdin::EndOfFile, ProgramPath("shoot_c2"));
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, c.report);
    EXPECT_EQ(Entries(dir.path), before);
  }
}

// The X server ends in the middle of a sweep: the window counts as closed.
TEST(FaultInjection, ADisplayThatGoesAwayEndsTheSweepAsAClosedWindow) {
  if (testing::FindProgram("Xvfb").empty())
    GTEST_SKIP() << "Xvfb is not installed";
  testing::VirtualDisplay display;
  ASSERT_TRUE(display.Start());
  ScratchDir dir;
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC); // no key; Enter at once
  const int out = OpenFile(dir / "out", O_WRONLY | O_CREAT | O_TRUNC);
  const int err = OpenFile(dir / "err", O_WRONLY | O_CREAT | O_TRUNC);
  Launch l("shoot_b1", dir.path, null, out, err);
  l.display = display.Name();
  const pid_t pid = Start(l);
  close(null);
  close(out);
  close(err);
  EXPECT_TRUE(WaitUntil([&] { return RecordEnds(dir.path) >= 3; }));
  display.Stop();
  EXPECT_EQ(Finish(pid), 0);
  EXPECT_EQ(ReadFile(dir / "out"), "");
  EXPECT_EQ(ReadFile(dir / "err"), "");
  EXPECT_GE(WholeRecords(ReadFile(dir / "ZANFEL.RES")), 3);
  EXPECT_EQ(ReadFile(dir / "ZANFEL.PNG").compare(1, 3, "PNG"), 0);
}

} // namespace
} // namespace zanfel
