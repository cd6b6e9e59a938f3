// The columns of ZANFEL.CSV that a run with --check-digits adds: the digits
// the record's check found right (empty when the record was not checked,
// "failed" when the check did not converge) and the checked values (empty
// unless the check gave them).
#pragma once

#include <string>
#include <string_view>

#include "report/csv.hpp"
#include "report/format.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// What the check of one record came to, for the CSV, the summary and the
// picture: the digits it found right, or that it was not made or failed.
constexpr int kNotChecked = -1;
constexpr int kCheckFailed = -2;
inline constexpr std::string_view kFailedCheck = "failed";

struct CheckDigits {
  int value = kNotChecked;
};
struct CheckedValue {
  bool present = false;
  REAL value = 0.0L;
};

// The checks of a run so far: how many, how many failed, and the least
// digits of those that did not.
struct CheckTally {
  long checked = 0, failed = 0;
  int least = 0;
  void Note(int digits) {
    if (digits == kNotChecked)
      return;
    if (digits == kCheckFailed)
      ++failed;
    else if (checked == failed || digits < least)
      least = digits;
    ++checked;
  }
};

inline void PutCheck(std::string &line, CheckDigits d) {
  if (d.value == kCheckFailed)
    line += kFailedCheck;
  else if (d.value >= 0)
    line += std::to_string(d.value);
}
inline void PutCheck(std::string &line, const CheckedValue &v) {
  if (v.present)
    line += FullReal(v.value);
}
inline bool GetCheck(std::string_view f, CheckDigits &d) {
  long n = 0;
  if (f.empty())
    d.value = kNotChecked;
  else if (f == kFailedCheck)
    d.value = kCheckFailed;
  else if (ParseWholeNumber(f, 0, 99, n))
    d.value = static_cast<int>(n);
  else
    return false;
  return true;
}
inline bool GetCheck(std::string_view f, CheckedValue &v) {
  v.present = !f.empty();
  return f.empty() || ParseReal(f, v.value);
}

// Whether `f` can be the start of a check field (the last one torn).
inline bool IsCheckFieldPrefix(std::string_view f, bool torn) {
  if (torn && kFailedCheck.starts_with(f))
    return true;
  if (f.empty() || f == kFailedCheck)
    return true;
  if (f.find_first_not_of("0123456789.e+-") != std::string_view::npos)
    return false;
  REAL real = 0.0L;
  return torn || ParseReal(f, real);
}

} // namespace zanfel
