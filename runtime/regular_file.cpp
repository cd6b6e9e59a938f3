#include "runtime/regular_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zanfel {

int OpenRegularFile(const std::string &path, int flags, mode_t mode) {
  int fd;
  do
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // ELOOP: a symbolic link in the final place; ENXIO: a FIFO without a
    // reader or a device without its unit.
    return errno == ELOOP || errno == ENXIO ? kNotRegular : -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kNotRegular;
  }
  // Writes to a regular file wait for the disk as they always have.
  const int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int ReadRegularFile(int fd, std::string &bytes) {
  struct stat st {};
  if (fstat(fd, &st) != 0)
    return errno;
  bytes.assign(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return errno;
    if (n == 0)
      break; // cut shorter meanwhile
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return 0;
}

} // namespace zanfel
