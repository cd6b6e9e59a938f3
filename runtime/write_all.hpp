// Writing a whole buffer to a descriptor with write(2) alone, so that signal
// handlers and the ways out of the program can use it.
#pragma once

#include <cerrno>
#include <climits>
#include <cstddef>
#include <poll.h>
#include <unistd.h>

#include "runtime/interrupt.hpp"

namespace zanfel {

// Waits until `fd` takes PIPE_BUF bytes without blocking. A full console (a
// pipe nobody reads, a terminal held by Ctrl-S) would otherwise hold the run
// in write(2) past a stop signal, which the write restarts after: false when
// a stop was asked for meanwhile, and the write is given up so that the run
// reaches its end. Async-signal-safe.
inline bool WaitUntilWritable(int fd) {
  constexpr int kLookAgainMs = 200;
  for (;;) {
    struct pollfd p {};
    p.fd = fd;
    p.events = POLLOUT;
    const int ready = poll(&p, 1, kLookAgainMs);
    if (ready > 0)
      return true; // writable, or an error the write itself reports
    if (ready < 0 && errno != EINTR)
      return true;
    if (InterruptSignal() != 0)
      return false;
  }
}

// Async-signal-safe. False with errno set on an error (EIO when a write
// makes no progress, EINTR when it was given up for a stop); the ways out
// ignore it, having no better place to report one.
inline bool WriteAll(int fd, const char *s, std::size_t n) {
  while (n > 0) {
    if (!WaitUntilWritable(fd)) {
      errno = EINTR;
      return false;
    }
    // What poll promised room for: a blocking write of at most PIPE_BUF
    // bytes into a pipe with room does not wait.
    const ssize_t w = write(fd, s, n < PIPE_BUF ? n : PIPE_BUF);
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
