#include "app/run_program.hpp"

#include "app/command_line.hpp"
#include "app/curve_picture.hpp"
#include "app/progress.hpp"
#include "app/summary.hpp"
#include "continuation/resume.hpp"
#include "graph/graph.hpp"
#include "runtime/console.hpp"
#include "runtime/fault.hpp"
#include "runtime/stop_signal.hpp"
#include "runtime/write_all.hpp"
#include "shooting/trajectory_pool.hpp"

namespace zanfel {

namespace {

void Write(int fd, const std::string &text) {
  WriteAll(fd, text.data(), text.size());
}

// --help, --version and a wrong command line end here, before anything is
// opened or changed; -1 when the program is to run.
int AnswerCommandLine(const char *name, const CommandLine &line) {
  switch (line.action) {
  case CommandLine::Action::Help:
    Write(1, HelpText(name));
    return 0;
  case CommandLine::Action::Version:
    Write(1, VersionText(name));
    return 0;
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
  curve_picture::WriteNow(summary::ReasonText(EndWay::Signal, StopSignal()));
}

} // namespace

int RunProgram(const char *name, ProgramBody body, ProgramBody resumeBody, int argc,
               const char *const *argv) {
  MakeStandardDescriptorsValid();
  const CommandLine line = ParseCommandLine(argc, argv);
  const int answered = AnswerCommandLine(name, line);
  if (answered >= 0)
    return answered;
  if (line.resume) {
    if (!resumeBody)
      return RefuseResume(name);
    body = resumeBody;
  }
  StayRunningInBackground();
  InstallFaultHandling();
  InstallStopSignals();
  SetStopWork(PicturesAtStop);
  EnterRunMode();
  progress::Start(name);
  summary::Start(name, ResultsPath(), BesidePath("ZANFEL.PNG"), BesidePath("ZANFEL.SVG"));
  curve_picture::Start(name);
  Hooks hooks;
  hooks.waitForEnter = progress::WaitForEnterShowingProgress;
  RunObserver observer(hooks);
  const int status = body(observer);
  StopIfRequested(); // a stop that came after the last wait
  progress::EraseLine();
  RestoreTerminal();
  SayLastWord(EndWay::Normal, status);
  return status;
}

} // namespace zanfel
