// Opening the program's own files (the results files, the pictures' partial
// files, the files a resume reads) as regular files only. The names are fixed
// and the folder may be shared: a symbolic link planted in a file's place
// must not redirect a write, and a FIFO or a device must not block the run
// in open or feed it without end.
#pragma once

#include <string>
#include <sys/types.h>

namespace zanfel {

// What a refused open reports after the path.
constexpr const char *kNotRegularReason = "not a regular file";
// OpenRegularFile's result for a file that exists but is not a regular file
// (a symbolic link in the final place, a FIFO, a device, a directory opened
// for reading).
constexpr int kNotRegular = -2;

// open(2) of `path` with `flags` (O_CLOEXEC, O_NOFOLLOW and O_NONBLOCK are
// added; O_NONBLOCK is cleared again once the file is known to be regular).
// The descriptor; -1 with errno set when open fails for another reason;
// kNotRegular (nothing left open).
int OpenRegularFile(const std::string &path, int flags, mode_t mode = 0644);

// The whole of a regular file opened for reading, read up to the size the
// file has when it is opened (a file that grows meanwhile is read no
// further). 0, or the errno value of the failure.
int ReadRegularFile(int fd, std::string &bytes);

} // namespace zanfel
