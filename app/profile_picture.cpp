#include "app/profile_picture.hpp"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "plot/svg.hpp"
#include "report/profiles_csv.hpp"
#include "report/text_file.hpp"
#include "runtime/regular_file.hpp"
#include "runtime/whole_file.hpp"

namespace zanfel::profile_picture {

namespace {

long watched = 0;

// The number of solution components the head's column names give.
int ComponentsOf(std::string_view text) {
  const std::size_t row = text.find("\nrecord,label,P,t");
  if (row == std::string_view::npos)
    return 0;
  const std::size_t end = text.find('\n', row + 1);
  const std::string_view header = text.substr(row + 1, end - row - 1);
  int commas = 0;
  for (const char c : header)
    commas += c == ',';
  return commas - 3;
}

std::string SeriesName(const Profile &p) {
  return (p.label.empty() ? "record " + std::to_string(p.record) : p.label) +
         ", P = " + ShortReal(p.P);
}

} // namespace

void Watch(long component) {
  watched = component;
}

bool WriteNow(std::string_view program, std::string *failed) {
  if (watched <= 0)
    return true;
  std::string text;
  const int fd = OpenRegularFile(ProfilesPath(), O_RDONLY);
  if (fd < 0)
    return true; // no profiles file to draw from
  const int error = ReadRegularFile(fd, text);
  close(fd);
  if (error != 0)
    return true;
  const ProfilesText read = ReadProfiles(text, ComponentsOf(text));
  std::vector<svg::Sample> samples;
  svg::Labels labels{std::string(program), "t", "y" + std::to_string(watched), {}, {}, "profile"};
  const auto k = static_cast<std::size_t>(watched - 1);
  for (const Profile &p : read.profiles) {
    labels.series.push_back(SeriesName(p));
    const int pass = static_cast<int>(labels.series.size());
    for (const ProfilePoint &point : p.points)
      if (k < point.y.size())
        samples.push_back({pass, point.t, point.y[k]});
  }
  return WriteWholeFile(BesidePath(kProfilesPicture),
                        svg::CurvePicture(samples, labels, "y" + std::to_string(watched) + "(t)"),
                        failed);
}

} // namespace zanfel::profile_picture
