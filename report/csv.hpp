// Text of the full-precision results (ZANFEL.CSV): reals in decimal with
// enough digits to give back the same 80-bit value, and the comma-separated
// fields of one line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/types.hpp"

namespace zanfel {

// 21 significant digits in scientific notation ("-1.23456789012345678901e-03"):
// every 80-bit real reads back as the same bits, and a 64-bit reader loses
// only the digits it cannot hold.
std::string FullReal(REAL v);

// The shortest decimal that reads back as the same 80-bit value, for the
// compiled-in constants a person reads ("0.11893163", "-0.01").
std::string ShortReal(REAL v);

// The whole field as a real or an integer; false when any of it is not part
// of the number (an empty field, blanks, a trailing character).
bool ParseReal(std::string_view field, REAL &v);
bool ParseLong(std::string_view field, long &v);
// The comma-separated fields of a line or items of a list, empty ones kept.
std::vector<std::string_view> CommaSeparated(std::string_view text);
// A whole number from `low` to `high` written in digits only (no sign, no
// blanks, at most 12 of them), as an option takes it.
bool ParseWholeNumber(std::string_view text, long low, long high, long &n);

// The fields of one line, split at every comma (the files need no quoting:
// no field holds a comma).
std::vector<std::string_view> SplitFields(std::string_view line);

} // namespace zanfel
