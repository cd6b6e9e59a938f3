// scripts/study: a parameter study of bratu over the length L run by GNU
// Parallel, gathered into STUDY.CSV; a run killed halfway redone by the
// rerun with the others untouched; the same study through --sshloginfile
// naming the local machine; lists that expand to nothing refused.
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "report/csv.hpp"
#include "support/example_runs.hpp"
#include "support/test_support.hpp"

namespace zanfel {
namespace {

using namespace testing;

const std::string kStudy = std::string(ZANFEL_SOURCE_DIR) + "/scripts/study";

ChildResult Study(const TempDir &dir, const std::vector<std::string> &args) {
  std::vector<std::string> all{kStudy};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(dir.Path(), Stdin::EndOfFile, "/bin/bash", all);
}

// bratu, except that the run of L = 2 is killed by SIGKILL after 5 records
// the first time: what a run killed halfway leaves.
std::string KillingBratu(const TempDir &dir) {
  const std::string path = dir.File("bratu-killed-once");
  WriteFile(path, "#!/bin/sh\n"
                  "case \" $* \" in *\" L=2 \"*)\n"
                  "  if [ ! -e '" +
                      dir.File("killed") +
                      "' ]; then\n"
                      "    : > '" +
                      dir.File("killed") + "'\n    '" + ProgramPath("bratu") +
                      "' \"$@\" --records 5\n"
                      "    kill -KILL $$\n"
                      "  fi;;\n"
                      "esac\n"
                      "exec '" +
                      ProgramPath("bratu") + "' \"$@\"\n");
  chmod(path.c_str(), 0755);
  return path;
}

// Every file of a run's folder with its bytes and modification time.
std::map<std::string, std::pair<std::string, long long>> Snapshot(const std::string &dir) {
  std::map<std::string, std::pair<std::string, long long>> files;
  for (const std::string &name : Entries(dir)) {
    struct stat st {};
    stat((dir + "/" + name).c_str(), &st);
    files[name] = {ReadFile(dir + "/" + name),
                   st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return files;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

const std::vector<std::string> kLengths{"0.5", "0.75", "1",   "1.25", "1.5", "1.75",
                                        "2",   "2.25", "2.5", "2.75", "3",   "3.25"};

// The rows of STUDY.CSV: the L column, the status, the note, and every row
// of every run's own ZANFEL.CSV after them.
void ExpectEveryRecordOfEveryRun(const std::string &study, const std::string &runs) {
  const std::vector<std::string> lines = Lines(study);
  std::size_t header = 0;
  while (header < lines.size() && lines[header].starts_with("#"))
    ++header;
  ASSERT_LT(header, lines.size());
  EXPECT_TRUE(lines[header].starts_with("L,status,ended_early,record,pass,P,H,ITER,X1,"))
      << lines[header];
  std::size_t at = header + 1;
  for (const std::string &L : kLengths) {
    const std::string csv = ReadFile(runs + "/L=" + L + "/ZANFEL.CSV");
    const std::vector<std::string> own = Lines(CsvWithoutComments(csv));
    ASSERT_GT(own.size(), 10u) << L;
    for (std::size_t k = 1; k < own.size(); ++k, ++at) {
      ASSERT_LT(at, lines.size());
      EXPECT_EQ(lines[at], L + ",0,," + own[k]) << L;
    }
    // The fold of each run on its closed form.
    REAL length = 0.0L;
    ASSERT_TRUE(ParseReal(L, length));
    int folds = 0;
    for (const Row &row : CsvRows(csv))
      if (row.at("fold") == 1.0L) {
        ++folds;
        EXPECT_LT(RelativeError(row.at("P") * length * length, 3.51383071912516120621L), 1e-8L);
      }
    EXPECT_EQ(folds, 1) << L;
  }
  EXPECT_EQ(at, lines.size());
}

TEST(Study, BratuOverTwelveLengthsKilledRunRedoneAndOverSsh) {
  const TempDir dir, overSsh;
  const std::string program = KillingBratu(dir);
  const std::vector<std::string> sweep{
      program, "--threads", "1", "--continuation", "arclength", "--param", "L=0.5:0.25:3.25"};
  std::vector<std::string> args{"-j", "2", "--dir", dir.File("s")};
  args.insert(args.end(), sweep.begin(), sweep.end());

  const ChildResult first = Study(dir, args);
  EXPECT_EQ(first.status, 1) << first.err; // one run did not finish
  const std::string runs = dir.File("s/runs");
  std::vector<std::string> folders;
  for (const std::string &L : kLengths)
    folders.push_back("L=" + L);
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(Entries(runs), folders);
  EXPECT_TRUE(Exists(dir.File("s/joblog")));
  EXPECT_EQ(ReadFile(runs + "/L=2/exit.txt"), "137\n");
  const std::string killed = ReadFile(dir.File("s/STUDY.CSV"));
  EXPECT_NE(killed.find("\n2,,not finished: ended by signal 9,1,1,"), std::string::npos) << killed;

  std::map<std::string, std::map<std::string, std::pair<std::string, long long>>> before;
  for (const std::string &L : kLengths)
    if (L != "2")
      before[L] = Snapshot(runs + "/L=" + L);
  const ChildResult rerun = Study(dir, args);
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  for (const auto &[L, files] : before)
    EXPECT_EQ(Snapshot(runs + "/L=" + L), files) << L; // untouched
  EXPECT_EQ(ReadFile(runs + "/L=2/exit.txt"), "0\n");
  const std::string study = ReadFile(dir.File("s/STUDY.CSV"));
  ExpectEveryRecordOfEveryRun(study, runs);

  // Through GNU Parallel's ssh machinery on the local machine.
  WriteFile(overSsh.File("hosts"), ":\n");
  std::vector<std::string> ssh{
      "-j", "2", "--sshloginfile", overSsh.File("hosts"), "--dir", overSsh.File("s")};
  ssh.insert(ssh.end(), sweep.begin(), sweep.end());
  const ChildResult remote = Study(overSsh, ssh);
  EXPECT_EQ(remote.status, 0) << remote.err;
  EXPECT_EQ(ReadFile(overSsh.File("s/STUDY.CSV")), study);
}

// Runs that end early are finished runs: STUDY.CSV says why, a rerun leaves
// them, --resume-failed runs them again.
TEST(Study, EndedEarlyRunsAreKeptAndRetriedWithResumeFailed) {
  const TempDir dir;
  const std::vector<std::string> args{"--dir", dir.File("s"), "bratu", "--param", "L=1,2"};
  const ChildResult first = Study(dir, args);
  EXPECT_EQ(first.status, 1) << first.err;
  const std::string study = ReadFile(dir.File("s/STUDY.CSV"));
  EXPECT_NE(study.find("\n2,10,iteration limit at P = "), std::string::npos) << study;
  EXPECT_EQ(study.find(",not finished"), std::string::npos);
  const auto once = Snapshot(dir.File("s/runs/L=1"));
  Study(dir, args);
  EXPECT_EQ(Snapshot(dir.File("s/runs/L=1")), once);
  std::vector<std::string> retry{"--resume-failed"};
  retry.insert(retry.end(), args.begin(), args.end());
  Study(dir, retry);
  EXPECT_NE(Snapshot(dir.File("s/runs/L=1")).at("exit.txt").second, once.at("exit.txt").second);
  EXPECT_EQ(ReadFile(dir.File("s/STUDY.CSV")), study);
}

// A list that expands to nothing, a value that is no number, no list at
// all: one line, status 64, nothing written.
TEST(Study, ListsThatGiveNoRunAreRefused) {
  for (const std::vector<std::string> &lists : {std::vector<std::string>{"--param", "L=3:0.5:1"},
                                                {"--param", "L="},
                                                {"--param", "L=1:0:2"},
                                                {"--param", "L=1,x"},
                                                {"--param", "L=1", "--param", "L=2"},
                                                {"--threads", "1"}}) {
    const TempDir dir;
    std::vector<std::string> args{"-j", "2", "--dir", dir.File("s"), "bratu"};
    args.insert(args.end(), lists.begin(), lists.end());
    const ChildResult r = Study(dir, args);
    EXPECT_EQ(r.status, 64) << lists.back();
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(Entries(dir.Path()).empty()) << lists.back();
  }
}

} // namespace
} // namespace zanfel
