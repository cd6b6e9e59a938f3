#include "report/results_csv.hpp"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "report/text_file.hpp"
#include "runtime/regular_file.hpp"
#include "runtime/write_all.hpp"

#ifndef ZANFEL_VERSION
#define ZANFEL_VERSION "unknown"
#endif

namespace zanfel {

namespace {

std::string StartTimeUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

} // namespace

std::string CsvPath() {
  return BesidePath("ZANFEL.CSV");
}

const char *ProgramVersion() {
  return ZANFEL_VERSION;
}

std::vector<int> YoutColumns(int N, const RecordLayout &L) {
  std::vector<int> columns;
  for (int I = 1; I <= N; ++I)
    columns.push_back(I);
  columns.push_back(L.iv);
  columns.push_back(L.iv + 1);
  columns.push_back(L.iz);
  return columns;
}

std::vector<std::string> NamesOf(const std::vector<CsvColumn> &columns) {
  std::vector<std::string> names;
  for (const CsvColumn &c : columns)
    names.push_back(c.name);
  return names;
}

std::string SweepNoteText(std::string_view what, REAL startP, REAL DP, REAL P1, REAL P2,
                          bool addStep, std::string_view stepRule) {
  std::string note(what);
  note += ": P from " + ShortReal(startP) + ", step DP = " + ShortReal(DP) +
          (addStep ? " (P := P + DP)" : " (P := P - DP)") + ", range [" + ShortReal(P1) + ", " +
          ShortReal(P2) + "]; " + std::string(stepRule);
  return note;
}

std::string CsvHead(std::string_view program, const std::vector<std::string> &sweepNotes,
                    const std::vector<std::string> &columns, const SolveLimits &limits,
                    const std::string &settings) {
  std::string head = "# ZANFEL results at full precision, one row per record of ZANFEL.RES\n";
  head += "# program: " + std::string(program) + '\n';
  head += "# version: " + std::string(ProgramVersion()) + '\n';
  head += "# started: " + StartTimeUtc() + '\n';
  for (const std::string &note : sweepNotes)
    head += "# " + note + '\n';
  head += "# solve: NTRIAL = " + std::to_string(limits.NTRIAL) +
          ", TOLX = " + ShortReal(limits.TOLX) + ", TOLF = " + ShortReal(limits.TOLF) +
          "; trajectories RELERR = " + ShortReal(limits.RELERR) +
          ", ABSERR = " + ShortReal(limits.ABSERR) + '\n';
  if (!settings.empty())
    head += "# settings: " + settings + '\n';
  return head + CsvHeaderRow(columns);
}

std::string CsvHeaderRow(const std::vector<std::string> &columns) {
  std::string row;
  for (std::size_t i = 0; i < columns.size(); ++i)
    row += (i ? "," : "") + columns[i];
  return row + '\n';
}

std::string SettingsFromRowLine(long row, std::string_view settings) {
  return std::string(kSettingsFromRow) + std::to_string(row) + ": " + std::string(settings) + '\n';
}

bool ParseSettingsFromRow(std::string_view line, long &row, std::string_view &settings) {
  if (!line.starts_with(kSettingsFromRow))
    return false;
  line.remove_prefix(kSettingsFromRow.size());
  const std::size_t colon = line.find(": ");
  if (colon == std::string_view::npos || !ParseLong(line.substr(0, colon), row) || row < 1)
    return false;
  settings = line.substr(colon + 2);
  return true;
}

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

void AppendCsvEndNote(std::string_view why) {
  // Opened as the run's own files are: a link planted meanwhile is not
  // written through.
  const int fd = OpenRegularFile(CsvPath(), O_WRONLY | O_APPEND);
  if (fd < 0)
    return;
  const std::string line = "# ended early: " + std::string(why) + '\n';
  WriteAll(fd, line.data(), line.size());
  ::fsync(fd);
  ::close(fd);
}

} // namespace zanfel
