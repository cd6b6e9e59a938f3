// The one line that tells a person how a run ended: the program, why it
// ended, the records in the results file and where that file and the picture
// are. Written last on standard error when that is a terminal, whichever way
// the run ends, and shown in the window title during a final wait.
//
// Nothing here touches standard output, the results file or the exit status.
#pragma once

#include <string>
#include <string_view>

#include "nonlinear/newton_trace.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/types.hpp"
#include "shooting/solve_settings.hpp"

namespace zanfel::summary {

// At the start of a run: the program and its files (made absolute against
// the working directory; the SVG is named as it lies beside the PNG).
// Registers the line as the run's last word.
void Start(std::string_view program, const std::string &resultsPath, const std::string &picturePath,
           const std::string &svgPath);

// The state of the run as it goes.
// Records in the results file now, and in the whole run over its passes (a
// run of several passes keeps only the last pass's in the file).
void NoteRecords(long records, long inRun, int passes);
// Until records are noted, the line counts the whole records the results
// file holds (a resume, before it has read its files and said how many).
void CountRecordsInFile();
void NoteP(REAL P); // the P being solved for
// That P as the line writes it ("3.80364898"); empty before any.
const char *NotedPText();
void NoteSweepEnd(const char *why);
// A resume went on with other solver settings from this record on: the line
// says which, so that nobody takes the files for those of a single run.
void NoteSettingsChange(long fromRecord, const std::string &changes);
// Along the arclength: the line counts the folds passed, from none.
void CountFolds();
void NoteFold();
// --at names values of P: the summary counts the user points; each one
// noted.
void CountUserPoints();
// The branch points found; the line names them when there are any.
void NoteBranchPoint();
void NoteUserPoint();
// A record of a run whose CSV labels its records: its label ("" for a plain
// one) and its place on the curve, for the table a terminal gets at the end
// (the labelled records, and the last one as the end).
void NoteLabelledRecord(std::string_view label, REAL P, REAL value);
// With --check-digits: the check of a record found `digits` right (or
// failed, kCheckFailed); the line says to how many digits every checked
// record is right. kNotChecked is no check.
void NoteCheck(int digits);
// How the last sweep stopped, as noted; null before any sweep stopped.
const char *NotedSweepEnd();

// The solve that ran into its iteration limit: its trace and limits explain
// the end. Both must stay until the program ends.
void WatchSolve(const NewtonTrace *trace, const SolveSettings *solve);
// The segment whose trajectory the integrator refused (multiple shooting),
// for the line after "invalid integrator call"; 0: none.
void NoteInvalidSegment(int segment);
// On the way to an iteration-limit end, outside any signal handler: works
// out from the watched trace why the limit was reached, so that the line
// and the pictures say it ("...: 443 trajectories of the last solve ran out
// of integrator evaluations (try --budgets 4)").
void ExplainIterationLimit();

// The line for an end of the given way (EndWay and code as the last word gets
// them), without its line end. Async-signal-safe; returns the length written
// into buf (cut at size).
size_t Compose(char *buf, size_t size, EndWay way, int code);

// Why the run ended, as the line says it ("iteration limit at P = ...",
// "interrupted (SIGINT)", ...), for the pictures' titles.
std::string ReasonText(EndWay way, int code);

// The line during a final wait: the normal end, its pictures written.
std::string WaitingText();

} // namespace zanfel::summary
