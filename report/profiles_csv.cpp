#include "report/profiles_csv.hpp"

#include "report/csv.hpp"
#include "report/text_file.hpp"

namespace zanfel {

namespace {

constexpr std::string_view kFirstLine =
    "# ZANFEL solution profiles at full precision, one row per point of a record's trajectory\n";

std::string HeaderRow(int NEQN) {
  std::string row = "record,label,P,t";
  for (int i = 1; i <= NEQN; ++i)
    row += ",y" + std::to_string(i);
  return row + '\n';
}

// One row into its profile's fields and point; false when it is not a
// whole row.
bool ParseRow(std::string_view line, int NEQN, long &record, std::string_view &label, REAL &P,
              ProfilePoint &point) {
  const std::vector<std::string_view> f = SplitFields(line);
  if (f.size() != static_cast<std::size_t>(4 + NEQN) || !ParseLong(f[0], record) || record < 1 ||
      !ParseReal(f[2], P) || !ParseReal(f[3], point.t))
    return false;
  label = f[1];
  point.y.assign(static_cast<std::size_t>(NEQN), 0.0L);
  for (int i = 0; i < NEQN; ++i)
    if (!ParseReal(f[static_cast<std::size_t>(4 + i)], point.y[static_cast<std::size_t>(i)]))
      return false;
  return true;
}

} // namespace

std::string ProfilesPath() {
  return BesidePath("ZANFEL.PROFILES.csv");
}

std::string ProfilesHead(std::string_view program, int NEQN) {
  return std::string(kFirstLine) + "# program: " + std::string(program) + '\n' + HeaderRow(NEQN);
}

std::string ProfileRows(const Profile &p) {
  const std::string lead = std::to_string(p.record) + ',' + p.label + ',' + FullReal(p.P) + ',';
  std::string rows;
  for (const ProfilePoint &point : p.points) {
    rows += lead + FullReal(point.t);
    for (const REAL y : point.y)
      rows += ',' + FullReal(y);
    rows += '\n';
  }
  return rows;
}

ProfilesText ReadProfiles(std::string_view text, int NEQN) {
  ProfilesText read;
  std::size_t at = 0;
  // The head: comment lines, then the header row.
  for (;;) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
      return read;
    const std::string_view line = text.substr(at, end - at + 1);
    at = end + 1;
    if (line.starts_with('#'))
      continue;
    read.headOk = line == HeaderRow(NEQN);
    break;
  }
  if (!read.headOk)
    return read;
  read.whole = at;
  for (std::size_t end; (end = text.find('\n', at)) != std::string_view::npos; at = end + 1) {
    long record = 0;
    std::string_view label;
    REAL P = 0.0L;
    ProfilePoint point;
    if (!ParseRow(text.substr(at, end - at), NEQN, record, label, P, point))
      break;
    const bool same = !read.profiles.empty() && read.profiles.back().record == record &&
                      read.profiles.back().label == label && read.profiles.back().P == P;
    if (!same) {
      if (!read.profiles.empty() && record <= read.profiles.back().record)
        break;
      read.profiles.push_back({record, std::string(label), P, {}});
      read.starts.push_back(at);
    }
    read.profiles.back().points.push_back(std::move(point));
    read.whole = end + 1;
  }
  return read;
}

} // namespace zanfel
