// The picture file: a palette-indexed canvas as an indexed PNG.
#pragma once

#include <cstdint>

namespace graph {

// An 8-bit indexed image whose indices 0..15 show `colours` (0xRRGGBB).
struct IndexedImage {
  const void *pixels;
  int width;
  int height;
  int pitch; // bytes from one row to the next
  const std::uint32_t *colours;
};

// Writes `image` as a PNG to the file open on `fd` (the descriptor stays
// open). False with errno set on failure.
bool WritePng(int fd, const IndexedImage &image);

} // namespace graph
