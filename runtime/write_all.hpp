// Writing a whole buffer to a descriptor with write(2) alone, so that signal
// handlers and the ways out of the program can use it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace zanfel {

// Async-signal-safe. Gives up silently on an error: whoever calls it has no
// better place to report one.
inline void WriteAll(int fd, const char *s, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, s, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0)
      return;
    s += w;
    n -= static_cast<std::size_t>(w);
  }
}

} // namespace zanfel
