#include "app/curve_picture.hpp"
#include "app/profile_picture.hpp"
#include "app/summary.hpp"

#include <cerrno>
#include <csignal>
#include <new>
#include <unistd.h>

#include "continuation/observer.hpp"
#include "graph/graph.hpp"
#include "plot/svg.hpp"
#include "report/results_csv.hpp"
#include "report/text_file.hpp"
#include "runtime/console.hpp"
#include "runtime/end_cause.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/whole_file.hpp"

namespace zanfel::curve_picture {

namespace {

std::string programName = "ZANFEL";
std::string acrossName = "H";
const std::vector<CurvePoint> *watched = nullptr;
const char *plottedName = "";
// Read by the summary of the run on its way out.
volatile sig_atomic_t saved = 0;
// The file the last failed write was about (the partial file or the picture).
std::string failedPath;

std::string PicturePath() {
  return BesidePath("ZANFEL.SVG");
}

// On the way to a fatal end, after the snapshot: a picture that cannot be
// drawn or written is let go, the end's own report comes first.
// The failures of the solve also close ZANFEL.CSV with a line that says why.
void AtFatalEnd(int status, bool runtimeError) {
  if (!watched)
    return;
  try {
    if (NotedFatalCause() == FatalCause::IterationLimit ||
        NotedFatalCause() == FatalCause::StartNotSolved)
      summary::ExplainIterationLimit();
    if (NotedFatalCause() != FatalCause::Unknown)
      AppendCsvEndNote(
          summary::ReasonText(runtimeError ? EndWay::RuntimeError : EndWay::Fatal, status));
    WriteNow(FatalEndText(status, runtimeError, watched->empty()));
  } catch (const std::bad_alloc &) {
  }
  // A person at the terminal gets to see the final curve before the window
  // goes; a script or a background run does not wait.
  if (graph::WindowShown() && isatty(0) == 1 && !TerminalInBackground(0))
    WaitForEnter();
}

} // namespace

void Start(std::string_view program, std::string_view across) {
  programName = std::string(program);
  acrossName = std::string(across);
}

void Watch(const std::vector<CurvePoint> &curve, const char *plotted) {
  watched = &curve;
  plottedName = plotted;
  SetFatalEndWork(AtFatalEnd);
}

bool Saved() {
  return saved != 0;
}

std::string NormalEndText() {
  const char *why = summary::NotedSweepEnd();
  return why ? why : "";
}

std::string FatalEndText(int status, bool runtimeError, bool noRecord) {
  // The summary line's words: "iteration limit at P = ...", "run-time error N".
  const std::string why =
      summary::ReasonText(runtimeError ? EndWay::RuntimeError : EndWay::Fatal, status);
  return noRecord ? "ended in the first solve: " + why : "ended early: " + why;
}

// What the checks of the records found, for the title: "right to at
// least D digits (checked: K of R)"; "" when no record was checked.
std::string CheckNote(const std::vector<CurvePoint> &curve) {
  CheckTally t;
  for (const CurvePoint &p : curve)
    t.Note(p.digits);
  if (t.checked == 0)
    return "";
  std::string note =
      t.checked > t.failed ? "right to at least " + std::to_string(t.least) + " digits " : "";
  note += "(checked: " + std::to_string(t.checked) + " of " + std::to_string(curve.size());
  if (t.failed > 0)
    note += ", " + std::to_string(t.failed) + " failed";
  return note + ")";
}

bool WriteNow(std::string_view ended) {
  std::vector<svg::Sample> samples;
  if (watched) {
    samples.reserve(watched->size());
    for (const CurvePoint &p : *watched)
      samples.push_back({p.pass, p.H, p.value, p.kind, p.P});
  }
  const svg::Labels labels{programName, acrossName, plottedName,
                           watched ? CheckNote(*watched) : ""};
  const bool written =
      WriteWholeFile(PicturePath(), svg::CurvePicture(samples, labels, ended), &failedPath);
  saved = saved || written;
  if (!written)
    return false;
  // The profiles' picture goes with it, under the same rules.
  if (!profile_picture::WriteNow(programName, &failedPath))
    return false;
  return true;
}

void WriteAtNormalEnd() {
  const bool written = WriteNow(NormalEndText());
  const int error = errno;
  watched = nullptr; // the program's state goes with its end
  if (!written)
    IoError(error, failedPath);
}

} // namespace zanfel::curve_picture
