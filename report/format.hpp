// The two ways a real becomes text: fixed(w, d) and the 25-character default
// format, both from the same decimal digit string of at most 17 significant
// digits (positions beyond them show "0"). Rounding is half away from zero,
// and a fraction up to 2^-63 below a decimal tie counts as the tie, so
// decimal constants stored a little low in binary round as written. The sign
// is the sign bit's: -0 and a negative value that rounds to zero keep "-".
// Neither function raises a floating-point trap, whatever the value.
#pragma once

#include <string>

#include "runtime/types.hpp"

namespace zanfel {

// v with exactly d decimals ("." and the decimals left out when d <= 0) in a
// field of at least w characters: "-" or nothing, the integer digits without
// leading zeros ("0" when there are none), then the decimals; blanks in front
// up to w, a longer text written whole (w <= 0 adds no blanks). A magnitude
// whose rounded decimal exponent is above 35 (1E36 and more) is written in
// the DefaultFormat layout instead, with blanks in front up to w. An infinity
// is "+Inf" or "-Inf", a NaN "Nan", with blanks in front up to w.
std::string Fixed(REAL v, int w, int d);

// Exactly 25 characters: a blank or "-", the first digit, ".", 16 more digits,
// "E", the exponent's sign and four exponent digits, as in
// " 1.5000000000000000E+0000". Not finite: "+Inf", "-Inf" or "Nan" with
// blanks in front up to 25.
std::string DefaultFormat(REAL v);

} // namespace zanfel
