#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"

namespace zanfel::testing {

namespace {

using Clock = std::chrono::steady_clock;

// The descriptors of one child on the test's side and the child's.
struct Plumbing {
  int master = -1, slave = -1;     // pseudo-terminal, when any stream uses it
  int inRead = -1, inWrite = -1;   // standard input pipe
  int outRead = -1, outWrite = -1; // standard output pipe
  int errRead = -1, errWrite = -1; // standard error pipe
  std::string outPath, errPath;    // files of File sinks
};

void MakePipe(int &readEnd, int &writeEnd) {
  int p[2];
  if (pipe(p) != 0)
    throw std::runtime_error("pipe failed");
  readEnd = p[0];
  writeEnd = p[1];
}

Plumbing Prepare(const ChildSetup &setup) {
  Plumbing p;
  const bool terminal =
      setup.in == Stdin::Terminal || setup.out == Sink::Terminal || setup.err == Sink::Terminal;
  struct winsize size {}; // no width: a status line is never cut
  if (terminal && openpty(&p.master, &p.slave, nullptr, nullptr, &size) != 0)
    throw std::runtime_error("openpty failed");
  switch (setup.in) {
  case Stdin::EndOfFile:
  case Stdin::PendingByte:
  case Stdin::Open:
  case Stdin::PendingByteThenOpen:
    MakePipe(p.inRead, p.inWrite);
    if ((setup.in == Stdin::PendingByte || setup.in == Stdin::PendingByteThenOpen) &&
        write(p.inWrite, "k", 1) != 1)
      throw std::runtime_error("write failed");
    break;
  default:
    break;
  }
  if (setup.out == Sink::Pipe)
    MakePipe(p.outRead, p.outWrite);
  if (setup.err == Sink::Pipe)
    MakePipe(p.errRead, p.errWrite);
  p.outPath = setup.dir + "/.child-stdout";
  p.errPath = setup.dir + "/.child-stderr";
  return p;
}

// The child's side: never returns.
[[noreturn]] void BecomeChild(const ChildSetup &setup, const Plumbing &p,
                              const std::function<int()> &body) {
  if (chdir(setup.dir.c_str()) != 0)
    _exit(121);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    signal(sig, SIG_DFL);
  UseChildEnvironment(setup.display);
  switch (setup.in) {
  case Stdin::DevNull: {
    const int fd = open("/dev/null", O_RDONLY);
    dup2(fd, 0);
    close(fd);
    break;
  }
  case Stdin::Closed:
    close(0);
    break;
  case Stdin::Terminal:
    dup2(p.slave, 0);
    break;
  default:
    dup2(p.inRead, 0);
    break;
  }
  auto sink = [&](Sink s, int fd, int pipeEnd, const std::string &path) {
    if (s == Sink::Terminal) {
      dup2(p.slave, fd);
    } else if (s == Sink::Pipe) {
      dup2(pipeEnd, fd);
    } else {
      const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(file, fd);
      close(file);
    }
  };
  sink(setup.out, 1, p.outWrite, p.outPath);
  sink(setup.err, 2, p.errWrite, p.errPath);
  for (int fd :
       {p.master, p.slave, p.inRead, p.inWrite, p.outRead, p.outWrite, p.errRead, p.errWrite})
    if (fd > 2)
      close(fd);
  const int status = body();
  std::fflush(nullptr);
  _exit(status);
}

struct Source {
  int fd;
  std::string *into;
};

// Reads what is there; false once the source has ended (end of a pipe, or
// EIO once the terminal's last other user has gone).
bool Drain(const Source &s) {
  char buf[4096];
  const ssize_t n = read(s.fd, buf, sizeof buf);
  if (n > 0)
    s.into->append(buf, size_t(n));
  return n > 0;
}

} // namespace

void UseChildEnvironment(const std::string &display) {
  std::vector<std::string> locale;
  for (char **e = environ; *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (name == "LANG" || name == "LANGUAGE" || name.starts_with("LC_"))
      locale.push_back(name);
  }
  for (const std::string &name : locale)
    unsetenv(name.c_str());
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "XDG_RUNTIME_DIR"})
    unsetenv(name);
  if (!display.empty())
    setenv("DISPLAY", display.c_str(), 1);
  setenv("TERM", "xterm", 1);
}

ChildResult RunChild(const ChildSetup &setup, const std::function<int()> &body,
                     const Watch &watch) {
  Plumbing p = Prepare(setup);
  const auto start = Clock::now();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0)
    BecomeChild(setup, p, body);

  ChildResult r;
  for (int *fd : {&p.slave, &p.inRead, &p.outWrite, &p.errWrite})
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  int stdinFd = p.inWrite;
  if (setup.in != Stdin::Open && setup.in != Stdin::PendingByteThenOpen && stdinFd >= 0) {
    close(stdinFd);
    stdinFd = -1;
  }
  // A terminal nobody reads would block the child once its buffer is full:
  // it is drained throughout.
  std::vector<Source> sources;
  if (p.master >= 0)
    sources.push_back({p.master, &r.terminal});
  if (p.outRead >= 0)
    sources.push_back({p.outRead, &r.out});
  if (p.errRead >= 0)
    sources.push_back({p.errRead, &r.err});

  int ws = 0;
  bool ended = false;
  const auto deadline = start + std::chrono::seconds(setup.timeoutSeconds);
  while (!ended || !sources.empty()) {
    if (sources.empty() && !watch && setup.timeoutSeconds == 0) {
      waitpid(pid, &ws, 0);
      break;
    }
    std::vector<pollfd> fds;
    for (const Source &s : sources)
      fds.push_back({s.fd, POLLIN, 0});
    // Once the child has ended, only what is still buffered is read.
    const int wait = ended ? 0 : sources.empty() ? 5 : 100;
    const int ready = poll(fds.data(), fds.size(), wait);
    if (ended && ready <= 0)
      break;
    for (size_t i = fds.size(); i-- > 0;)
      if (fds[i].revents != 0 && !Drain(sources[i])) {
        if (sources[i].fd != p.master)
          close(sources[i].fd);
        sources.erase(sources.begin() + long(i));
      }
    if (!ended && waitpid(pid, &ws, WNOHANG) == pid)
      ended = true;
    if (watch && !ended)
      watch(pid, stdinFd, r);
    if (!ended && setup.timeoutSeconds > 0 && Clock::now() > deadline) {
      ADD_FAILURE() << "the child did not end within " << setup.timeoutSeconds << " s";
      kill(pid, SIGKILL);
      waitpid(pid, &ws, 0);
      ended = true;
    }
  }
  for (const Source &s : sources)
    if (s.fd != p.master)
      close(s.fd);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  r.signal = WIFSIGNALED(ws) ? WTERMSIG(ws) : 0;
  if (stdinFd >= 0)
    close(stdinFd);
  if (p.master >= 0) {
    struct termios mode {};
    if (tcgetattr(p.master, &mode) == 0)
      r.terminalCanonical = (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & ECHO) != 0;
    close(p.master);
  }
  if (setup.out == Sink::File) {
    r.out = ReadFile(p.outPath);
    std::remove(p.outPath.c_str());
  }
  if (setup.err == Sink::File) {
    r.err = ReadFile(p.errPath);
    std::remove(p.errPath.c_str());
  }
  return r;
}

ChildResult RunInChild(const std::string &dir, Stdin in, const std::function<int()> &body) {
  ChildSetup setup;
  setup.dir = dir;
  setup.in = in;
  return RunChild(setup, body);
}

ChildResult RunBuilt(const ChildSetup &setup, const std::string &name, const Watch &watch) {
  return RunChild(
      setup, [&] { return ExecProgram(ProgramPath(name), setup.args); }, watch);
}

ChildResult RunProgram(const std::string &dir, Stdin in, const std::string &program,
                       const std::vector<std::string> &args) {
  return RunInChild(dir, in, [&] { return ExecProgram(program, args); });
}

int ExecProgram(const std::string &program, const std::vector<std::string> &args) {
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const auto &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  return 127;
}

void ExitOnUnexpectedFatalEnd() {
  SetFatalEndHook([] {
    static const char msg[] = "unexpected fatal end of the program\n";
    (void)!write(2, msg, sizeof msg - 1);
    _exit(86);
  });
}

ChildResult RunToItsEnd(Stdin in, const std::function<int()> &body) {
  const TempDir dir;
  return RunInChild(dir.Path(), in, [&] {
    SetFatalEndHook(nullptr);
    return body();
  });
}

} // namespace zanfel::testing
