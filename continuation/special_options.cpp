#include "continuation/special_options.hpp"

#include <algorithm>
#include <cmath>

#include "report/csv.hpp"

namespace zanfel {

namespace {

bool DecimalNumber(std::string_view text, REAL &v) {
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-'))
    digits.remove_prefix(1);
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    return false;
  return ParseReal(text, v) && std::isfinite(v);
}

std::string ParseAt(std::string_view value, SpecialOptions &o) {
  o.at.clear();
  for (std::string_view item : SplitFields(value)) {
    REAL P = 0.0L;
    if (!DecimalNumber(item, P))
      return "--at wants finite decimal numbers P1,P2,..., not '" + std::string(value) + "'";
    if (std::find(o.at.begin(), o.at.end(), P) != o.at.end())
      return "--at names P = " + std::string(item) + " twice";
    o.at.push_back(P);
  }
  return "";
}

std::string ParseProfiles(std::string_view value, ProfileChoice &p) {
  p.records.clear();
  p.labels.clear();
  if (value == "labelled" || value == "all") {
    p.which = value == "all" ? ProfileWhich::All : ProfileWhich::Labelled;
    return "";
  }
  p.which = ProfileWhich::List;
  for (std::string_view item : SplitFields(value)) {
    long n = 0;
    RecordLabel label;
    const bool number = ParseWholeNumber(item, 1, 1000000000, n);
    if (!number && (item.empty() || !ParseLabel(item, label) || label.kind == RecordKind::Plain))
      return "--profiles wants labelled, all, or record numbers and labels (fold1, user2, end), "
             "not '" +
             std::string(item) + "'";
    const bool twice = number
                           ? std::find(p.records.begin(), p.records.end(), n) != p.records.end()
                           : std::find(p.labels.begin(), p.labels.end(), label) != p.labels.end();
    if (twice)
      return "--profiles names " + std::string(item) + " twice";
    if (number)
      p.records.push_back(n);
    else
      p.labels.push_back(label);
  }
  return "";
}

} // namespace

bool ProfileChoice::Wants(long number, const RecordLabel &label) const {
  switch (which) {
  case ProfileWhich::None:
    return false;
  case ProfileWhich::All:
    return true;
  case ProfileWhich::Labelled:
    return IsSpecial(label.kind);
  case ProfileWhich::List:
    break;
  }
  return std::find(records.begin(), records.end(), number) != records.end() ||
         (IsSpecial(label.kind) && std::find(labels.begin(), labels.end(), label) != labels.end());
}

bool operator==(const SpecialOptions &a, const SpecialOptions &b) {
  return SpecialSettingsText(a) == SpecialSettingsText(b) && a.startAt == b.startAt &&
         a.reverse == b.reverse && a.switchBranch == b.switchBranch;
}

const std::string_view kSpecialNames[4] = {"--at", "--profiles", "--profile-component",
                                           "--start-at"};

bool ParseSpecialOption(std::string_view name, std::string_view value, SpecialOptions &o,
                        std::string &error) {
  error.clear();
  if (name == "--at") {
    error = ParseAt(value, o);
  } else if (name == "--profiles") {
    error = ParseProfiles(value, o.profiles);
  } else if (name == "--profile-component") {
    if (!ParseWholeNumber(value, 1, 1000, o.profiles.component))
      error = "--profile-component wants a whole number from 1, not '" + std::string(value) + "'";
  } else if (name == "--start-at") {
    const StartAtRef ref = SplitStartAt(value);
    o.startAt = value;
    long n = 0;
    RecordLabel label;
    const bool named =
        ParseWholeNumber(ref.ref, 1, 1000000000, n) ||
        (!ref.ref.empty() && ParseLabel(ref.ref, label) && label.kind != RecordKind::Plain);
    if (ref.file.empty() || !named)
      error = "--start-at wants FILE:REF (a record number or a label), not '" + std::string(value) +
              "'";
  } else {
    return false;
  }
  return true;
}

std::string SpecialCombinationError(const SpecialOptions &o) {
  if (o.reverse && o.startAt.empty())
    return "--reverse goes with --start-at";
  if (o.switchBranch && o.startAt.empty())
    return "--switch goes with --start-at FILE:branchK";
  if (o.profiles.component > 0 && !o.profiles.Any())
    return "--profile-component goes with --profiles";
  return "";
}

std::string SpecialRangeError(const SpecialOptions &o, REAL P1, REAL P2, int components) {
  for (const REAL P : o.at)
    if (P < P1 || P > P2)
      return "--at " + ShortReal(P) + " lies outside the range [" + ShortReal(P1) + ", " +
             ShortReal(P2) + "]";
  if (o.profiles.component > components)
    return "--profile-component " + std::to_string(o.profiles.component) +
           " is beyond the solution's " + std::to_string(components) + " components";
  return "";
}

std::string SpecialSettingsText(const SpecialOptions &o) {
  std::string text;
  if (!o.at.empty()) {
    text += " --at ";
    for (std::size_t i = 0; i < o.at.size(); ++i)
      text += (i ? "," : "") + FullReal(o.at[i]);
  }
  const ProfileChoice &p = o.profiles;
  if (p.which == ProfileWhich::Labelled || p.which == ProfileWhich::All)
    text += p.which == ProfileWhich::All ? " --profiles all" : " --profiles labelled";
  if (p.which == ProfileWhich::List) {
    text += " --profiles ";
    bool first = true;
    for (const long n : p.records) {
      text += (first ? "" : ",") + std::to_string(n);
      first = false;
    }
    for (const RecordLabel &l : p.labels) {
      text += (first ? "" : ",") + LabelText(l);
      first = false;
    }
  }
  if (p.component > 0)
    text += " --profile-component " + std::to_string(p.component);
  if (o.branchPoints)
    text += " --branch-points";
  return text;
}

std::string SpecialConflict(const SpecialOptions &given, const SpecialOptions &recorded) {
  const std::string text = SpecialSettingsText(given);
  if (text.empty() || text == SpecialSettingsText(recorded))
    return "";
  const std::string was = SpecialSettingsText(recorded);
  return "'" + text.substr(1) + "' is not this run's '" + (was.empty() ? "" : was.substr(1)) +
         "' (ZANFEL.CSV keeps the run's settings; give the same or none)";
}

StartAtRef SplitStartAt(std::string_view value) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string_view::npos)
    return {std::string(value), ""};
  return {std::string(value.substr(0, colon)), std::string(value.substr(colon + 1))};
}

} // namespace zanfel
