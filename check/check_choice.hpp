// Which records a run checks against an independent, more accurate solve,
// and in which arithmetic: what --check-digits and --check-digits-precision
// set.
#pragma once

#include "report/check_columns.hpp"

namespace zanfel {

struct CheckChoice {
  bool on = false;
  long every = 0;     // also every K-th record (the 1st, the K+1st, ...); 0: none but these
  int precision = 80; // bits of the check's arithmetic: 80 or 128

  // Whether record `record` (counted from 1 in the file) is checked: a
  // labelled one, the last of its sweep, or one of every K-th.
  bool Wants(long record, bool labelled, bool last) const {
    return on && (labelled || last || (every > 0 && (record - 1) % every == 0));
  }
};

} // namespace zanfel
