// Special points against Bratu's closed form: records at chosen lambda, the
// solution profiles of labelled records, a start from a fold of an earlier
// run; the profiles of a stopped sweep resumed; shoot_a1's profiles against
// its own records; and the values the options refuse.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "report/csv.hpp"
#include "report/profiles_csv.hpp"
#include "support/example_runs.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using namespace testing;

std::vector<Profile> Profiles(const TempDir &dir, int NEQN) {
  const ProfilesText read = ReadProfiles(ReadFile(dir.File("ZANFEL.PROFILES.csv")), NEQN);
  EXPECT_TRUE(read.headOk);
  return read.profiles;
}

// Every point of a Bratu profile on the closed form of its record, t from 0
// to 1 in accepted steps; the tolerance is relative where |u| exceeds 1 (far
// up the upper branch u(1/2) grows, and so does the integrator's error).
void ExpectOnTheClosedForm(const Profile &p, REAL tolerance) {
  ASSERT_GE(p.points.size(), 3u) << p.label;
  const REAL theta = BratuTheta(p.points.front().y[1]);
  EXPECT_EQ(p.points.front().t, 0.0L);
  EXPECT_EQ(p.points.back().t, 1.0L);
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    const ProfilePoint &q = p.points[i];
    if (i > 0) {
      EXPECT_GT(q.t, p.points[i - 1].t);
    }
    const REAL u = BratuU(theta, q.t);
    EXPECT_NEAR(double(q.y[0]), double(u), double(tolerance * fmaxl(1.0L, fabsl(u))))
        << p.label << " at t = " << double(q.t);
  }
}

// Natural: a record at exactly each --at value, on the closed form, between
// the sweep's own records, which keep the values of a sweep without them;
// the profiles of a record number, a user point and the end.
TEST(SpecialPoints, BratuRecordsAtChosenLambdaBetweenItsOwnSteps) {
  const TempDir plain, dir;
  RunExample(plain, "bratu");
  RunExample(dir, "bratu", {"--at", "1,2,3,2.53", "--profiles", "2,user2,end"});
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  const std::vector<Row> rows = CsvRows(csv), own = CsvRows(ReadFile(plain.File("ZANFEL.CSV")));
  const std::vector<std::string> labels = Labels(csv);
  // 1, 2 and 3 are steps of the sweep: only 2.53 is a record of its own.
  ASSERT_EQ(rows.size(), own.size() + 1);
  const REAL published[3] = {0.549352728775270819L, 1.24821751775820268L, 2.31960225808158636L};
  // Numbered in the order the sweep passes them: 2.53 is user3.
  const char *named[3] = {"user1", "user2", "user4"};
  for (int k = 1; k <= 3; ++k) {
    const Row *user = RowLabelled(rows, labels, named[k - 1]);
    ASSERT_NE(user, nullptr) << k;
    EXPECT_EQ(user->at("P"), REAL(k));
    EXPECT_LT(RelativeError(user->at("X1"), published[k - 1]), 1e-9L) << k;
  }
  const Row *between = RowLabelled(rows, labels, "user3");
  ASSERT_NE(between, nullptr);
  EXPECT_EQ(between->at("P"), 2.53L);
  EXPECT_LT(RelativeError(BratuLambdaAt(between->at("X1")), 2.53L), 1e-9L);
  std::size_t j = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (labels[i] == "user3")
      continue;
    ASSERT_LT(j, own.size());
    EXPECT_EQ(rows[i].at("P"), own[j].at("P")) << "row " << i + 1;
    EXPECT_EQ(rows[i].at("X1"), own[j].at("X1")) << "row " << i + 1;
    ++j;
  }
  EXPECT_EQ(labels.back(), "end");
  const std::vector<Profile> profiles = Profiles(dir, 2);
  ASSERT_EQ(profiles.size(), 3u);
  EXPECT_EQ(profiles[0].record, 2);
  EXPECT_EQ(profiles[1].label, "user2");
  EXPECT_EQ(profiles[1].P, 2.0L);
  EXPECT_EQ(profiles[2].label, "end");
  EXPECT_EQ(profiles[2].record, static_cast<long>(rows.size()));
  for (const Profile &p : profiles)
    ExpectOnTheClosedForm(p, 1e-8L);
}

// Along the arclength: both crossings of lambda = 1, the fold and the end
// profiled on the closed form, the same bytes at one thread and at two; then
// a run started from that fold goes on along the upper branch to lambda = 1.
TEST(SpecialPoints, BratuAlongTheCurveCrossingsProfilesAndAStartFromTheFold) {
  const TempDir one, two, fromFold;
  // From lambda = 0.5: the end, where the upper branch leaves the range, is
  // still a solution the integrator holds to nine digits.
  const std::vector<std::string> args{"--continuation", "arclength", "--from", "0.5",
                                      "--range",        "0.5:4",     "--at",   "1",
                                      "--profiles",     "labelled"};
  std::vector<std::string> oneThread = args, twoThreads = args;
  oneThread.insert(oneThread.end(), {"--threads", "1"});
  twoThreads.insert(twoThreads.end(), {"--threads", "2"});
  EXPECT_EQ(RunExample(one, "bratu", oneThread).status, 0);
  RunExample(two, "bratu", twoThreads);
  const std::string csv = ReadFile(one.File("ZANFEL.CSV"));
  EXPECT_EQ(CsvWithoutComments(csv), CsvWithoutComments(ReadFile(two.File("ZANFEL.CSV"))));
  for (const char *file : {"ZANFEL.PROFILES.csv", "ZANFEL.PROFILES.svg"})
    EXPECT_EQ(ReadFile(one.File(file)), ReadFile(two.File(file))) << file;

  const std::vector<Row> rows = CsvRows(csv);
  const std::vector<std::string> labels = Labels(csv);
  const Row *lower = RowLabelled(rows, labels, "user1");
  const Row *upper = RowLabelled(rows, labels, "user2");
  ASSERT_TRUE(lower && upper);
  EXPECT_EQ(lower->at("P"), 1.0L);
  EXPECT_EQ(upper->at("P"), 1.0L);
  EXPECT_LT(RelativeError(lower->at("X1"), 0.549352728775270819L), 1e-9L);
  EXPECT_LT(RelativeError(upper->at("X1"), 10.8468990193894524L), 1e-8L);

  EXPECT_FALSE(HasBranchPoint(labels)) << "Bratu's problem has no branch point";
  const std::vector<Profile> profiles = Profiles(one, 2);
  // user1, fold1, user2: in the reference arithmetic the last record is a
  // user point, which keeps its label at the end; elsewhere the last step
  // may land beside it, and the end has a profile of its own.
  ASSERT_GE(profiles.size(), 3u);
  ASSERT_LE(profiles.size(), ReferenceArithmetic() ? 3u : 4u);
  EXPECT_EQ(profiles[1].label, "fold1");
  if (profiles.size() == 4) {
    EXPECT_EQ(profiles[3].label, "end");
  }
  // theta moves with the square root of P near the fold, which the search
  // locates to about 1e-10 in P.
  EXPECT_NEAR(double(BratuTheta(profiles[1].points.front().y[1])), 4.79871456103093533567, 5e-5);
  for (const Profile &p : profiles)
    ExpectOnTheClosedForm(p, 1e-8L);
  const std::string svg = ReadFile(one.File("ZANFEL.PROFILES.svg"));
  EXPECT_NE(svg.find("<title>bratu \u2014 " + std::to_string(profiles.size()) + " profiles"),
            std::string::npos);
  EXPECT_NE(svg.find(">fold1, P = 3.5138307"), std::string::npos);

  const ChildResult started = RunExample(fromFold, "bratu",
                                         {"--start-at", one.File("ZANFEL.CSV") + ":fold1",
                                          "--continuation", "arclength", "--at", "1"});
  EXPECT_EQ(started.status, 0) << started.out << started.err;
  const std::string after = ReadFile(fromFold.File("ZANFEL.CSV"));
  EXPECT_NE(after.find("# started at: " + one.File("ZANFEL.CSV") + ":fold1"), std::string::npos);
  const Row *atOne = RowLabelled(CsvRows(after), Labels(after), "user1");
  ASSERT_NE(atOne, nullptr);
  EXPECT_LT(RelativeError(atOne->at("X1"), 10.8468990193894524L), 1e-8L);
}

// A sweep stopped by its record limit and resumed writes the profiles of an
// unstopped one, also when the stop tore the profiles file in a row: the
// stopped sweep's end becomes a step again and its profile loses the label.
TEST(SpecialPoints, ProfilesOfAStoppedSweepResumeToThoseOfAWholeOne) {
  const TempDir whole, stopped, torn;
  const std::vector<std::string> all{"--profiles", "all", "--range", "0:3"};
  RunExample(whole, "bratu", all);
  std::vector<std::string> first = all;
  first.insert(first.end(), {"--records", "12"});
  RunExample(stopped, "bratu", first);
  RunExample(torn, "bratu", first);
  const std::string wanted = ReadFile(whole.File("ZANFEL.PROFILES.csv"));
  const std::string cut = ReadFile(stopped.File("ZANFEL.PROFILES.csv"));
  ASSERT_NE(cut.find("\n12,end,"), std::string::npos);
  WriteFile(torn.File("ZANFEL.PROFILES.csv"), cut.substr(0, cut.rfind("\n12,end,") + 30));
  for (const TempDir *dir : {&stopped, &torn}) {
    const ChildResult resumed = RunExample(*dir, "bratu", {"--resume"});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(ReadFile(dir->File("ZANFEL.PROFILES.csv")), wanted);
    EXPECT_EQ(CsvWithoutComments(ReadFile(dir->File("ZANFEL.CSV"))),
              CsvWithoutComments(ReadFile(whole.File("ZANFEL.CSV"))));
  }
}

// With segments a profile is the record's piecewise trajectory: each piece
// on the closed form, the end of one and the start of the next at each node
// (the solve's jump between them), the last ending at the record's u(1) to
// the bit; a stopped sweep resumes to the same profiles, from its node
// states.
TEST(SpecialPoints, SegmentedProfilesArePiecewiseAndResumeFromTheNodes) {
  const TempDir whole, stopped;
  const std::vector<std::string> all{"--segments", "4", "--profiles", "all", "--range", "0:3"};
  RunExample(whole, "bratu", all);
  const std::vector<Row> rows = CsvRows(ReadFile(whole.File("ZANFEL.CSV")));
  const std::vector<Profile> profiles = Profiles(whole, 2);
  ASSERT_EQ(profiles.size(), rows.size());
  for (const Profile &p : profiles) {
    SCOPED_TRACE(p.record);
    ASSERT_GE(p.points.size(), 8u);
    const REAL theta = BratuTheta(p.points.front().y[1]);
    int nodes = 0;
    for (std::size_t i = 1; i < p.points.size(); ++i) {
      const ProfilePoint &q = p.points[i], &before = p.points[i - 1];
      EXPECT_NEAR(double(q.y[0]), double(BratuU(theta, q.t)), 1e-8) << double(q.t);
      ASSERT_GE(q.t, before.t);
      if (q.t == before.t) {
        ++nodes;
        EXPECT_EQ(q.t, 0.25L * nodes);
        EXPECT_NEAR(double(q.y[0]), double(before.y[0]), 1e-9);
        EXPECT_NEAR(double(q.y[1]), double(before.y[1]), 1e-9);
      }
    }
    EXPECT_EQ(nodes, 3);
    EXPECT_EQ(p.points.back().t, 1.0L);
    EXPECT_EQ(p.points.back().y[0], rows[static_cast<std::size_t>(p.record - 1)].at("r1"));
  }
  std::vector<std::string> first = all;
  first.insert(first.end(), {"--records", "12"});
  RunExample(stopped, "bratu", first);
  EXPECT_EQ(RunExample(stopped, "bratu", {"--resume"}).status, 0);
  EXPECT_EQ(ReadFile(stopped.File("ZANFEL.PROFILES.csv")),
            ReadFile(whole.File("ZANFEL.PROFILES.csv")));
}

// shoot_a1 along the arclength: every fold and every pass's end profiled,
// and each profile's y at t = 1 is its record's end values to the bit.
TEST(SpecialPoints, ShootA1ProfilesEndAtTheirRecordsEndValues) {
  const TempDir dir;
  ChildSetup setup;
  setup.dir = dir.Path();
  setup.timeoutSeconds = 600;
  setup.args = {"--continuation", "arclength", "--profiles", "labelled", "--records", "40"};
  EXPECT_EQ(RunBuilt(setup, "shoot_a1").status, 0);
  const std::string csv = ReadFile(dir.File("ZANFEL.CSV"));
  const std::vector<Row> rows = CsvRows(csv);
  const std::vector<std::string> labels = Labels(csv);
  EXPECT_FALSE(HasBranchPoint(labels));
  const std::vector<Profile> profiles = Profiles(dir, 10);
  std::size_t labelled = 0;
  for (const std::string &l : labels)
    labelled += !l.empty();
  EXPECT_EQ(profiles.size(), labelled);
  EXPECT_EQ(profiles.front().label, "fold1");
  for (const Profile &p : profiles) {
    const Row &row = rows[static_cast<std::size_t>(p.record - 1)];
    EXPECT_EQ(labels[static_cast<std::size_t>(p.record - 1)], p.label);
    const ProfilePoint &end = p.points.back();
    EXPECT_EQ(end.t, 1.0L);
    EXPECT_EQ(end.y[1], row.at("y2_1")) << p.record;
    EXPECT_EQ(end.y[6], row.at("y7_1")) << p.record;
    EXPECT_EQ(end.y[7], row.at("y8_1")) << p.record;
  }
}

// Values the options cannot take: one line, status 64, nothing touched.
TEST(SpecialPoints, BadValuesAreRefusedBeforeAnyFileIsTouched) {
  const TempDir dir;
  WriteFile(dir.File("ZANFEL.RES"), "earlier\r\n");
  const std::vector<std::vector<std::string>> cases{
      {"--at"},
      {"--at", "1,x"},
      {"--at", "50"},
      {"--profiles", "3,fold1,3"},
      {"--profiles", "fold"},
      {"--profile-component", "0"},
      {"--profile-component", "3", "--profiles", "all"},
      {"--profile-component", "2"},
      {"--reverse"},
  };
  for (const std::vector<std::string> &args : cases) {
    const ChildResult r = RunExample(dir, "bratu", args);
    EXPECT_EQ(r.status, 64) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(ReadFile(dir.File("ZANFEL.RES")), "earlier\r\n");
    EXPECT_FALSE(Exists(dir.File("ZANFEL.CSV")));
  }
}

} // namespace
} // namespace zanfel
