// The character set of the console messages on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace zanfel {

// "UTF-8", unless the environment's locale names another character set: the
// character set of the locale when it can be loaded, otherwise the part after
// the dot of its name (from LC_ALL, LC_CTYPE or LANG, the first one set). The
// C and POSIX locales name none: a terminal reached without any locale
// setting (a remote shell, a container) is taken to be a UTF-8 one.
std::string TerminalCharset();

// Whether a character set name means UTF-8 ("UTF-8", "utf8", ...).
bool IsUtf8(std::string_view charset);

} // namespace zanfel
