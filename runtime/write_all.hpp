// Writing a whole buffer to a descriptor with write(2) alone, so that signal
// handlers and the ways out of the program can use it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

namespace zanfel {

// Async-signal-safe. False with errno set on an error (EIO when a write
// makes no progress); the ways out ignore it, having no better place to
// report one.
inline bool WriteAll(int fd, const char *s, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, s, n);
    if (w < 0 && errno == EINTR)
      continue;
    if (w <= 0) {
      if (w == 0)
        errno = EIO;
      return false;
    }
    s += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

} // namespace zanfel
