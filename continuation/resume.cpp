#include "continuation/resume.hpp"

#include <cerrno>
#include <cstring>
#include <type_traits>

#include "report/csv.hpp"
#include "runtime/write_all.hpp"

namespace zanfel {

int CannotResume(std::string_view program, int status, std::string_view why) {
  const std::string line = std::string(program) + ": cannot resume: " + std::string(why) + '\n';
  WriteAll(2, line.data(), line.size());
  return status;
}

int RefuseResume(std::string_view program) {
  // Family A starts every pass from a fixed guess, and shoot_a1 empties its
  // results file at each one: there is no long sweep to go on with.
  return CannotResume(program, kResumeUnsupported,
                      "only shoot_b1, shoot_b2, shoot_c1 and shoot_c2 can resume; run " +
                          std::string(program) + " without --resume");
}

namespace {

// The part of a conflict message for one setting; "" when they agree.
std::string Conflict(std::string_view name, const std::optional<REAL> &given, REAL recorded) {
  if (!given || *given == recorded)
    return "";
  return std::string(name) + " " + ShortReal(*given) + " is not this run's " + ShortReal(recorded);
}

std::string Conflict(std::string_view name, const std::optional<Strategy> &given,
                     Strategy recorded) {
  if (!given || *given == recorded)
    return "";
  const auto text = [](Strategy s) { return s == Strategy::Arclength ? "arclength" : "natural"; };
  return std::string(name) + " " + text(*given) + " is not this run's " + text(recorded);
}

// A step bound given against the recorded one (0: the default).
std::string Conflict(std::string_view name, const std::optional<REAL> &given, REAL recorded,
                     std::string_view byDefault) {
  if (!given || *given == recorded)
    return "";
  return std::string(name) + " " + ShortReal(*given) + " is not this run's " +
         (recorded > 0.0L ? ShortReal(recorded) : std::string(byDefault));
}

} // namespace

std::string SettingsConflict(REAL from, const SweepSettings &sweep,
                             const ContinuationChoice &continuation, const SettingOptions &given) {
  std::string range;
  if (given.P1 && (*given.P1 != sweep.P1 || *given.P2 != sweep.P2))
    range = "--range " + ShortReal(*given.P1) + ":" + ShortReal(*given.P2) + " is not this run's " +
            ShortReal(sweep.P1) + ":" + ShortReal(sweep.P2);
  for (const std::string &c :
       {Conflict("--from", given.from, from), Conflict("--step", given.step, sweep.DP), range,
        Conflict("--continuation", given.strategy, continuation.strategy),
        Conflict("--min-step", given.minStep, continuation.minStep, "default |DP|/1024"),
        Conflict("--max-step", given.maxStep, continuation.maxStep, "default 10|DP|")})
    if (!c.empty())
      return c + " (ZANFEL.CSV keeps the run's settings; give the same or none)";
  return "";
}

std::string CutsConflict(const SegmentCuts &recorded, const SettingOptions &given) {
  if (!given.cuts || SameCuts(*given.cuts, recorded))
    return "";
  const auto text = [](const SegmentCuts &c) {
    return c.Multiple() ? SegmentCutsText(c).substr(1) : std::string("one segment");
  };
  return text(*given.cuts) + " is not this run's " + text(recorded) +
         " (ZANFEL.CSV keeps the run's settings; give the same or none)";
}

namespace {

// One solver setting given over the one in force: its new value, and the
// part of the change's description ("--budgets 16 (was 4)").
template <class T, class U>
void Change(std::string &changes, std::string_view name, const std::optional<T> &given,
            U &inForce) {
  if (!given || static_cast<U>(*given) == inForce)
    return;
  const auto text = [](auto v) {
    if constexpr (std::is_floating_point_v<decltype(v)>)
      return ShortReal(v);
    else
      return std::to_string(v);
  };
  changes += (changes.empty() ? "" : ", ") + std::string(name) + " " + text(*given) + " (was " +
             text(inForce) + ")";
  inForce = static_cast<U>(*given);
}

} // namespace

std::string ChangeSolverSettings(SolveSettings &solve, const SettingOptions &given) {
  std::string changes;
  Change(changes, "--tolf", given.tolf, solve.TOLF);
  Change(changes, "--tolx", given.tolx, solve.TOLX);
  Change(changes, "--ntrial", given.ntrial, solve.NTRIAL);
  Change(changes, "--budgets", given.budgets, solve.budgets);
  Change(changes, "--relerr", given.relerr, solve.RELERR);
  Change(changes, "--abserr", given.abserr, solve.ABSERR);
  return changes;
}

int ReadResumeFiles(std::string_view program, TextFile &res, TextFile &csv, ResumeFiles &files) {
  // The results file's lock first: a run that holds it is still writing
  // both files, and nothing read before the lock could be trusted.
  res.Assign(ResultsPath());
  if (const int error = res.TakeExisting(files.res))
    return CannotResume(program, kResumeNoInput,
                        ResultsPath() + ": " + std::strerror(error) +
                            (error == ENOENT ? " (no stopped sweep here to go on with)" : ""));
  csv.Assign(CsvPath());
  if (const int error = csv.TakeExisting(files.csv))
    return CannotResume(program, kResumeNoInput,
                        CsvPath() + ": " + std::strerror(error) +
                            (error == ENOENT ? " (no stopped sweep here to go on with)" : ""));
  std::size_t at = 0;
  while (at < files.csv.size() && files.csv[at] == '#') {
    const std::size_t end = files.csv.find('\n', at);
    at = end == std::string::npos ? files.csv.size() : end + 1;
  }
  const std::string_view comments = std::string_view(files.csv).substr(0, at);
  const std::string writer = HeadValue(comments, "program");
  if (writer != program)
    return CannotResume(
        program, kResumeBadData,
        CsvPath() + " was written by " +
            (writer.empty() ? std::string("no program of this system") : Printable(writer)));
  const std::string version = HeadValue(comments, "version");
  if (version != ProgramVersion())
    return CannotResume(program, kResumeBadData,
                        CsvPath() + " was written by version " + Printable(version) +
                            ", this is version " + ProgramVersion());
  files.header = at;
  const std::size_t headerEnd = files.csv.find('\n', at);
  files.firstRow = headerEnd == std::string::npos ? files.csv.size() : headerEnd + 1;
  files.settings = HeadValue(comments, "settings");
  // The note of an early end closes the file; the resume writes over it.
  static constexpr std::string_view kEndNote = "# ended early: ";
  const std::size_t lastLine =
      files.csv.rfind('\n', files.csv.size() >= 2 ? files.csv.size() - 2 : 0);
  if (lastLine != std::string::npos && lastLine + 1 >= files.firstRow &&
      std::string_view(files.csv).substr(lastLine + 1).starts_with(kEndNote) &&
      files.csv.back() == '\n')
    files.csv.resize(lastLine + 1);
  return 0;
}

int CheckHeaderRow(std::string_view program, const ResumeFiles &files,
                   const std::vector<std::string> &columns) {
  const std::string header = CsvHeaderRow(columns);
  if (files.csv.compare(files.header, files.firstRow - files.header, header) != 0)
    return CannotResume(program, kResumeBadData,
                        CsvPath() + ": the header row is not the one this program writes");
  return 0;
}

std::string Printable(std::string_view text) {
  static constexpr std::size_t kShown = 40;
  std::string shown;
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      shown += static_cast<char>(c);
      continue;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    shown += "\\x";
    shown += kHex[c >> 4];
    shown += kHex[c & 15];
  }
  if (text.size() > kShown)
    shown += "... (" + std::to_string(text.size()) + " bytes)";
  return shown;
}

bool IsSettingsLinePrefix(std::string_view tail) {
  static constexpr std::size_t kLongest = 4096;
  return tail.find('\n') == std::string_view::npos && tail.size() < kLongest &&
         (kSettingsFromRow.starts_with(tail) || tail.starts_with(kSettingsFromRow));
}

bool IsRowPrefix(std::string_view tail, const std::vector<CsvColumn> &columns) {
  // The longest field FullReal writes, with room for a long integer.
  static constexpr std::size_t kLongestField = 32;
  if (tail.find('\n') != std::string_view::npos || tail.size() > kLongestField * columns.size())
    return false;
  const std::vector<std::string_view> fields = SplitFields(tail);
  if (fields.size() > columns.size())
    return false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string_view f = fields[i];
    const bool torn = i + 1 == fields.size(); // the field the tear went through
    if (columns[i].type == FieldType::Label) {
      RecordLabel label;
      if (torn ? !IsLabelPrefix(f) : !ParseLabel(f, label))
        return false;
      continue;
    }
    if (columns[i].type == FieldType::Check) {
      if (!IsCheckFieldPrefix(f, torn))
        return false;
      if (torn)
        return true;
      continue;
    }
    if (f.find_first_not_of("0123456789.e+-") != std::string_view::npos)
      return false;
    if (torn)
      return true;
    REAL real;
    long integer;
    if (columns[i].type == FieldType::Real ? !ParseReal(f, real) : !ParseLong(f, integer))
      return false;
  }
  return true;
}

namespace {

// A line with its numbers taken out: what every record of a program shares
// there ("h:=x[]:=", "v=DG=").
std::string Labels(std::string_view line) {
  std::string labels;
  for (char c : line)
    if (std::string_view("0123456789.+- ").find(c) == std::string_view::npos)
      labels += c;
  return labels;
}

} // namespace

bool IsRecordPrefix(std::string_view tail, std::string_view model) {
  if (tail.size() > 2 * model.size())
    return false;
  std::size_t at = 0, modelAt = 0;
  while (at < tail.size()) {
    const std::size_t end = tail.find("\r\n", at);
    const std::size_t modelEnd = model.find("\r\n", modelAt);
    if (modelEnd == std::string_view::npos)
      return false; // more lines than a record has
    const std::string labels =
        Labels(tail.substr(at, end == std::string_view::npos ? tail.size() - at : end - at));
    const std::string modelLabels = Labels(model.substr(modelAt, modelEnd - modelAt));
    if (end == std::string_view::npos) // a line cut short, perhaps inside its CR LF
      return std::string_view(modelLabels + '\r').starts_with(labels);
    if (labels != modelLabels)
      return false;
    at = end + 2;
    modelAt = modelEnd + 2;
  }
  return true;
}

} // namespace zanfel
