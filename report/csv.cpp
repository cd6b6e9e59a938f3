// The conversions use the C library's correctly rounded printf and strtold.
// The programs never switch the locale, so the decimal point is always ".".
#include "report/csv.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/masked_traps.hpp"

namespace zanfel {

namespace {

std::string Printed(const char *format, int precision, REAL v) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, format, precision, v);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

} // namespace

std::string FullReal(REAL v) {
  // 64 significand bits need 21 decimal digits to come back unchanged.
  return Printed("%.*Le", 20, v);
}

std::string ShortReal(REAL v) {
  for (int digits = 1; digits <= 21; ++digits) {
    std::string text = Printed("%.*Lg", digits, v);
    REAL back;
    if (!ParseReal(text, back) || !SameBits(back, v))
      continue;
    // Whole numbers up to 17 digits without an exponent: "700", not "7e+02".
    const std::size_t e = text.find('e');
    if (e != std::string::npos && text[e + 1] == '+') {
      const int exponent = std::atoi(text.c_str() + e + 2);
      if (exponent < 17)
        text = Printed("%.*Lg", exponent + 1 > digits ? exponent + 1 : digits, v);
    }
    return text;
  }
  return FullReal(v);
}

std::vector<std::string_view> CommaSeparated(std::string_view text) {
  std::vector<std::string_view> items;
  for (std::size_t at = 0;;) {
    const std::size_t comma = text.find(',', at);
    items.push_back(text.substr(at, comma == std::string_view::npos ? comma : comma - at));
    if (comma == std::string_view::npos)
      return items;
    at = comma + 1;
  }
}

bool ParseReal(std::string_view field, REAL &v) {
  if (field.empty() || field.front() == ' ' || field.front() == '\t')
    return false;
  const std::string text(field);
  char *end = nullptr;
  errno = 0;
  // A value beyond the range reads as an infinity for the caller to judge,
  // not as an overflow trap.
  const MaskedTraps masked;
  v = std::strtold(text.c_str(), &end);
  // ERANGE for a subnormal still gives its exact value back; only the end
  // of the text matters here.
  return end == text.c_str() + text.size();
}

bool ParseLong(std::string_view field, long &v) {
  if (field.empty() || field.front() == ' ' || field.front() == '\t' || field.front() == '+')
    return false;
  const std::string text(field);
  char *end = nullptr;
  errno = 0;
  v = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end == text.c_str() + text.size();
}

bool ParseWholeNumber(std::string_view text, long low, long high, long &n) {
  if (text.empty() || text.size() > 12)
    return false;
  n = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    n = n * 10 + (c - '0');
  }
  return n >= low && n <= high;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t comma = line.find(',');
    fields.push_back(line.substr(0, comma));
    if (comma == std::string_view::npos)
      return fields;
    line.remove_prefix(comma + 1);
  }
}

} // namespace zanfel
