// The progress display's status line on a terminal: erased before a console
// message and on every way out of a program. Whole runs with the line, the
// window title and standard error elsewhere than a terminal: golden_test.cpp.
#include "app/progress.hpp"

#include <gtest/gtest.h>

#include <csignal>

#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::kEraseLine;
using testing::Sink;
using testing::Stdin;

// The way out through the fault handling, as a program meets it after some
// records, with everything on the terminal: the terminal mode comes back and
// the line goes before the report. A console message starts on a line of its
// own.
TEST(Progress, EveryWayOutErasesTheLineBeforeItsReport) {
  const struct {
    const char *name;
    void (*end)();
    int status;
    const char *report;
  } cases[] = {
      {"run-time error", [] { RuntimeError(kRangeCheck); }, 201, "Runtime error 201\r\n"},
      {"fatal end", [] { FatalEnd(0); }, 0, ""},
      {"console message, then a fatal end",
       [] {
         WriteMessageLine("ntial malo");
         FatalEnd(0);
       },
       0, "ntial malo\r\n"},
      {"trap",
       [] {
         volatile long double zero = 0.0L;
         volatile long double q = 1.0L / zero;
         (void)q;
       },
       200, "Runtime error 200\r\n"},
      {"termination", [] { raise(SIGTERM); }, 128 + SIGTERM, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const testing::TempDir dir;
    testing::ChildSetup setup;
    setup.dir = dir.Path();
    setup.in = Stdin::Terminal;
    setup.out = setup.err = Sink::Terminal;
    setup.display = "";
    setup.timeoutSeconds = 60;
    const ChildResult r = testing::RunChild(setup, [&] {
      InstallFaultHandling();
      EnterRunMode();
      progress::Start("probe");
      progress::AfterRecord(1.5L, 3);
      c.end();
      return 122;
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.terminal, "\rprobe  P =   1.50000000  records 3\033[K" + kEraseLine + c.report);
    EXPECT_TRUE(r.terminalCanonical) << "the terminal mode restored too";
  }
}

} // namespace
} // namespace zanfel
