#include "continuation/resume.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/write_all.hpp"

namespace zanfel {

namespace {

// The whole file, or the system's error number and reason why not (0 when read).
int ReadWhole(const std::string &path, std::string &bytes, std::string &why) {
  int fd;
  do
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    why = path + ": " + std::strerror(error);
    return error;
  }
  bytes.clear();
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      const int error = errno;
      why = path + ": " + std::strerror(error);
      ::close(fd);
      return error;
    }
    if (n == 0)
      break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}

// The value of the "# key: value" line of the head, or "" when there is none.
std::string HeadValue(std::string_view comments, std::string_view key) {
  const std::string prefix = "# " + std::string(key) + ": ";
  for (std::size_t at = 0; at < comments.size();) {
    std::size_t end = comments.find('\n', at);
    if (end == std::string_view::npos)
      end = comments.size();
    const std::string_view line = comments.substr(at, end - at);
    if (line.starts_with(prefix))
      return std::string(line.substr(prefix.size()));
    at = end + 1;
  }
  return "";
}

} // namespace

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

std::string Conflict(std::string_view name, const std::optional<long> &given, long recorded) {
  if (!given || *given == recorded)
    return "";
  return std::string(name) + " " + std::to_string(*given) + " is not this run's " +
         std::to_string(recorded);
}

} // namespace

std::string SettingsConflict(REAL from, const SweepSettings &sweep, const SolveSettings &solve,
                             const SettingOptions &given) {
  std::string range;
  if (given.P1 && (*given.P1 != sweep.P1 || *given.P2 != sweep.P2))
    range = "--range " + ShortReal(*given.P1) + ":" + ShortReal(*given.P2) + " is not this run's " +
            ShortReal(sweep.P1) + ":" + ShortReal(sweep.P2);
  for (const std::string &c :
       {Conflict("--from", given.from, from), Conflict("--step", given.step, sweep.DP), range,
        Conflict("--tolf", given.tolf, solve.TOLF), Conflict("--tolx", given.tolx, solve.TOLX),
        Conflict("--ntrial", given.ntrial, solve.NTRIAL),
        Conflict("--budgets", given.budgets, solve.budgets)})
    if (!c.empty())
      return c + " (ZANFEL.CSV keeps the run's settings; give the same or none)";
  return "";
}

int ReadResumeFiles(std::string_view program, const std::vector<std::string> &columns,
                    ResumeFiles &files) {
  std::string why;
  if (const int error = ReadWhole(CsvPath(), files.csv, why))
    return CannotResume(program, kResumeNoInput,
                        error == ENOENT ? why + " (no stopped sweep here to go on with)" : why);
  std::size_t at = 0;
  while (at < files.csv.size() && files.csv[at] == '#') {
    const std::size_t end = files.csv.find('\n', at);
    at = end == std::string::npos ? files.csv.size() : end + 1;
  }
  const std::string_view comments = std::string_view(files.csv).substr(0, at);
  const std::string writer = HeadValue(comments, "program");
  if (writer != program)
    return CannotResume(program, kResumeBadData,
                        CsvPath() + " was written by " +
                            (writer.empty() ? std::string("no program of this system") : writer));
  const std::string version = HeadValue(comments, "version");
  if (version != ProgramVersion())
    return CannotResume(program, kResumeBadData,
                        CsvPath() + " was written by version " + version + ", this is version " +
                            ProgramVersion());
  std::string header;
  for (std::size_t i = 0; i < columns.size(); ++i)
    header += (i ? "," : "") + columns[i];
  header += '\n';
  if (files.csv.compare(at, header.size(), header) != 0)
    return CannotResume(program, kResumeBadData,
                        CsvPath() + ": the header row is not the one this program writes");
  files.firstRow = at + header.size();
  files.settings = HeadValue(comments, "settings");
  if (ReadWhole(ResultsPath(), files.res, why) != 0)
    return CannotResume(program, kResumeNoInput, why);
  return 0;
}

} // namespace zanfel
