#include "support/test_support.hpp"

#include "drivers/program.hpp"
#include "graph/graph.hpp"
#include "runtime/fault.hpp"
#include "shooting/trajectory_pool.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace zanfel::testing {

std::string MakeTempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zanfel-test-XXXXXX";
  if (!mkdtemp(tmpl.data()))
    throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

namespace {

void SetUpStdin(Stdin in) {
  switch (in) {
  case Stdin::DevNull: {
    int fd = open("/dev/null", O_RDONLY);
    dup2(fd, 0);
    close(fd);
    break;
  }
  case Stdin::EndOfFile: {
    int p[2];
    if (pipe(p) != 0)
      _exit(120);
    close(p[1]);
    dup2(p[0], 0);
    close(p[0]);
    break;
  }
  case Stdin::Closed:
    close(0);
    break;
  case Stdin::PendingByte: {
    // A byte waits, then the input ends: a key that nobody consumes, and the
    // waits for Enter end at the end of the input.
    int p[2];
    if (pipe(p) != 0)
      _exit(120);
    if (write(p[1], "k", 1) != 1)
      _exit(120);
    close(p[1]);
    dup2(p[0], 0);
    close(p[0]);
    break;
  }
  }
}

} // namespace

ChildResult RunInChild(const std::string &dir, Stdin in, const std::function<int()> &body) {
  std::string outPath = dir + "/.child-stdout";
  std::string errPath = dir + "/.child-stderr";
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0)
    throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0)
      _exit(121);
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    close(o);
    close(e);
    SetUpStdin(in);
    int status = body();
    std::fflush(nullptr);
    _exit(status);
  }
  int ws = 0;
  waitpid(pid, &ws, 0);
  ChildResult r;
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  r.out = ReadFile(outPath);
  r.err = ReadFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return r;
}

ChildResult RunProgram(const std::string &dir, Stdin in, const std::string &program,
                       const std::vector<std::string> &args) {
  return RunInChild(dir, in, [&] {
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const auto &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    return 127;
  });
}

namespace {
int keyTests = 0;
int keyFrom = 0;
bool KeyFromNthTest() {
  return ++keyTests >= keyFrom;
}
void NoWait() {}
} // namespace

ChildResult RunRecordedProgram(const std::string &dir, int (*body)(const Hooks &), int keyFromTest,
                               int threads) {
  return RunInChild(dir, Stdin::EndOfFile, [&] {
    InstallFaultHandling();
    SetTrajectoryThreads(threads);
    graph::RecordCallsTo("plot.log");
    keyTests = 0;
    keyFrom = keyFromTest;
    Hooks hooks;
    if (keyFromTest > 0)
      hooks.keyPressed = KeyFromNthTest;
    hooks.waitForEnter = NoWait;
    return body(hooks);
  });
}

void ExitOnUnexpectedFatalEnd() {
  SetFatalEndHook([] {
    static const char msg[] = "unexpected fatal end of the program\n";
    (void)!write(2, msg, sizeof msg - 1);
    _exit(86);
  });
}

ChildResult RunToItsEnd(Stdin in, const std::function<int()> &body) {
  const std::string dir = MakeTempDir();
  ChildResult r = RunInChild(dir, in, [&] {
    SetFatalEndHook(nullptr);
    return body();
  });
  std::filesystem::remove_all(dir);
  return r;
}

std::string FindProgram(const char *name) {
  for (const char *dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    std::string path = std::string(dir) + name;
    if (access(path.c_str(), X_OK) == 0)
      return path;
  }
  return "";
}

bool VirtualDisplay::Start() {
  int p[2];
  if (pipe(p) != 0)
    return false;
  const std::string xvfb = FindProgram("Xvfb");
  pid_ = fork();
  if (pid_ == 0) {
    close(p[0]);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    const std::string fd = std::to_string(p[1]);
    execl(xvfb.c_str(), xvfb.c_str(), "-displayfd", fd.c_str(), "-screen", "0", "800x600x24",
          "-nolisten", "tcp", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(p[1]);
  // The server writes its display number once it accepts clients.
  std::string number;
  char c;
  pollfd fd = {p[0], POLLIN, 0};
  while (poll(&fd, 1, 20000) > 0 && read(p[0], &c, 1) == 1 && c != '\n')
    number += c;
  close(p[0]);
  name_ = ":" + number;
  return !number.empty();
}

void VirtualDisplay::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

VirtualDisplay::~VirtualDisplay() {
  Stop();
}

std::string ProgramPath(const std::string &name) {
  return std::string(ZANFEL_BINARY_DIR) + "/drivers/" + name;
}

} // namespace zanfel::testing
