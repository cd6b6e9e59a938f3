// The results file FAIL: a text file at a fixed path, created empty, written
// record by record with CRLF line ends, each record written through at once.
// Every failed operation ends the program with its I/O error.
#pragma once

#include <string>
#include <string_view>

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
  void Rewrite();                           // create or truncate, open for writing
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
