#include "app/command_line.hpp"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "report/results_csv.hpp"
#include "report/text_file.hpp"

namespace zanfel {

namespace {

// More threads than trajectories in a Newton step never help; the bound only
// keeps a typing slip from starting thousands.
constexpr int kMaxThreads = 1024;

// What each program computes, for --help.
struct ProgramText {
  std::string_view name;
  std::string_view sweep;
};

constexpr ProgramText kPrograms[] = {
    {"shoot_a1", "Family A with 4 unknowns: 11 passes with the scale H = P prescribed (P from 0.1\n"
                 "upwards by 0.02), then 14 passes with y3(0) = P prescribed and H solved for\n"
                 "(P from -1.72113378 upwards by 0.02). The curve is y2(1) against H. The\n"
                 "results file is created anew for every pass and keeps the last one."},
    {"shoot_a2", "Family A with 5 unknowns: two passes with y3(0) = P prescribed and H solved\n"
                 "for, P from 0.09484164 upwards by 0.0001. The curve is y2(1) against H."},
    {"shoot_b1", "Family B with 9 unknowns: y3(0) = P from 0.11893163 upwards by 0.01, with H\n"
                 "and the H-derivatives of the solution solved for. The curve is dy8(1)/dH\n"
                 "against H."},
    {"shoot_b2", "Family B with 9 unknowns: y3(0) = P from -3.59233618 upwards by 0.01, with H\n"
                 "and the H-derivatives of the solution solved for. The curve is dy8(1)/dH\n"
                 "against H."},
    {"shoot_c1", "Family C with 4 unknowns: H = P from 1.11364898 upwards by 0.01 to 15,\n"
                 "solving for the second H-derivatives of a known base solution. The curve is\n"
                 "y2(1) against H."},
    {"shoot_c2", "Family C with 4 unknowns: H = P from 1.04437262 upwards by 0.01 to 15,\n"
                 "solving for the second H-derivatives of a known base solution. The curve is\n"
                 "y2(1) against H."},
};

std::string_view SweepText(std::string_view program) {
  for (const auto &p : kPrograms)
    if (p.name == program)
      return p.sweep;
  return "";
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The value of an option given as "--name value" or "--name=value"; false
// when the option is another one.
bool OptionValue(std::string_view name, int argc, const char *const *argv, int &i,
                 std::string &value, std::string &error) {
  const std::string_view arg = argv[i];
  if (arg == name) {
    if (i + 1 >= argc) {
      error = "option " + std::string(name) + " needs a value";
      return true;
    }
    value = argv[++i];
    return true;
  }
  if (StartsWith(arg, name) && arg.size() > name.size() && arg[name.size()] == '=') {
    value = std::string(arg.substr(name.size() + 1));
    return true;
  }
  return false;
}

// A whole number from 1 to kMaxThreads, or 0.
int ThreadCount(const std::string &text) {
  if (text.empty() || text.size() > 4)
    return 0;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return 0;
    n = n * 10 + (c - '0');
  }
  return n <= kMaxThreads ? n : 0;
}

std::string DirectoryError(const std::string &dir) {
  struct stat st {};
  if (dir.empty())
    return "option --dir needs a directory";
  if (stat(dir.c_str(), &st) != 0)
    return "--dir " + dir + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode))
    return "--dir " + dir + ": not a directory";
  return "";
}

} // namespace

CommandLine ParseCommandLine(int argc, const char *const *argv) {
  CommandLine line;
  bool help = false, version = false, haveDir = false;
  std::string error;
  for (int i = 1; i < argc && error.empty(); ++i) {
    const std::string_view arg = argv[i];
    std::string value;
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version" || arg == "-V") {
      version = true;
    } else if (arg == "--resume") {
      line.resume = true;
    } else if (arg == "--no-window") {
      line.noWindow = true;
    } else if (OptionValue("--dir", argc, argv, i, value, error)) {
      line.dir = value;
      haveDir = true;
    } else if (OptionValue("--threads", argc, argv, i, value, error)) {
      line.threads = ThreadCount(value);
      if (error.empty() && line.threads == 0)
        error = "--threads wants a whole number from 1 to " + std::to_string(kMaxThreads) +
                ", not '" + value + "'";
    } else {
      error = "unknown argument '" + std::string(arg) + "'";
    }
  }
  if (error.empty() && !help && !version && haveDir)
    error = DirectoryError(line.dir);
  if (!error.empty()) {
    line.action = CommandLine::Action::Error;
    line.error = error;
  } else if (help) {
    line.action = CommandLine::Action::Help;
  } else if (version) {
    line.action = CommandLine::Action::Version;
  }
  return line;
}

std::string UsageError(std::string_view program, std::string_view error) {
  const std::string p(program);
  return p + ": " + std::string(error) + " (usage: " + p +
         " [--dir DIR] [--threads N] [--resume] [--no-window] [--help] [--version])\n";
}

std::string VersionText(std::string_view program) {
  return std::string(program) + " (ZANFEL) " + ProgramVersion() + "\n";
}

std::string HelpText(std::string_view program) {
  const std::string p(program);
  const std::string defaultDir = DefaultResultsDirectory();
  const std::string where = defaultDir.empty() ? "the working directory" : defaultDir;
  return "Usage: " + p + " [--dir DIR] [--threads N] [--resume] [--no-window]\n" + "  or:  " + p +
         " --help | --version\n" +
         "Solve a two-point boundary-value problem by shooting (Newton's method over an\n"
         "adaptive Runge-Kutta-Fehlberg integrator, 80-bit arithmetic) and follow its\n"
         "solution along a parameter P.\n"
         "\n" +
         std::string(SweepText(program)) +
         "\n"
         "\n"
         "Every continuation step appends a six-line record to the results file\n"
         "ZANFEL.RES and extends the curve in a graphics window (drawn off-screen when\n"
         "there is no display). The picture is saved as ZANFEL.PNG beside the results\n"
         "file when the window closes, and when the run ends early, together with\n"
         "ZANFEL.SVG, the whole curve scaled to its data, and ZANFEL.CSV, the records\n"
         "at full precision. Results of an earlier run there are kept first, as\n"
         "ZANFEL.RES.~N~ and so on. The program takes no input files; all its\n"
         "settings are built in.\n"
         "\n"
         "A key in the terminal or in the window, or closing the window, ends the\n"
         "sweep. The program then waits for Enter (Return in the window or closing it\n"
         "answers too), closes the window and ends. Ctrl-C or SIGTERM ends the run\n"
         "within a second, keeping every finished record and the picture; a second\n"
         "Ctrl-C ends it at once. On a terminal a last line tells how the run ended.\n"
         "\n"
         "Options:\n"
         "  --dir DIR     write ZANFEL.RES, .CSV, .PNG and .SVG in DIR, which must exist\n"
         "                (default: " +
         where +
         ")\n"
         "  --threads N   run the trajectories of a Newton step on N threads (default:\n"
         "                every CPU the program may use); the results are the same\n"
         "                bytes for every N\n"
         "  --resume      go on with the sweep that ZANFEL.CSV and ZANFEL.RES in the\n"
         "                results directory hold, after their last whole record, as\n"
         "                if it had never stopped (shoot_b1, b2, c1, c2)\n"
         "  --no-window   open no window even where there is a display (the pictures\n"
         "                are written all the same)\n"
         "  -h, --help    show this help and exit\n"
         "  -V, --version show the version and exit\n"
         "\n"
         "Exit status:\n"
         "  0         normal end; also the ends after \"ntial malo\" (Newton's method did\n"
         "            not converge in 100 iterations) and an invalid integrator call\n"
         "  1         graphics could not be initialised (shoot_a1)\n"
         "  2         the results file could not be written: file not found\n"
         "  3         path not found\n"
         "  5         access denied\n"
         "  101       disk write error\n"
         "  64        a command line the program does not understand (also --resume\n"
         "            in shoot_a1 and shoot_a2)\n"
         "  65        --resume: the files are another program's or version's, disagree,\n"
         "            or hold a sweep that has already ended\n"
         "  66        --resume: no ZANFEL.CSV or ZANFEL.RES to read\n"
         "  200       run-time error: division by zero (also a singular matrix)\n"
         "  201       run-time error: range check\n"
         "  205       run-time error: floating-point overflow\n"
         "  207       run-time error: invalid floating-point operation\n"
         "  215       run-time error: integer overflow\n"
         "  128+N     ended by signal N (130 for Ctrl-C, 143 for SIGTERM)\n";
}

} // namespace zanfel
