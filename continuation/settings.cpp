#include "continuation/settings.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "integrator/rkf45.hpp"
#include "report/csv.hpp"

namespace zanfel {

namespace {

// A finite real written as decimal text, read exactly into the 80-bit real.
bool FiniteReal(std::string_view text, REAL &v) {
  return ParseReal(text, v) && std::isfinite(v);
}

// Whether `text` (or either half of P1:P2) is a number in the C library's
// hexadecimal notation ("0x1p3"), which its reader would take: the reals of
// the settings are decimal text, as the whole numbers are.
bool HoldsHexNumber(std::string_view text) {
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find(':', at);
    end = end == std::string_view::npos ? text.size() : end;
    std::string_view number = text.substr(at, end - at);
    if (!number.empty() && (number[0] == '+' || number[0] == '-'))
      number.remove_prefix(1);
    if (number.size() >= 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X'))
      return true;
    at = end + 1;
  }
  return false;
}

std::string Quoted(std::string_view name, std::string_view value, std::string_view wants) {
  return std::string(name) + " wants " + std::string(wants) + ", not '" + std::string(value) + "'";
}

// The check's tolerances are fractions of the run's: a run it checks needs
// both above 0.
std::string CheckCombinationError(const SettingOptions &o) {
  if (o.checkPrecision && !o.checkDigits)
    return "--check-digits-precision goes with --check-digits";
  if (!o.checkDigits)
    return "";
  for (const auto &[name, tol] : {std::pair{"--relerr", o.relerr}, std::pair{"--abserr", o.abserr}})
    if (tol && !(*tol > 0.0L))
      return std::string("--check-digits wants ") + name + " above 0, not " + ShortReal(*tol);
  return "";
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
  else if (name == "--relerr" && v < rkf_detail::LeastRelerr(kRunRelerrFloor))
    // The integrator would raise it and integrate nothing: every trajectory
    // of the run would end where it started.
    error = Quoted(name, value, "a tolerance above " + ShortReal(kRunRelerrFloor));
  else if (!tolerance && name == "--step" && v == 0.0L)
    error = Quoted(name, value, "a step other than 0");
  to = v;
  return true;
}

// A step bound along the curve: finite and above zero.
bool ParseStepBound(std::string_view name, std::string_view value, std::optional<REAL> &to,
                    std::string &error) {
  REAL v = 0.0L;
  if (!FiniteReal(value, v) || !(v > 0.0L))
    error = std::string(name) + " wants a number greater than 0, not '" + std::string(value) + "'";
  to = v;
  return true;
}

bool ParseStrategy(std::string_view value, SettingOptions &o, std::string &error) {
  if (value == "arclength")
    o.strategy = Strategy::Arclength;
  else if (value == "natural")
    o.strategy = Strategy::Natural;
  else if (value == "fold")
    o.strategy = Strategy::Fold;
  else
    error = "--continuation wants natural or arclength (or fold, with --free), not '" +
            std::string(value) + "'";
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

const std::string_view kSettingNames[18] = {
    "--from",     "--step",     "--range",        "--records",
    "--tolf",     "--tolx",     "--ntrial",       "--budgets",
    "--relerr",   "--abserr",   "--continuation", "--min-step",
    "--max-step", "--segments", "--nodes",        "--check-digits-precision",
    "--param",    "--free"};

std::string ParseCheckDigits(const char *value, SettingOptions &o) {
  long K = 0;
  if (value && !ParseWholeNumber(value, 1, 1000000000, K))
    return Quoted("--check-digits", value, "a whole number K of 1 or more");
  o.checkDigits = K;
  return "";
}

CheckChoice CheckChoiceOf(const SettingOptions &o) {
  CheckChoice c;
  c.on = o.checkDigits.has_value();
  c.every = o.checkDigits.value_or(0);
  c.precision = static_cast<int>(o.checkPrecision.value_or(80));
  return c;
}

std::string CheckText(const CheckChoice &check) {
  if (!check.on)
    return "";
  std::string text = " --check-digits";
  if (check.every > 0)
    text += " " + std::to_string(check.every);
  if (check.precision != 80)
    text += " --check-digits-precision " + std::to_string(check.precision);
  return text;
}

bool ParseSettingOption(std::string_view name, std::string_view value, SettingOptions &o,
                        std::string &error) {
  error.clear();
  if (name != "--start-at" && ParseSpecialOption(name, value, o.special, error))
    return true;
  if (std::find(std::begin(kSettingNames), std::end(kSettingNames), name) ==
      std::end(kSettingNames))
    return false;
  if (name == "--param") {
    error = ParseParamOption(value, o.params);
    return true;
  }
  if (name == "--free") {
    if (value.empty())
      error = "--free wants the name of a parameter of the model";
    o.free = std::string(value);
    return true;
  }
  const bool whole = name == "--records" || name == "--ntrial" || name == "--budgets";
  if (name == "--segments" || name == "--nodes") {
    SegmentCuts cuts;
    error = name == "--segments" ? ParseSegments(value, cuts) : ParseNodes(value, cuts);
    if (o.cuts)
      error = "--segments and --nodes: give one of them, once";
    o.cuts = cuts;
    return true;
  }
  if (!whole && HoldsHexNumber(value)) {
    error = std::string(name) + " wants decimal text, not '" + std::string(value) + "'";
    return true;
  }
  if (name == "--from" || name == "--step")
    return ParseRealOption(name, value, name == "--from" ? o.from : o.step, false, error);
  if (name == "--tolf" || name == "--tolx")
    return ParseRealOption(name, value, name == "--tolf" ? o.tolf : o.tolx, true, error);
  if (name == "--relerr" || name == "--abserr")
    return ParseRealOption(name, value, name == "--relerr" ? o.relerr : o.abserr, true, error);
  if (name == "--continuation")
    return ParseStrategy(value, o, error);
  if (name == "--min-step" || name == "--max-step")
    return ParseStepBound(name, value, name == "--min-step" ? o.minStep : o.maxStep, error);
  if (name == "--range")
    return ParseRange(value, o, error);
  if (name == "--check-digits-precision") {
    if (value != "80" && value != "128")
      error = Quoted(name, value, "80 or 128");
    o.checkPrecision = value == "128" ? 128 : 80;
    return true;
  }
  if (name == "--ntrial")
    return ParseWholeOption(name, value, INT16_MAX, o.ntrial, error);
  if (name == "--budgets")
    return ParseWholeOption(name, value, INT16_MAX, o.budgets, error);
  if (name == "--records")
    return ParseWholeOption(name, value, 1000000000, o.records, error);
  return false;
}

// --continuation fold follows a fold: it starts at one, with the parameter
// that moves named.
std::string FoldCombinationError(const SettingOptions &o) {
  const bool fold = o.strategy == Strategy::Fold;
  if (!fold)
    return o.free ? "--free goes with --continuation fold" : "";
  if (!o.free)
    return "--continuation fold wants --free NAME, the parameter that moves with P";
  RecordLabel label;
  if (o.special.startAt.empty() || !ParseLabel(SplitStartAt(o.special.startAt).ref, label) ||
      label.kind != RecordKind::Fold)
    return "--continuation fold starts at a fold: --start-at FILE:foldK";
  if (!o.special.at.empty())
    return "--at goes with the natural or the arclength continuation, not --continuation fold";
  return "";
}

std::string CombinationError(const SettingOptions &o) {
  if (const std::string error = FoldCombinationError(o); !error.empty())
    return error;
  if (!(o.strategy && *o.strategy != Strategy::Natural) && (o.minStep || o.maxStep))
    return "--min-step and --max-step go with --continuation arclength";
  if (o.minStep && o.maxStep && *o.minStep > *o.maxStep)
    return "--min-step is greater than --max-step";
  if (o.special.switchBranch && o.strategy != Strategy::Arclength)
    return "--switch follows the crossing branch along the arclength: give --continuation "
           "arclength";
  if (o.special.branchPoints && o.cuts && o.cuts->Multiple())
    return "--branch-points goes with single shooting, not --segments or --nodes";
  if (o.strategy == Strategy::Fold && o.cuts && o.cuts->Multiple())
    return "--segments and --nodes go with the natural continuation and the arclength, not "
           "--continuation fold";
  if (o.special.switchBranch && o.cuts && o.cuts->Multiple())
    return "--switch goes with single shooting, not --segments or --nodes";
  if (const std::string error = SpecialCombinationError(o.special); !error.empty())
    return error;
  return CheckCombinationError(o);
}

std::string SettingsText(REAL from, const SweepSettings &sweep, const SolveSettings &solve,
                         const ContinuationChoice &continuation) {
  std::string text = "--from " + FullReal(from) + " --step " + FullReal(sweep.DP) + " --range " +
                     FullReal(sweep.P1) + ":" + FullReal(sweep.P2) + " --tolf " +
                     FullReal(solve.TOLF) + " --tolx " + FullReal(solve.TOLX) + " --ntrial " +
                     std::to_string(solve.NTRIAL) + " --budgets " + std::to_string(solve.budgets) +
                     " --relerr " + FullReal(solve.RELERR) + " --abserr " + FullReal(solve.ABSERR);
  if (continuation.AlongArc()) {
    text += continuation.FoldCurve() ? " --continuation fold --free " + continuation.free
                                     : std::string(" --continuation arclength");
    if (continuation.minStep > 0.0L)
      text += " --min-step " + FullReal(continuation.minStep);
    if (continuation.maxStep > 0.0L)
      text += " --max-step " + FullReal(continuation.maxStep);
  }
  return text;
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
  if (words.empty()) // no settings line: the table's own
    return "";
  std::string error;
  std::vector<std::string_view> seen;
  for (std::size_t i = 0; i < words.size(); i += 2) {
    if (words[i] == "--check-digits") {
      const bool bare = i + 1 >= words.size() || words[i + 1].starts_with("--");
      const std::string K = bare ? "" : std::string(words[i + 1]);
      if (std::string e = ParseCheckDigits(bare ? nullptr : K.c_str(), o); !e.empty())
        return e;
      i -= bare ? 1 : 0;
      continue;
    }
    if (words[i] == "--branch-points") {
      o.special.branchPoints = true;
      --i;
      continue;
    }
    // A settings line names each parameter once, and may name several.
    if (words[i] == "--param" && i + 1 < words.size()) {
      const std::string_view name = words[i + 1].substr(0, words[i + 1].find('='));
      for (const ParamOption &p : o.params)
        if (p.name == name)
          return "--param " + std::string(name) + " is given twice";
      if (std::string e = ParseParamOption(words[i + 1], o.params); !e.empty())
        return e;
      continue;
    }
    if (i + 1 >= words.size() || words[i] == "--records" ||
        !ParseSettingOption(words[i], words[i + 1], o, error))
      return "'" + std::string(words[i]) + "' is not a setting with its value";
    if (!error.empty())
      return error;
    if (std::find(seen.begin(), seen.end(), words[i]) != seen.end())
      return std::string(words[i]) + " is given twice";
    seen.push_back(words[i]);
  }
  // What every settings line holds; the integrator's tolerances came later
  // and default to the built-in ones.
  for (std::string_view always :
       {"--from", "--step", "--range", "--tolf", "--tolx", "--ntrial", "--budgets"})
    if (std::find(seen.begin(), seen.end(), always) == seen.end())
      return std::string(always) + " is missing";
  return CombinationError(o);
}

namespace {

// Whether a step of this size moves P away from `from` at all, and is a
// normal number (a subnormal one moves nothing in a few more operations).
bool MovesP(REAL from, REAL step) {
  return fabsl(step) >= LDBL_MIN && from + fabsl(step) != from && from - fabsl(step) != from;
}

} // namespace

std::string StepError(REAL from, const SweepSettings &sweep, const ContinuationChoice &c) {
  const auto cannot = [&](std::string_view what, REAL step) {
    return std::string(what) + " " + ShortReal(step) + " cannot move P from " + ShortReal(from);
  };
  if (!MovesP(from, sweep.DP))
    return cannot("the step", sweep.DP);
  if (!c.AlongArc())
    return "";
  if (!MovesP(from, c.MinStep(sweep.DP)))
    return cannot("the smallest step along the curve", c.MinStep(sweep.DP));
  if (!MovesP(from, c.MaxStep(sweep.DP)))
    return cannot("the largest step along the curve", c.MaxStep(sweep.DP));
  return "";
}

std::string StartError(REAL from, const SweepSettings &sweep) {
  if (from < sweep.P1 || from > sweep.P2)
    return "the start P = " + ShortReal(from) + " lies outside the range [" + ShortReal(sweep.P1) +
           ", " + ShortReal(sweep.P2) + "]";
  return "";
}

} // namespace zanfel
