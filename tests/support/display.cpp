#include "support/test_support.hpp"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zanfel::testing {

void NoDisplay() {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("SDL_VIDEODRIVER");
}

bool VirtualDisplay::Start() {
  int p[2];
  if (pipe(p) != 0)
    return false;
  const std::string xvfb = FindProgram("Xvfb");
  pid_ = fork();
  if (pid_ == 0) {
    close(p[0]);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    const std::string fd = std::to_string(p[1]);
    execl(xvfb.c_str(), xvfb.c_str(), "-displayfd", fd.c_str(), "-screen", "0", "800x600x24",
          "-nolisten", "tcp", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(p[1]);
  // The server writes its display number once it accepts clients.
  std::string number;
  char c;
  pollfd fd = {p[0], POLLIN, 0};
  while (poll(&fd, 1, 20000) > 0 && read(p[0], &c, 1) == 1 && c != '\n')
    number += c;
  close(p[0]);
  name_ = ":" + number;
  return !number.empty();
}

void VirtualDisplay::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

VirtualDisplay::~VirtualDisplay() {
  Stop();
}

} // namespace zanfel::testing
