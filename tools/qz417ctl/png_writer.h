// 8-bit greyscale PNG files: each row gets the PNG filter that makes it
// smallest (the usual sum-of-differences choice), zlib deflates the rows and
// computes the chunk checksums.
#pragma once

#include <cstdint>
#include <vector>

namespace qzctl {

// The whole PNG file for width x height greyscale pixels, top row first.
// Throws std::invalid_argument for an empty size, std::bad_alloc when zlib
// runs out of memory.
std::vector<std::uint8_t> EncodeGreyPng(const std::uint8_t *pixels, int width, int height);

} // namespace qzctl
