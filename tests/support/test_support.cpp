#include "support/test_support.hpp"

#include "drivers/program.hpp"
#include "graph/graph.hpp"
#include "runtime/fault.hpp"
#include "shooting/trajectory_pool.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
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

ChildResult RunProgram(const std::string &dir, Stdin in, const std::string &program) {
  return RunInChild(dir, in, [&] {
    execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
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

std::string ProgramPath(const std::string &name) {
  return std::string(ZANFEL_BINARY_DIR) + "/drivers/" + name;
}

} // namespace zanfel::testing
