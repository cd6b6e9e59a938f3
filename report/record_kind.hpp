// What a record is on the curve: a plain step of the sweep, or a special
// point the sweep located (a fold, where P turns back along the curve). The
// kind travels with the record from the engine to the observer, the CSV's
// label column, the resume and the pictures; a new kind of special point is
// one more enumerator and its label here.
#pragma once

#include <string_view>

namespace zanfel {

enum class RecordKind { Plain, Fold };
inline constexpr RecordKind kRecordKinds[] = {RecordKind::Plain, RecordKind::Fold};

// The CSV label of a kind: "" for a plain record.
constexpr std::string_view LabelOf(RecordKind kind) {
  switch (kind) {
  case RecordKind::Fold:
    return "fold";
  case RecordKind::Plain:
    break;
  }
  return "";
}

// The kind a CSV label names; false for a label no kind has.
constexpr bool KindOfLabel(std::string_view label, RecordKind &kind) {
  for (RecordKind k : kRecordKinds)
    if (LabelOf(k) == label) {
      kind = k;
      return true;
    }
  return false;
}

// Whether `text` is the start of some kind's label (what a row torn inside
// its label field leaves).
constexpr bool IsLabelPrefix(std::string_view text) {
  for (RecordKind k : kRecordKinds)
    if (LabelOf(k).starts_with(text))
      return true;
  return false;
}

// Whether a record is a special point (a plain one is not).
constexpr bool IsSpecial(RecordKind kind) {
  return kind != RecordKind::Plain;
}

} // namespace zanfel
