// The PNG writer, read back by libpng (a decoder that checks every CRC and
// the zlib stream): the same pixels, the camera size, and a file much smaller
// than the raw picture.
#include <gtest/gtest.h>

#include <png.h>

#include <cstring>
#include <stdexcept>

#include "png_writer.h"

namespace qz417::ctl {
namespace {

struct Decoded {
    bool ok = false;
    std::string message;
    png_uint_32 width = 0, height = 0, format = 0;
    std::vector<std::uint8_t> pixels;
};

Decoded DecodeWithLibpng(const std::vector<std::uint8_t> &file) {
    Decoded d;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, file.data(), file.size()) == 0) {
        d.message = image.message;
        return d;
    }
    d.width = image.width;
    d.height = image.height;
    d.format = image.format;
    image.format = PNG_FORMAT_GRAY;
    d.pixels.resize(PNG_IMAGE_SIZE(image));
    d.ok = png_image_finish_read(&image, nullptr, d.pixels.data(), 0, nullptr) != 0;
    d.message = image.message;
    png_image_free(&image);
    return d;
}

std::uint32_t Be32(const std::uint8_t *p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

// A camera-like picture: a dark background with noise, a bright laser line
// wandering across the columns, and a gradient; every filter type pays off
// somewhere in it.
std::vector<std::uint8_t> CameraLikePicture(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height));
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            int v = 10 + x / 16 + static_cast<int>((seed >> 24) & 7);
            const int line = height / 2 + (x % 97) - 48;
            if (std::abs(y - line) < 3)
                v = 250 - 20 * std::abs(y - line);
            pixels[static_cast<std::size_t>(y * width + x)] = static_cast<std::uint8_t>(v);
        }
    }
    return pixels;
}

TEST(PngWriter, CameraSizedPictureReadsBackPixelForPixel) {
    const std::vector<std::uint8_t> pixels = CameraLikePicture(640, 512);
    const std::vector<std::uint8_t> png = EncodeGreyPng(pixels.data(), 640, 512);
    const Decoded d = DecodeWithLibpng(png);
    ASSERT_TRUE(d.ok) << d.message;
    EXPECT_EQ(d.width, 640u);
    EXPECT_EQ(d.height, 512u);
    EXPECT_EQ(d.format, static_cast<png_uint_32>(PNG_FORMAT_GRAY)); // stored as 8-bit grey
    EXPECT_EQ(d.pixels, pixels);
    // The stored-block writer needed 328 KB for every picture; three bits of
    // noise per pixel put the floor near 40 %.
    EXPECT_LT(png.size(), pixels.size() * 6 / 10) << png.size();
}

TEST(PngWriter, EdgeValuesAndOddSizesSurviveEveryFilter) {
    // Alternating 0/255 columns and rows make the Sub, Up, Average and Paeth
    // predictions wrap around 256.
    for (const auto &[w, h] : std::vector<std::pair<int, int>>{{1, 1}, {3, 2}, {7, 5}, {640, 3}}) {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w * h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                pixels[static_cast<std::size_t>(y * w + x)] =
                    static_cast<std::uint8_t>(((x + y) % 2) ? 255 : (x * 37 + y * 11) % 256);
        const Decoded d = DecodeWithLibpng(EncodeGreyPng(pixels.data(), w, h));
        ASSERT_TRUE(d.ok) << w << "x" << h << ": " << d.message;
        EXPECT_EQ(d.pixels, pixels) << w << "x" << h;
    }
}

TEST(PngWriter, ChunksAreInOrderAndADamagedChunkIsRefused) {
    const std::uint8_t pixels[6] = {0, 50, 100, 150, 200, 255};
    std::vector<std::uint8_t> png = EncodeGreyPng(pixels, 3, 2);
    ASSERT_EQ(std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8), 0);
    std::vector<std::string> types;
    for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + Be32(&png[at]))
        types.emplace_back(reinterpret_cast<const char *>(&png[at + 4]), 4);
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    // Flip one bit of the compressed data: the CRC no longer matches.
    png[8 + 25 + 8] ^= 0x01;
    EXPECT_FALSE(DecodeWithLibpng(png).ok);
}

TEST(PngWriter, RefusesAnEmptyPicture) {
    const std::uint8_t pixel = 0;
    EXPECT_THROW(EncodeGreyPng(&pixel, 0, 1), std::invalid_argument);
    EXPECT_THROW(EncodeGreyPng(&pixel, 1, -1), std::invalid_argument);
}

} // namespace
} // namespace qz417::ctl
