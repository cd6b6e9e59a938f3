// ZANFEL.CSV and --resume: reals that read back bit for bit, rows that a
// plain CSV reader loads, and a stopped sweep that, resumed, ends with the
// files of a run that never stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <linux/fs.h>
#include <map>
#include <random>
#include <regex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "app/run_program.hpp"
#include "app/scripted_hooks.hpp"
#include "continuation/families.hpp"
#include "runtime/end_cause.hpp"
#include "support/quiet_observer.hpp"
#include "support/test_support.hpp"

// A hang-up at the first read of a file, once armed: this program's own
// pread() stands in for the C library's.
namespace {
bool hangUpAtRead = false;
} // namespace

extern "C" ssize_t pread(int fd, void *buf, size_t n, off_t at) {
  if (fd > 2 && hangUpAtRead) {
    hangUpAtRead = false;
    raise(SIGHUP);
  }
  return syscall(SYS_pread64, fd, buf, n, at);
}

namespace zanfel {
namespace {

using testing::ChildResult;
using testing::ProgramPath;
using testing::ReadFile;
using testing::RunInChild;
using testing::Stdin;
using testing::TempDir;
using testing::WriteFile;

REAL RandomBits(std::mt19937_64 &rng) {
  REAL v = 0.0L;
  const std::uint64_t significand = rng();
  // Exponents over the whole range, with zero (subnormals) and the top
  // (infinities, NaNs) left out; the integer bit set as a normal value has it.
  const std::uint16_t exponent = static_cast<std::uint16_t>(1 + rng() % 0x7FFE) |
                                 static_cast<std::uint16_t>(rng() % 2 ? 0x8000 : 0);
  std::memcpy(&v, &significand, 8);
  std::memcpy(reinterpret_cast<char *>(&v) + 8, &exponent, 2);
  reinterpret_cast<unsigned char *>(&v)[7] |= 0x80;
  return v;
}

TEST(CsvText, RealsReadBackBitForBit) {
  std::mt19937_64 rng(14);
  std::vector<REAL> values{0.0L,
                           -0.0L,
                           1.0L,
                           -0.01L,
                           0.11893163L,
                           1.0E-15L,
                           std::numeric_limits<REAL>::max(),
                           std::numeric_limits<REAL>::min(),
                           std::numeric_limits<REAL>::denorm_min(),
                           std::nextafter(1.0L, 2.0L)};
  for (int i = 0; i < 5000; ++i)
    values.push_back(RandomBits(rng));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const REAL v = values[i];
    const std::string text = FullReal(v);
    REAL back;
    ASSERT_TRUE(ParseReal(text, back)) << text;
    ASSERT_TRUE(SameBits(back, v)) << text;
    if (i < 500) {
      ASSERT_TRUE(ParseReal(ShortReal(v), back) && SameBits(back, v)) << ShortReal(v);
    }
  }
  EXPECT_EQ(FullReal(1.5L), "1.50000000000000000000e+00");
  EXPECT_EQ(ShortReal(0.11893163L), "0.11893163");
  EXPECT_EQ(ShortReal(-0.01L), "-0.01");
  EXPECT_EQ(ShortReal(700.0L), "700");
  EXPECT_EQ(ShortReal(1.0E-15L), "1e-15");
  REAL v;
  long n;
  for (const char *bad : {"", " 1", "1 ", "1x", "1,5", "e5"})
    EXPECT_FALSE(ParseReal(bad, v)) << bad;
  for (const char *bad : {"", "+1", "1.0", "99999999999999999999999"})
    EXPECT_FALSE(ParseLong(bad, n)) << bad;
}

TEST(CsvText, RowReadsBackTheStateItWasWrittenFrom) {
  std::mt19937_64 rng(9);
  CsvRow<9, 19> row, back;
  row.record = 26521;
  row.pass = 1;
  row.P = RandomBits(rng);
  row.H = RandomBits(rng);
  row.ITER = 100;
  for (int I = 1; I <= 9; ++I)
    row.X[I] = RandomBits(rng);
  for (int I : YoutColumns(9, kRecordB))
    row.YOUT[I] = RandomBits(rng);
  row.messages = 3;
  row.DP = RandomBits(rng);
  const std::string line = FormatCsvRow(row, kRecordB);
  ASSERT_EQ(line.back(), '\n');
  const std::string_view fields(line.data(), line.size() - 1);
  EXPECT_EQ(SplitFields(fields).size(),
            (CsvColumnTable<9, 19>(kRecordB, {"y2_1", "y8_1", "y20_1"}, false).size()));
  ASSERT_TRUE(ParseCsvRow(fields, kRecordB, back));
  EXPECT_EQ(FormatCsvRow(back, kRecordB), line);
  EXPECT_TRUE(SameBits(back.P, row.P) && SameBits(back.H, row.H) && SameBits(back.DP, row.DP));
  for (int I = 1; I <= 9; ++I)
    EXPECT_TRUE(SameBits(back.X[I], row.X[I])) << I;
  EXPECT_EQ(back.ITER, 100);
  // A row cut short or grown is not a row.
  EXPECT_FALSE(ParseCsvRow(fields.substr(0, fields.rfind(',')), kRecordB, back));
  EXPECT_FALSE(ParseCsvRow(std::string(fields) + ",1", kRecordB, back));
  EXPECT_FALSE(ParseCsvRow(fields.substr(0, fields.size() - 3), kRecordB, back) &&
               SameBits(back.DP, row.DP));

  // Along the arclength: the label names the record's kind and its running
  // number, and reads back as both; a label no kind has, a numbered kind
  // without its number, or a number where a kind has none, is not a row.
  row.alongArc = back.alongArc = true;
  row.label = {RecordKind::Fold, 12};
  row.s = RandomBits(rng);
  row.slope = RandomBits(rng);
  const std::string arc = FormatCsvRow(row, kRecordB);
  const std::string_view arcFields(arc.data(), arc.size() - 1);
  ASSERT_TRUE(ParseCsvRow(arcFields, kRecordB, back));
  EXPECT_EQ(back.label, (RecordLabel{RecordKind::Fold, 12}));
  EXPECT_EQ(FormatCsvRow(back, kRecordB), arc);
  for (const char *wrong : {",bend12,", ",fold,", ",fold012,", ",fold+1,", ",end1,", ",user0,"}) {
    std::string otherLabel(arcFields);
    otherLabel.replace(otherLabel.find(",fold12,"), 8, wrong);
    EXPECT_FALSE(ParseCsvRow(otherLabel, kRecordB, back)) << wrong;
  }
  for (const RecordLabel label :
       {RecordLabel{RecordKind::User, 3}, RecordLabel{RecordKind::End, 0}, RecordLabel{}}) {
    row.label = label;
    ASSERT_TRUE(ParseCsvRow(std::string_view(FormatCsvRow(row, kRecordB))
                                .substr(0, FormatCsvRow(row, kRecordB).size() - 1),
                            kRecordB, back));
    EXPECT_EQ(back.label, label) << LabelText(label);
  }
  // A natural sweep with special points has the label column alone.
  row.alongArc = back.alongArc = false;
  row.labelled = back.labelled = true;
  row.label = {RecordKind::User, 1};
  const std::string labelled = FormatCsvRow(row, kRecordB);
  EXPECT_TRUE(labelled.ends_with(",user1\n"));
  ASSERT_TRUE(
      ParseCsvRow(std::string_view(labelled).substr(0, labelled.size() - 1), kRecordB, back));
  EXPECT_EQ(back.label, row.label);
}

// What a run cut off while writing a row leaves is every start of the row,
// a fold row's label torn in the middle too; anything else after the last
// row is not.
TEST(CsvText, EveryStartOfARowIsARowPrefix) {
  std::mt19937_64 rng(11);
  CsvRow<9, 19> row;
  row.alongArc = true;
  row.label = {RecordKind::Fold, 1};
  for (int I = 1; I <= 9; ++I)
    row.X[I] = RandomBits(rng);
  const std::string line = FormatCsvRow(row, kRecordB);
  const auto columns = CsvColumnTable<9, 19>(kRecordB, {"y2_1", "y8_1", "y20_1"}, true);
  for (std::size_t n = 0; n + 1 < line.size(); ++n)
    EXPECT_TRUE(IsRowPrefix(std::string_view(line).substr(0, n), columns)) << line.substr(0, n);
  const std::size_t label = line.find(",fold1,");
  EXPECT_FALSE(IsRowPrefix(line.substr(0, label) + ",fl", columns));
  EXPECT_FALSE(IsRowPrefix(line.substr(0, label) + ",x,1", columns));
}

// Loads the file as a plain CSV reader with a float64 parser would, after
// skipping the "#" lines: a header and rows of as many numbers. The number
// of rows.
long ExpectPlainCsv(const std::string &csv, std::size_t columns) {
  const std::string data = testing::CsvWithoutComments(csv);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = data.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(data.substr(at, end - at));
  EXPECT_FALSE(lines.empty());
  EXPECT_EQ(SplitFields(lines[0]).size(), columns);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const auto fields = SplitFields(lines[i]);
    EXPECT_EQ(fields.size(), columns) << "row " << i;
    for (std::string_view f : fields) {
      const std::string text(f);
      char *end;
      std::strtod(text.c_str(), &end);
      EXPECT_TRUE(!text.empty() && *end == '\0') << "row " << i << ": " << text;
    }
  }
  return static_cast<long>(lines.size()) - 1;
}

// The rows as a reader that goes by the header's names sees them.
std::vector<std::map<std::string, REAL>> RowsByName(const std::string &csv) {
  const std::string data = testing::CsvWithoutComments(csv);
  std::vector<std::string_view> names;
  std::vector<std::map<std::string, REAL>> rows;
  for (std::size_t at = 0, end; (end = data.find('\n', at)) != std::string::npos; at = end + 1) {
    const auto fields = SplitFields(std::string_view(data).substr(at, end - at));
    if (names.empty()) {
      names = fields;
      continue;
    }
    auto &row = rows.emplace_back();
    for (std::size_t i = 0; i < fields.size() && i < names.size(); ++i)
      EXPECT_TRUE(ParseReal(fields[i], row[std::string(names[i])])) << fields[i];
  }
  return rows;
}

// The "# sweep" line says which way P steps; the rows must step that way.
void ExpectSweepLineNamesTheStep(const std::string &csv) {
  const std::size_t at = csv.find("\n# sweep: ");
  ASSERT_NE(at, std::string::npos);
  const std::string line = csv.substr(at + 1, csv.find('\n', at + 1) - at - 1);
  const bool plus = line.find("(P := P + DP)") != std::string::npos;
  EXPECT_NE(plus, line.find("(P := P - DP)") != std::string::npos) << line;
  const auto rows = RowsByName(csv);
  for (std::size_t k = 1; k < rows.size(); ++k) {
    const REAL P = rows[k - 1].at("P"), DP = rows[k - 1].at("DP");
    EXPECT_TRUE(SameBits(rows[k].at("P"), plus ? P + DP : P - DP)) << line << ", row " << k + 1;
  }
}

// Family C: each row's columns, taken by name, hold the values its record
// prints (to the record's decimals).
void ExpectColumnsOfTheRecordsC(const std::string &csv, const std::string &res) {
  static const std::regex number(R"(-?[0-9]+\.[0-9]+)");
  const char *const order[] = {"H",  "X1", "r1", "r2",   "r3",   "r4",
                               "X2", "X3", "X4", "y2_1", "y8_1", "y30_1"};
  const auto rows = RowsByName(csv);
  std::sregex_iterator value(res.begin(), res.end(), number), end;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    EXPECT_EQ(rows[k].at("record"), REAL(k + 1));
    EXPECT_EQ(rows[k].at("pass"), 1.0L);
    EXPECT_TRUE(SameBits(rows[k].at("P"), rows[k].at("H"))) << "family C sweeps H = P";
    EXPECT_EQ(rows[k].at("messages"), 0.0L);
    for (const char *name : order) {
      ASSERT_NE(value, end) << "record " << k + 1;
      EXPECT_NEAR(double(rows[k].at(name)), std::strtod(value->str().c_str(), nullptr), 1e-8)
          << "row " << k + 1 << ", column " << name;
      ++value;
    }
  }
  EXPECT_EQ(value, end) << "more records than rows";
}

// The files a resume reads or writes, as they stand.
std::string Snapshot(const std::string &dir) {
  std::string all;
  for (const char *name : {"ZANFEL.RES", "ZANFEL.CSV", "ZANFEL.PNG"})
    if (std::filesystem::exists(dir + "/" + name))
      all += std::string(name) + ":" + ReadFile(dir + "/" + name) + "\n";
  return all;
}

// A resume refused: its status, its reason on standard error, no file changed.
void ExpectRefused(const std::string &dir, ProgramBody body, int status,
                   const std::string &because) {
  const std::string before = Snapshot(dir);
  const ChildResult r = RunInChild(dir, Stdin::EndOfFile, [&] { return RunScripted(body, 0); });
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_NE(r.err.find(because), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Snapshot(dir), before);
}

void CopyResults(const std::string &from, const std::string &to) {
  for (const char *name : {"ZANFEL.RES", "ZANFEL.CSV"})
    std::filesystem::copy_file(from + "/" + name, to + "/" + name);
}

// Equal bytes; a difference is shown where it starts, not as two whole files.
void ExpectSameBytes(const std::string &got, const std::string &want, const std::string &what) {
  const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  const std::size_t at = static_cast<std::size_t>(diff.first - got.begin());
  EXPECT_TRUE(got == want) << what << " differs from byte " << at << " (sizes " << got.size()
                           << ", " << want.size() << "): \"" << got.substr(at, 60)
                           << "\" against \"" << want.substr(at, 60) << '"';
}

// The resumed run's files are those of the run that never stopped: the
// results file, the rows, the graphics calls and the picture; the console
// bytes of the two parts together are the whole run's.
void ExpectSameAsUnstopped(const std::string &whole, const std::string &resumed,
                           const ChildResult &w, const ChildResult &stopped, const ChildResult &r) {
  for (const char *name : {"ZANFEL.RES", "plot.log", "ZANFEL.PNG"})
    ExpectSameBytes(ReadFile(resumed + "/" + name), ReadFile(whole + "/" + name), name);
  ExpectSameBytes(testing::CsvWithoutComments(ReadFile(resumed + "/ZANFEL.CSV")),
                  testing::CsvWithoutComments(ReadFile(whole + "/ZANFEL.CSV")), "ZANFEL.CSV");
  EXPECT_EQ(stopped.out + r.out, w.out);
  EXPECT_EQ(r.status, w.status);
}

// shoot_b1 stopped after 12 records and killed between the record and the
// row of the 12th (the results file one record ahead, the row half-written),
// then resumed to 30 records, against a run of 30 records.
// Every setting off its default, written as the settings line and read
// back: the run a resume makes of it is the run that wrote it, setting for
// setting (a setting the line dropped would come back as the table's).
TEST(SettingsLine, ReadsBackEverySettingAndRefusesALineNoRunWrote) {
  SettingOptions o;
  o.from = 1.25L;
  o.step = 0.003L;
  o.P1 = -2.0L;
  o.P2 = 9.5L;
  o.tolf = 1e-13L;
  o.tolx = 2e-13L;
  o.ntrial = 40;
  o.budgets = 3;
  o.relerr = 1e-10L;
  o.abserr = 1e-14L;
  o.strategy = Strategy::Arclength;
  o.minStep = 1e-6L;
  o.maxStep = 0.25L;
  const RunSettings<OnePassSettings<FamilyC>> run = Settle(kShootC1, o);
  SettingOptions back;
  ASSERT_EQ(ParseSettingsText(SettingsText(run), back), "");
  const RunSettings<OnePassSettings<FamilyC>> again = Settle(kShootC1, back);
  EXPECT_EQ(SettingsText(again), SettingsText(run));
  EXPECT_EQ(again.table.start.P, 1.25L);
  EXPECT_EQ(again.table.sweep.DP, 0.003L);
  EXPECT_EQ(again.table.sweep.P1, -2.0L);
  EXPECT_EQ(again.table.sweep.P2, 9.5L);
  EXPECT_EQ(again.solve.TOLF, 1e-13L);
  EXPECT_EQ(again.solve.TOLX, 2e-13L);
  EXPECT_EQ(again.solve.NTRIAL, 40);
  EXPECT_EQ(again.solve.budgets, 3);
  EXPECT_EQ(again.solve.RELERR, 1e-10L);
  EXPECT_EQ(again.solve.ABSERR, 1e-14L);
  EXPECT_EQ(again.continuation.strategy, Strategy::Arclength);
  EXPECT_EQ(again.continuation.minStep, 1e-6L);
  EXPECT_EQ(again.continuation.maxStep, 0.25L);

  const std::string line = SettingsText(run);
  const auto without = [&](const std::string &option) {
    const std::size_t at = line.find(option + " ");
    const std::size_t end = line.find(" --", at + 1);
    return line.substr(0, at) + (end == std::string::npos ? "" : line.substr(end + 1));
  };
  const struct {
    std::string text, error;
  } refused[] = {
      {without("--budgets"), "--budgets is missing"},
      {without("--ntrial"), "--ntrial is missing"},
      {line + " --tolf 1e-3", "--tolf is given twice"},
      {line.substr(0, line.find(" --tolx") + 12), "--ntrial is missing"}, // cut in a value
      {line.substr(0, line.find(" --tolx") + 4), "'--t' is not a setting"},
      {without("--continuation"), "go with --continuation arclength"},
  };
  for (const auto &r : refused) {
    SCOPED_TRACE(r.text);
    SettingOptions o2;
    EXPECT_NE(ParseSettingsText(r.text, o2).find(r.error), std::string::npos)
        << ParseSettingsText(r.text, o2);
  }
}

// Options given with --resume are checked against the recorded run's, each
// of them: the range by both its ends, the way of continuation, the step
// bounds against their defaults.
TEST(SettingsLine, ASettingGivenAgainMustBeTheRunsOwn) {
  const RunSettings<OnePassSettings<FamilyC>> run = Settle(kShootC1, {});
  const auto conflict = [&](const SettingOptions &given) {
    return SettingsConflict(run.table.start.P, run.table.sweep, run.continuation, given);
  };
  SettingOptions same;
  same.P1 = run.table.sweep.P1;
  same.P2 = run.table.sweep.P2;
  same.strategy = Strategy::Natural;
  same.relerr = run.solve.RELERR;
  EXPECT_EQ(conflict(same), "");
  SettingOptions otherEnd = same;
  otherEnd.P2 = 14.0L;
  EXPECT_NE(conflict(otherEnd).find("--range -10:14 is not this run's -10:15"), std::string::npos)
      << conflict(otherEnd);
  SettingOptions arc;
  arc.strategy = Strategy::Arclength;
  EXPECT_NE(conflict(arc).find("--continuation arclength is not this run's natural"),
            std::string::npos);
  SettingOptions bound;
  bound.maxStep = 0.1L;
  EXPECT_NE(conflict(bound).find("--max-step 0.1 is not this run's default 10|DP|"),
            std::string::npos);
  SettingOptions solver; // the solver's settings may change on a resume
  solver.abserr = 1e-12L;
  solver.budgets = 16;
  solver.tolf = 1e-13L;
  EXPECT_EQ(conflict(solver), "");
  SolveSettings solve = run.solve;
  EXPECT_EQ(ChangeSolverSettings(solve, solver),
            "--tolf 1e-13 (was 1e-15), --budgets 16 (was 1), --abserr 1e-12 (was 1e-15)");
  EXPECT_EQ(solve.budgets, 16);
  EXPECT_EQ(solve.ABSERR, 1e-12L);
  EXPECT_EQ(ChangeSolverSettings(solve, solver), ""); // now the ones in force
}

// A run whose step cannot move P would write the same P forever, or end
// along the curve in a trap: refused before it starts.
TEST(SettingsLine, AStepThatCannotMovePIsRefused) {
  const auto error = [](std::initializer_list<std::pair<const char *, const char *>> given) {
    SettingOptions o;
    std::string e;
    for (const auto &[name, value] : given) {
      EXPECT_TRUE(ParseSettingOption(name, value, o, e));
      EXPECT_EQ(e, "") << name;
    }
    return SettingsError(kShootC1, o);
  };
  EXPECT_EQ(error({}), "");
  EXPECT_EQ(error({{"--from", "1"}, {"--step", "1e-19"}}), "");
  EXPECT_NE(error({{"--from", "1"}, {"--step", "1e-25"}}).find("the step 1e-25 cannot move P"),
            std::string::npos);
  EXPECT_NE(error({{"--from", "0"}, {"--step", "1e-4950"}}).find("cannot move P"),
            std::string::npos); // subnormal
  EXPECT_NE(error({{"--continuation", "arclength"}, {"--max-step", "1e-4950"}})
                .find("the largest step along the curve"),
            std::string::npos);
  EXPECT_NE(error({{"--continuation", "arclength"}, {"--min-step", "1e-30"}})
                .find("the smallest step along the curve"),
            std::string::npos);
}

TEST(Resume, ShootB1StoppedAndResumedEqualsAnUnstoppedRun) {
  const TempDir wholeTmp, dirTmp, otherTmp;
  const std::string whole = wholeTmp.Path(), dir = dirTmp.Path(), other = otherTmp.Path();
  const ChildResult w = testing::RunRecordedBody(whole, RunShootB1, 30);
  const ChildResult stopped = testing::RunRecordedBody(dir, RunShootB1, 12);
  const std::string csv = ReadFile(dir + "/ZANFEL.CSV");
  ASSERT_EQ(ExpectPlainCsv(csv, 28), 12);
  EXPECT_EQ(ExpectPlainCsv(ReadFile(whole + "/ZANFEL.CSV"), 28), 30);
  ExpectSweepLineNamesTheStep(csv);

  // A sweep whose last row leaves the range has ended: P = 700 steps to
  // 700.01. The row and its record are written as the program would.
  CopyResults(dir, other);
  const std::size_t lastRow = csv.rfind('\n', csv.size() - 2) + 1;
  CsvRow<9, 19> row;
  ASSERT_TRUE(
      ParseCsvRow(std::string_view(csv).substr(lastRow, csv.size() - lastRow - 1), kRecordB, row));
  TextBuffer record, ended;
  WriteRecord(record, kRecordB, row.H, row.P, row.X, row.YOUT);
  row.P = 700.0L;
  WriteRecord(ended, kRecordB, row.H, row.P, row.X, row.YOUT);
  const std::string res = ReadFile(dir + "/ZANFEL.RES");
  WriteFile(other + "/ZANFEL.CSV", csv.substr(0, lastRow) + FormatCsvRow(row, kRecordB));
  WriteFile(other + "/ZANFEL.RES", res.substr(0, res.size() - record.text.size()) + ended.text);
  // (P = 700 cannot follow the row before: a crash never leaves it.)
  ExpectRefused(other, ResumeShootB1, kResumeBadData,
                "row 12: P = 7.00000000000000000000e+02, but the row before leads to P = ");
  // Files that differ in a record both hold are not one run's.
  std::string changed = res;
  changed[changed.find("h:=", 100) + 8] ^= 1;
  WriteFile(other + "/ZANFEL.RES", changed);
  ExpectRefused(other, ResumeShootB1, kResumeBadData, "differ at record 2");

  WriteFile(dir + "/ZANFEL.CSV", csv.substr(0, lastRow) + csv.substr(lastRow, 40));
  const ChildResult r = testing::RunRecordedBody(dir, ResumeShootB1, 19);
  ExpectSameAsUnstopped(whole, dir, w, stopped, r);
}

// shoot_c2 ends by itself at the iteration limit: stopped after 10 records
// and resumed, it ends there as the whole run does.
TEST(Resume, ShootC2ResumedEndsWhereTheWholeRunEnds) {
  const TempDir wholeTmp, dirTmp, otherTmp;
  const std::string whole = wholeTmp.Path(), dir = dirTmp.Path(), other = otherTmp.Path();
  const ChildResult w = testing::RunRecordedBody(whole, RunShootC2, 0);
  const std::string csv = ReadFile(whole + "/ZANFEL.CSV");
  // The records of the whole run (22 in the reference run), six lines each.
  const std::string reference = testing::PlainShootC2("ZANFEL.RES");
  EXPECT_EQ(ExpectPlainCsv(csv, 18), std::count(reference.begin(), reference.end(), '\n') / 6);
  EXPECT_NE(csv.find("# program: shoot_c2\n# version: " + std::string(ProgramVersion()) + "\n"),
            std::string::npos);

  const ChildResult stopped = testing::RunRecordedBody(dir, RunShootC2, 10);
  EXPECT_EQ(ExpectPlainCsv(ReadFile(dir + "/ZANFEL.CSV"), 18), 10);
  const ChildResult r = testing::RunRecordedBody(dir, ResumeShootC2, 0);
  ExpectSameAsUnstopped(whole, dir, w, stopped, r);

  // Another program's files, and none at all.
  CopyResults(whole, other);
  ExpectRefused(other, ResumeShootB1, kResumeBadData, "written by shoot_c2");
  std::filesystem::remove(other + "/ZANFEL.CSV");
  ExpectRefused(other, ResumeShootC2, kResumeNoInput, "ZANFEL.CSV: No such file");
}

// shoot_b1 at twice its step (a setting echoed in the head), stopped by
// --records, resumed with more.
SettingOptions DoubleStep(long records) {
  SettingOptions o;
  o.step = -0.02L;
  o.records = records;
  return o;
}
template <long N> RunOutcome DoubleStepRun(SweepObserver &o) {
  return RunShootB1(o, DoubleStep(N));
}
template <long N> RunOutcome DoubleStepResumed(SweepObserver &o) {
  return ResumeShootB1(o, DoubleStep(N));
}
template <long N = 9> RunOutcome ResumedWithRecordsOnly(SweepObserver &o) {
  SettingOptions given;
  given.records = N;
  return ResumeShootB1(o, given);
}
RunOutcome ResumedWithAnotherStep(SweepObserver &o) {
  SettingOptions given = DoubleStep(9);
  given.step = -0.01L;
  return ResumeShootB1(o, given);
}
// Resumes with the solver's settings given: other budgets and residual
// test, the same budgets again, the budgets back.
template <long N, long Budgets> RunOutcome ResumedWithBudgets(SweepObserver &o) {
  SettingOptions given;
  given.budgets = Budgets;
  if (N == 6)
    given.tolf = 1e-14L;
  given.records = N;
  return ResumeShootB1(o, given);
}

// A resume that changes the solver's settings goes on from the last record
// with them: the CSV keeps its rows and says before the next one which
// settings hold from there; a later resume goes on with those (the same
// given again are no change, others one more line). A settings line cut off
// by the end of a run is dropped; one that names another row is refused.
TEST(Resume, OtherSolverSettingsHoldFromTheRowTheCsvNames) {
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  ASSERT_EQ(testing::RunRecordedBody(dir, DoubleStepRun<4>, 0).status, 0);
  const std::string before = ReadFile(dir + "/ZANFEL.CSV");
  const auto lines = [&](const std::string &csv) {
    std::vector<std::string> found;
    for (std::size_t at = 0; (at = csv.find("\n# settings from row ", at)) != std::string::npos;
         ++at)
      found.push_back(csv.substr(at + 1, csv.find('\n', at + 1) - at - 1));
    return found;
  };
  const ChildResult r = testing::RunRecordedBody(dir, ResumedWithBudgets<6, 4>, 0);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string csv = ReadFile(dir + "/ZANFEL.CSV");
  EXPECT_EQ(csv.substr(0, before.size()), before);
  EXPECT_EQ(ExpectPlainCsv(csv, 28), 6);
  ASSERT_EQ(lines(csv).size(), 1u) << csv;
  const std::string first = lines(csv)[0];
  EXPECT_TRUE(first.starts_with("# settings from row 5: --from ")) << first;
  SettingOptions o;
  EXPECT_EQ(ParseSettingsText(first.substr(first.find(": ") + 2), o), "");
  EXPECT_EQ(o.budgets, 4);
  EXPECT_EQ(o.tolf, 1e-14L);
  EXPECT_EQ(o.step, -0.02L);

  EXPECT_EQ(testing::RunRecordedBody(dir, ResumedWithBudgets<8, 4>, 0).status, 0);
  EXPECT_EQ(lines(ReadFile(dir + "/ZANFEL.CSV")).size(), 1u); // 4 is the budgets in force
  EXPECT_EQ(testing::RunRecordedBody(dir, ResumedWithBudgets<9, 1>, 0).status, 0);
  csv = ReadFile(dir + "/ZANFEL.CSV");
  ASSERT_EQ(lines(csv).size(), 2u);
  EXPECT_TRUE(lines(csv)[1].starts_with("# settings from row 9: ")) << lines(csv)[1];
  EXPECT_NE(lines(csv)[1].find(" --budgets 1 "), std::string::npos);
  EXPECT_EQ(ExpectPlainCsv(csv, 28), 9);

  WriteFile(dir + "/ZANFEL.CSV", ReadFile(dir + "/ZANFEL.CSV") + "# settings from ro");
  EXPECT_EQ(testing::RunRecordedBody(dir, ResumedWithRecordsOnly<10>, 0).status, 0);
  csv = ReadFile(dir + "/ZANFEL.CSV");
  EXPECT_EQ(csv.find("# settings from ro\n"), std::string::npos);
  EXPECT_EQ(ExpectPlainCsv(csv, 28), 10);

  const std::size_t at = csv.find("# settings from row 9: ");
  WriteFile(dir + "/ZANFEL.CSV", csv.substr(0, at) + "# settings from row 3" + csv.substr(at + 20));
  ExpectRefused(dir, ResumedWithRecordsOnly<11>, kResumeBadData,
                "ZANFEL.CSV: before row 9: the settings line names row 3");
}

// --records N ends the sweep after exactly N records, as a key would; the
// settings go with the CSV, and a resume with --records M gives the bytes of
// a run with --records M. Settings given again must be the run's own.
TEST(Resume, RecordsStopASweepThatGoesOnWithMoreRecords) {
  const TempDir wholeTmp, dirTmp, otherTmp;
  const std::string whole = wholeTmp.Path(), dir = dirTmp.Path(), other = otherTmp.Path();
  const ChildResult w = testing::RunRecordedBody(whole, DoubleStepRun<9>, 0);
  EXPECT_EQ(w.status, 0);
  const std::string csv = ReadFile(whole + "/ZANFEL.CSV");
  EXPECT_EQ(ExpectPlainCsv(csv, 28), 9);
  EXPECT_NE(csv.find("\n# settings: --from 1.18931629999999999999e-01 --step "
                     "-1.99999999999999999996e-02 --range "),
            std::string::npos)
      << csv.substr(0, 800);
  ExpectSweepLineNamesTheStep(csv);

  const ChildResult stopped = testing::RunRecordedBody(dir, DoubleStepRun<4>, 0);
  EXPECT_EQ(stopped.status, 0);
  EXPECT_EQ(ExpectPlainCsv(ReadFile(dir + "/ZANFEL.CSV"), 28), 4);

  CopyResults(dir, other);
  ExpectRefused(other, ResumedWithAnotherStep, kResumeBadData,
                "--step -0.01 is not this run's -0.02");

  // On to 6 with the settings given again, then to 9 with none but --records.
  const ChildResult part = testing::RunRecordedBody(dir, DoubleStepResumed<6>, 0);
  EXPECT_EQ(ExpectPlainCsv(ReadFile(dir + "/ZANFEL.CSV"), 28), 6);
  const ChildResult r = testing::RunRecordedBody(dir, ResumedWithRecordsOnly<>, 0);
  ChildResult parts = stopped;
  parts.out += part.out;
  ExpectSameAsUnstopped(whole, dir, w, parts, r);
}

// The step after a record: P moves by DP in the family's direction, DP
// shrinks after a solve that used all NTRIAL iterations, and P outside
// [P1, P2] ends the sweep (the bounds themselves are inside).
TEST(Sweep, StepOnMovesPAndShrinksTheStepAfterTheIterationLimit) {
  constexpr RecordLayout layout = kRecordC;
  const struct {
    INT16 ITER;
    bool addStep;
    REAL P, DP, P1, P2;
    REAL nextP, nextDP;
    bool left;
  } rows[] = {
      {6, true, 1.0L, 0.01L, -10.0L, 15.0L, 1.0L + 0.01L, 0.01L, false},
      {99, true, 1.0L, 0.01L, -10.0L, 15.0L, 1.0L + 0.01L, 0.01L, false},
      {100, true, 1.0L, 0.01L, -10.0L, 15.0L, 1.0L + 0.01L, 0.9L * 0.01L, false},
      {101, true, 1.0L, 0.01L, -10.0L, 15.0L, 1.0L + 0.01L, 0.9L * 0.01L, false},
      {100, false, 1.0L, -0.01L, -100.0L, 700.0L, 1.0L + 0.01L, 0.9L * -0.01L, false},
      {3, false, 1.0L, -0.01L, -100.0L, 700.0L, 1.0L + 0.01L, -0.01L, false},
      {3, true, 1.0L, 0.5L, -10.0L, 1.5L, 1.5L, 0.5L, false},
      {3, true, 1.0L, 0.75L, -10.0L, 1.5L, 1.75L, 0.75L, true},
      {3, false, 1.0L, 0.5L, 0.5L, 15.0L, 0.5L, 0.5L, false},
      {3, false, 1.0L, 0.75L, 0.5L, 15.0L, 0.25L, 0.75L, true},
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(::testing::Message() << "ITER " << r.ITER << (r.addStep ? " P + DP" : " P - DP")
                                      << " from " << double(r.P) << " by " << double(r.DP));
    const SweepRules<FamilyC> rules{
        layout,  5,         "y2(1)", [](const Program<FamilyC> &s) { return s.g.P * 2; },
        nullptr, r.addStep, "y30_1"};
    testing::QuietObserver quiet;
    Program<FamilyC> s(quiet);
    s.g.ITER = r.ITER;
    s.g.P = r.P;
    s.DP = r.DP;
    s.P1 = r.P1;
    s.P2 = r.P2;
    EXPECT_EQ(StepOn(s, rules), r.left);
    EXPECT_TRUE(SameBits(s.g.H, 2 * r.P)) << "H from the record's P";
    EXPECT_TRUE(SameBits(s.g.P, r.nextP)) << double(s.g.P);
    EXPECT_TRUE(SameBits(s.DP, r.nextDP)) << double(s.DP);
  }
}

// Damaged pairs of files from a stopped shoot_c2 sweep of three records. A
// pair the run itself may leave (cut off inside a record or a row, one file a
// record ahead) is cut back to the records both hold and goes on to the same
// three records; any other is refused before a byte changes.
TEST(Resume, DamagedFilesAreCutBackOrRefused) {
  const TempDir baseTmp;
  const std::string base = baseTmp.Path();
  testing::RunRecordedBody(base, RunShootC2, 3);
  const std::string csv = ReadFile(base + "/ZANFEL.CSV"), res = ReadFile(base + "/ZANFEL.RES");
  ASSERT_EQ(ExpectPlainCsv(csv, 18), 3);
  ExpectSweepLineNamesTheStep(csv);
  ExpectColumnsOfTheRecordsC(csv, res);

  const std::size_t row3 = csv.rfind('\n', csv.size() - 2) + 1;
  const std::size_t row2 = csv.rfind('\n', row3 - 2) + 1;
  const std::size_t record3 = res.rfind("h:=");
  const std::size_t record2 = res.rfind("h:=", record3 - 1);
  const std::string version = "# version: " + std::string(ProgramVersion()) + "\n";
  using Damage = std::function<void(std::string & csv, std::string & res)>;
  auto replace = [](std::string &s, const std::string &from, const std::string &to) {
    const std::size_t at = s.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    s.replace(at, from.size(), to);
  };
  // A row's field: the `field`-th (from 0) of the row starting at `row`.
  auto setField = [](std::string &c, std::size_t row, int field, const std::string &to) {
    std::size_t at = row;
    for (int i = 0; i < field; ++i)
      at = c.find(',', at) + 1;
    c.replace(at, c.find(',', at) - at, to);
  };
  const std::string kMissing = "\x01missing", kDirectory = "\x01directory";
  const struct {
    const char *what;
    Damage damage;
    int status; // 0: cut back and resumed
    std::string because;
  } cases[] = {
      {"results file cut inside its last record", [&](auto &, auto &r) { r.resize(r.size() - 30); },
       0, ""},
      {"results file cut just inside its last record",
       [&](auto &, auto &r) { r.resize(record3 + 3); }, 0, ""},
      {"results file a record behind", [&](auto &, auto &r) { r.resize(record3); }, 0, ""},
      {"rows a record behind", [&](auto &c, auto &) { c.resize(row3); }, 0, ""},
      {"rows cut inside the last row", [&](auto &c, auto &) { c.resize(row3 + 50); }, 0, ""},
      {"rows cut just before the last line end", [&](auto &c, auto &) { c.resize(c.size() - 1); },
       0, ""},
      {"a row of another pass", [&](auto &c, auto &) { setField(c, row2, 1, "2"); }, kResumeBadData,
       "row 2 is not a row of this sweep"},
      {"a row numbered out of turn", [&](auto &c, auto &) { setField(c, row2, 0, "3"); },
       kResumeBadData, "row 2 is not a row of this sweep"},
      {"records that differ", [&](auto &, auto &r) { r[record2 + 5] ^= 1; }, kResumeBadData,
       "differ at record 2"},
      {"rows of another version",
       [&](auto &c, auto &) { replace(c, version, "# version: 0." + version.substr(11)); },
       kResumeBadData, "was written by version 0."},
      {"rows of another program",
       [&](auto &c, auto &) { replace(c, "# program: shoot_c2\n", "# program: shoot_c1\n"); },
       kResumeBadData, "written by shoot_c1"},
      {"columns in another order",
       [&](auto &c, auto &) { replace(c, ",y2_1,y8_1,", ",y8_1,y2_1,"); }, kResumeBadData,
       "the header row is not the one this program writes"},
      {"no rows", [&](auto &c, auto &) { c.resize(c.find("\n1,") + 1); }, kResumeBadData,
       "holds no whole record"},
      {"no results file", [&](auto &, auto &r) { r = kMissing; }, kResumeNoInput,
       "ZANFEL.RES: No such file or directory"},
      {"a results file that cannot be read", [&](auto &, auto &r) { r = kDirectory; },
       kResumeNoInput, "ZANFEL.RES: Is a directory"},
      {"no rows file", [&](auto &c, auto &) { c = kMissing; }, kResumeNoInput,
       "ZANFEL.CSV: No such file or directory"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const TempDir dirTmp;
    const std::string dir = dirTmp.Path();
    std::string damagedCsv = csv, damagedRes = res;
    c.damage(damagedCsv, damagedRes);
    for (const auto &[name, bytes] :
         {std::pair{"/ZANFEL.CSV", damagedCsv}, {"/ZANFEL.RES", damagedRes}}) {
      if (bytes == kDirectory)
        std::filesystem::create_directory(dir + name);
      else if (bytes != kMissing)
        WriteFile(dir + name, bytes);
    }
    if (c.status != 0) {
      ExpectRefused(dir, ResumeShootC2, c.status, c.because);
      continue;
    }
    const ChildResult r = testing::RunRecordedBody(dir, ResumeShootC2, 1);
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectSameBytes(ReadFile(dir + "/ZANFEL.RES"), res, "ZANFEL.RES");
    ExpectSameBytes(ReadFile(dir + "/ZANFEL.CSV"), csv, "ZANFEL.CSV");
  }
}

// The last row of `csv` with field `field` replaced.
std::string WithLastRowField(const std::string &csv, std::size_t field, const std::string &value) {
  const std::size_t start = csv.rfind('\n', csv.size() - 2) + 1;
  std::string row = csv.substr(start, csv.size() - 1 - start);
  std::size_t at = 0;
  for (std::size_t i = 0; i < field; ++i)
    at = row.find(',', at) + 1;
  row.replace(at,
              row.find(',', at) == std::string::npos ? std::string::npos : row.find(',', at) - at,
              value);
  return csv.substr(0, start) + row + '\n';
}

// The first `n` records of a results file, or rows (with the head) of a CSV.
std::string FirstRecords(const std::string &res, int n) {
  std::size_t at = 0;
  for (int i = 0; i < n; ++i)
    at = res.find("\r\n\r\n", at) + 4;
  return res.substr(0, at);
}
std::string FirstRows(const std::string &csv, int n) {
  std::size_t at = csv.find("\nrecord,") + 1;
  for (int i = 0; i <= n; ++i)
    at = csv.find('\n', at) + 1;
  return csv.substr(0, at);
}

// What a crash cannot leave behind, each refused with one line naming the
// row (or record) and the value, and neither file changed. shoot_c2 stopped
// after 10 records is the state each starts from.
TEST(Resume, StatesNoCrashLeavesAreRefusedAndChangeNothing) {
  const TempDir baseTmp, dirTmp;
  const std::string base = baseTmp.Path(), dir = dirTmp.Path();
  testing::RunRecordedBody(base, RunShootC2, 10);
  const std::string csv = ReadFile(base + "/ZANFEL.CSV"), res = ReadFile(base + "/ZANFEL.RES");
  ASSERT_EQ(ExpectPlainCsv(csv, 18), 10);
  // Columns: record,pass,P,H,ITER,X1..X4,r1..r4,y2_1,y8_1,y30_1,messages,DP.
  constexpr std::size_t kP = 2, kIter = 4, kX1 = 5, kDP = 17;
  const std::string step = FullReal(0.01L);
  const struct {
    const char *what;
    std::string csv, res;
    const char *because;
  } kStates[] = {
      {"X1 beyond every real", WithLastRowField(csv, kX1, "1e99999"), res,
       "ZANFEL.CSV: row 10: X1 = inf is not a finite number"},
      {"DP not a number", WithLastRowField(csv, kDP, "nan"), res,
       "ZANFEL.CSV: row 10: DP = nan is not a finite number"},
      {"DP zero", WithLastRowField(csv, kDP, "0"), res,
       "ZANFEL.CSV: row 10: DP = 0.00000000000000000000e+00, but the step of this sweep is "},
      {"DP of the other sign", WithLastRowField(csv, kDP, "-" + step), res,
       "ZANFEL.CSV: row 10: DP = -9.99999999999999999980e-03, but the step"},
      {"DP plausible but not this sweep's", WithLastRowField(csv, kDP, FullReal(0.9L * 0.01L)), res,
       "ZANFEL.CSV: row 10: DP = 8.99999999999999999931e-03, but the row before leads to DP = "
       "9.99999999999999999980e-03"},
      {"P one step too far", WithLastRowField(csv, kP, "1.14437262000000000000e+00"), res,
       "ZANFEL.CSV: row 10: P = 1.14437262000000000001e+00, but the row before leads to P = "
       "1.13437261999999999991e+00"},
      {"ITER beyond the Newton limit", WithLastRowField(csv, kIter, "32767"), res,
       "ZANFEL.CSV: row 10: ITER = 32767 is outside 0 to 100"},
      {"binary garbage as a row", csv + std::string("\x01\xff\x00garbage\n", 11), res,
       "ZANFEL.CSV: row 11 is not a row of this sweep: \\x01\\xff\\x00garbage"},
      {"binary garbage after the last row", csv + std::string("\x01\xff", 2), res,
       "ZANFEL.CSV: after row 10: \\x01\\xff is not the start of a row"},
      {"a 100 MB line", csv + std::string(100 << 20, '7'), res,
       "ZANFEL.CSV: after row 10: 7777777777777777777777777777777777777777... (104857600 bytes)"},
      {"text after the last record", csv, res + "hello\r\n",
       "ZANFEL.RES: after record 10: hello\\x0d\\x0a is not the start of a record"},
      {"results file 3 records ahead", FirstRows(csv, 7), res,
       "ZANFEL.RES: after record 7: h:=1.11437262"},
      {"CSV 3 rows ahead", csv, FirstRecords(res, 7), "ZANFEL.CSV: after row 8: 9,1,"},
  };
  for (const auto &state : kStates) {
    SCOPED_TRACE(state.what);
    WriteFile(dir + "/ZANFEL.CSV", state.csv);
    WriteFile(dir + "/ZANFEL.RES", state.res);
    ExpectRefused(dir, ResumeShootC2, kResumeBadData, state.because);
    const ChildResult r =
        RunInChild(dir, Stdin::EndOfFile, [] { return RunScripted(ResumeShootC2, 0); });
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // A run that has only just begun holds the lock and has written the head
  // alone: the lock is what a resume must find, before it reads anything.
  WriteFile(dir + "/ZANFEL.CSV", FirstRows(csv, 0));
  WriteFile(dir + "/ZANFEL.RES", "");
  const int held = open((dir + "/ZANFEL.RES").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const ChildResult r =
      RunInChild(dir, Stdin::EndOfFile, [] { return RunScripted(ResumeShootC2, 0); });
  close(held);
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.out, "Runtime error 5: ZANFEL.RES: in use by another run\n");
  EXPECT_EQ(ReadFile(dir + "/ZANFEL.CSV"), FirstRows(csv, 0));
}

// Every entry of a folder with its kind, and the bytes of the regular files
// and the targets of the links: read without opening anything else.
std::string Listing(const std::string &dir) {
  std::vector<std::string> entries;
  for (const auto &e : std::filesystem::directory_iterator(dir)) {
    const auto status = e.symlink_status();
    std::string entry = e.path().filename().string() + ":";
    if (std::filesystem::is_symlink(status))
      entry += "link to " + std::filesystem::read_symlink(e.path()).string();
    else if (std::filesystem::is_regular_file(status))
      entry += ReadFile(e.path().string());
    else
      entry += "kind " + std::to_string(static_cast<int>(status.type()));
    entries.push_back(entry);
  }
  std::sort(entries.begin(), entries.end());
  std::string all;
  for (const std::string &entry : entries)
    all += entry + "\n";
  return all;
}

// Files that are not regular files where the programs' files belong: each
// refused before anything changes (no target written or created, no other
// file emptied), in a run and in a resume alike; none blocks.
TEST(Resume, FilesOfOtherKindsAreRefusedBeforeAnythingChanges) {
  const TempDir baseTmp;
  const std::string base = baseTmp.Path();
  testing::RunRecordedBody(base, RunShootC2, 3);
  enum class Kind { Symlink, DanglingSymlink, Fifo, DevZero, Directory };
  const struct {
    const char *what;
    Kind kind;
  } kKinds[] = {{"symlink", Kind::Symlink},
                {"dangling symlink", Kind::DanglingSymlink},
                {"FIFO", Kind::Fifo},
                {"/dev/zero", Kind::DevZero},
                {"directory", Kind::Directory}};
  for (const auto &k : kKinds)
    for (const char *name : {"ZANFEL.RES", "ZANFEL.CSV"})
      for (const bool resume : {false, true}) {
        SCOPED_TRACE(std::string(k.what) + " as " + name + (resume ? ", resumed" : ", run"));
        const TempDir dirTmp;
        const std::string dir = dirTmp.Path(), path = dir + "/" + name;
        CopyResults(base, dir);
        WriteFile(dir + "/target", "another user's file");
        std::filesystem::remove(path);
        switch (k.kind) {
        case Kind::Symlink:
          std::filesystem::create_symlink("target", path);
          break;
        case Kind::DanglingSymlink:
          std::filesystem::create_symlink("nowhere", path);
          break;
        case Kind::Fifo:
          ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
          break;
        case Kind::DevZero:
          std::filesystem::create_symlink("/dev/zero", path);
          break;
        case Kind::Directory:
          std::filesystem::create_directory(path);
          break;
        }
        const std::string before = Listing(dir);
        testing::ChildSetup setup;
        setup.dir = dir;
        setup.timeoutSeconds = 60; // a FIFO opened the blocking way never returns
        const ChildResult r = testing::RunChild(setup, [resume] {
          return resume ? RunScripted(ResumeShootC2, 0) : RunScripted(RunShootC2, 0);
        });
        if (k.kind == Kind::Directory) {
          EXPECT_EQ(r.status, resume ? kResumeNoInput : 5);
          EXPECT_NE((r.out + r.err).find(std::string(name) + ": Is a directory"), std::string::npos)
              << r.out << r.err;
        } else {
          EXPECT_EQ(r.status, 5);
          EXPECT_EQ(r.out, "Runtime error 5: " + std::string(name) + ": not a regular file\n");
        }
        EXPECT_EQ(Listing(dir), before); // the target and "nowhere" among them
      }
}

// A file this process may read but not write while the object lives:
// read-only, or for root (whom permissions do not bind) immutable. False
// when the file system keeps no such flag.
class ReadOnly {
public:
  explicit ReadOnly(const std::string &path) : path_(path) {
    if (geteuid() != 0) {
      held_ = chmod(path.c_str(), 0444) == 0;
      return;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    held_ = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
            (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    close(fd);
  }
  ReadOnly(const ReadOnly &) = delete;
  ReadOnly &operator=(const ReadOnly &) = delete;
  ~ReadOnly() {
    if (geteuid() != 0) {
      chmod(path_.c_str(), 0644);
      return;
    }
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    close(fd);
  }
  bool Held() const { return held_; }

private:
  std::string path_;
  bool held_ = false;
};

// A resume that may read a file but not write it ends with the I/O error a
// run gets for a file it cannot open for writing (5), before anything
// changes; 66 stays for a file that is missing or cannot be read.
TEST(Resume, AFileThatCannotBeWrittenIsAnIoError) {
  const TempDir baseTmp;
  const std::string base = baseTmp.Path();
  testing::RunRecordedBody(base, RunShootC2, 3);
  for (const char *name : {"ZANFEL.RES", "ZANFEL.CSV"}) {
    SCOPED_TRACE(name);
    const TempDir dirTmp;
    const std::string dir = dirTmp.Path();
    CopyResults(base, dir);
    const std::string before = Snapshot(dir);
    const ReadOnly readOnly(dir + "/" + name);
    if (!readOnly.Held())
      GTEST_SKIP() << "no read-only file here";
    const ChildResult r =
        RunInChild(dir, Stdin::EndOfFile, [] { return RunScripted(ResumeShootC2, 0); });
    EXPECT_EQ(r.status, 5) << r.err;
    const std::string reason = geteuid() == 0 ? "Operation not permitted" : "Permission denied";
    EXPECT_EQ(r.out, "Runtime error 5: " + std::string(name) + ": " + reason + "\n");
    EXPECT_EQ(Snapshot(dir), before);
  }
}

// A hang-up while the resume reads its files: the summary on the terminal
// counts the whole records the results file holds, not "no records".
TEST(Resume, AHangUpAtTheFirstReadCountsTheRecordsThere) {
  const TempDir dirTmp;
  const std::string dir = dirTmp.Path();
  testing::RunRecordedBody(dir, RunShootC2, 3);
  const std::string res = ReadFile(dir + "/ZANFEL.RES");
  // Nine whole records and one cut short (no resume would take them: the
  // hang-up comes first).
  WriteFile(dir + "/ZANFEL.RES", res + res + res + res.substr(0, res.size() / 4));
  testing::ChildSetup setup;
  setup.dir = dir;
  setup.err = testing::Sink::Terminal;
  setup.display = "";
  const ChildResult r = testing::RunChild(setup, [] {
    setenv("TERM", "xterm", 1);
    const char *argv[] = {"shoot_c2", "--resume", nullptr};
    hangUpAtRead = true;
    return RunProgram({InfoShootC2(), RunShootC2, ResumeShootC2, SettingsErrorC2}, 2, argv);
  });
  EXPECT_EQ(r.status, 128 + SIGHUP);
  EXPECT_EQ(r.signal, SIGHUP);
  const std::string path = std::filesystem::canonical(dir).string() + "/ZANFEL.RES";
  EXPECT_NE(r.terminal.find("shoot_c2: hang-up (SIGHUP); 9 records in " + path + "; no picture"),
            std::string::npos)
      << r.terminal;
}

// A sweep that ended early (shoot_c2 at the iteration limit) ends there again
// when resumed: the closing note of the end is written over, and both files
// come out as they were.
TEST(Resume, ASweepThatEndedEarlyEndsThereAgain) {
  const TempDir tmp;
  const std::string dir = tmp.Path();
  const std::string path = ProgramPath("shoot_c2");
  const auto run = [&](std::vector<const char *> args) {
    return RunInChild(dir, Stdin::EndOfFile, [&] {
      args.insert(args.begin(), {path.c_str(), "--threads", "1"});
      args.push_back(nullptr);
      execv(path.c_str(), const_cast<char *const *>(args.data()));
      return 127;
    });
  };
  ASSERT_EQ(run({}).status, kIterationLimitStatus);
  const std::string csv = ReadFile(dir + "/ZANFEL.CSV"), res = ReadFile(dir + "/ZANFEL.RES");
  ASSERT_NE(csv.find("\n# ended early: iteration limit at P = "), std::string::npos);
  const ChildResult resumed = run({"--resume"});
  EXPECT_EQ(resumed.status, kIterationLimitStatus) << resumed.err;
  ExpectSameBytes(ReadFile(dir + "/ZANFEL.CSV"), csv, "ZANFEL.CSV");
  ExpectSameBytes(ReadFile(dir + "/ZANFEL.RES"), res, "ZANFEL.RES");
}

TEST(Resume, ProgramsTakeTheOptionFamilyARefusesIt) {
  const TempDir tmp;
  const std::string dir = tmp.Path();
  for (const char *program : {"shoot_a1", "shoot_b2"}) {
    const std::string path = ProgramPath(program);
    const ChildResult r = RunInChild(dir, Stdin::EndOfFile, [&] {
      execl(path.c_str(), path.c_str(), "--resume", static_cast<char *>(nullptr));
      return 127;
    });
    EXPECT_EQ(r.status, program[6] == 'a' ? kResumeUnsupported : kResumeNoInput) << r.err;
    EXPECT_EQ(r.err.rfind(std::string(program) + ": cannot resume: ", 0), 0u) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir));
  }
}

} // namespace
} // namespace zanfel
