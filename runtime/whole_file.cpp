#include "runtime/whole_file.hpp"
#include "runtime/write_all.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/regular_file.hpp"

namespace zanfel {

bool WriteWholeFile(const std::string &path, WholeFileWriter write, void *ctx,
                    std::string *failed) {
  const std::string beside = path + ".part";
  if (failed)
    *failed = beside;
  // The partial file's name is fixed: whatever another user planted there (a
  // link to their own file, a FIFO) goes, and the file is made anew.
  if (unlink(beside.c_str()) != 0 && errno != ENOENT)
    return false;
  const int fd = OpenRegularFile(beside, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) {
    if (fd == kNotRegular || errno == EEXIST)
      errno = EEXIST; // something took the name again between the two calls
    return false;
  }
  bool ok = write(fd, ctx);
  // Devices and pipes have nothing to sync.
  ok = ok && (fdatasync(fd) == 0 || errno == EINVAL);
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && std::rename(beside.c_str(), path.c_str()) != 0) {
    ok = false;
    error = errno;
    if (failed)
      *failed = path;
  }
  if (!ok) {
    unlink(beside.c_str());
    errno = error != 0 ? error : EIO;
  }
  return ok;
}

bool WriteWholeFile(const std::string &path, std::string_view text, std::string *failed) {
  return WriteWholeFile(
      path,
      [](int fd, void *ctx) {
        const auto &t = *static_cast<std::string_view *>(ctx);
        return WriteAll(fd, t.data(), t.size());
      },
      &text, failed);
}

} // namespace zanfel
