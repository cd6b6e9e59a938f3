#include "continuation/model_params.hpp"

#include <cctype>
#include <cmath>

namespace zanfel {

namespace {

// A name as a table writes it: a letter or '_', then letters, digits, '_'.
bool IsParamName(std::string_view name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_'))
    return false;
  for (const char c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
      return false;
  return true;
}

// Decimal text only, as for every real of the settings ("0x1p3" is refused).
bool HexNumber(std::string_view number) {
  if (!number.empty() && (number[0] == '+' || number[0] == '-'))
    number.remove_prefix(1);
  return number.size() >= 2 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
}

} // namespace

std::string ParseParamOption(std::string_view value, std::vector<ParamOption> &params) {
  const std::size_t equals = value.find('=');
  const std::string_view name = value.substr(0, equals);
  const std::string_view number =
      equals == std::string_view::npos ? std::string_view{} : value.substr(equals + 1);
  REAL v = 0.0L;
  if (!IsParamName(name) || HexNumber(number) || !ParseReal(number, v) || !std::isfinite(v))
    return "--param wants NAME=VALUE, a name and a finite decimal number, not '" +
           std::string(value) + "'";
  for (ParamOption &p : params)
    if (p.name == name) {
      p.value = v;
      return "";
    }
  params.push_back({std::string(name), v});
  return "";
}

} // namespace zanfel
