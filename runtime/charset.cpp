#include "runtime/charset.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace zanfel {

namespace {

// The character set that a locale name carries: "ru_RU.KOI8-R@mod" gives
// "KOI8-R"; "" when it carries none.
std::string CharsetOfName(std::string_view name) {
  const size_t dot = name.find('.');
  if (dot == std::string_view::npos)
    return "";
  std::string_view charset = name.substr(dot + 1);
  return std::string(charset.substr(0, charset.find('@')));
}

// The locale name the environment gives the character type category.
std::string LocaleNameFromEnvironment() {
  for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char *value = std::getenv(variable);
    if (value && *value)
      return value;
  }
  return "";
}

// The character set the environment's locale names; "" when it names none.
std::string NamedCharset() {
  locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (loc == static_cast<locale_t>(nullptr))
    return CharsetOfName(LocaleNameFromEnvironment()); // named but not installed
  const char *codeset = nl_langinfo_l(CODESET, loc);
  // What the C and POSIX locales report.
  const bool none =
      std::strcmp(codeset, "ANSI_X3.4-1968") == 0 || std::strcmp(codeset, "ASCII") == 0;
  std::string charset(none ? "" : codeset);
  freelocale(loc);
  return charset;
}

} // namespace

bool IsUtf8(std::string_view charset) {
  std::string letters;
  for (char c : charset)
    if (c != '-' && c != '_')
      letters += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return letters == "UTF8";
}

std::string TerminalCharset() {
  const std::string named = NamedCharset();
  return named.empty() || IsUtf8(named) ? "UTF-8" : named;
}

} // namespace zanfel
