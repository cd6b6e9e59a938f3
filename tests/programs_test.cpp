// The built programs end to end, with no display: where each run ends, what
// it leaves in the results file and on the console, and its exit status.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <regex>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::MakeTempDir;
using testing::ProgramPath;
using testing::ReadFile;
using testing::RunProgram;
using testing::Stdin;

// "Cлишкoм много шагов" in code page 866, with its line end.
const std::string kTooManySteps =
    "C\xAB\xA8\xE8\xAAo\xAC \xAC\xAD\xAE\xA3\xAE \xE8\xA0\xA3\xAE\xA2\n";
const std::string kIterationLimit = "ntial malo\n";

int CountRecords(const std::string &res) {
  int n = 0;
  for (size_t p = res.find("h:="); p != std::string::npos; p = res.find("h:=", p + 1))
    ++n;
  return n;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
    lines.push_back(text.substr(start, p - start));
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

// Every record complete: six CRLF lines, the sixth empty, the residual line
// at round-off (every residual printed as +-0.00000000).
void ExpectCompleteRecords(const std::string &res, int residuals) {
  const auto lines = Lines(res);
  ASSERT_EQ(lines.size() % 6, 0u);
  const std::regex zero(R"(-?0\.00000000)");
  for (size_t i = 0; i < lines.size(); i += 6) {
    EXPECT_EQ(lines[i].rfind("h:=", 0), 0u);
    EXPECT_EQ(lines[i + 5], "");
    std::istringstream in(lines[i + 1]);
    std::string value;
    for (int k = 0; k < residuals; ++k) {
      in >> value;
      EXPECT_TRUE(std::regex_match(value, zero)) << "record " << i / 6 + 1 << ": " << lines[i + 1];
    }
  }
}

std::string Repeat(const std::string &s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i)
    r += s;
  return r;
}

TEST(Programs, ShootA1WithAKeyPendingRunsAllPassesAndKeepsTheLastRecord) {
  const std::string dir = MakeTempDir();
  const auto r = RunProgram(dir, Stdin::PendingByte, ProgramPath("shoot_a1"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  const std::string golden = std::string(ZANFEL_GOLDEN_DIR) + "/shoot_a1/ZANFEL.RES";
  EXPECT_EQ(ReadFile(dir + "/ZANFEL.RES"), ReadFile(golden));
  struct stat st;
  EXPECT_EQ(stat((dir + "/ZANFEL.PNG").c_str(), &st), 0) << "the plot picture";
}

// From its start guess the mode 1 sweep converges up to H = 0.26; the solve
// at 0.28 fails and ends the run in its first pass.
TEST(Programs, ShootA1AtEndOfInputEndsAtTheIterationLimitInItsFirstPass) {
  const std::string dir = MakeTempDir();
  const auto r = RunProgram(dir, Stdin::EndOfFile, ProgramPath("shoot_a1"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kIterationLimit);
  const std::string res = ReadFile(dir + "/ZANFEL.RES");
  EXPECT_EQ(CountRecords(res), 9);
  EXPECT_EQ(res.rfind("h:=0.10000000   ;x[1]:=", 0), 0u) << "first record at the start P";
  EXPECT_NE(res.find("h:=0.26000000"), std::string::npos);
  ExpectCompleteRecords(res, 4);
}

// The pass-14 guess is not close enough: every Newton iterate after the first
// has trajectories that exhaust the evaluation budget, and the initial solve
// gives up before any record.
TEST(Programs, ShootA2AtEndOfInputEndsInItsInitialSolve) {
  const std::string dir = MakeTempDir();
  const auto r = RunProgram(dir, Stdin::EndOfFile, ProgramPath("shoot_a2"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Repeat(kTooManySteps, 594) + kIterationLimit);
  EXPECT_EQ(ReadFile(dir + "/ZANFEL.RES"), "");
}

TEST(Programs, ShootC2AtEndOfInputMatchesTheReferenceRun) {
  const std::string dir = MakeTempDir();
  const auto r = RunProgram(dir, Stdin::EndOfFile, ProgramPath("shoot_c2"));
  const std::string golden = std::string(ZANFEL_GOLDEN_DIR) + "/shoot_c2/";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, ReadFile(golden + "stdout.bin"));
  EXPECT_EQ(ReadFile(dir + "/ZANFEL.RES"), ReadFile(golden + "ZANFEL.RES"));
}

// As H grows the trajectories need more than the integrator's evaluation
// budget; past H = 3.79364898 the Newton iteration no longer converges.
TEST(Programs, ShootC1AtEndOfInputRunsUntilTheTrajectoriesOutgrowTheBudget) {
  const std::string dir = MakeTempDir();
  const auto r = RunProgram(dir, Stdin::EndOfFile, ProgramPath("shoot_c1"));
  EXPECT_EQ(r.status, 0);
  ASSERT_GE(r.out.size(), kIterationLimit.size());
  EXPECT_EQ(r.out.substr(r.out.size() - kIterationLimit.size()), kIterationLimit);
  EXPECT_EQ(r.out.substr(0, r.out.size() - kIterationLimit.size()), Repeat(kTooManySteps, 601));
  const std::string res = ReadFile(dir + "/ZANFEL.RES");
  EXPECT_EQ(CountRecords(res), 269);
  EXPECT_EQ(res.rfind("h:=1.11364898   x[1]:=", 0), 0u);
  EXPECT_NE(res.find("h:=3.79364898"), std::string::npos);
  ExpectCompleteRecords(res, 4);
}

// Starts a program with its standard input on a pipe, sends one byte once the
// results file holds a complete record, and waits for the end.
std::pair<int, std::string> RunUntilFirstRecordThenKey(const std::string &dir,
                                                       const std::string &program) {
  int p[2];
  EXPECT_EQ(pipe(p), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0)
      _exit(121);
    dup2(p[0], 0);
    close(p[0]);
    close(p[1]);
    int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(p[0]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (ReadFile(dir + "/ZANFEL.RES").find("\r\n\r\n") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(write(p[1], "k", 1), 1);
  close(p[1]); // the waits for Enter then end at the end of the input
  int ws = 0;
  waitpid(pid, &ws, 0);
  return {WIFEXITED(ws) ? WEXITSTATUS(ws) : -1, ReadFile(dir + "/stdout.txt")};
}

TEST(Programs, FamilyBStopsOnAKeyWithCompleteRecords) {
  const struct {
    const char *program;
    const char *firstLine;
  } cases[] = {{"shoot_b1", "h:=  1.11364898   ;x[1]:=  0.11893163"}, {"shoot_b2", "h:=  1.54"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.program);
    const std::string dir = MakeTempDir();
    const auto [status, out] = RunUntilFirstRecordThenKey(dir, ProgramPath(c.program));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "");
    const std::string res = ReadFile(dir + "/ZANFEL.RES");
    EXPECT_GE(CountRecords(res), 1);
    ExpectCompleteRecords(res, 4);
    const size_t lineEnd = res.find("\r\n");
    ASSERT_NE(lineEnd, std::string::npos);
    EXPECT_EQ(res.substr(0, std::string(c.firstLine).size()), c.firstLine);
  }
}

TEST(Programs, AnUnwritableResultsDirectoryEndsBeforeAnyComputation) {
  const std::string dir = MakeTempDir();
  ASSERT_EQ(mkdir((dir + "/ZANFEL.RES").c_str(), 0755), 0); // a directory in the file's place
  const auto r = RunProgram(dir, Stdin::EndOfFile, ProgramPath("shoot_c1"));
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out.rfind("Runtime error 5: ZANFEL.RES: ", 0), 0u) << r.out;
}

} // namespace
} // namespace zanfel
