// The named parameters of a model (--param NAME=VALUE): read, kept in the
// settings line, taken back by --resume and --start-at, listed by --help,
// refused when the model lacks them; Bratu's length L against the closed
// form of its fold, and a run with a parameter at its default value the
// bytes of the plain run.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "continuation/families.hpp"
#include "continuation/model_params.hpp"
#include "continuation/settings.hpp"
#include "report/csv.hpp"
#include "runtime/end_cause.hpp"
#include "support/example_runs.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using namespace testing;

// lambda_c L^2 of Bratu's problem on [0, L].
constexpr REAL kBratuFoldTimesL2 = 3.51383071912516120621L;

std::string WithoutStartTime(std::string csv) {
  const std::size_t at = csv.find("# started:");
  if (at != std::string::npos)
    csv.erase(at, csv.find('\n', at) + 1 - at);
  return csv;
}

std::string SettingsLine(const std::string &csv) {
  const std::size_t at = csv.find("# settings: ");
  return at == std::string::npos ? "" : csv.substr(at, csv.find('\n', at) - at);
}

// Every file of a run's directory, the start time taken out of the CSV.
std::vector<std::pair<std::string, std::string>> Files(const TempDir &dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string &name : Entries(dir.Path())) {
    std::string bytes = ReadFile(dir.File(name));
    files.emplace_back(name, name == "ZANFEL.CSV" ? WithoutStartTime(bytes) : bytes);
  }
  return files;
}

TEST(Params, ReadAsNameAndFiniteDecimalNumber) {
  std::vector<ParamOption> p;
  EXPECT_EQ(ParseParamOption("PR=0.025", p), "");
  EXPECT_EQ(ParseParamOption("GAM1=-1e-1", p), "");
  EXPECT_EQ(ParseParamOption("PR=0.5", p), ""); // the last value of a name counts
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].name, "PR");
  EXPECT_EQ(p[0].value, 0.5L);
  EXPECT_EQ(p[1].value, -0.1L);
  for (const char *bad :
       {"PR", "PR=", "=1", "PR=nan", "PR=inf", "PR=1e5000", "PR=0x1p3", "P R=1", "1PR=2", "PR=1,2"})
    EXPECT_NE(ParseParamOption(bad, p), "") << bad;
}

// shoot_c1's table: a coefficient other than its own goes in the settings
// text and reads back; the table's own value changes nothing.
TEST(Params, SettingsTextKeepsOnlyTheValuesOtherThanTheTables) {
  SettingOptions o;
  ASSERT_EQ(ParseParamOption("PD=10", o.params), "");
  const RunSettings<OnePassSettings<FamilyC>> same = Settle(kShootC1, o);
  EXPECT_FALSE(DiffersFromTable(same, kShootC1));
  EXPECT_EQ(SettingsText(same), SettingsText(Settle(kShootC1, {})));

  ASSERT_EQ(ParseParamOption("PR=0.025", o.params), "");
  const RunSettings<OnePassSettings<FamilyC>> other = Settle(kShootC1, o);
  EXPECT_TRUE(DiffersFromTable(other, kShootC1));
  EXPECT_EQ(other.table.par.PR, 0.025L);
  EXPECT_EQ(other.table.par.PD, 10.0L);
  const std::string text = SettingsText(other);
  EXPECT_TRUE(text.ends_with(" --param PR=2.50000000000000000003e-02")) << text;
  SettingOptions back;
  ASSERT_EQ(ParseSettingsText(text, back), "");
  EXPECT_EQ(SettingsText(Settle(kShootC1, back)), text);
  EXPECT_NE(ParseSettingsText(text + " --param PR=1", back), "");
  SettingOptions unknown;
  ASSERT_EQ(ParseParamOption("L=2", unknown.params), "");
  EXPECT_NE(SettingsError(kShootC1, unknown), "");
}

TEST(Params, HelpListsTheCoefficientsWithTheirDefaults) {
  const std::string help = HelpText(InfoShootC1(), true);
  for (const char *line :
       {"  --param PR=X  the coefficient of the y5, y6 equation (default: 0.023)\n",
        "  --param PD=X  the coefficient of the y9, y10 equation (default: 10)\n",
        "  --param GAM1=X y9(0) = GAM1 (default: -0.1)\n"})
    EXPECT_NE(help.find(line), std::string::npos) << line << help;
  EXPECT_NE(HelpText(InfoShootA1(), false).find("--param ALF1=X y6(0) = H*ALF1 (default: 0.07)"),
            std::string::npos);
  const ChildResult bratu = RunExample(TempDir(), "bratu", {"--help"});
  EXPECT_NE(bratu.out.find("  --param L=X   the length L of the interval [0, L]"),
            std::string::npos)
      << bratu.out;
  EXPECT_NE(bratu.out.find("(default: 1)"), std::string::npos);
}

// A name the model does not have, a value that is no finite number or out
// of its bounds: one line, status 64, nothing written.
TEST(Params, BadParametersAreRefusedBeforeAnythingIsWritten) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> runs{
      {"shoot_c1", {"--param", "XX=1"}},
      {"shoot_c1", {"--param=PR=nan"}},
      {"shoot_c1", {"--param", "PR=1e99999"}},
      {"shoot_c1", {"--param", "PR"}},
      {"shoot_c1", {"--param"}},
      {"bratu", {"--param", "L=0"}},
      {"bratu", {"--param", "L=-1"}},
      {"bratu", {"--param", "K=1"}},
      {"troesch", {"--param", "L=1"}}};
  for (const auto &[program, args] : runs) {
    const TempDir dir;
    const ChildResult r = RunExample(dir, program, args);
    EXPECT_EQ(r.status, 64) << program << " " << args.back();
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("--param"), std::string::npos) << r.err;
    EXPECT_TRUE(Entries(dir.Path()).empty()) << program << " " << args.back();
  }
}

// L = 1 given is the problem on [0, 1]: every file of the run, natural and
// along the arclength, byte for byte that of the plain run.
TEST(Params, BratuWithLOneIsThePlainRunByteForByte) {
  for (const std::vector<std::string> &way :
       {std::vector<std::string>{}, std::vector<std::string>{"--continuation", "arclength"}}) {
    const TempDir plain, one;
    const ChildResult a = RunExample(plain, "bratu", way);
    std::vector<std::string> withL = way;
    withL.insert(withL.end(), {"--param", "L=1.0"});
    const ChildResult b = RunExample(one, "bratu", withL);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    EXPECT_EQ(Files(plain), Files(one));
    EXPECT_EQ(Entries(plain.Path()).size(), 4u); // RES, CSV, PNG, SVG
    EXPECT_EQ(SettingsLine(ReadFile(one.File("ZANFEL.CSV"))).find("--param"), std::string::npos);
  }
}

// On [0, L] the fold lies at lambda_c L^2 = 3.5138...: the built-in sweep,
// scaled by 1/L^2, reaches it at every L; the record found there holds it
// to the integrator's accuracy and s = 4/L. Then a run started at that fold
// takes the L of its file along.
TEST(Params, BratuFoldOnIntervalsOfOtherLengths) {
  for (const REAL L : {0.5L, 0.75L, 1.5L, 2.0L, 3.0L}) {
    const TempDir dir;
    const std::string value = ShortReal(L);
    const ChildResult r =
        RunExample(dir, "bratu", {"--param", "L=" + value, "--continuation", "arclength"});
    EXPECT_EQ(r.status, 0) << value << r.err;
    const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
    EXPECT_NE(SettingsLine(csv).find(" --param L=" + FullReal(L)), std::string::npos) << csv;
    int folds = 0;
    for (const Row &row : CsvRows(csv)) {
      EXPECT_LE(row.at("P") * L * L, kBratuFoldTimesL2 * (1 + 1e-8L)) << value;
      if (row.at("fold") != 1.0L)
        continue;
      ++folds;
      EXPECT_LT(RelativeError(row.at("P") * L * L, kBratuFoldTimesL2), 1e-8L)
          << value << ": " << FullReal(row.at("P"));
      EXPECT_LT(RelativeError(row.at("X1") * L, 4.0L), 1e-4L) << value;
    }
    EXPECT_EQ(folds, 1) << value;
    if (L != 2.0L)
      continue;
    const TempDir from;
    const ChildResult started = RunExample(from, "bratu",
                                           {"--start-at", dir.File("ZANFEL.CSV") + ":fold1",
                                            "--continuation", "arclength", "--records", "4"});
    EXPECT_EQ(started.status, 0) << started.err;
    const std::string after = ReadFile(from.File("ZANFEL.CSV"));
    EXPECT_NE(SettingsLine(after).find(" --param L=" + FullReal(L)), std::string::npos) << after;
    for (const Row &row : CsvRows(after)) // on the upper branch of the same L
      EXPECT_LT(row.at("P") * L * L, kBratuFoldTimesL2 * (1 + 1e-8L));
  }
}

// shoot_c1 with PR changed: the settings line names it, a resume goes on as
// the unbroken run, a rerun gives the same bytes, another PR with --resume
// is refused; PD = 10 given is the plain run.
TEST(Params, ShootC1CoefficientResumedRerunAndAtItsDefault) {
  const TempDir plain, atDefault, whole, again, stopped;
  RunExample(plain, "shoot_c1", {"--records", "40"});
  RunExample(atDefault, "shoot_c1", {"--records", "40", "--param", "PD=10"});
  EXPECT_EQ(Files(plain), Files(atDefault));

  const std::vector<std::string> pr{"--param", "PR=0.025"};
  std::vector<std::string> forty = pr, twenty = pr;
  forty.insert(forty.end(), {"--records", "40"});
  twenty.insert(twenty.end(), {"--records", "20"});
  EXPECT_EQ(RunExample(whole, "shoot_c1", forty).status, 0);
  RunExample(again, "shoot_c1", forty);
  EXPECT_EQ(Files(whole), Files(again));
  const std::string csv = ReadFile(whole.File("ZANFEL.CSV"));
  EXPECT_TRUE(SettingsLine(csv).ends_with(" --param PR=2.50000000000000000003e-02")) << csv;
  EXPECT_NE(ReadFile(whole.File("ZANFEL.RES")), ReadFile(plain.File("ZANFEL.RES")));

  RunExample(stopped, "shoot_c1", twenty);
  const ChildResult other =
      RunExample(stopped, "shoot_c1", {"--resume", "--records", "40", "--param", "PR=0.024"});
  EXPECT_EQ(other.status, 65);
  EXPECT_NE(other.err.find("--param PR=0.024 is not this run's PR=0.025"), std::string::npos)
      << other.err;
  const ChildResult resumed = RunExample(stopped, "shoot_c1", {"--resume", "--records", "40"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(ReadFile(stopped.File("ZANFEL.RES")), ReadFile(whole.File("ZANFEL.RES")));
  EXPECT_EQ(CsvWithoutComments(ReadFile(stopped.File("ZANFEL.CSV"))), CsvWithoutComments(csv));
  EXPECT_EQ(SettingsLine(ReadFile(stopped.File("ZANFEL.CSV"))), SettingsLine(csv));
}

} // namespace
} // namespace zanfel
