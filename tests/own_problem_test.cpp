// A new user's problem made from the README alone: the header and the
// CMakeLists.txt of "Solving your own problem" are taken from the README as
// they stand, built as a project of their own against this build's
// libraries, and run; the results must be the closed form of the problem.
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <string>

#include "report/csv.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using namespace testing;

// The code block of `language` that follows `after` in `text`.
std::string CodeBlock(const std::string &text, const std::string &after,
                      const std::string &language) {
  const std::size_t from = text.find(after);
  const std::string fence = "```" + language + "\n";
  const std::size_t start = text.find(fence, from);
  if (from == std::string::npos || start == std::string::npos)
    return "";
  const std::size_t body = start + fence.size();
  return text.substr(body, text.find("```\n", body) - body);
}

long Lines(const std::string &text) {
  return static_cast<long>(std::count(text.begin(), text.end(), '\n'));
}

int Shell(const std::string &dir, const std::string &command) {
  return RunProgram(dir, Stdin::DevNull, "/bin/sh", {"-c", command}).status;
}

// The text of `line` with every `from` replaced by `to`.
std::string Replaced(std::string line, const std::string &from, const std::string &to) {
  for (std::size_t at = 0; (at = line.find(from, at)) != std::string::npos; at += to.size())
    line.replace(at, from.size(), to);
  return line;
}

// The README's commands, as printed but for where this build is: the first
// line configures and builds (with the quicker link it offers), the comment
// of the second is the run with --dir.
struct Commands {
  std::string build, runInOut;
};

Commands ReadmeCommands(const std::string &readme) {
  const std::string sh = CodeBlock(readme, "zanfel_add_program(linear linear.hpp)", "sh");
  const std::size_t end = sh.find('\n');
  const std::size_t comment = sh.find("# or: ", end);
  if (end == std::string::npos || comment == std::string::npos)
    return {};
  const std::string first = Replaced(sh.substr(0, end), "$HOME/zanfel/build", ZANFEL_BINARY_DIR);
  const std::string options =
      " -DCMAKE_CXX_COMPILER=" + std::string(ZANFEL_CXX) + " -DZANFEL_LINK_TIME_OPTIMISATION=OFF";
  const std::size_t configured = first.find(" && ");
  return {first.substr(0, configured) + options + first.substr(configured),
          sh.substr(comment + 6, sh.find('\n', comment) - comment - 6)};
}

TEST(OwnProblem, TheReadmeSectionMakesAWorkingProgram) {
  const std::string readme = ReadFile(ZANFEL_SOURCE_DIR "/README.md");
  const std::string header = CodeBlock(readme, "## Solving your own problem", "cpp");
  const std::string cmake = CodeBlock(readme, "## Solving your own problem", "cmake");
  ASSERT_NE(header, "");
  ASSERT_NE(cmake, "");
  EXPECT_LT(Lines(header) + Lines(cmake), 50);
  const Commands commands = ReadmeCommands(readme);
  ASSERT_NE(commands.build, "");

  TempDir dir;
  WriteFile(dir.File("linear.hpp"), header);
  WriteFile(dir.File("CMakeLists.txt"), cmake);
  ASSERT_EQ(Shell(dir.Path(), "(" + commands.build + ") > build.log 2>&1"), 0)
      << commands.build << "\n"
      << ReadFile(dir.File("build.log"));

  ChildSetup setup;
  setup.dir = dir.Path();
  setup.display = "";
  setup.timeoutSeconds = 600;
  const ChildResult run =
      RunChild(setup, [&] { return ExecProgram(dir.File("build/bin/linear"), {}); });
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // y'(0) = sqrt(P) / sinh(sqrt(P)) at P = 0, 0.5, ..., 20.
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  std::size_t at = csv.find("\nrecord,pass,P,H,ITER,X1,r1,dy_0,dy_1,y_1,messages,DP\n");
  ASSERT_NE(at, std::string::npos) << csv;
  at = csv.find('\n', at + 1) + 1;
  int rows = 0;
  for (std::size_t end; (end = csv.find('\n', at)) != std::string::npos; at = end + 1, ++rows) {
    const auto fields = SplitFields(std::string_view(csv).substr(at, end - at));
    REAL P = -1, X1 = 0;
    ASSERT_TRUE(ParseReal(fields[2], P) && ParseReal(fields[5], X1));
    const REAL exact = P == 0 ? 1.0L : sqrtl(P) / sinhl(sqrtl(P));
    // reached: 1.5e-9 at P = 20, the integrator's error carried along the interval
    EXPECT_LT(fabsl(X1 - exact) / exact, 5e-9L) << "P = " << static_cast<double>(P);
  }
  EXPECT_EQ(rows, 41);
  EXPECT_TRUE(Exists(dir.File("ZANFEL.RES")));
  EXPECT_TRUE(Exists(dir.File("ZANFEL.PNG")));
  EXPECT_EQ(Shell(dir.Path(), commands.runInOut + " > run.log 2>&1 < /dev/null"), 0)
      << commands.runInOut << "\n"
      << ReadFile(dir.File("run.log"));
  EXPECT_EQ(CsvWithoutComments(ReadFile(dir.File("out/ZANFEL.CSV"))), CsvWithoutComments(csv));
}

} // namespace
} // namespace zanfel
