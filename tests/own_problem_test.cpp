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

TEST(OwnProblem, TheReadmeSectionMakesAWorkingProgram) {
  const std::string readme = ReadFile(ZANFEL_SOURCE_DIR "/README.md");
  const std::string header = CodeBlock(readme, "## Solving your own problem", "cpp");
  const std::string cmake = CodeBlock(readme, "## Solving your own problem", "cmake");
  ASSERT_NE(header, "");
  ASSERT_NE(cmake, "");
  EXPECT_LT(Lines(header) + Lines(cmake), 50);

  TempDir dir;
  WriteFile(dir.File("linear.hpp"), header);
  WriteFile(dir.File("CMakeLists.txt"), cmake);
  const std::string configure = std::string(ZANFEL_CMAKE) + " -S . -B build -G '" +
                                ZANFEL_GENERATOR + "' -DCMAKE_CXX_COMPILER=" + ZANFEL_CXX +
                                " -DCMAKE_BUILD_TYPE=" + ZANFEL_BUILD_TYPE +
                                " -DZanfel_DIR=" + ZANFEL_BINARY_DIR +
                                " -DZANFEL_LINK_TIME_OPTIMISATION=OFF > cmake.log 2>&1";
  ASSERT_EQ(Shell(dir.Path(), configure), 0) << ReadFile(dir.File("cmake.log"));
  ASSERT_EQ(Shell(dir.Path(), std::string(ZANFEL_CMAKE) + " --build build > build.log 2>&1"), 0)
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
}

} // namespace
} // namespace zanfel
