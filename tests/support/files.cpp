#include "support/test_support.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace zanfel::testing {

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zanfel-test-XXXXXX";
  if (!mkdtemp(tmpl.data()))
    throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  // A test may have left a folder without write permission behind.
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (it->is_directory(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool Exists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

std::string Golden(const std::string &run, const std::string &file) {
  return ReadFile(std::string(ZANFEL_GOLDEN_DIR) + "/" + run + "/" + file);
}

std::string BuiltPath(const std::string &relative) {
  return std::string(ZANFEL_BINARY_DIR) + "/" + relative;
}

std::string ProgramPath(const std::string &name) {
  return BuiltPath("bin/" + name);
}

std::string FindProgram(const char *name) {
  for (const char *dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
    std::string path = std::string(dir) + name;
    if (access(path.c_str(), X_OK) == 0)
      return path;
  }
  return "";
}

std::vector<std::string> Entries(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string CsvWithoutComments(const std::string &csv) {
  std::string rows;
  for (std::size_t at = 0; at < csv.size();) {
    std::size_t end = csv.find('\n', at);
    end = end == std::string::npos ? csv.size() : end + 1;
    if (csv[at] != '#')
      rows.append(csv, at, end - at);
    at = end;
  }
  return rows;
}

} // namespace zanfel::testing
