// 8-bit greyscale PNG files, written by libpng (its adaptive row filters,
// zlib's deflate, the chunk checksums).
#pragma once

#include <cstdint>
#include <vector>

namespace qz417::ctl {

// The whole PNG file for width x height greyscale pixels, top row first.
// Throws std::invalid_argument for an empty size, std::bad_alloc when
// libpng runs out of memory, std::runtime_error should it refuse otherwise.
std::vector<std::uint8_t> EncodeGreyPng(const std::uint8_t *pixels, int width, int height);

} // namespace qz417::ctl
