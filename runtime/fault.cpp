// Run-time faults: the reports that end the program and the error numbers
// of failed file operations.
#include "runtime/fault.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "runtime/deferred_end.hpp"
#include "runtime/exit_sequence.hpp"

namespace zanfel {

namespace {

// The suffix is a view, so that no string lives in the frames a deferred end
// leaves behind.
[[noreturn]] void EndWithReport(int code, std::string_view suffix, int status = -1) {
  if (EndsDeferred())
    DeferReport(code, suffix);
  EndWith(ExitKind::Report, code, suffix, status);
}

// Whether the directory part of path exists as a directory.
bool DirectoryOfPathExists(std::string_view path) {
  std::string p(path);
  size_t slash = p.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ": <path>: <reason>", appended to text.
void AppendIoReason(std::string &text, std::string_view path, std::string_view reason) {
  text.append(": ").append(path).append(": ").append(reason);
}

} // namespace

void RuntimeError(int code) {
  EndWithReport(code, {});
}
void FatalRuntimeError(int code, int status) {
  EndWithReport(code, {}, status);
}
void RangeFault() {
  RuntimeError(kRangeCheck);
}
void IntegerOverflow() {
  RuntimeError(kIntegerOverflow);
}

int IoErrorCode(int e) {
  switch (e) {
  case ENOENT:
  case ENOTDIR:
  case ENAMETOOLONG:
  case ELOOP:
    return kPathNotFound;
  case EACCES:
  case EPERM:
  case EROFS:
  case EISDIR:
    return kAccessDenied;
  default:
    return kDiskWriteError;
  }
}

int IoErrorCode(int e, std::string_view path) {
  // A missing file in a directory that exists is "file not found"; a missing
  // directory on the way (the usual case when the file is created) is "path
  // not found".
  if (e == ENOENT && DirectoryOfPathExists(path))
    return kFileNotFound;
  return IoErrorCode(e);
}

void IoError(int e, std::string_view path) {
  IoError(IoErrorCode(e, path), path, std::strerror(e));
}

void IoError(int code, std::string_view path, std::string_view reason) {
  // No string of this frame may be alive when a held-back end jumps out.
  if (EndsDeferred()) {
    std::string &suffix = DeferredSuffix();
    suffix.clear();
    AppendIoReason(suffix, path, reason);
    DeferEnd(DeferredEnd::Kind::Report, code);
  }
  std::string suffix;
  AppendIoReason(suffix, path, reason);
  EndWithReport(code, suffix);
}

void FatalEnd(int status) {
  if (EndsDeferred())
    DeferEnd(DeferredEnd::Kind::Fatal, status);
  EndWith(ExitKind::Fatal, status);
}

} // namespace zanfel
