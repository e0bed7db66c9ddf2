// The PNG writer: checksums against their published check values, and a
// decoder of stored-block PNGs that recovers every pixel.
#include <gtest/gtest.h>

#include <cstring>

#include "png_writer.h"

namespace qzctl {
namespace {

std::uint32_t Be32(const std::uint8_t *p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

struct Decoded {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    int storedBlocks = 0;
};

// Walks the chunks, checks every CRC, inflates the stored blocks and checks
// the Adler-32; fails the test on any fault.
Decoded DecodeStoredPng(const std::vector<std::uint8_t> &png) {
    Decoded d;
    static const std::uint8_t kSig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_EQ(std::memcmp(png.data(), kSig, 8), 0);
    std::vector<std::uint8_t> z;
    std::size_t at = 8;
    bool sawEnd = false;
    while (at + 12 <= png.size()) {
        const std::uint32_t len = Be32(&png[at]);
        const std::string type(reinterpret_cast<const char *>(&png[at + 4]), 4);
        EXPECT_EQ(Crc32(&png[at + 4], 4 + len), Be32(&png[at + 8 + len])) << type;
        if (type == "IHDR") {
            d.width = Be32(&png[at + 8]);
            d.height = Be32(&png[at + 12]);
            EXPECT_EQ(png[at + 16], 8);
            EXPECT_EQ(png[at + 17], 0);
        } else if (type == "IDAT") {
            z.insert(z.end(), png.begin() + static_cast<long>(at + 8),
                     png.begin() + static_cast<long>(at + 8 + len));
        } else if (type == "IEND") {
            sawEnd = true;
        }
        at += 12 + len;
    }
    EXPECT_TRUE(sawEnd);
    EXPECT_EQ(at, png.size());
    EXPECT_EQ(((z[0] << 8) | z[1]) % 31, 0);
    std::vector<std::uint8_t> raw;
    std::size_t p = 2;
    for (bool final = false; !final;) {
        final = z[p] & 1;
        EXPECT_EQ(z[p] >> 1, 0); // stored
        const unsigned len = z[p + 1] | (z[p + 2] << 8);
        const unsigned nlen = z[p + 3] | (z[p + 4] << 8);
        EXPECT_EQ(len ^ 0xFFFFu, nlen);
        raw.insert(raw.end(), z.begin() + static_cast<long>(p + 5),
                   z.begin() + static_cast<long>(p + 5 + len));
        p += 5 + len;
        ++d.storedBlocks;
    }
    EXPECT_EQ(Adler32(raw.data(), raw.size()), Be32(&z[p]));
    EXPECT_EQ(p + 4, z.size());
    for (std::uint32_t row = 0; row < d.height; ++row) {
        const std::size_t start = row * (d.width + 1);
        EXPECT_EQ(raw[start], 0); // filter none
        d.pixels.insert(d.pixels.end(), raw.begin() + static_cast<long>(start + 1),
                        raw.begin() + static_cast<long>(start + 1 + d.width));
    }
    return d;
}

TEST(PngWriter, ChecksumsMatchTheirCheckValues) {
    const auto *digits = reinterpret_cast<const std::uint8_t *>("123456789");
    EXPECT_EQ(Crc32(digits, 9), 0xCBF43926u);
    const auto *wiki = reinterpret_cast<const std::uint8_t *>("Wikipedia");
    EXPECT_EQ(Adler32(wiki, 9), 0x11E60398u);
    EXPECT_EQ(Adler32(nullptr, 0), 1u);
    // Adler-32 sums must wrap at 65521 even for long runs of 0xFF.
    const std::vector<std::uint8_t> ones(100000, 0xFF);
    std::uint32_t a = 1, b = 0;
    for (const auto v : ones) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    EXPECT_EQ(Adler32(ones.data(), ones.size()), (b << 16) | a);
}

TEST(PngWriter, CameraSizedImageDecodesToTheSamePixels) {
    std::vector<std::uint8_t> pixels(640 * 512);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 9));
    const Decoded d = DecodeStoredPng(EncodeGreyPng(pixels.data(), 640, 512));
    EXPECT_EQ(d.width, 640u);
    EXPECT_EQ(d.height, 512u);
    EXPECT_EQ(d.storedBlocks, 6); // 328192 bytes in blocks of at most 65535
    EXPECT_EQ(d.pixels, pixels);
}

TEST(PngWriter, TinyImageFitsOneBlock) {
    const std::uint8_t pixels[6] = {0, 50, 100, 150, 200, 255};
    const Decoded d = DecodeStoredPng(EncodeGreyPng(pixels, 3, 2));
    EXPECT_EQ(d.storedBlocks, 1);
    EXPECT_EQ(d.pixels, std::vector<std::uint8_t>(pixels, pixels + 6));
}

} // namespace
} // namespace qzctl
