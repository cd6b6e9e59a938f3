// The results file and its six-line records: the reference records rebuilt
// from their own printed values, the file's create/truncate and write-through
// behaviour, and the I/O errors that end a program.
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "report/record.hpp"
#include "report/text_file.hpp"
#include "runtime/fault.hpp"
#include "runtime/signals.hpp"
#include "support/test_support.hpp"

// Faults injected under the results file: this program's own write() and
// fdatasync() stand in for the C library's, and misbehave once armed.
namespace {
enum class Fault { None, HalfThenHangUp, HalfThenDiskFull, SyncFails, SecondRenameFails };
Fault armed = Fault::None;
int renames = 0;
} // namespace

extern "C" int rename(const char *from, const char *to) {
  if (armed == Fault::SecondRenameFails && ++renames == 2) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
}

extern "C" ssize_t write(int fd, const void *buf, size_t n) {
  if (fd > 2 && n > 1 && (armed == Fault::HalfThenHangUp || armed == Fault::HalfThenDiskFull)) {
    const Fault fault = armed;
    armed = Fault::None;
    (void)!syscall(SYS_write, fd, buf, n / 2);
    if (fault == Fault::HalfThenHangUp)
      raise(SIGHUP);
    errno = ENOSPC;
    return -1;
  }
  return syscall(SYS_write, fd, buf, n);
}

extern "C" int fdatasync(int fd) {
  if (fd > 2 && armed == Fault::SyncFails) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fdatasync, fd));
}

namespace zanfel {
namespace {

using testing::ReadFile;

class RecordTest : public ::testing::Test {
protected:
  const testing::TempDir scratch;
  const std::string dir = scratch.Path();
};

std::vector<std::string> SplitCrLf(const std::string &bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(bytes.substr(start, end - start));
  EXPECT_EQ(start, bytes.size()) << "bytes after the last CR LF";
  return lines;
}

std::vector<REAL> Numbers(const std::string &line) {
  static const std::regex number(R"(-?[0-9]+\.[0-9]+)");
  std::vector<REAL> values;
  for (std::sregex_iterator i(line.begin(), line.end(), number), end; i != end; ++i)
    values.push_back(std::strtold(i->str().c_str(), nullptr));
  return values;
}

// Reads every record of a reference results file back into H, H1, X and YOUT
// and writes it again: the printed values are short enough to survive the
// round trip, so any difference is one of layout.
template <int N, int NOUT>
void RebuildReference(const std::string &deliverable, const RecordLayout &L,
                      const std::string &dir) {
  const std::string reference = testing::Golden(deliverable, "ZANFEL.RES");
  const std::vector<std::string> lines = SplitCrLf(reference);
  ASSERT_FALSE(lines.empty());
  ASSERT_EQ(lines.size() % 6, 0u);

  TextFile f;
  f.Assign(dir + "/" + deliverable + ".RES");
  f.Rewrite();
  for (std::size_t r = 0; r < lines.size(); r += 6) {
    GLNARRAY<N> X;
    GLNARRAY1<NOUT> YOUT;
    const std::vector<REAL> line1 = Numbers(lines[r]);
    const std::vector<REAL> line2 = Numbers(lines[r + 1]);
    const std::vector<REAL> line3 = Numbers(lines[r + 2]);
    const std::vector<REAL> line4 = Numbers(lines[r + 3]);
    const std::vector<REAL> line5 = Numbers(lines[r + 4]);
    ASSERT_EQ(line1.size(), 2u);
    ASSERT_EQ(line2.size(), static_cast<std::size_t>(L.line2Count));
    ASSERT_EQ(line3.size(), static_cast<std::size_t>(N - 1));
    ASSERT_EQ(line4.size(), 2u);
    ASSERT_EQ(line5.size(), 1u);
    for (int i = 1; i <= L.line2Count; ++i)
      YOUT[i] = line2[i - 1];
    for (int i = 2; i <= N; ++i)
      X[i] = line3[i - 2];
    YOUT[L.iv] = line4[0];
    YOUT[L.iv + 1] = line4[1];
    YOUT[L.iz] = line5[0];
    WriteRecord(f, L, line1[0], line1[1], X, YOUT);
  }
  f.Close();
  EXPECT_EQ(ReadFile(f.Path()), reference);
}

TEST_F(RecordTest, RebuildsTheReferenceRecordsOfEachFamily) {
  RebuildReference<4, 14>("shoot_a1", kRecordA, dir);
  RebuildReference<9, 19>("shoot_b1", kRecordB, dir);
  RebuildReference<4, 24>("shoot_c2", kRecordC, dir);
}

TEST_F(RecordTest, FamilyBExampleWithAValueWiderThanItsField) {
  GLNARRAY<9> X;
  GLNARRAY1<19> YOUT;
  X[2] = -2.033455005L;
  X[3] = 0.8694461013L;
  X[9] = -204.941223689L;
  YOUT[10] = -1e-17L;
  YOUT[11] = 123.456789L;
  TextFile f;
  f.Assign(dir + "/b.RES");
  f.Rewrite();
  WriteRecord(f, kRecordB, 1.11364898L, 0.11893163L, X, YOUT);
  f.Close();
  const std::vector<std::string> lines = SplitCrLf(ReadFile(f.Path()));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "h:=  1.11364898   ;x[1]:=  0.11893163");
  EXPECT_EQ(lines[1], " 0.00000000       0.00000000      0.00000000      0.00000000");
  EXPECT_EQ(lines[2].substr(0, 42), "; x[2]:=-2.0334550050; x[3]:= 0.8694461013");
  EXPECT_EQ(lines[2].substr(lines[2].size() - 23), "; x[9]:=-204.9412236890");
  EXPECT_EQ(lines[3], "v=-0.00000000  DG=123.45678900");
  EXPECT_EQ(lines[4], "Bh=0.00000000");
  EXPECT_EQ(lines[5], "");
}

TEST_F(RecordTest, RewriteCreatesOrTruncatesAndLinesEndWithCrLf) {
  const std::string path = dir + "/ZANFEL.RES";
  testing::WriteFile(path, "old contents that must go\r\n");
  TextFile f;
  f.Assign(path);
  f.Rewrite();
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(ReadFile(path), "");
  f.Write("a");
  f.Write("b");
  f.WriteLn("c");
  f.WriteLn();
  f.Close();
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(ReadFile(path), "abc\r\n\r\n");

  // A second Rewrite of an open file writes out the first contents, then
  // starts the file afresh (shoot_a1 keeps only its last pass).
  f.Rewrite();
  f.WriteLn("pass 1");
  f.Rewrite();
  EXPECT_EQ(ReadFile(path), "");
  f.WriteLn("pass 2");
  f.Close();
  EXPECT_EQ(ReadFile(path), "pass 2\r\n");
}

TEST_F(RecordTest, WriteThroughPutsTheBytesOnDiskBeforeClose) {
  const std::string path = dir + "/ZANFEL.RES";
  TextFile f;
  f.Assign(path);
  f.Rewrite();
  f.WriteLn("record 1");
  EXPECT_EQ(ReadFile(path), "") << "held until the record is complete";
  f.WriteThrough();
  EXPECT_EQ(ReadFile(path), "record 1\r\n");
  f.Write("record 2");
  f.WriteThrough();
  EXPECT_EQ(ReadFile(path), "record 1\r\nrecord 2");
  f.Close();
  EXPECT_EQ(ReadFile(path), "record 1\r\nrecord 2");
}

TEST_F(RecordTest, RecordsSurviveAnAbruptEnd) {
  const std::string path = dir + "/ZANFEL.RES";
  testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, [&] {
    static TextFile f; // never closed: the process ends as a fatal end does
    f.Assign(path);
    f.Rewrite();
    WriteRecord(f, kRecordC, 1.0L, 2.0L, GLNARRAY<4>{}, GLNARRAY1<24>{});
    _exit(0);
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(SplitCrLf(ReadFile(path)).size(), 6u);
}

// A record that the end of the program or a failed write cuts short goes
// again, and a sync that fails at the close is reported: the file keeps its
// whole records only.
TEST_F(RecordTest, ARecordCutShortGoesAndAFailedSyncIsReported) {
  const std::string path = dir + "/ZANFEL.RES";
  const struct {
    Fault fault;
    int status;
    std::string report;
  } cases[] = {
      {Fault::HalfThenHangUp, 128 + SIGHUP, ""},
      {Fault::HalfThenDiskFull, 101, "Runtime error 101: " + path + ": No space left on device\n"},
      {Fault::SyncFails, 101, "Runtime error 101: " + path + ": Input/output error\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    const testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, [&] {
      InstallFaultHandling();
      static TextFile f; // the end hook may find it open
      f.Assign(path);
      f.Rewrite();
      f.WriteLn("record 1");
      f.WriteThrough();
      f.WriteLn("record 2");
      armed = c.fault;
      f.WriteThrough();
      f.Close();
      return 0;
    });
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.report);
    EXPECT_EQ(ReadFile(path),
              "record 1\r\n" + std::string(c.fault == Fault::SyncFails ? "record 2\r\n" : ""));
  }
}

TEST_F(RecordTest, ResultsPathEndsInTheFileNameAndTheSnapshotLiesBeside) {
  const std::string results = ResultsPath();
  const std::string picture = BesidePath("ZANFEL.PNG");
  ASSERT_GE(results.size(), 10u);
  EXPECT_EQ(results.substr(results.size() - 10), "ZANFEL.RES");
  EXPECT_EQ(picture.substr(0, picture.size() - 10), results.substr(0, results.size() - 10));
}

// A new results file keeps an earlier run's four files: they move aside
// under one number, above any of theirs, the new file is locked as before
// (a second run finds it in use), and a failure on the way is an I/O error
// that leaves every file as it was.
TEST_F(RecordTest, ARewriteKeepsTheEarlierRunsFilesUnderOneNumber) {
  const std::string res = dir + "/ZANFEL.RES";
  const std::vector<std::string> companions{dir + "/ZANFEL.CSV", dir + "/ZANFEL.PNG",
                                            dir + "/ZANFEL.SVG"};
  const auto rewrite = [&] {
    TextFile f;
    f.Assign(res);
    f.KeepEarlier(companions);
    f.Rewrite();
    f.WriteLn("new");
    f.WriteThrough();
    // A second run while this one holds the file: refused, nothing moved.
    const testing::TempDir elsewhere; // the child's own output files
    const testing::ChildResult second =
        testing::RunInChild(elsewhere.Path(), testing::Stdin::DevNull, [&] {
          TextFile g;
          g.Assign(res);
          g.KeepEarlier(companions);
          g.Rewrite();
          return 0;
        });
    f.Close();
    return second.status == 5 && second.out.find("in use by another run") != std::string::npos ? 0
                                                                                               : 1;
  };
  const auto earlier = [&] {
    testing::WriteFile(res, "old records");
    testing::WriteFile(companions[0], "old rows");
    testing::WriteFile(companions[2], "old picture");
    testing::WriteFile(companions[1] + ".~2~", "older picture");
  };
  earlier();
  armed = Fault::SecondRenameFails;
  testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, rewrite);
  armed = Fault::None;
  EXPECT_EQ(r.status, 101);
  EXPECT_EQ(r.out.rfind("Runtime error 101: " + dir + "/ZANFEL.SVG: ", 0), 0u) << r.out;
  EXPECT_EQ(testing::Entries(dir),
            (std::vector<std::string>{"ZANFEL.CSV", "ZANFEL.PNG.~2~", "ZANFEL.RES", "ZANFEL.SVG"}));
  EXPECT_EQ(ReadFile(res) + ReadFile(companions[0]), "old recordsold rows");

  r = testing::RunInChild(dir, testing::Stdin::DevNull, rewrite);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.err, "Earlier results kept as " + res + ".~3~, ZANFEL.CSV.~3~, ZANFEL.SVG.~3~\n");
  EXPECT_EQ(ReadFile(res), "new\r\n");
  EXPECT_EQ(ReadFile(res + ".~3~") + ReadFile(companions[0] + ".~3~") +
                ReadFile(companions[2] + ".~3~") + ReadFile(companions[1] + ".~2~"),
            "old recordsold rowsold pictureolder picture");
  EXPECT_EQ(testing::Entries(dir).size(), 5u) << "nothing else left behind";

  // An empty results file alone is nothing to keep.
  const testing::TempDir other;
  testing::WriteFile(other.Path() + "/ZANFEL.RES", "");
  r = testing::RunInChild(other.Path(), testing::Stdin::DevNull, [&] {
    TextFile f;
    f.Assign(other.Path() + "/ZANFEL.RES");
    f.KeepEarlier({other.Path() + "/ZANFEL.CSV"});
    f.Rewrite();
    return 0;
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(testing::Entries(other.Path()), std::vector<std::string>{"ZANFEL.RES"});
}

// The numbers of the kept sets are text of any length: beside a number past
// 64 bits the next set takes the one above it, and the one after that, as
// beside any other.
TEST_F(RecordTest, KeptSetNumbersBeyondSixtyFourBitsCountOn) {
  const std::string res = dir + "/ZANFEL.RES", csv = dir + "/ZANFEL.CSV";
  testing::WriteFile(res + ".~99999999999999999999999~", "oldest");
  testing::WriteFile(csv + ".~18446744073709551616~", "2^64");
  for (const char *number : {"100000000000000000000000", "100000000000000000000001"}) {
    testing::WriteFile(res, "records");
    testing::WriteFile(csv, "rows");
    const testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, [&] {
      TextFile f;
      f.Assign(res);
      f.KeepEarlier({csv});
      f.Rewrite();
      return 0;
    });
    const std::string suffix = std::string(".~") + number + "~";
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "Earlier results kept as " + res + suffix + ", ZANFEL.CSV" + suffix + "\n");
    EXPECT_EQ(ReadFile(res + suffix) + ReadFile(csv + suffix), "recordsrows");
  }
  EXPECT_EQ(testing::Entries(dir).size(), 7u);
}

TEST_F(RecordTest, MissingDirectoryEndsWithPathNotFound) {
  const std::string path = dir + "/missing/ZANFEL.RES";
  testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, [&] {
    TextFile f;
    f.Assign(path);
    f.Rewrite();
    return 0;
  });
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out.rfind("Runtime error 3: " + path + ": ", 0), 0u) << r.out;
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RecordTest, FailedWriteEndsWithDiskWriteError) {
  const std::string path = dir + "/ZANFEL.RES";
  testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, [&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096}; // standard output, a file, takes the report
    setrlimit(RLIMIT_FSIZE, &limit);
    TextFile f;
    f.Assign(path);
    f.Rewrite();
    f.WriteLn(std::string(5000, 'x'));
    f.WriteThrough();
    return 0;
  });
  EXPECT_EQ(r.status, 101);
  EXPECT_EQ(r.out, "Runtime error 101: " + path + ": File too large\n");
  EXPECT_EQ(testing::ReadFile(path), "") << "cut back to the last whole record";
}

// A device is not a results file: /dev/full and /dev/zero are refused before
// a byte is written (a FIFO, a link: see the resume tests).
TEST_F(RecordTest, DevicesAreNotResultsFiles) {
  for (const char *device : {"/dev/full", "/dev/zero"}) {
    testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, [&] {
      TextFile f;
      f.Assign(device);
      f.Rewrite();
      return 0;
    });
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "Runtime error 5: " + std::string(device) + ": not a regular file\n");
  }
}

TEST_F(RecordTest, UnwritableDirectoryEndsWithAccessDenied) {
  if (geteuid() == 0)
    GTEST_SKIP() << "permissions do not bind root";
  const std::string locked = dir + "/locked";
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_exec);
  testing::ChildResult r = testing::RunInChild(dir, testing::Stdin::DevNull, [&] {
    TextFile f;
    f.Assign(locked + "/ZANFEL.RES");
    f.Rewrite();
    return 0;
  });
  std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out.rfind("Runtime error 5: ", 0), 0u) << r.out;
}

} // namespace
} // namespace zanfel
