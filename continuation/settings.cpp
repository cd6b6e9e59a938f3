#include "continuation/settings.hpp"

#include <cmath>

#include "report/csv.hpp"

namespace zanfel {

namespace {

// A finite real written as decimal text, read exactly into the 80-bit real.
bool FiniteReal(std::string_view text, REAL &v) {
  return ParseReal(text, v) && std::isfinite(v);
}

std::string Quoted(std::string_view name, std::string_view value, std::string_view wants) {
  return std::string(name) + " wants " + std::string(wants) + ", not '" + std::string(value) + "'";
}

bool ParseRange(std::string_view value, SettingOptions &o, std::string &error) {
  const std::size_t colon = value.find(':');
  REAL P1 = 0.0L, P2 = 0.0L;
  if (colon == std::string_view::npos || !FiniteReal(value.substr(0, colon), P1) ||
      !FiniteReal(value.substr(colon + 1), P2)) {
    error = Quoted("--range", value, "two finite numbers P1:P2");
    return true;
  }
  if (!(P1 < P2))
    error = Quoted("--range", value, "P1 below P2");
  o.P1 = P1;
  o.P2 = P2;
  return true;
}

bool ParseRealOption(std::string_view name, std::string_view value, std::optional<REAL> &to,
                     bool tolerance, std::string &error) {
  REAL v = 0.0L;
  if (!FiniteReal(value, v))
    error = Quoted(name, value, "a finite number");
  else if (tolerance && v < 0.0L)
    error = Quoted(name, value, "a tolerance of 0 or more");
  else if (!tolerance && name == "--step" && v == 0.0L)
    error = Quoted(name, value, "a step other than 0");
  to = v;
  return true;
}

bool ParseWholeOption(std::string_view name, std::string_view value, long high,
                      std::optional<long> &to, std::string &error) {
  long n = 0;
  if (!ParseWholeNumber(value, 1, high, n))
    error = Quoted(name, value, "a whole number from 1 to " + std::to_string(high));
  to = n;
  return true;
}

} // namespace

bool ParseSettingOption(std::string_view name, std::string_view value, SettingOptions &o,
                        std::string &error) {
  error.clear();
  if (name == "--from" || name == "--step")
    return ParseRealOption(name, value, name == "--from" ? o.from : o.step, false, error);
  if (name == "--tolf" || name == "--tolx")
    return ParseRealOption(name, value, name == "--tolf" ? o.tolf : o.tolx, true, error);
  if (name == "--range")
    return ParseRange(value, o, error);
  if (name == "--ntrial")
    return ParseWholeOption(name, value, INT16_MAX, o.ntrial, error);
  if (name == "--budgets")
    return ParseWholeOption(name, value, INT16_MAX, o.budgets, error);
  if (name == "--records")
    return ParseWholeOption(name, value, 1000000000, o.records, error);
  return false;
}

std::string SettingsText(REAL from, const SweepSettings &sweep, const SolveSettings &solve) {
  return "--from " + FullReal(from) + " --step " + FullReal(sweep.DP) + " --range " +
         FullReal(sweep.P1) + ":" + FullReal(sweep.P2) + " --tolf " + FullReal(solve.TOLF) +
         " --tolx " + FullReal(solve.TOLX) + " --ntrial " + std::to_string(solve.NTRIAL) +
         " --budgets " + std::to_string(solve.budgets);
}

std::string ParseSettingsText(std::string_view text, SettingOptions &o) {
  std::vector<std::string_view> words;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t space = text.find(' ', at);
    const std::size_t end = space == std::string_view::npos ? text.size() : space;
    if (end > at)
      words.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  std::string error;
  for (std::size_t i = 0; i < words.size(); i += 2) {
    if (i + 1 >= words.size() || words[i] == "--records" ||
        !ParseSettingOption(words[i], words[i + 1], o, error))
      return "'" + std::string(words[i]) + "' is not a setting with its value";
    if (!error.empty())
      return error;
  }
  return "";
}

std::string StartError(REAL from, const SweepSettings &sweep) {
  if (from < sweep.P1 || from > sweep.P2)
    return "the start P = " + ShortReal(from) + " lies outside the range [" + ShortReal(sweep.P1) +
           ", " + ShortReal(sweep.P2) + "]";
  return "";
}

} // namespace zanfel
