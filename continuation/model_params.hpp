// The named parameters of a program's model (--param NAME=VALUE): a table
// names them (the six programs their families' coefficients, a model header
// its own in its OwnProblem table), the command line and a settings line
// give values, and the run's table takes them. A parameter given with its
// table's value changes nothing: the settings line lists only the ones that
// differ, so such a run writes the bytes of the plain run.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models/params.hpp"
#include "report/csv.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// One parameter of a model's Params struct: its name on the command line,
// the member it sets and a few words for --help.
template <class Params> struct NamedParam {
  const char *name;
  REAL Params::*member;
  const char *what;
  bool positive = false; // only values above 0 make sense (a length)
};
template <class Params> using ParamNames = std::span<const NamedParam<Params>>;

// --param NAME=VALUE as given: the name unchecked (the program knows its
// names), the value a finite number.
struct ParamOption {
  std::string name;
  REAL value = 0.0L;
  friend bool operator==(const ParamOption &, const ParamOption &) = default;
};

// Reads NAME=VALUE into `params` (a name given again takes the new value);
// the error, or "".
std::string ParseParamOption(std::string_view value, std::vector<ParamOption> &params);

// The coefficients of the three families.
inline constexpr NamedParam<ParamsA> kParamsA[] = {
    {"PR", &ParamsA::PR, "the coefficient of the y5, y6 equation"},
    {"PD", &ParamsA::PD, "the coefficient of the y9, y10 equation"},
    {"ALF1", &ParamsA::ALF1, "y6(0) = H*ALF1"},
    {"GAM1", &ParamsA::GAM1, "y9(0) = GAM1"}};
inline constexpr NamedParam<ParamsB> kParamsB[] = {
    {"PR", &ParamsB::PR, "the coefficient of the y5, y6 equation"},
    {"PD", &ParamsB::PD, "the coefficient of the y9, y10 equation"},
    {"GAM1", &ParamsB::GAM1, "y9(0) = GAM1"}};
inline constexpr NamedParam<ParamsC> kParamsC[] = {
    {"PR", &ParamsC::PR, "the coefficient of the y5, y6 equation"},
    {"PD", &ParamsC::PD, "the coefficient of the y9, y10 equation"},
    {"GAM1", &ParamsC::GAM1, "y9(0) = GAM1"}};

// The names a family's Params have; none for any other type (a model of
// one's own names its own in its table).
template <class Params> inline constexpr ParamNames<Params> kFamilyParams{};
template <> inline constexpr ParamNames<ParamsA> kFamilyParams<ParamsA>{kParamsA};
template <> inline constexpr ParamNames<ParamsB> kFamilyParams<ParamsB>{kParamsB};
template <> inline constexpr ParamNames<ParamsC> kFamilyParams<ParamsC>{kParamsC};

template <class Params>
const NamedParam<Params> *FindParam(ParamNames<Params> names, std::string_view name) {
  for (const NamedParam<Params> &p : names)
    if (name == p.name)
      return &p;
  return nullptr;
}

// What is wrong with the parameters given for a model with these names: a
// name it does not have, a value out of its bounds; "" when nothing.
template <class Params>
std::string ParamsError(ParamNames<Params> names, const std::vector<ParamOption> &given) {
  for (const ParamOption &o : given) {
    const NamedParam<Params> *p = FindParam(names, o.name);
    if (!p) {
      std::string known;
      for (const NamedParam<Params> &n : names)
        known += (known.empty() ? "" : ", ") + std::string(n.name);
      return "--param " + o.name + ": the model has no parameter of that name (" +
             (known.empty() ? std::string("it has none") : "it has " + known) + ")";
    }
    if (p->positive && !(o.value > 0.0L))
      return "--param " + o.name + " wants a number above 0, not " + ShortReal(o.value);
  }
  return "";
}

// The given values over the table's; names the model lacks are left out
// (ParamsError refuses them first).
template <class Params>
void ApplyParams(ParamNames<Params> names, Params &par, const std::vector<ParamOption> &given) {
  for (const ParamOption &o : given)
    if (const NamedParam<Params> *p = FindParam(names, o.name))
      par.*(p->member) = o.value;
}

// Whether a value is the table's, bit for bit as the settings line keeps it.
inline bool SameParamValue(REAL a, REAL b) {
  return FullReal(a) == FullReal(b);
}

// " --param NAME=VALUE" for every parameter whose value differs from the
// table's, in the table's order at full precision; "" when none does.
template <class Params>
std::string ParamsText(ParamNames<Params> names, const Params &par, const Params &table) {
  std::string text;
  for (const NamedParam<Params> &p : names)
    if (!SameParamValue(par.*(p.member), table.*(p.member)))
      text += " --param " + std::string(p.name) + "=" + FullReal(par.*(p.member));
  return text;
}

// Why parameters given with --resume are not the run's, or "".
template <class Params>
std::string ParamsConflict(ParamNames<Params> names, const Params &run,
                           const std::vector<ParamOption> &given) {
  for (const ParamOption &o : given)
    if (const NamedParam<Params> *p = FindParam(names, o.name);
        p && !SameParamValue(o.value, run.*(p->member)))
      return "--param " + o.name + "=" + ShortReal(o.value) + " is not this run's " + o.name + "=" +
             ShortReal(run.*(p->member)) +
             " (ZANFEL.CSV keeps the run's settings; give the same or none)";
  return "";
}

// The lines of --help that list the parameters with the table's values; ""
// for a model without named parameters.
template <class Params> std::string ParamsHelp(ParamNames<Params> names, const Params &table) {
  if (names.empty())
    return "";
  std::string text = "Parameters of the model (--param NAME=VALUE, repeatable; a finite number,\n"
                     "kept at full precision in the settings line of ZANFEL.CSV when it\n"
                     "differs from the default):\n";
  for (const NamedParam<Params> &p : names) {
    std::string head = "  --param " + std::string(p.name) + "=X";
    head += head.size() < 16   ? std::string(16 - head.size(), ' ')
            : head.size() < 24 ? std::string(" ")
                               : "\n" + std::string(16, ' ');
    text += head + p.what + " (default: " + ShortReal(table.*(p.member)) + ")\n";
  }
  return text;
}

} // namespace zanfel
