// zanfel_curves: the curves of several runs in one picture. Each ZANFEL.CSV
// given is one curve of a column against P, named by its folder, its folds
// and branch points marked; a branch and the branches switched onto from it
// are then seen together.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "plot/svg.hpp"
#include "report/csv.hpp"
#include "report/record_kind.hpp"
#include "report/results_csv.hpp"
#include "runtime/regular_file.hpp"
#include "runtime/whole_file.hpp"
#include "runtime/write_all.hpp"

namespace zanfel {
namespace {

constexpr int kUsage = 64, kBadData = 65, kNoInput = 66, kCannotWrite = 73;

int Say(int status, const std::string &what) {
  const std::string line = "zanfel_curves: " + what + '\n';
  WriteAll(2, line.data(), line.size());
  return status;
}

// The folder a CSV lies in, which names its curve ("." for a bare name).
std::string CurveName(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  const std::string dir = path.substr(0, slash);
  const std::size_t up = dir.rfind('/');
  return up == std::string::npos ? dir : dir.substr(up + 1);
}

// The rows of one file as samples of curve `pass`: 0, or the status after
// the message.
int ReadCurve(const std::string &path, const std::string &column, int pass,
              std::vector<svg::Sample> &samples, std::string &program) {
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0)
    return Say(kNoInput,
               path + ": " + (fd == kNotRegular ? kNotRegularReason : std::strerror(errno)));
  std::string text;
  const int error = ReadRegularFile(fd, text);
  ::close(fd);
  if (error != 0)
    return Say(kNoInput, path + ": " + std::strerror(error));
  if (program.empty())
    program = HeadValue(text, "program");
  std::vector<std::string_view> names;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string_view line(text.data() + at, end - at);
    if (line.starts_with('#'))
      continue;
    const std::vector<std::string_view> fields = SplitFields(line);
    if (names.empty()) {
      names = fields;
      continue;
    }
    svg::Sample s{pass, 0.0L, 0.0L};
    bool haveP = false, haveY = false;
    for (std::size_t i = 0; i < fields.size() && i < names.size(); ++i) {
      RecordLabel label;
      if (names[i] == "P")
        haveP = ParseReal(fields[i], s.x);
      else if (names[i] == column)
        haveY = ParseReal(fields[i], s.y);
      else if (names[i] == "label" && ParseLabel(fields[i], label))
        s.kind = label.kind;
    }
    if (!haveP || !haveY)
      return Say(kBadData, path + ": " +
                               (names.empty() ? "no header row"
                                              : "no columns P and " + column + " in row " +
                                                    std::string(line.substr(0, 20))));
    s.P = s.x;
    samples.push_back(s);
  }
  if (names.empty())
    return Say(kBadData, path + ": no header row");
  return 0;
}

int Curves(int argc, char **argv) {
  std::string column, out;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "--y" || arg == "--out") && i + 1 < argc)
      (arg == "--y" ? column : out) = argv[++i];
    else if (arg.starts_with("--"))
      return Say(kUsage, "unknown option '" + std::string(arg) + "'");
    else
      files.emplace_back(arg);
  }
  if (column.empty() || out.empty() || files.empty())
    return Say(kUsage, "usage: zanfel_curves --y COLUMN --out PICTURE.svg CSV...");
  std::vector<svg::Sample> samples;
  svg::Labels labels{"", "P", column};
  for (const std::string &file : files) {
    labels.series.push_back(CurveName(file));
    if (const int status = ReadCurve(file, column, static_cast<int>(labels.series.size()), samples,
                                     labels.program))
      return status;
  }
  labels.seriesCounted = "curve";
  std::string failed;
  if (!WriteWholeFile(out, svg::CurvePicture(samples, labels, column + " against P"), &failed))
    return Say(kCannotWrite, out + ": " + failed);
  return 0;
}

} // namespace
} // namespace zanfel

int main(int argc, char **argv) {
  return zanfel::Curves(argc, argv);
}
