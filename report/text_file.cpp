// The results file on POSIX descriptors. Text is collected in memory and only
// handed to the system in WriteThrough, which the drivers call once per
// finished record: a record is never half-written by us, and nothing finished
// stays behind in a buffer when the program ends abruptly.
#include "report/text_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/fault.hpp"

#ifndef ZANFEL_RESULTS_DIR
#define ZANFEL_RESULTS_DIR ""
#endif

namespace zanfel {

std::string BesidePath(std::string_view name) {
  std::string path = ZANFEL_RESULTS_DIR;
  if (!path.empty() && path.back() != '/')
    path += '/';
  path += name;
  return path;
}

std::string ResultsPath() {
  return BesidePath("ZANFEL.RES");
}

TextFile::~TextFile() {
  // Normal runs close explicitly; this only keeps what is pending when an
  // object goes away open, and must not end the program from a destructor.
  if (fd_ < 0)
    return;
  const char *p = pending_.data();
  std::size_t left = pending_.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ::close(fd_);
}

void TextFile::Assign(std::string path) {
  path_ = std::move(path);
}

void TextFile::Rewrite() {
  if (fd_ >= 0)
    Close();
  pending_.clear();
  int fd;
  do
    fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    IoError(errno, path_);
  fd_ = fd;
}

void TextFile::Append(long long keep) {
  if (fd_ >= 0)
    Close();
  pending_.clear();
  int fd;
  do
    fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0)
    IoError(errno, path_);
  fd_ = fd;
  if (::ftruncate(fd_, static_cast<off_t>(keep)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0)
    IoError(errno, path_);
}

void TextFile::Write(std::string_view text) {
  if (fd_ < 0)
    IoError(EBADF, path_);
  pending_.append(text);
}

void TextFile::WriteLn(std::string_view text) {
  Write(text);
  pending_ += "\r\n";
}

void TextFile::WriteThrough() {
  if (fd_ < 0)
    IoError(EBADF, path_);
  const char *p = pending_.data();
  std::size_t left = pending_.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      IoError(errno, path_);
    }
    if (n == 0) // no progress on a regular file: treat as a device failure
      IoError(EIO, path_);
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  pending_.clear();
}

void TextFile::Close() {
  WriteThrough();
  const int fd = fd_;
  fd_ = -1;
  // On Linux the descriptor is gone even when close reports EINTR.
  if (::close(fd) != 0 && errno != EINTR)
    IoError(errno, path_);
}

} // namespace zanfel
