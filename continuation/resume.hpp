// --resume: a stopped sweep of shoot_b1, shoot_b2, shoot_c1 or shoot_c2 goes
// on after the last record that ZANFEL.RES and ZANFEL.CSV share, exactly as
// if it had never stopped. The state the next step reads (the unknowns, P,
// H, the Newton count and the step) comes from the last row at full
// precision. Anything that stops a resume stops it before a file changes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "continuation/engine.hpp"

namespace zanfel {

// Exit statuses of a resume that does not start.
constexpr int kResumeUnsupported = 64; // shoot_a1, shoot_a2
constexpr int kResumeBadData = 65; // another program's files, files that disagree, an ended sweep
constexpr int kResumeNoInput = 66; // no ZANFEL.CSV or ZANFEL.RES to read

// Family A: says that its programs cannot resume; the status to exit with.
int RefuseResume(std::string_view program);

// Says on standard error why the run cannot resume; returns `status`.
int CannotResume(std::string_view program, int status, std::string_view why);

// Both files as found, the CSV's head checked against the program's.
struct ResumeFiles {
  std::string csv, res;
  std::size_t firstRow = 0; // where the rows of the CSV start
};

// Reads the two files and checks that the CSV was written by `program` of
// this version with these columns. 0, or the status after the message.
int ReadResumeFiles(std::string_view program, const std::vector<std::string> &columns,
                    ResumeFiles &files);

// The program state a row holds.
template <class Model> void LoadRow(Program<Model> &s, const CsvRow<Model::N, Model::NOUT> &row) {
  s.g.P = row.P;
  s.g.H = row.H;
  s.g.ITER = row.ITER;
  s.g.X = row.X;
  s.g.YOUT = row.YOUT;
  s.DP = row.DP;
}

// Walks the rows and the records side by side: each row's record, written
// again from the row, must be the record the results file holds there. Ends
// at the first row whose record the file does not hold whole, or at a row
// cut short. `shared` rows with their records; the bytes of both files to
// keep; the state of the last shared row in `s`, its curve in `curve`.
// 0, or the status after the message.
template <class Model>
int MatchRowsAndRecords(std::string_view program, const ResumeFiles &f,
                        const SweepRules<Model> &rules, Program<Model> &s, long &shared,
                        std::size_t &csvKeep, std::size_t &resKeep,
                        std::vector<CurvePoint> &curve) {
  CsvRow<Model::N, Model::NOUT> row, last;
  shared = 0;
  csvKeep = f.firstRow;
  resKeep = 0;
  for (std::size_t end; (end = f.csv.find('\n', csvKeep)) != std::string::npos;) {
    const std::string_view line(f.csv.data() + csvKeep, end - csvKeep);
    if (!ParseCsvRow(line, rules.layout, row) || row.record != shared + 1 || row.pass != 1)
      return CannotResume(program, kResumeBadData,
                          "ZANFEL.CSV: row " + std::to_string(shared + 1) +
                              " is not a row of this sweep");
    LoadRow(s, row);
    s.H1 = rules.partner(s);
    TextBuffer record;
    WriteRecord(record, rules.layout, s.g.H, s.H1, s.g.X, s.g.YOUT);
    const std::string_view rest = std::string_view(f.res).substr(resKeep);
    if (!rest.starts_with(record.text)) {
      // A results file that ends before this record (or inside it) is one
      // the run left behind; one that holds another record here is not.
      if (std::string_view(record.text).starts_with(rest))
        break;
      return CannotResume(program, kResumeBadData,
                          "ZANFEL.RES and ZANFEL.CSV differ at record " +
                              std::to_string(shared + 1));
    }
    last = row;
    ++shared;
    csvKeep = end + 1;
    resKeep += record.text.size();
    curve.push_back({static_cast<int>(row.pass), s.g.H, s.g.YOUT[rules.plotIndex]});
  }
  LoadRow(s, last);
  return 0;
}

// A program of one pass (families B and C), resumed: the files checked and
// cut back to the records they share, the frame and the curve so far drawn
// again, then the sweep on from the next step, and the usual end.
template <class Model>
int ResumeOnePass(std::string_view program, const OnePassSettings<Model> &settings,
                  const SweepRules<Model> &rules, SweepObserver &observer) {
  Program<Model> s(observer);
  s.g.par = settings.par;
  ResumeFiles files;
  const std::vector<std::string> columns = CsvColumnNames(Model::N, rules.zColumn);
  if (const int status = ReadResumeFiles(program, columns, files))
    return status;
  long shared;
  std::size_t csvKeep, resKeep;
  std::vector<CurvePoint> curve;
  if (const int status =
          MatchRowsAndRecords(program, files, rules, s, shared, csvKeep, resKeep, curve))
    return status;
  if (shared == 0)
    return CannotResume(program, kResumeBadData,
                        "ZANFEL.CSV holds no whole record to go on from; run without --resume");
  s.records = s.csvRows = shared;
  s.pass = 1;
  s.P1 = settings.sweep.P1;
  s.P2 = settings.sweep.P2;
  const REAL lastP = s.g.P;
  if (StepOn(s, rules))
    return CannotResume(program, kResumeBadData,
                        "the sweep has ended: P left [" + ShortReal(s.P1) + ", " + ShortReal(s.P2) +
                            "] after record " + std::to_string(shared));

  s.FAIL.Assign(ResultsPath());
  s.FAIL.Append(static_cast<long long>(resKeep));
  s.CSV.Assign(CsvPath());
  s.CSV.Append(static_cast<long long>(csvKeep));
  observer.Resumed(
      {s.pass, settings.frame, false, rules.plotted, settings.start.P, s.P1, s.P2, rules.addStep},
      curve, lastP, s.records);
  Sweep(s, rules);
  EndRun(s);
  return 0;
}

} // namespace zanfel
