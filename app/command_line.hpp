// The command line of the six programs: --help, --version, --dir DIR,
// --threads N, --resume, the settings over the program's table (--from,
// --step, --range, --records, --tolf, --tolx, --ntrial, --budgets) and the
// way of continuation (--continuation, --min-step, --max-step). Without
// arguments a program runs as it always has.
#pragma once

#include <string>
#include <string_view>

#include "continuation/program_info.hpp"
#include "continuation/settings.hpp"

namespace zanfel {

// The exit status of a command line the program does not understand.
constexpr int kUsageStatus = 64;
// --help or --version could not write their answer.
constexpr int kOutputErrorStatus = 74;

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  std::string dir;         // results directory; empty: the build-time one
  int threads = 0;         // trajectory threads; 0: every CPU the process may use
  bool resume = false;     // go on with the sweep of ZANFEL.CSV
  bool noWindow = false;   // no window even where a display is
  SettingOptions settings; // over the program's table, the way of continuation too
  std::string error;
};

// Reads the arguments after the program name. Looks at the file system only
// to see that the directory of --dir exists; changes nothing.
CommandLine ParseCommandLine(int argc, const char *const *argv);

// What --help and --version print on standard output: the program as it
// describes itself, and whether it can resume.
std::string HelpText(const ProgramInfo &info, bool resumes);
std::string VersionText(std::string_view program);
// The line printed on standard error for a wrong command line.
std::string UsageError(std::string_view program, std::string_view error);

} // namespace zanfel
