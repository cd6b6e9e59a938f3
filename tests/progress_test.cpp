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
       0, "ntial malo (record 4)\r\n"},
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
      progress::AfterRecord(1.5L, 3, 4, 0.25L, false);
      c.end();
      return 122;
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.terminal,
              "\rprobe  P = 1.50000000  3 records  0:00  Newton 4\033[K" + kEraseLine + c.report);
    EXPECT_TRUE(r.terminalCanonical) << "the terminal mode restored too";
  }
}

// The status line at a terminal's width: whole fields in the order of their
// worth, never a word cut, the last column free.
TEST(Progress, TheStatusLineFitsTheTerminalInWholeFields) {
  progress::Status st;
  st.program = "shoot_b1";
  st.P = 0.73893163L;
  st.covered = 0.4142;
  st.records = 63;
  st.recordsHere = 60;
  st.seconds = 3725.0;
  st.iterations = 4;
  st.plotted = "dy8(1)/dH";
  st.value = -0.0123456789L;
  const std::string whole = "shoot_b1  P = 0.73893163  41%  63 records  1.0/min  1:02:05  "
                            "Newton 4  dy8(1)/dH = -0.0123457";
  const struct {
    unsigned width;
    std::string line;
  } rows[] = {
      {0, whole},
      {unsigned(whole.size()) + 1, whole},
      {unsigned(whole.size()), whole.substr(0, whole.find("  dy8"))},
      {30, "shoot_b1  P = 0.73893163  41%"},
      {29, "shoot_b1  P = 0.73893163"},
      {8, "shoot_b"},
  };
  st.recordsHere = 60;
  st.seconds = 3725.0;
  for (const auto &row : rows) {
    SCOPED_TRACE(row.width);
    const std::string line = progress::StatusLine(st, row.width);
    EXPECT_EQ(line, row.line);
    EXPECT_TRUE(row.width == 0 || line.size() < row.width);
  }
  // The rate when it is ten or more a minute; a resumed run counts its own.
  st.recordsHere = 700;
  EXPECT_NE(progress::StatusLine(st, 0).find("  11/min  "), std::string::npos);
  // A far range end still shows P moving towards it.
  for (const auto &[covered, shown] : {std::pair{0.0, "  0%  "},
                                       {1.43e-7, "  <0.01%  "},
                                       {1.43e-4, "  0.014%  "},
                                       {0.0943, "  9.4%  "},
                                       {0.0951, "  10%  "},
                                       {1.0, "  100%  "}}) {
    st.covered = covered;
    EXPECT_NE(progress::StatusLine(st, 0).find(shown), std::string::npos) << covered;
  }
  EXPECT_EQ(progress::FitWords("shoot_b1: P left its range; 12 records", 25),
            "shoot_b1: P left its");
  EXPECT_EQ(progress::FitWords("short", 25), "short");
}

} // namespace
} // namespace zanfel
