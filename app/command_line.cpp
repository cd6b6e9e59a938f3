#include "app/command_line.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "continuation/program_info.hpp"
#include "report/format.hpp"
#include "report/results_csv.hpp"
#include "report/text_file.hpp"

namespace zanfel {

namespace {

// More threads than trajectories in a Newton step never help; the bound only
// keeps a typing slip from starting thousands.
constexpr int kMaxThreads = 1024;

// Multiple shooting, which every program takes.
std::string SegmentsHelp() {
  return "  --segments M  multiple shooting: cut [0, 1] into M equal segments, from 1 to " +
         std::to_string(kSegmentCap) +
         "\n"
         "                (default: 1, single shooting); the node states are written\n"
         "                to ZANFEL.NODES; natural or arclength continuation\n"
         "  --nodes T1,... the same at chosen interior nodes, increasing inside (0, 1)\n";
}

std::string SettingsHelp(const ProgramInfo &d) {
  return "Settings over the built-in ones (each also as --name=VALUE; numbers are read\n"
         "exactly as decimal text and echoed at full precision in ZANFEL.CSV):\n"
         "  --from P0     start P of " +
         d.sweepMeaning + "\n                (default: " + ShortReal(d.from) +
         ")\n"
         "  --step DP     the step of P, its sign as in the rule above; not 0 (default:\n"
         "                " +
         ShortReal(d.sweep.DP) +
         ")\n"
         "  --range P1:P2 the sweep ends when P leaves [P1, P2]; P1 < P2 and P0 inside\n"
         "                (default: " +
         ShortReal(d.sweep.P1) + ":" + ShortReal(d.sweep.P2) +
         ")\n"
         "  --records N   stop each sweep after N records as a key would (default: no\n"
         "                limit); a stopped sweep can go on with --resume --records M\n"
         "  --tolf X      Newton's residual test: 1-norm at most X (default: " +
         ShortReal(d.solve.TOLF) +
         ")\n"
         "  --tolx X      Newton's correction test: 1-norm at most X (1 + |X[N]|)\n"
         "                (default: " +
         ShortReal(d.solve.TOLX) +
         ")\n"
         "  --ntrial N    Newton iterations before \"ntial malo\" ends the run; the step\n"
         "                shrinks after a solve of N iterations (default: " +
         std::to_string(d.solve.NTRIAL) +
         ")\n"
         "  --budgets K   a trajectory may use up to K budgets of integrator\n"
         "                evaluations before \"Cлишкoм много шагов\" (default: " +
         std::to_string(d.solve.budgets) +
         ")\n"
         "  --relerr X    the integrator's relative tolerance, above 1e-16\n"
         "                (default: " +
         ShortReal(d.solve.RELERR) +
         ")\n"
         "  --abserr X    the integrator's absolute tolerance (default: " +
         ShortReal(d.solve.ABSERR) + ")\n" + SegmentsHelp() +
         (d.params.empty() ? "" : "\n" + d.params);
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
  long n = 0;
  return text.size() <= 4 && ParseWholeNumber(text, 1, kMaxThreads, n) ? static_cast<int>(n) : 0;
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

// One of the settings over the program's table, in either form.
bool SettingOption(int argc, const char *const *argv, int &i, SettingOptions &o,
                   std::string &error) {
  for (std::string_view name : kSettingNames) {
    std::string value;
    if (!OptionValue(name, argc, argv, i, value, error))
      continue;
    if (error.empty())
      ParseSettingOption(name, value, o, error);
    return true;
  }
  for (std::string_view name : kSpecialNames) {
    std::string value;
    if (!OptionValue(name, argc, argv, i, value, error))
      continue;
    if (error.empty())
      ParseSpecialOption(name, value, o.special, error);
    return true;
  }
  return false;
}

// --check-digits, --check-digits K or --check-digits=K: a following
// argument that is not an option is its K.
bool CheckDigitsOption(int argc, const char *const *argv, int &i, SettingOptions &o,
                       std::string &error) {
  constexpr std::string_view name = "--check-digits";
  const std::string_view arg = argv[i];
  const char *value = nullptr;
  if (StartsWith(arg, name) && arg.size() > name.size() && arg[name.size()] == '=')
    value = argv[i] + name.size() + 1;
  else if (arg != name)
    return false;
  else if (i + 1 < argc && !StartsWith(argv[i + 1], "--"))
    value = argv[++i];
  error = ParseCheckDigits(value, o);
  return true;
}

} // namespace

CommandLine ParseCommandLine(int argc, const char *const *argv) {
  CommandLine line;
  bool help = false, version = false;
  std::vector<std::string> dirs; // every --dir given, each checked; the last counts
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
    } else if (arg == "--reverse") {
      line.settings.special.reverse = true;
    } else if (arg == "--switch") {
      line.settings.special.switchBranch = true;
    } else if (arg == "--branch-points") {
      line.settings.special.branchPoints = true;
    } else if (OptionValue("--dir", argc, argv, i, value, error)) {
      line.dir = value;
      dirs.push_back(value);
    } else if (CheckDigitsOption(argc, argv, i, line.settings, error)) {
    } else if (SettingOption(argc, argv, i, line.settings, error)) {
    } else if (OptionValue("--threads", argc, argv, i, value, error)) {
      line.threads = ThreadCount(value);
      if (error.empty() && line.threads == 0)
        error = "--threads wants a whole number from 1 to " + std::to_string(kMaxThreads) +
                ", not '" + value + "'";
    } else {
      error = "unknown argument '" + std::string(arg) + "'";
    }
  }
  for (std::size_t k = 0; k < dirs.size() && error.empty() && !help && !version; ++k)
    error = DirectoryError(dirs[k]);
  if (error.empty() && !line.resume)
    error = CombinationError(line.settings);
  if (error.empty() && line.resume &&
      (!line.settings.special.startAt.empty() || line.settings.special.reverse ||
       line.settings.special.switchBranch))
    error = "--start-at starts a new run; --resume goes on with the one here";
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

namespace {

// The error as one line: an argument may hold line ends and other control
// characters, which are shown as C escapes.
std::string OneLine(std::string_view text) {
  std::string line;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n')
      line += "\\n";
    else if (c == '\r')
      line += "\\r";
    else if (c == '\t')
      line += "\\t";
    else if (u < 0x20 || u == 0x7F) {
      static constexpr char kHex[] = "0123456789abcdef";
      line += "\\x";
      line += kHex[u >> 4];
      line += kHex[u & 15];
    } else
      line += c;
  }
  return line;
}

} // namespace

std::string UsageError(std::string_view program, std::string_view error) {
  const std::string p(program);
  return p + ": " + OneLine(error) + " (usage: " + p +
         " [--dir DIR] [--threads N] [--resume] [--no-window] [SETTINGS] [--help] [--version])\n";
}

std::string VersionText(std::string_view program) {
  return std::string(program) + " (ZANFEL) " + ProgramVersion() + "\n";
}

std::string HelpText(const ProgramInfo &info, bool resumes) {
  const std::string &p = info.name;
  const std::string defaultDir = DefaultResultsDirectory();
  const std::string where = defaultDir.empty() ? "the working directory" : defaultDir;
  return "Usage: " + p + " [--dir DIR] [--threads N] [--resume] [--no-window] [SETTINGS]\n" +
         "       " + p +
         " --continuation arclength [--min-step X] [--max-step X] [SETTINGS] ...\n" +
         "  or:  " + p + " --help | --version\n" +
         "Solve a two-point boundary-value problem by shooting (Newton's method over an\n"
         "adaptive Runge-Kutta-Fehlberg integrator, 80-bit arithmetic) and follow its\n"
         "solution along a parameter P.\n"
         "\n" +
         info.what +
         "\n"
         "\n"
         "Every continuation step appends a six-line record to the results file\n"
         "ZANFEL.RES and extends the curve in a graphics window (drawn off-screen when\n"
         "there is no display). The picture is saved as ZANFEL.PNG beside the results\n"
         "file when the sweep is over, and when the run ends early, together with\n"
         "ZANFEL.SVG, the whole curve scaled to its data, and ZANFEL.CSV, the records\n"
         "at full precision. Results of an earlier run there are kept first, as\n"
         "ZANFEL.RES.~N~ and so on. The program takes no input files; its settings are\n"
         "built in, and the options below change some of them for one run.\n"
         "\n"
         "A key in the terminal or in the window, or closing the window, ends the\n"
         "sweep. The program then waits for Enter (Return in the window or closing it\n"
         "answers too; no wait with --no-window), closes the window and ends. Ctrl-C\n"
         "or SIGTERM ends the run within a second, keeping every finished record and\n"
         "the picture; a second Ctrl-C ends it at once. On a terminal a last line\n"
         "tells how the run ended.\n"
         "\n"
         "Options:\n"
         "  --dir DIR     write ZANFEL.RES, .CSV, .PNG and .SVG in DIR, which must exist\n"
         "                (default: " +
         where +
         ")\n"
         "  --threads N   run the trajectories of a Newton step on N threads (default:\n"
         "                every CPU the program may use); the results are the same\n"
         "                bytes for every N\n" +
         std::string(
             resumes
                 ? "  --resume      go on with the sweep that ZANFEL.CSV and ZANFEL.RES in the\n"
                   "                results directory hold, after their last whole record, as\n"
                   "                if it had never stopped, with the settings and the way of\n"
                   "                continuation its ZANFEL.CSV records; settings given again\n"
                   "                must be the same\n"
                 : "  --resume      not for this program: its passes start from a fixed guess\n") +
         "  --continuation natural|arclength\n"
         "                natural (the default): P moves by its step and the unknowns\n"
         "                are solved for at each P; the sweep cannot pass a point where\n"
         "                the curve turns back in P. arclength: the unknowns and P are\n"
         "                solved for together a given distance along the curve, so the\n"
         "                sweep goes round such turning points (folds); each fold is\n"
         "                located and written as a record of its own (label fold1,\n"
         "                fold2, ... in ZANFEL.CSV, which gains the columns label and\n"
         "                s, the distance along the curve), marked on ZANFEL.SVG and\n"
         "                counted in the last\n"
         "                line. A failed solve halves the step and tries again; an easy\n"
         "                one doubles it. --resume goes on with such a sweep as it\n"
         "                went.\n"
         "  --min-step X  with arclength: the sweep ends when the step would fall below\n"
         "                X (default: the program's step/1024)\n"
         "  --max-step X  with arclength: the largest step (default: 10 times the\n"
         "                program's step)\n"
         "  --continuation fold --free NAME --start-at FILE:foldK\n"
         "                follow that fold in the plane of P and the model's parameter\n"
         "                NAME (see --param) along its arclength: every record a fold,\n"
         "                ZANFEL.CSV with a column NAME, ZANFEL.SVG NAME against P;\n"
         "                --reverse the other way; no --resume\n"
         "Special points (the CSV's label column names them: fold1, fold2, ...,\n"
         "branch1, ..., user1, user2, ... and end, the last record of every sweep;\n"
         "the summary counts them and a terminal gets a table of them at the end):\n"
         "  --at P1,P2,... a record at exactly each P the sweep passes (userK); along\n"
         "                the arclength one at every crossing\n"
         "  --profiles labelled|all|LIST\n"
         "                the whole solution y(t) of the labelled records, of all, or\n"
         "                of the record numbers and labels listed (2,fold1,end) in\n"
         "                ZANFEL.PROFILES.csv, drawn in ZANFEL.PROFILES.svg\n"
         "  --profile-component K\n"
         "                the component y_K the profile picture shows (default: 1)\n"
         "  --start-at FILE:REF\n"
         "                start from record REF (a number or a label) of an earlier\n"
         "                run's ZANFEL.CSV, with this run's settings\n"
         "  --reverse     with --start-at: go the other way from that record\n"
         "  --switch      with --start-at FILE:branchK and --continuation arclength:\n"
         "                follow the branch that crosses there instead, leaving along\n"
         "                its largest component upwards (--reverse: downwards)\n"
         "  --branch-points\n"
         "                a natural sweep looks for branch points too (the arclength\n"
         "                always does): where the Jacobian's determinant changes sign,\n"
         "                located in P and recorded as branchK\n"
         "  --check-digits [K]\n"
         "                solve the labelled records and the last of each sweep (with K\n"
         "                also the first and every K-th after it) once more, from the\n"
         "                record's unknowns, by a Gauss-Legendre integrator of order 16\n"
         "                at 1e-5 of the run's tolerances; ZANFEL.CSV gains the columns\n"
         "                digits (the significant digits the record has right) and\n"
         "                check_X1.. check_v (the checked values), and the last line\n"
         "                says to how many digits every checked record is right\n"
         "  --check-digits-precision 80|128\n"
         "                the check's arithmetic: 80-bit (the default) or binary128,\n"
         "                for runs more accurate than an 80-bit check can tell (a model\n"
         "                written over 80-bit reals alone, families A and B, is\n"
         "                checked in 80 bits, and the run says so)\n"
         "  --no-window   open no window even where there is a display (the pictures\n"
         "                are written all the same)\n"
         "  -h, --help    show this help and exit\n"
         "  -V, --version show the version and exit\n"
         "\n" +
         SettingsHelp(info) +
         "\n"
         "Exit status:\n"
         "  0         normal end: P left its range, a key, or --records\n"
         "  10        \"ntial malo\": Newton's method did not converge in NTRIAL\n"
         "            iterations; the sweep ended early (see --ntrial, --tolf, --tolx,\n"
         "            --budgets)\n"
         "  11        an invalid integrator call ended the run\n"
         "  12        singular matrix in Newton's method (reported as run-time error\n"
         "            200)\n"
         "  1         graphics could not be initialised (shoot_a1)\n"
         "  2         the results file could not be written: file not found\n"
         "  3         path not found\n"
         "  5         access denied\n"
         "  101       disk write error\n"
         "  64        a command line the program does not understand, or a setting\n"
         "            out of bounds (also --resume in shoot_a1 and shoot_a2)\n"
         "  65        --resume: the files are another program's or version's, disagree,\n"
         "            hold what no stopped run leaves, or a sweep that has already ended,\n"
         "            or a setting given differs from the run's own\n"
         "  66        --resume: no ZANFEL.CSV or ZANFEL.RES to read\n"
         "  74        --help or --version could not write their answer\n"
         "  200       run-time error: division by zero\n"
         "  201       run-time error: range check\n"
         "  205       run-time error: floating-point overflow\n"
         "  207       run-time error: invalid floating-point operation\n"
         "  215       run-time error: integer overflow\n"
         "  128+N     ended by signal N (130 for Ctrl-C, 143 for SIGTERM)\n";
}

} // namespace zanfel
