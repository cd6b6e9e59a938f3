#include "app/summary.hpp"
#include "runtime/write_all.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/curve_picture.hpp"
#include "graph/graph.hpp"
#include "nonlinear/limit_reason.hpp"
#include "report/check_columns.hpp"
#include "report/format.hpp"
#include "runtime/end_cause.hpp"

namespace zanfel::summary {

namespace {

// Written in normal code, read by the last word, which may run in a signal
// handler: fixed storage only, nothing allocated while it is read.
char programName[64] = "ZANFEL";
char resultsFile[4096] = "";
char pictureFile[4096] = "";
char svgFile[4096] = "";
char svgName[256] = "";
char pText[48] = "";
REAL lastP = 0.0L;
bool havePText = false;
volatile long recordCount = 0;
volatile long foldCount = -1;  // not counted: no fold can be passed
volatile long userCount = -1;  // not counted: --at names no value
volatile long branchCount = 0; // said only when one is found
// The labelled records so far, one line each, and the last record's line,
// which the table shows as the end.
char labelTable[8192] = "";
volatile size_t labelTableSize = 0;
char lastRecordLine[160] = "";
CheckTally checks; // of the records checked, written before the line reads it
volatile long runRecordCount = 0;
volatile int passCount = 1;
volatile sig_atomic_t countInFile = 0; // the records are those the file holds
const char *volatile sweepEnd = nullptr;
bool stderrIsTerminal = false;
const NewtonTrace *watchedTrace = nullptr;
const SolveSettings *watchedSolve = nullptr;
char limitDetail[512] = "";
char settingsChange[512] = "";   // "from record 124: --budgets 16 (was 4)"
volatile int invalidSegment = 0; // the segment of an invalid integrator call; 0: none

void Copy(char *to, size_t size, std::string_view from) {
  const size_t n = from.size() < size - 1 ? from.size() : size - 1;
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

std::string Absolute(const std::string &path) {
  if (path.empty() || path[0] == '/')
    return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd))
    return path;
  return std::string(cwd) + "/" + path;
}

// Appends to a fixed buffer; async-signal-safe.
class Line {
public:
  Line(char *buf, size_t size) : buf_(buf), size_(size) {}
  Line &operator<<(const char *s) {
    while (*s && n_ + 1 < size_)
      buf_[n_++] = *s++;
    return *this;
  }
  Line &operator<<(long v) {
    char digits[24];
    int k = 0;
    unsigned long u = v < 0 ? 0ul : static_cast<unsigned long>(v);
    do
      digits[k++] = static_cast<char>('0' + u % 10);
    while ((u /= 10) != 0 && k < 24);
    while (k > 0 && n_ + 1 < size_)
      buf_[n_++] = digits[--k];
    return *this;
  }
  size_t Size() const { return n_; }

private:
  char *buf_;
  size_t size_;
  size_t n_ = 0;
};

const char *SignalName(int sig) {
  switch (sig) {
  case SIGINT:
    return "interrupted (SIGINT)";
  case SIGTERM:
    return "terminated (SIGTERM)";
  case SIGHUP:
    return "hang-up (SIGHUP)";
  case SIGQUIT:
    return "quit (SIGQUIT)";
  case SIGPIPE:
    return "broken pipe (SIGPIPE)";
  case SIGXFSZ:
    return "file-size limit (SIGXFSZ)";
  case SIGALRM:
    return "alarm (SIGALRM)";
  case SIGUSR1:
    return "SIGUSR1";
  case SIGUSR2:
    return "SIGUSR2";
  default:
    return nullptr;
  }
}

// " at P = ...: <why the solve gave out>", as far as it is known.
void AtPBecause(Line &line) {
  if (havePText)
    line << " at P = " << pText;
  if (limitDetail[0])
    line << ": " << limitDetail;
}

void Reason(Line &line, EndWay way, int code) {
  switch (way) {
  case EndWay::Normal: {
    const char *why = sweepEnd;
    line << (why ? why : "finished");
    return;
  }
  case EndWay::RuntimeError:
    if (NotedFatalCause() == FatalCause::SingularMatrix) {
      line << "singular matrix";
      if (havePText)
        line << " at P = " << pText;
      line << " (run-time error " << long(code) << ")";
      return;
    }
    line << "run-time error " << long(code);
    return;
  case EndWay::Signal:
    if (const char *name = SignalName(code))
      line << name;
    else
      line << "signal " << long(code);
    return;
  case EndWay::Fatal:
    break;
  }
  switch (NotedFatalCause()) {
  case FatalCause::IterationLimit:
    line << "iteration limit";
    AtPBecause(line);
    return;
  case FatalCause::InvalidIntegratorCall:
    line << "invalid integrator call";
    if (invalidSegment > 0)
      line << " in segment " << long(invalidSegment);
    return;
  case FatalCause::StartNotSolved:
    line << "no start on the curve";
    AtPBecause(line);
    return;
  case FatalCause::SingularMatrix:
  case FatalCause::Unknown:
    break;
  }
  if (code == 1)
    line << "graphics could not be initialised";
  else
    line << "ended with status " << long(code);
}

// The whole records the results file holds, six CR LF lines each, read
// from the file itself (0 when it cannot be read). Async-signal-safe.
long RecordsInFile() {
  const int fd = open(resultsFile, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0)
    return 0;
  struct stat st {};
  long lines = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buf[8192];
    bool afterCr = false;
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
      for (ssize_t i = 0; i < n; ++i) {
        lines += afterCr && buf[i] == '\n';
        afterCr = buf[i] == '\r';
      }
  }
  close(fd);
  return lines / 6;
}

// One line of the table of labelled records.
std::string TableLine(std::string_view label, REAL P, REAL value) {
  char line[160];
  std::snprintf(line, sizeof line, "  %-8.*s %22.15Lg %22.15Lg\n", int(label.size()), label.data(),
                P, value);
  return line;
}

// The table of the labelled records, the last one as the end, before the
// summary line. Async-signal-safe.
void SayLabelTable() {
  if (labelTableSize == 0 && !lastRecordLine[0])
    return;
  static constexpr char kHead[] = "  label                         P                  value\n";
  WriteAll(2, kHead, sizeof kHead - 1);
  WriteAll(2, labelTable, labelTableSize);
  WriteAll(2, lastRecordLine, std::strlen(lastRecordLine));
}

// The last word: on standard error when that is a terminal.
void SayOnTerminal(EndWay way, int code) {
  if (!stderrIsTerminal)
    return;
  SayLabelTable();
  char buf[10240];
  size_t n = Compose(buf, sizeof buf - 1, way, code);
  buf[n++] = '\n';
  WriteAll(2, buf, n);
}

} // namespace

void Start(std::string_view program, const std::string &resultsPath, const std::string &picturePath,
           const std::string &svgPath) {
  Copy(programName, sizeof programName, program);
  Copy(resultsFile, sizeof resultsFile, Absolute(resultsPath));
  Copy(pictureFile, sizeof pictureFile, Absolute(picturePath));
  Copy(svgFile, sizeof svgFile, Absolute(svgPath));
  Copy(svgName, sizeof svgName, svgPath.substr(svgPath.rfind('/') + 1));
  stderrIsTerminal = isatty(2) == 1;
  SetLastWordHook(SayOnTerminal);
}

const char *NotedSweepEnd() {
  return sweepEnd;
}

void WatchSolve(const NewtonTrace *trace, const SolveSettings *solve) {
  watchedTrace = trace;
  watchedSolve = solve;
}

void NoteInvalidSegment(int segment) {
  invalidSegment = segment;
}

void ExplainIterationLimit() {
  if (!watchedTrace || !watchedSolve)
    return;
  // A solve that stopped before its last iteration was stopped by a
  // trajectory, whose message is on the console.
  const bool limit = watchedTrace->iterations >= watchedSolve->NTRIAL;
  Copy(limitDetail, sizeof limitDetail,
       limit ? IterationLimitDetail(DiagnoseIterationLimit(*watchedTrace, *watchedSolve))
             : std::string("a trajectory of its solve did not reach its end (the message above)"));
}

void CountRecordsInFile() {
  countInFile = 1;
}

void NoteRecords(long records, long inRun, int passes) {
  countInFile = 0;
  recordCount = records;
  runRecordCount = inRun;
  passCount = passes;
}

void NoteP(REAL P) {
  if (havePText && SameBits(P, lastP))
    return;
  lastP = P;
  const std::string text = Fixed(P, 12, 8);
  const size_t digits = text.find_first_not_of(' ');
  Copy(pText, sizeof pText, digits == std::string::npos ? text : text.substr(digits));
  havePText = true;
}

const char *NotedPText() {
  return pText;
}

void NoteSettingsChange(long fromRecord, const std::string &changes) {
  Copy(settingsChange, sizeof settingsChange,
       "from record " + std::to_string(fromRecord) + ": " + changes);
}

void CountFolds() {
  if (foldCount < 0)
    foldCount = 0;
}

void CountUserPoints() {
  if (userCount < 0)
    userCount = 0;
}

void NoteUserPoint() {
  if (userCount >= 0)
    userCount = userCount + 1;
}

void NoteLabelledRecord(std::string_view label, REAL P, REAL value) {
  if (label.empty()) {
    Copy(lastRecordLine, sizeof lastRecordLine, TableLine("end", P, value));
    return;
  }
  const std::string line = TableLine(label, P, value);
  if (labelTableSize + line.size() >= sizeof labelTable)
    return; // the table shows the first ones
  std::memcpy(labelTable + labelTableSize, line.data(), line.size());
  labelTableSize = labelTableSize + line.size();
  Copy(lastRecordLine, sizeof lastRecordLine, "");
}

void NoteBranchPoint() {
  branchCount = branchCount + 1;
}

void NoteFold() {
  if (foldCount >= 0)
    foldCount = foldCount + 1;
}

void NoteCheck(int digits) {
  checks.Note(digits);
}

void NoteSweepEnd(const char *why) {
  sweepEnd = why;
}

std::string ReasonText(EndWay way, int code) {
  char buf[1024];
  Line line(buf, sizeof buf);
  Reason(line, way, code);
  return std::string(buf, line.Size());
}

size_t Compose(char *buf, size_t size, EndWay way, int code) {
  Line line(buf, size);
  line << programName << ": ";
  Reason(line, way, code);
  const long records = countInFile ? RecordsInFile() : recordCount;
  line << "; ";
  // Counted as the pictures count them: over the whole run.
  const long inRun = !countInFile && runRecordCount > records ? runRecordCount : records;
  if (inRun == 0)
    line << "no records";
  else
    line << inRun << (inRun == 1 ? " record" : " records");
  if (passCount > 1)
    line << " in " << long(passCount) << " passes";
  if (inRun > records) // the file keeps the last pass only
    line << ", the last pass's " << records;
  line << " in ";
  line << resultsFile << "; ";
  if (settingsChange[0])
    line << "other settings " << settingsChange << "; ";
  if (const long folds = foldCount; folds >= 0)
    line << folds << (folds == 1 ? " fold passed; " : " folds passed; ");
  if (const long branches = branchCount; branches > 0)
    line << branches << (branches == 1 ? " branch point; " : " branch points; ");
  if (const long users = userCount; users >= 0)
    line << users << (users == 1 ? " user point; " : " user points; ");
  if (checks.checked > 0) {
    if (checks.checked > checks.failed)
      line << "records right to at least " << long(checks.least) << " digits ";
    line << "(checked: " << checks.checked << " of " << inRun;
    if (checks.failed > 0)
      line << ", " << checks.failed << " failed";
    line << "); ";
  }
  const bool png = graph::PictureSaved();
  const bool svg = curve_picture::Saved();
  if (png && svg)
    line << "pictures " << pictureFile << " and " << svgName;
  else if (png || svg)
    line << "picture " << (png ? pictureFile : svgFile);
  else
    line << "no picture";
  return line.Size();
}

std::string WaitingText() {
  char buf[10240];
  return std::string(buf, Compose(buf, sizeof buf, EndWay::Normal, 0));
}

} // namespace zanfel::summary
