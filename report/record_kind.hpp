// What a record is on the curve: a plain step of the sweep, or a special
// point: a fold (where P turns back along the curve), a user point (a record
// at a P the command line named), the end (the last record of a sweep), a
// branch point (where another branch crosses the curve). The
// kind travels with the record from the engine to the observer, the CSV's
// label column, the resume and the pictures; a new kind of special point is
// one more enumerator and its label here.
#pragma once

#include <string>
#include <string_view>

#include "report/csv.hpp"

namespace zanfel {

enum class RecordKind { Plain, Fold, User, End, Branch };
inline constexpr RecordKind kRecordKinds[] = {RecordKind::Plain, RecordKind::Fold, RecordKind::User,
                                              RecordKind::End, RecordKind::Branch};

// The CSV label of a kind, before its running number: "" for a plain record.
constexpr std::string_view LabelOf(RecordKind kind) {
  switch (kind) {
  case RecordKind::Fold:
    return "fold";
  case RecordKind::User:
    return "user";
  case RecordKind::End:
    return "end";
  case RecordKind::Branch:
    return "branch";
  case RecordKind::Plain:
    break;
  }
  return "";
}

// Whether the records of a kind are counted through a run (fold1, fold2,
// ...); a plain record and the end of a sweep are not.
constexpr bool IsNumbered(RecordKind kind) {
  return kind == RecordKind::Fold || kind == RecordKind::User || kind == RecordKind::Branch;
}

// Whether a record is a special point (a plain one is not).
constexpr bool IsSpecial(RecordKind kind) {
  return kind != RecordKind::Plain;
}

// A record's label: its kind and, for a numbered kind, its running number
// in the run (from 1).
struct RecordLabel {
  RecordKind kind = RecordKind::Plain;
  long number = 0;
  friend bool operator==(const RecordLabel &, const RecordLabel &) = default;
};

inline std::string LabelText(const RecordLabel &label) {
  std::string text(LabelOf(label.kind));
  if (IsNumbered(label.kind))
    text += std::to_string(label.number);
  return text;
}

// The label a CSV field holds ("fold2", "end", ""); false for text no label
// is: an unknown kind, a numbered kind without its number (or with one of 0,
// a sign or leading zeros), a number after a kind that has none.
inline bool ParseLabel(std::string_view text, RecordLabel &label) {
  for (RecordKind k : kRecordKinds) {
    const std::string_view name = LabelOf(k);
    if (!text.starts_with(name) || (k == RecordKind::Plain && !text.empty()))
      continue;
    const std::string_view digits = text.substr(name.size());
    if (!IsNumbered(k)) {
      if (!digits.empty())
        continue;
      label = {k, 0};
      return true;
    }
    long n = 0;
    if (digits.empty() || digits[0] == '0' ||
        digits.find_first_not_of("0123456789") != std::string_view::npos ||
        !ParseWholeNumber(digits, 1, 1000000000, n))
      continue;
    label = {k, n};
    return true;
  }
  return false;
}

// Whether `text` is the start of some label (what a row torn inside its
// label field leaves).
inline bool IsLabelPrefix(std::string_view text) {
  for (RecordKind k : kRecordKinds) {
    const std::string_view name = LabelOf(k);
    if (name.starts_with(text))
      return true;
    if (IsNumbered(k) && text.starts_with(name) &&
        text.substr(name.size()).find_first_not_of("0123456789") == std::string_view::npos)
      return true;
  }
  return false;
}

} // namespace zanfel
