#include "runtime/line_over.hpp"

#include <cstdlib>
#include <cstring>

#include "runtime/write_all.hpp"

namespace zanfel {

namespace {
// -1 until read; then 0 or 1. A plain int: signal handlers only read it.
volatile int dumb = -1;
} // namespace

bool DumbTerminal() {
  if (dumb < 0) {
    const char *term = std::getenv("TERM");
    dumb = term != nullptr && std::strcmp(term, "dumb") == 0 ? 1 : 0;
  }
  return dumb == 1;
}

std::string LineOver(const std::string &text, std::size_t previous) {
  if (!DumbTerminal())
    return "\r" + text + "\033[K";
  std::string line = "\r" + text;
  if (previous > text.size()) // blanks over the rest of the line before
    line += std::string(previous - text.size(), ' ');
  return line;
}

void EraseLineOver(int fd, std::size_t length) {
  if (dumb != 1) {
    static const char erase[] = "\r\033[K";
    WriteAll(fd, erase, sizeof erase - 1);
    return;
  }
  static const char blanks[] = "\r                                                               ";
  WriteAll(fd, "\r", 1);
  while (length > 0) {
    const std::size_t n = length < sizeof blanks - 2 ? length : sizeof blanks - 2;
    WriteAll(fd, blanks + 1, n);
    length -= n;
  }
  WriteAll(fd, "\r", 1);
}

} // namespace zanfel
