// The options of special points: records at named values of P (--at), the
// solution profiles of chosen records (--profiles, --profile-component), and
// a start from a record of an earlier run (--start-at, --reverse). Part of a
// run's settings: --at and the profiles change what the run writes and are
// kept on the CSV's settings line; the start is resolved into the run's
// start point before anything is written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/record_kind.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// Which records get a profile: none, every labelled one, every one, or the
// listed record numbers and labels.
enum class ProfileWhich { None, Labelled, All, List };

struct ProfileChoice {
  ProfileWhich which = ProfileWhich::None;
  std::vector<long> records;       // ProfileWhich::List: record numbers
  std::vector<RecordLabel> labels; // ProfileWhich::List: labels
  long component = 0;              // y component of the picture; 0: the first

  bool Any() const { return which != ProfileWhich::None; }
  long Component() const { return component > 0 ? component : 1; }
  // Whether the record `number` with this label gets a profile.
  bool Wants(long number, const RecordLabel &label) const;
};

struct SpecialOptions {
  std::vector<REAL> at; // --at, in the order given
  ProfileChoice profiles;
  std::string startAt; // --start-at FILE:REF
  bool reverse = false;
  bool switchBranch = false; // --switch: onto the branch crossing the start
  bool branchPoints = false; // --branch-points: a natural sweep looks for them
  friend bool operator==(const SpecialOptions &a, const SpecialOptions &b);
};

// The special-point options that take a value: --at, --profiles,
// --profile-component, --start-at.
extern const std::string_view kSpecialNames[4];

// Reads the value of special option `name`; false when `name` is not one.
// Otherwise `error` holds what is wrong with the value, or is empty.
bool ParseSpecialOption(std::string_view name, std::string_view value, SpecialOptions &o,
                        std::string &error);

// What is wrong with them together, or "": --reverse or --switch without
// --start-at.
std::string SpecialCombinationError(const SpecialOptions &o);

// What is wrong with them for a sweep over [P1, P2] whose model has
// `components` solution components, or "": a --at value outside the range, a
// profile component beyond the last.
std::string SpecialRangeError(const SpecialOptions &o, REAL P1, REAL P2, int components);

// The options that change what a run writes, in option form at full
// precision (" --at 1,2 --profiles labelled"), for the settings line; "" when
// none is given.
std::string SpecialSettingsText(const SpecialOptions &o);

// Whether a natural sweep's CSV has the label column: when it can hold
// special points or profiles are written.
inline bool LabelsInNaturalSweep(const SpecialOptions &o) {
  return !o.at.empty() || o.profiles.Any() || o.branchPoints;
}

// The component a run's profile picture shows, 0 when it writes no profiles.
inline long ProfiledComponent(const SpecialOptions &o) {
  return o.profiles.Any() ? o.profiles.Component() : 0;
}

// Why special-point options given with --resume cannot go on with the
// recorded ones, or "" (none given, or the same).
std::string SpecialConflict(const SpecialOptions &given, const SpecialOptions &recorded);

// FILE and REF of --start-at: split at the last colon.
struct StartAtRef {
  std::string file, ref;
};
StartAtRef SplitStartAt(std::string_view value);

} // namespace zanfel
