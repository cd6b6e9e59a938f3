// A file that is either whole or not there: written beside its place
// (`path` + ".part"), synced, then renamed over it. A write that fails
// leaves no cut-off file and keeps the file that was there before.
#pragma once

#include <string>
#include <string_view>

namespace zanfel {

// `write` fills the open descriptor and returns false with errno set when it
// cannot. False with errno set when the file could not be put in place; then
// `failed`, when given, names the file the failure is about: the partial file,
// or `path` itself when the finished file could not take its place.
using WholeFileWriter = bool (*)(int fd, void *ctx);
bool WriteWholeFile(const std::string &path, WholeFileWriter write, void *ctx,
                    std::string *failed = nullptr);

// The same with the bytes of `text`.
bool WriteWholeFile(const std::string &path, std::string_view text, std::string *failed = nullptr);

} // namespace zanfel
