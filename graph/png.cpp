#include "graph/png.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <unistd.h>

namespace graph {

namespace {

constexpr int kColours = 16;

// False with `error` set on failure.
bool WriteToStream(FILE *file, const IndexedImage &picture, int &error) {
  png_byte colourMap[kColours * 3];
  for (int i = 0; i < kColours; ++i) {
    const std::uint32_t c = picture.colours[i];
    colourMap[3 * i] = png_byte(c >> 16);
    colourMap[3 * i + 1] = png_byte(c >> 8);
    colourMap[3 * i + 2] = png_byte(c);
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(picture.width);
  image.height = png_uint_32(picture.height);
  image.format = PNG_FORMAT_RGB_COLORMAP;
  image.colormap_entries = kColours;
  errno = 0;
  bool ok =
      png_image_write_to_stdio(&image, file, 0, picture.pixels, picture.pitch, colourMap) != 0;
  error = errno;
  if (std::fflush(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  return ok;
}

} // namespace

// Through a stream of its own on a duplicate of the descriptor, so that
// closing the stream leaves the caller's descriptor open.
bool WritePng(int fd, const IndexedImage &image) {
  const int own = dup(fd);
  FILE *file = own < 0 ? nullptr : fdopen(own, "wb");
  if (!file) {
    if (own >= 0)
      close(own);
    return false;
  }
  int error = 0;
  bool ok = WriteToStream(file, image, error);
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok)
    errno = error != 0 ? error : EIO;
  return ok;
}

} // namespace graph
