// The program's fatal ends: floating-point traps, range and overflow checks,
// I/O errors, signals and the fatal-end and restore hooks. Each case runs in a
// child process because each ends it.
#include <cerrno>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/checked.hpp"
#include "runtime/deferred_end.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "runtime/types.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::RunInChild;
using testing::Stdin;

class FaultTest : public ::testing::Test {
protected:
  ChildResult Run(const std::function<int()> &body) {
    return RunInChild(dir, Stdin::DevNull, body);
  }
  // A trap case: fault handling installed, then the body.
  ChildResult RunTrapped(const std::function<int()> &body) {
    return Run([&] {
      InstallFaultHandling();
      return body();
    });
  }

  const testing::TempDir scratch;
  const std::string dir = scratch.Path();
};

void Expect(const ChildResult &r, int status, const std::string &out) {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, "");
}

TEST_F(FaultTest, FloatingPointTrapsReportTheirNumbers) {
  Expect(RunTrapped([] {
           volatile REAL zero = 0.0L;
           volatile REAL r = 1.0L / zero;
           (void)r;
           return 0;
         }),
         200, "Runtime error 200\n");
  Expect(RunTrapped([] {
           volatile REAL big = LDBL_MAX;
           volatile REAL r = big * 2.0L;
           (void)r;
           return 0;
         }),
         205, "Runtime error 205\n");
  Expect(RunTrapped([] {
           volatile REAL zero = 0.0L;
           volatile REAL r = zero / zero;
           (void)r;
           return 0;
         }),
         207, "Runtime error 207\n");
  Expect(RunTrapped([] {
           volatile REAL minusOne = -1.0L;
           volatile REAL r = std::sqrt(minusOne);
           (void)r;
           return 0;
         }),
         207, "Runtime error 207\n");
  // The SSE unit traps as well (a double somewhere in a library call).
  Expect(RunTrapped([] {
           volatile double zero = 0.0;
           volatile double r = 1.0 / zero;
           (void)r;
           return 0;
         }),
         200, "Runtime error 200\n");
  Expect(RunTrapped([] {
           volatile int zero = 0;
           volatile int r = 7 / zero;
           (void)r;
           return 0;
         }),
         200, "Runtime error 200\n");
}

TEST_F(FaultTest, UnderflowDenormalAndInexactAreNoFaults) {
  Expect(RunTrapped([] {
           volatile REAL tiny = LDBL_MIN;
           volatile REAL r = tiny * tiny; // underflow to zero
           volatile REAL d = tiny / 3.0L; // denormal, inexact
           volatile REAL e = d * 0.5L;    // denormal operand
           return r == 0.0L && d > 0.0L && e > 0.0L ? 0 : 1;
         }),
         0, "");
}

TEST_F(FaultTest, RangeAndIntegerOverflowChecks) {
  Expect(RunTrapped([] {
           Array1<REAL, 1, 3> a;
           volatile int i = 4;
           return static_cast<int>(a[i]);
         }),
         201, "Runtime error 201\n");
  Expect(RunTrapped([] {
           Array1<INT16, 1, 3> a;
           volatile int i = 0;
           return static_cast<int>(a[i]);
         }),
         201, "Runtime error 201\n");
  Expect(RunTrapped([] {
           volatile INT16 a = 32767;
           return static_cast<int>(Add16(a, 1));
         }),
         215, "Runtime error 215\n");
  Expect(RunTrapped([] {
           volatile REAL v = 40000.0L;
           return static_cast<int>(Round16(v));
         }),
         201, "Runtime error 201\n");
}

TEST_F(FaultTest, BufferedOutputComesBeforeTheReportOnce) {
  Expect(Run([]() -> int {
           std::printf("before ");
           RangeFault();
         }),
         201, "before Runtime error 201\n");
}

int hookCalls = 0;
void CountingFatalHook() {
  ++hookCalls;
  if (write(1, "[snapshot]", 10) != 10)
    _exit(99);
}
void RestoreMarker() {
  if (write(1, "[restore]", 9) != 9)
    _exit(99);
}
void FaultingFatalHook() {
  if (write(1, "[snapshot]", 10) != 10)
    _exit(99);
  IntegerOverflow();
}

TEST_F(FaultTest, FatalEndRunsHookThenRestoresTerminal) {
  Expect(Run([]() -> int {
           SetFatalEndHook(CountingFatalHook);
           SetRestoreHook(RestoreMarker);
           FatalEnd(0);
         }),
         0, "[snapshot][restore]");
  Expect(Run([]() -> int {
           SetFatalEndHook(CountingFatalHook);
           SetRestoreHook(RestoreMarker);
           RuntimeError(kDivisionByZero);
         }),
         200, "[snapshot][restore]Runtime error 200\n");
  Expect(Run([]() -> int {
           SetFatalEndHook(CountingFatalHook);
           FatalRuntimeError(kDivisionByZero, 12);
         }),
         12, "[snapshot]Runtime error 200\n"); // the report's number, the end's own status
  // A fault inside the hook reports itself; the hook does not run again.
  Expect(Run([]() -> int {
           SetFatalEndHook(FaultingFatalHook);
           RangeFault();
         }),
         215, "[snapshot]Runtime error 215\n");
}

TEST_F(FaultTest, TrapRestoresTerminalButTakesNoSnapshot) {
  Expect(RunTrapped([] {
           SetFatalEndHook(CountingFatalHook);
           SetRestoreHook(RestoreMarker);
           volatile REAL zero = 0.0L;
           volatile REAL r = 1.0L / zero;
           (void)r;
           return 0;
         }),
         200, "[restore]Runtime error 200\n");
}

TEST_F(FaultTest, EndSignalsRestoreTerminalAndEndBySignal) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    Expect(RunTrapped([sig] {
             SetRestoreHook(RestoreMarker);
             raise(sig);
             return 0;
           }),
           128 + sig, "[restore]");
  }
}

// Creates `path` for writing and ends through IoError if that fails.
int CreateOrFail(const std::string &path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    IoError(errno, path);
  close(fd);
  return 0;
}

TEST_F(FaultTest, IoErrorsNameTheFileAndReason) {
  Expect(Run([] { return CreateOrFail("missing/ZANFEL.RES"); }), 3,
         "Runtime error 3: missing/ZANFEL.RES: No such file or directory\n");
  testing::WriteFile(dir + "/plain", "x");
  Expect(Run([] { return CreateOrFail("plain/ZANFEL.RES"); }), 3,
         "Runtime error 3: plain/ZANFEL.RES: Not a directory\n");
  std::string absent = dir + "/absent.txt";
  Expect(Run([&] {
           if (open(absent.c_str(), O_RDONLY) < 0)
             IoError(errno, absent);
           return 0;
         }),
         2, "Runtime error 2: " + absent + ": No such file or directory\n");
  // A full disk surfaces on the write.
  Expect(Run([] {
           int fd = open("/dev/full", O_WRONLY);
           if (fd < 0)
             return 98;
           if (write(fd, "record\r\n", 8) < 0)
             IoError(errno, "/dev/full");
           return 0;
         }),
         101, "Runtime error 101: /dev/full: No space left on device\n");
  // A directory in place of the file.
  Expect(Run([] { return CreateOrFail("."); }), 5, "Runtime error 5: .: Is a directory\n");
}

TEST_F(FaultTest, AHeldBackIoErrorKeepsItsReport) {
  Expect(Run([] {
           const DeferredEnd end =
               RunDeferringEnds([](void *) { CreateOrFail("missing/ZANFEL.RES"); }, nullptr);
           if (end.kind != DeferredEnd::Kind::Report)
             return 97;
           EndAsDeferred(end);
         }),
         3, "Runtime error 3: missing/ZANFEL.RES: No such file or directory\n");
}

TEST_F(FaultTest, IoErrorCodeClassifiesTheReason) {
  EXPECT_EQ(IoErrorCode(ENOENT), kPathNotFound);
  EXPECT_EQ(IoErrorCode(ENOTDIR), kPathNotFound);
  EXPECT_EQ(IoErrorCode(EACCES), kAccessDenied);
  EXPECT_EQ(IoErrorCode(EPERM), kAccessDenied);
  EXPECT_EQ(IoErrorCode(EROFS), kAccessDenied);
  EXPECT_EQ(IoErrorCode(ENOSPC), kDiskWriteError);
  EXPECT_EQ(IoErrorCode(EIO), kDiskWriteError);
  EXPECT_EQ(IoErrorCode(EDQUOT), kDiskWriteError);
  EXPECT_EQ(IoErrorCode(ENOENT, dir + "/file"), kFileNotFound);
  EXPECT_EQ(IoErrorCode(ENOENT, dir + "/missing/file"), kPathNotFound);
  EXPECT_EQ(IoErrorCode(ENOENT, "/ZANFEL.RES"), kFileNotFound);
}

TEST_F(FaultTest, ReadOnlyDirectoryIsAccessDenied) {
  if (geteuid() == 0)
    GTEST_SKIP() << "permissions do not bind the superuser";
  std::string ro = dir + "/ro";
  ASSERT_EQ(mkdir(ro.c_str(), 0500), 0);
  Expect(Run([] { return CreateOrFail("ro/ZANFEL.RES"); }), 5,
         "Runtime error 5: ro/ZANFEL.RES: Permission denied\n");
}

} // namespace
} // namespace zanfel
