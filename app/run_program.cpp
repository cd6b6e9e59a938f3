#include "app/run_program.hpp"

#include "app/command_line.hpp"
#include "app/curve_picture.hpp"
#include "app/progress.hpp"
#include "app/summary.hpp"
#include "continuation/resume.hpp"
#include "graph/graph.hpp"
#include "runtime/console.hpp"
#include "runtime/end_cause.hpp"
#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/interrupt.hpp"
#include "runtime/signals.hpp"
#include "runtime/write_all.hpp"
#include "shooting/trajectory_pool.hpp"

namespace zanfel {

namespace {

void Write(int fd, const std::string &text) {
  WriteAll(fd, text.data(), text.size());
}

// The answer to --help or --version, which is the whole of the run: a reader
// that gets none of it (a full disk, a closed pipe) must learn of it from the
// status.
int Answer(const std::string &text) {
  return WriteAll(1, text.data(), text.size()) ? 0 : kOutputErrorStatus;
}

// --help, --version and a wrong command line end here, before anything is
// opened or changed; -1 when the program is to run.
int AnswerCommandLine(const ProgramDescription &program, const CommandLine &line) {
  const char *name = program.info.name.c_str();
  switch (line.action) {
  case CommandLine::Action::Help:
    return Answer(HelpText(program.info, program.resume != nullptr));
  case CommandLine::Action::Version:
    return Answer(VersionText(name));
  case CommandLine::Action::Error:
    Write(2, UsageError(name, line.error));
    return kUsageStatus;
  case CommandLine::Action::Run:
    break;
  }
  if (!line.dir.empty())
    SetResultsDirectory(line.dir);
  if (line.threads > 0)
    SetTrajectoryThreads(line.threads);
  if (line.noWindow)
    graph::NoWindow();
  return -1;
}

// Ctrl-C or SIGTERM at a safe point: both pictures, titled with the signal.
void PicturesAtStop() {
  graph::SnapshotIfOpen();
  curve_picture::WriteNow(summary::ReasonText(EndWay::Signal, InterruptSignal()));
}

[[noreturn]] void EndOnFailure(const RunOutcome &outcome) {
  switch (outcome.failure) {
  case Failure::IterationLimit:
    summary::WatchSolve(&outcome.trace, &outcome.solve);
    NoteFatalCause(FatalCause::IterationLimit);
    WriteMessageLine("ntial malo");
    FatalEnd(kIterationLimitStatus);
  case Failure::SingularMatrix:
    // The pause first, then the end as the division by zero of the row's
    // scale factor would give it.
    WriteMessageLine("pause in LUDCMP - singular matrix");
    WaitForEnter();
    NoteFatalCause(FatalCause::SingularMatrix);
    FatalRuntimeError(kDivisionByZero, kSingularMatrixStatus);
  case Failure::InvalidIntegratorCall:
    // The integrator's message is written already, in trajectory order.
    summary::NoteInvalidSegment(outcome.trace.invalidSegment);
    NoteFatalCause(FatalCause::InvalidIntegratorCall);
    FatalEnd(kInvalidIntegratorCallStatus);
  case Failure::StartNotSolved:
    summary::WatchSolve(&outcome.trace, &outcome.solve);
    NoteFatalCause(FatalCause::StartNotSolved);
    WriteMessageLine("no start on the curve");
    FatalEnd(kStartNotSolvedStatus);
  case Failure::None:
    break;
  }
  FatalEnd(outcome.status);
}

// The six programs' own runs keep the window exactly as it always was, its
// range fault included: no setting that moves the curve (the sweep, Newton's
// limits, the budgets), the natural continuation, a fresh start. --records,
// --threads, --dir and --no-window leave every point where it was. A program
// of one's own, or a run that goes elsewhere, has a frame not made for its
// curve: the window clips what it cannot show.
OffFrame OffFrameOf(const CommandLine &line, bool ownProgram) {
  const SettingOptions &o = line.settings;
  const bool settingsOwn = o.from || o.step || o.P1 || o.P2 || o.tolf || o.tolx || o.ntrial ||
                           o.budgets || o.relerr || o.abserr || o.minStep || o.maxStep ||
                           !o.params.empty();
  const bool asAlways = !ownProgram && !settingsOwn && !line.resume &&
                        o.strategy.value_or(Strategy::Natural) == Strategy::Natural;
  return asAlways ? OffFrame::RangeFault : OffFrame::Clip;
}

} // namespace

int ConcludeRun(const RunOutcome &outcome) {
  if (outcome.failure != Failure::None)
    EndOnFailure(outcome);
  return outcome.status;
}

int RunProgram(const ProgramDescription &program, int argc, const char *const *argv) {
  MakeStandardDescriptorsValid();
  const char *name = program.info.name.c_str();
  const CommandLine line = ParseCommandLine(argc, argv);
  const int answered = AnswerCommandLine(program, line);
  if (answered >= 0)
    return answered;
  if (const std::string error = program.settingsError(line.settings); !error.empty()) {
    Write(2, UsageError(name, error));
    return kUsageStatus;
  }
  if (!line.settings.special.startAt.empty() && !program.resume) {
    // Family A starts every pass from a fixed guess: there is no one start.
    Write(2, UsageError(name, "--start-at is not for this program: its passes start from fixed "
                              "guesses"));
    return kUsageStatus;
  }
  ConfiguredBody body = program.run;
  if (line.resume) {
    if (!program.resume)
      return RefuseResume(name);
    body = program.resume;
  }
  const bool ownProgram = program.info.ownProblem;
  StayRunningInBackground();
  InstallFaultHandling();
  InstallInterruptHandlers();
  SetInterruptWork(PicturesAtStop);
  EnterRunMode();
  progress::Start(name);
  summary::Start(name, ResultsPath(), BesidePath("ZANFEL.PNG"), BesidePath("ZANFEL.SVG"));
  if (line.resume)
    summary::CountRecordsInFile();
  curve_picture::Start(name, ownProgram ? "P" : "H");
  Hooks hooks;
  hooks.waitForEnter = progress::WaitForEnterShowingProgress;
  RunObserver observer(hooks, OffFrameOf(line, ownProgram));
  const int status = ConcludeRun(body(observer, line.settings));
  EndIfInterrupted(); // a stop that came after the last wait
  progress::EraseLine();
  RestoreTerminal();
  // A resume that did not start has said why on its one line: there is no
  // run to sum up.
  if (!line.resume || status == 0)
    SayLastWord(EndWay::Normal, status);
  return status;
}

} // namespace zanfel
