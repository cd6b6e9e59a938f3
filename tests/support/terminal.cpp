#include "support/terminal.hpp"
#include "support/test_support.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace zanfel::testing {

namespace {

void SetUpChild(const TerminalRun &run, int slave) {
  setsid();
  ioctl(slave, TIOCSCTTY, 0);
  if (chdir(run.dir.c_str()) != 0)
    _exit(121);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    signal(sig, SIG_DFL);
  UseChildEnvironment();
  for (const auto &name : run.unset)
    unsetenv(name.c_str());
  for (const auto &[name, value] : run.set)
    setenv(name.c_str(), value.c_str(), 1);
  const int null = open("/dev/null", O_RDWR);
  dup2(run.stdinOnTerminal ? slave : null, 0);
  if (run.stdoutOnTerminal) {
    dup2(slave, 1);
  } else {
    const int out = open("stdout.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    close(out);
  }
  dup2(run.stderrOnTerminal ? slave : null, 2);
  if (slave > 2)
    close(slave);
  if (null > 2)
    close(null);
}

} // namespace

TerminalOutcome RunOnTerminal(const TerminalRun &run, const std::function<void()> &child,
                              const TerminalWatch &watch) {
  TerminalOutcome outcome;
  int master = -1, slave = -1;
  struct winsize size {}; // no width: nothing is cut to fit
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
    return outcome;
  const auto start = std::chrono::steady_clock::now();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(master);
    SetUpChild(run, slave);
    child();
    _exit(122);
  }
  // The slave stays open here too, so that the terminal outlives the child
  // and its mode can be read afterwards.
  char buf[4096];
  int ws = 0;
  bool ended = false;
  while (!ended) {
    pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN) != 0) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0)
        outcome.screen.append(buf, size_t(n));
    }
    if (watch)
      watch(pid, master, outcome.screen);
    ended = waitpid(pid, &ws, WNOHANG) == pid;
    if (!ended && std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) {
      kill(pid, SIGKILL);
      waitpid(pid, &ws, 0);
      ended = true;
    }
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // What the child wrote last.
  for (pollfd p = {master, POLLIN, 0}; poll(&p, 1, 20) > 0 && (p.revents & POLLIN) != 0;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0)
      break;
    outcome.screen.append(buf, size_t(n));
  }
  outcome.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  outcome.signal = WIFSIGNALED(ws) ? WTERMSIG(ws) : 0;
  struct termios mode {};
  if (tcgetattr(slave, &mode) == 0)
    outcome.canonical = (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & ECHO) != 0;
  close(slave);
  close(master);
  return outcome;
}

std::function<void()> Exec(std::vector<std::string> argv) {
  return [argv] {
    std::vector<char *> args;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  };
}

std::vector<std::string> VisibleLines(const std::string &bytes) {
  std::vector<std::string> lines(1);
  size_t row = 0, column = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      if (++row == lines.size())
        lines.emplace_back();
    } else if (c == '\033' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
      size_t end = i + 2;
      while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~'))
        ++end;
      if (end < bytes.size() && bytes[end] == 'K')
        lines[row].resize(std::min(lines[row].size(), column));
      else if (end < bytes.size() && bytes[end] == 'A' && row > 0)
        --row;
      i = end;
    } else {
      std::string &line = lines[row];
      if (line.size() <= column)
        line.resize(column + 1, ' ');
      line[column++] = c;
    }
  }
  while (!lines.empty() && lines.back().empty())
    lines.pop_back();
  return lines;
}

} // namespace zanfel::testing
