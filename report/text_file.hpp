// The results file FAIL: a text file at a fixed path, created empty, written
// record by record with CRLF line ends, each record written through at once.
// Every failed operation ends the program with its I/O error; the file then
// still ends on a whole record.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace zanfel {

// Path of ZANFEL.RES in the results directory.
std::string ResultsPath();
// The results directory: the one fixed at build time (empty: the working
// directory) unless set for the run.
void SetResultsDirectory(std::string directory);
std::string DefaultResultsDirectory();
// Path of a file beside the results file (the plot snapshot).
std::string BesidePath(std::string_view name);

class TextFile {
public:
  TextFile() = default;
  TextFile(const TextFile &) = delete;
  TextFile &operator=(const TextFile &) = delete;
  ~TextFile();

  void Assign(std::string path);
  // Opens the file and takes its lock without changing it (Rewrite and
  // Append then use it): a run takes all its files before it empties any.
  void Take();
  // The next Rewrite first keeps what an earlier run left: this file and
  // these companions beside it (names in the same directory) move aside
  // together under the next free ".~N~" suffix, with one line on standard
  // error saying where. Every file of the set is locked before any moves (a
  // companion another run holds refuses this one). A failure to keep them
  // is an I/O error before anything has changed; a results file this run
  // created is removed again.
  void KeepEarlier(std::vector<std::string> companions);
  // Takes the file for this run (an exclusive lock, kept until the object
  // goes; another run holding it ends the program before any byte changes),
  // then empties it and opens it for writing.
  void Rewrite();
  // Takes the file as Rewrite does, then cuts it back to its first `keep`
  // bytes and opens it for writing at its end (a resumed run goes on after
  // its last whole record).
  void Append(long long keep);
  // Takes the file as Rewrite does, but only when it exists, and reads it
  // whole without changing it (a resume reads the files it goes on with
  // under their locks). 0, or the errno value when it cannot be opened or
  // read.
  int TakeExisting(std::string &bytes);
  void Write(std::string_view text);        // buffered until WriteThrough
  void WriteLn(std::string_view text = {}); // text + CR LF
  // Hands everything buffered to the file as one whole record: a record that
  // cannot be written whole is cut off again before the error is reported.
  // The data is synced to the disk at most once a second.
  void WriteThrough();
  void Close(); // writes through and syncs; the lock stays
  // Where the whole records written so far end (what is buffered not
  // counted).
  long long Written() const { return static_cast<long long>(whole_); }
  // Cuts the file back to its first `keep` bytes (at most Written()), which
  // become its last whole record, and writes on from there: a record written
  // again with what is known only later. Nothing may be buffered.
  void CutBack(long long keep);
  // The program is about to end through its exit sequence (a failed run):
  // the object may go, but the file stays locked and its end hook keeps
  // watching its last whole record until the process ends. Nothing pending
  // is written, as at any other end.
  void HoldUntilExit();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string &Path() const { return path_; }

private:
  int OpenLocked(bool mustExist);
  int OpenOrCreate();
  // The companions' own locks, held while the set moves aside.
  struct CompanionLocks {
    std::vector<int> fds;
    CompanionLocks() = default;
    CompanionLocks(CompanionLocks &&) = default;
    ~CompanionLocks();
  };
  CompanionLocks LockCompanions(const std::vector<std::string> &paths);
  // The I/O error that refuses the run, the file it created first removed.
  [[noreturn]] void Refuse(int error, const std::string &path, const char *reason = nullptr);
  void TakeFile(); // open and locked for this run, nothing pending
  void ReleaseLock();
  void MoveEarlierAside();
  void Empty();
  void StartWriting();
  // What the end hook knows of this file: where its last whole record ends,
  // whether a record is on its way, its descriptor (-1: none to look after).
  void Publish(off_t whole, bool writing, int fd);
  [[noreturn]] void CutBackAndFail(int error);
  void SyncEverySecond();
  void Sync();

  std::string path_;
  std::string pending_;
  int fd_ = -1;     // open for writing, or -1
  int lockFd_ = -1; // holds the lock from the first Rewrite on, or -1
  std::string lockedPath_;
  std::vector<std::string> companions_;
  bool keepEarlier_ = false;
  bool regular_ = false;
  bool created_ = false; // made by this run, and nothing moved aside yet
  off_t whole_ = 0;      // end of the last whole record
  int slot_ = -1;        // entry in the end hook's table, or -1
  std::chrono::steady_clock::time_point lastSync_;
};

} // namespace zanfel
