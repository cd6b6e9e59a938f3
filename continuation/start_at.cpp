#include "continuation/start_at.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "runtime/write_all.hpp"

namespace zanfel {

std::string NodesBeside(const std::string &csvPath) {
  const std::size_t slash = csvPath.rfind('/');
  const std::string path =
      (slash == std::string::npos ? std::string() : csvPath.substr(0, slash + 1)) + "ZANFEL.NODES";
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0)
    return "";
  std::string bytes;
  const int error = ReadRegularFile(fd, bytes);
  ::close(fd);
  return error == 0 ? bytes : "";
}

int CannotStartAt(std::string_view program, int status, std::string_view why) {
  const std::string line =
      std::string(program) + ": cannot start there: " + std::string(why) + '\n';
  WriteAll(2, line.data(), line.size());
  return status;
}

int ReadStartFile(std::string_view program, const std::string &path, StartFile &f) {
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd == kNotRegular)
    return CannotStartAt(program, kStartNoInput, path + ": " + kNotRegularReason);
  if (fd < 0)
    return CannotStartAt(program, kStartNoInput, path + ": " + std::strerror(errno));
  const int error = ReadRegularFile(fd, f.bytes);
  ::close(fd);
  if (error != 0)
    return CannotStartAt(program, kStartNoInput, path + ": " + std::strerror(error));
  const std::string_view text(f.bytes);
  std::size_t at = 0;
  while (at < text.size() && text[at] == '#') {
    const std::size_t end = text.find('\n', at);
    at = end == std::string_view::npos ? text.size() : end + 1;
  }
  f.head = text.substr(0, at);
  const std::string writer = HeadValue(f.head, "program");
  if (writer != program)
    return CannotStartAt(program, kStartBadData,
                         path + " was written by " +
                             (writer.empty() ? std::string("no program of this system") : writer));
  const std::size_t headerEnd = text.find('\n', at);
  if (headerEnd == std::string_view::npos)
    return CannotStartAt(program, kStartBadData, path + " holds no rows");
  f.header = text.substr(at, headerEnd - at);
  // Whole rows only: a run cut off leaves its last one torn; the note of an
  // early end is no row.
  for (std::size_t begin = headerEnd + 1, end;
       (end = text.find('\n', begin)) != std::string_view::npos; begin = end + 1)
    if (text[begin] != '#')
      f.rows.push_back(text.substr(begin, end - begin));
  return 0;
}

} // namespace zanfel
