// The results file FAIL: a text file at a fixed path, created empty, written
// record by record with CRLF line ends, each record written through at once.
// Every failed operation ends the program with its I/O error.
#pragma once

#include <string>
#include <string_view>

namespace zanfel {

// Path of ZANFEL.RES in the build-time results directory.
std::string ResultsPath();
// Path of a file beside the results file (the plot snapshot).
std::string BesidePath(std::string_view name);

class TextFile {
public:
  TextFile() = default;
  TextFile(const TextFile &) = delete;
  TextFile &operator=(const TextFile &) = delete;
  ~TextFile();

  void Assign(std::string path);
  void Rewrite(); // create or truncate, open for writing
  // Opens the existing file for writing at its end, after cutting it back to
  // its first `keep` bytes (a resumed run goes on after its last whole record).
  void Append(long long keep);
  void Write(std::string_view text);        // buffered until WriteThrough
  void WriteLn(std::string_view text = {}); // text + CR LF
  void WriteThrough();                      // hand everything buffered to the file
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string &Path() const { return path_; }

private:
  std::string path_;
  std::string pending_;
  int fd_ = -1;
};

} // namespace zanfel
