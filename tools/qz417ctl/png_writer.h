// A self-contained PNG writer for 8-bit greyscale images: the image data is
// kept in uncompressed ("stored") deflate blocks, so no compression library
// is needed; CRC-32 and Adler-32 are computed here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qzctl {

std::uint32_t Crc32(const std::uint8_t *data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t Adler32(const std::uint8_t *data, std::size_t size, std::uint32_t adler = 1);

// The whole PNG file for width x height greyscale pixels, top row first.
std::vector<std::uint8_t> EncodeGreyPng(const std::uint8_t *pixels, int width, int height);

} // namespace qzctl
