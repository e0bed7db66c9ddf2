#include "png_writer.h"

#include <algorithm>
#include <array>

namespace qzctl {

namespace {

std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

void PutU32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void PutChunk(std::vector<std::uint8_t> &out, const char *type,
              const std::vector<std::uint8_t> &data) {
    PutU32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutU32(out, Crc32(out.data() + typeAt, 4 + data.size()));
}

} // namespace

std::uint32_t Crc32(const std::uint8_t *data, std::size_t size, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t c = crc ^ 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::uint8_t *data, std::size_t size, std::uint32_t adler) {
    constexpr std::uint32_t kMod = 65521;
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % kMod;
        b = (b + a) % kMod;
    }
    return (b << 16) | a;
}

std::vector<std::uint8_t> EncodeGreyPng(const std::uint8_t *pixels, int width, int height) {
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);

    // Filter type 0 (none) in front of every row.
    std::vector<std::uint8_t> raw;
    raw.reserve(h * (w + 1));
    for (std::size_t row = 0; row < h; ++row) {
        raw.push_back(0);
        raw.insert(raw.end(), pixels + row * w, pixels + (row + 1) * w);
    }

    // zlib stream: header (deflate, 32K window, no preset dictionary, check
    // bits so that the 16-bit header is a multiple of 31), stored blocks of at
    // most 65535 bytes, Adler-32 of the uncompressed data.
    std::vector<std::uint8_t> z = {0x78, 0x01};
    constexpr std::size_t kMaxStored = 65535;
    std::size_t at = 0;
    do {
        const std::size_t len = std::min(kMaxStored, raw.size() - at);
        const bool final = at + len == raw.size();
        z.push_back(final ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(len & 0xFF));
        z.push_back(static_cast<std::uint8_t>(len >> 8));
        z.push_back(static_cast<std::uint8_t>(~len & 0xFF));
        z.push_back(static_cast<std::uint8_t>((~len >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + len));
        at += len;
    } while (at < raw.size());
    PutU32(z, Adler32(raw.data(), raw.size()));

    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    PutU32(ihdr, static_cast<std::uint32_t>(width));
    PutU32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.push_back(8); // bit depth
    ihdr.push_back(0); // colour type: greyscale
    ihdr.push_back(0); // compression: deflate
    ihdr.push_back(0); // filter method 0
    ihdr.push_back(0); // no interlace
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

} // namespace qzctl
