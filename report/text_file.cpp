// The results file on POSIX descriptors. Text is collected in memory and only
// handed to the system in WriteThrough, which the drivers call once per
// finished record: a record is never half-written by us, and nothing finished
// stays behind in a buffer when the program ends abruptly.
//
// The file ends on a whole record whatever happens: a failed write (disk
// full, file-size limit) cuts it back to the end of the last whole record,
// and so does every other way out while a record is being written (the end
// hook below, which also syncs the data).
#include "report/text_file.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "runtime/exit_sequence.hpp"
#include "runtime/fault.hpp"
#include "runtime/regular_file.hpp"
#include "runtime/write_all.hpp"

#ifndef ZANFEL_RESULTS_DIR
#define ZANFEL_RESULTS_DIR ""
#endif

namespace zanfel {

namespace {
// Set from the command line; otherwise the directory fixed at build time.
std::string resultsDirectory = ZANFEL_RESULTS_DIR;

// The records reach the kernel at once; asking the disk to keep them after
// every record would slow a long sweep for nothing a second cannot cover.
constexpr auto kSyncInterval = std::chrono::seconds(1);

// What a refused take reports after the path when another run holds the file.
constexpr const char *kInUseReason = "in use by another run";

// The open files (the results file and its companions) as the end hook sees
// them: a fixed table, read from signal handlers.
struct OpenFile {
  volatile int fd = -1;
  volatile off_t whole = 0;
  volatile sig_atomic_t writing = 0;
};
constexpr int kMaxOpenFiles = 4;
OpenFile openFiles[kMaxOpenFiles];

// Async-signal-safe: on every way out, a record cut short by the end goes and
// the rest is synced.
void KeepWholeRecordsAtEnd() {
  const int savedErrno = errno;
  for (auto &f : openFiles) {
    const int fd = f.fd;
    if (fd < 0)
      continue;
    if (f.writing)
      (void)!ftruncate(fd, f.whole);
    fdatasync(fd);
  }
  errno = savedErrno;
}

// A free entry of the table, or -1 when all are taken (the file then goes
// without the cut-back at an abrupt end).
int TakeOpenFileSlot() {
  for (int i = 0; i < kMaxOpenFiles; ++i)
    if (openFiles[i].fd < 0)
      return i;
  return -1;
}

std::string DirectoryOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// N of a name "<base>.~N~" as its digits (no leading zero), or "". Read as
// text, a number of any length is neither cut nor wrapped.
std::string BackupDigits(const std::string &name, const std::string &base) {
  const std::string head = base + ".~";
  if (name.size() < head.size() + 2 || name.compare(0, head.size(), head) != 0 ||
      name.back() != '~')
    return "";
  std::string digits = name.substr(head.size(), name.size() - head.size() - 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits[0] == '0')
    return "";
  return digits;
}

// Whether the whole number in `a` is above the one in `b` (digits, no
// leading zeros).
bool Above(const std::string &a, const std::string &b) {
  return a.size() != b.size() ? a.size() > b.size() : a > b;
}

std::string OneMore(std::string digits) {
  for (auto d = digits.rbegin(); d != digits.rend(); ++d) {
    if (*d != '9') {
      ++*d;
      return digits;
    }
    *d = '0';
  }
  return '1' + digits;
}

// One above the highest ".~N~" any of the files has already: the earlier
// runs' files keep their numbers and one run's files share one. "" with
// errno set when a directory cannot be read.
std::string NextBackupNumber(const std::vector<std::string> &paths) {
  std::string highest = "0";
  for (const std::string &path : paths) {
    DIR *dir = opendir(DirectoryOf(path).c_str());
    if (!dir)
      return "";
    const std::string base = NameOf(path);
    while (const dirent *entry = readdir(dir)) {
      const std::string n = BackupDigits(entry->d_name, base);
      if (!n.empty() && Above(n, highest))
        highest = n;
    }
    closedir(dir);
  }
  return OneMore(highest);
}

// The moves done so far, undone in reverse when a later one fails.
struct Moves {
  std::vector<std::pair<std::string, std::string>> done; // from, to
  std::string linked; // a second name given to the results file, or empty
  void Undo() {
    for (auto it = done.rbegin(); it != done.rend(); ++it)
      (void)::rename(it->second.c_str(), it->first.c_str());
    if (!linked.empty())
      (void)::unlink(linked.c_str());
  }
};

// A new, empty, locked file that will take the results file's name; -1
// with errno set when none can be made.
int NewLockedFile(const std::string &path, std::string &tempPath) {
  std::string name = path + ".~new~XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0)
    return -1;
  const mode_t mask = umask(0);
  umask(mask);
  (void)fchmod(fd, 0666 & ~mask);
  (void)flock(fd, LOCK_EX | LOCK_NB); // nobody else knows the name yet
  tempPath = name;
  return fd;
}

} // namespace

void SetResultsDirectory(std::string directory) {
  resultsDirectory = std::move(directory);
}

std::string DefaultResultsDirectory() {
  return ZANFEL_RESULTS_DIR;
}

std::string BesidePath(std::string_view name) {
  std::string path = resultsDirectory;
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
  if (fd_ >= 0)
    WriteAll(fd_, pending_.data(), pending_.size());
  ReleaseLock();
}

void TextFile::Assign(std::string path) {
  path_ = std::move(path);
}

void TextFile::KeepEarlier(std::vector<std::string> companions) {
  companions_ = std::move(companions);
  keepEarlier_ = true;
}

// With the old file locked: a new file, locked before it takes the name, and
// the old one keeps its lock until then under both names, so that a second
// run finds the name locked all along. The name is never missing on the way.
void TextFile::MoveEarlierAside() {
  keepEarlier_ = false;
  struct stat st {};
  const bool resultsThere = regular_ && fstat(lockFd_, &st) == 0 && st.st_size > 0;
  std::vector<std::string> present;
  for (const std::string &c : companions_) {
    struct stat cs {};
    if (lstat(c.c_str(), &cs) != 0)
      continue;
    // A link or a FIFO in a companion's place is refused as the results
    // file's would be, before anything moves.
    if (S_ISDIR(cs.st_mode))
      Refuse(EISDIR, c);
    if (!S_ISREG(cs.st_mode))
      Refuse(kAccessDenied, c, kNotRegularReason);
    present.push_back(c);
  }
  if (!regular_ || (!resultsThere && present.empty())) {
    created_ = false;
    return;
  }
  // Every file of the set is taken before any moves: a run whose results
  // file was renamed still holds its ZANFEL.CSV, and must keep it.
  const CompanionLocks held = LockCompanions(present);
  std::vector<std::string> all{path_};
  all.insert(all.end(), companions_.begin(), companions_.end());
  const std::string number = NextBackupNumber(all);
  if (number.empty())
    Refuse(errno, DirectoryOf(path_));
  const std::string suffix = ".~" + number + "~";
  std::string tempPath;
  const int newFd = NewLockedFile(path_, tempPath);
  if (newFd < 0)
    Refuse(errno, path_);
  Moves moves;
  const auto fail = [&](int error, const std::string &path) {
    moves.Undo();
    (void)::unlink(tempPath.c_str());
    ::close(newFd);
    Refuse(error, path);
  };
  // An empty results file is no loss and stays out of the set. A file
  // system without hard links gets the plain rename.
  if (!resultsThere)
    ;
  else if (::link(path_.c_str(), (path_ + suffix).c_str()) == 0)
    moves.linked = path_ + suffix;
  else if (errno == EEXIST) // taken since the names were read
    fail(errno, path_ + suffix);
  else if (errno != EPERM && errno != ENOTSUP && errno != EMLINK && errno != ENOSYS)
    fail(errno, path_);
  else if (::rename(path_.c_str(), (path_ + suffix).c_str()) == 0)
    moves.done.push_back({path_, path_ + suffix});
  else
    fail(errno, path_);
  for (const std::string &c : present) {
    if (::rename(c.c_str(), (c + suffix).c_str()) != 0)
      fail(errno, c);
    moves.done.push_back({c, c + suffix});
  }
  if (::rename(tempPath.c_str(), path_.c_str()) != 0)
    fail(errno, path_);
  created_ = false;
  ::close(lockFd_);
  lockFd_ = newFd;
  if (resultsThere)
    present.insert(present.begin(), path_);
  std::string line = "Earlier results kept as " + present.front() + suffix;
  for (size_t i = 1; i < present.size(); ++i)
    line += ", " + NameOf(present[i]) + suffix;
  line += "\n";
  WriteAll(2, line.data(), line.size());
}

// Each companion opened and locked as a run takes its files; one that
// another run holds ends this run before anything moves. A companion this
// run may not open is moved as it is.
TextFile::CompanionLocks TextFile::LockCompanions(const std::vector<std::string> &paths) {
  CompanionLocks held;
  for (const std::string &c : paths) {
    const int fd = OpenRegularFile(c, O_RDONLY);
    if (fd == kNotRegular)
      Refuse(kAccessDenied, c, kNotRegularReason); // put there since it was looked at
    if (fd < 0)
      continue;
    held.fds.push_back(fd);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
      Refuse(kAccessDenied, c, kInUseReason);
  }
  return held;
}

TextFile::CompanionLocks::~CompanionLocks() {
  for (const int fd : fds)
    ::close(fd);
}

// A results file this run made for nothing goes again, so that a refused
// run leaves every file as it was; only while the name is still that file.
void TextFile::Refuse(int error, const std::string &path, const char *reason) {
  struct stat mine {
  }, named{};
  if (created_ && fstat(lockFd_, &mine) == 0 && lstat(path_.c_str(), &named) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
    (void)::unlink(path_.c_str());
  created_ = false;
  if (reason)
    IoError(error, path, reason);
  IoError(error, path);
}

void TextFile::Publish(off_t whole, bool writing, int fd) {
  if (slot_ < 0)
    return;
  OpenFile &f = openFiles[slot_];
  f.whole = whole;
  f.writing = writing ? 1 : 0;
  f.fd = fd;
  if (fd < 0)
    slot_ = -1;
}

void TextFile::ReleaseLock() {
  if (lockFd_ < 0)
    return;
  Publish(0, false, -1);
  ::close(lockFd_);
  lockFd_ = -1;
}

// The file as it is, or one this run makes (`created_`): a run refused
// before it begins removes what it made.
int TextFile::OpenOrCreate() {
  created_ = false;
  int fd = -1;
  for (int attempt = 0; attempt < 3; ++attempt) { // the name may come and go meanwhile
    fd = OpenRegularFile(path_, O_WRONLY);
    if (fd != -1 || errno != ENOENT)
      return fd;
    fd = OpenRegularFile(path_, O_WRONLY | O_CREAT | O_EXCL);
    created_ = fd >= 0;
    if (fd != -1 || errno != EEXIST)
      return fd;
  }
  return fd;
}

// Opens the file without changing it and takes its lock; the lock belongs to
// the open file, so it goes with the process however that ends. Only a
// regular file is taken: a symbolic link, a FIFO or a device in its place
// ends the program before any byte changes. -1 with errno set when the file
// cannot be opened and `mustExist` (nothing is reported then).
int TextFile::OpenLocked(bool mustExist) {
  const int fd = mustExist ? OpenRegularFile(path_, O_RDWR) : OpenOrCreate();
  if (fd == kNotRegular)
    IoError(kAccessDenied, path_, kNotRegularReason);
  if (fd < 0) {
    if (mustExist)
      return -1;
    IoError(errno, path_);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    // A file system without locks still takes the results.
    if (error == EWOULDBLOCK) {
      ::close(fd);
      IoError(kAccessDenied, path_, kInUseReason);
    }
  }
  regular_ = true;
  return fd;
}

int TextFile::TakeExisting(std::string &bytes) {
  if (lockFd_ >= 0)
    ReleaseLock();
  const int fd = OpenLocked(true);
  if (fd < 0) {
    const int error = errno;
    // A file the resume may read but not write is refused as a run that
    // cannot write its file is: the I/O error, before anything changes.
    if (error == EACCES || error == EPERM || error == EROFS) {
      const int readable = OpenRegularFile(path_, O_RDONLY);
      if (readable >= 0) {
        ::close(readable);
        IoError(error, path_);
      }
    }
    return error;
  }
  lockFd_ = fd;
  lockedPath_ = path_;
  return ReadRegularFile(fd, bytes);
}

void TextFile::Empty() {
  if (regular_ && (ftruncate(fd_, 0) != 0 || lseek(fd_, 0, SEEK_SET) != 0))
    IoError(errno, path_);
  whole_ = 0;
}

void TextFile::TakeFile() {
  if (fd_ >= 0)
    Close();
  pending_.clear();
  // shoot_a1 empties the file at every pass: the lock is kept between them.
  if (lockFd_ >= 0 && lockedPath_ != path_)
    ReleaseLock();
  if (lockFd_ < 0) {
    lockFd_ = OpenLocked(false);
    lockedPath_ = path_;
    if (keepEarlier_)
      MoveEarlierAside();
  }
  fd_ = lockFd_;
}

void TextFile::Take() {
  if (lockFd_ >= 0 && lockedPath_ == path_)
    return;
  ReleaseLock();
  lockFd_ = OpenLocked(false);
  lockedPath_ = path_;
  if (keepEarlier_)
    MoveEarlierAside();
}

void TextFile::Rewrite() {
  TakeFile();
  Empty();
  StartWriting();
}

void TextFile::Append(long long keep) {
  TakeFile();
  if (::ftruncate(fd_, static_cast<off_t>(keep)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0)
    IoError(errno, path_);
  whole_ = static_cast<off_t>(keep);
  StartWriting();
}

void TextFile::CutBack(long long keep) {
  if (fd_ < 0 || !pending_.empty() || keep > static_cast<long long>(whole_))
    IoError(EBADF, path_);
  if (regular_ &&
      (::ftruncate(fd_, static_cast<off_t>(keep)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0))
    IoError(errno, path_);
  whole_ = static_cast<off_t>(keep);
  Publish(whole_, false, fd_);
}

void TextFile::StartWriting() {
  lastSync_ = std::chrono::steady_clock::now();
  if (slot_ < 0)
    slot_ = TakeOpenFileSlot();
  Publish(whole_, false, fd_);
  AddEndHook(KeepWholeRecordsAtEnd);
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

void TextFile::CutBackAndFail(int error) {
  if (regular_) {
    while (ftruncate(fd_, whole_) != 0 && errno == EINTR) {
    }
  }
  Publish(whole_, false, fd_);
  IoError(error, path_);
}

void TextFile::WriteThrough() {
  if (fd_ < 0)
    IoError(EBADF, path_);
  if (pending_.empty())
    return;
  Publish(whole_, true, fd_);
  // No progress on a regular file counts as a device failure (EIO).
  if (!WriteAll(fd_, pending_.data(), pending_.size()))
    CutBackAndFail(errno);
  whole_ += static_cast<off_t>(pending_.size());
  Publish(whole_, false, fd_);
  pending_.clear();
  SyncEverySecond();
}

void TextFile::SyncEverySecond() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastSync_ < kSyncInterval)
    return;
  lastSync_ = now;
  Sync();
}

void TextFile::Sync() {
  // Devices and pipes have nothing to sync.
  if (regular_ && fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS)
    IoError(errno, path_);
}

void TextFile::HoldUntilExit() {
  // The descriptors are left open on purpose: the lock goes with the process.
  pending_.clear();
  lockFd_ = -1;
  fd_ = -1;
  slot_ = -1;
}

void TextFile::Close() {
  WriteThrough();
  Sync();
  // The descriptor stays open as the holder of the lock: another run must not
  // empty the file while this one is still on its way to its end.
  Publish(whole_, false, -1);
  fd_ = -1;
}

} // namespace zanfel
