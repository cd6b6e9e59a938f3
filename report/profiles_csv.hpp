// ZANFEL.PROFILES.csv: the whole solution y(t) of chosen records, one row per
// point of the record's trajectory (t = 0, then every accepted step to
// t = 1), at full precision like ZANFEL.CSV. The rows of one record are a
// profile; profiles follow in the order of their records.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/types.hpp"

namespace zanfel {

std::string ProfilesPath();
// The picture of the profiles, beside them.
inline constexpr std::string_view kProfilesPicture = "ZANFEL.PROFILES.svg";

// The head: what the file holds, the program, the column names.
std::string ProfilesHead(std::string_view program, int NEQN);

// One point of a profile: t and y[1..NEQN].
struct ProfilePoint {
  REAL t = 0.0L;
  std::vector<REAL> y;
};

// One record's profile as the file holds it.
struct Profile {
  long record = 0;
  std::string label; // the record's label as ZANFEL.CSV writes it
  REAL P = 0.0L;
  std::vector<ProfilePoint> points;
};

// The rows of a profile.
std::string ProfileRows(const Profile &p);

// The profiles of a file's text, with where each one's rows begin and end.
// Reading stops at the first line that is not a whole row of NEQN
// components (a torn tail, a stray line) or that does not follow the
// profiles before it (a record number that goes back): what lies after
// `whole` is not the file's.
struct ProfilesText {
  std::vector<Profile> profiles;
  std::vector<std::size_t> starts; // byte offset of each profile's first row
  std::size_t whole = 0;           // end of the last whole row read
  bool headOk = false;
};
ProfilesText ReadProfiles(std::string_view text, int NEQN);

} // namespace zanfel
