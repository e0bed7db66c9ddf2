#include "png_writer.h"

#include <zlib.h>

#include <array>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace qzctl {

namespace {

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
    const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + data.size()));
    PutU32(out, static_cast<std::uint32_t>(crc));
}

int Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

// Filters 0..4 (none, sub, up, average, Paeth) of one row into out[0..w];
// `prior` is the row above (zeros for the first row). One byte per pixel,
// so "left" is the previous byte.
void FilterRow(int type, const std::uint8_t *row, const std::uint8_t *prior, std::size_t w,
               std::uint8_t *out) {
    out[0] = static_cast<std::uint8_t>(type);
    for (std::size_t i = 0; i < w; ++i) {
        const int x = row[i];
        const int a = i > 0 ? row[i - 1] : 0;
        const int b = prior[i];
        const int c = i > 0 ? prior[i - 1] : 0;
        int predicted = 0;
        switch (type) {
        case 1:
            predicted = a;
            break;
        case 2:
            predicted = b;
            break;
        case 3:
            predicted = (a + b) / 2;
            break;
        case 4:
            predicted = Paeth(a, b, c);
            break;
        default:
            break;
        }
        out[i + 1] = static_cast<std::uint8_t>(x - predicted);
    }
}

// The sum of the filtered bytes taken as signed values: the smaller, the
// better deflate usually does.
std::uint64_t Cost(const std::uint8_t *filtered, std::size_t w) {
    std::uint64_t sum = 0;
    for (std::size_t i = 1; i <= w; ++i)
        sum += static_cast<std::uint64_t>(std::abs(static_cast<std::int8_t>(filtered[i])));
    return sum;
}

} // namespace

std::vector<std::uint8_t> EncodeGreyPng(const std::uint8_t *pixels, int width, int height) {
    if (width <= 0 || height <= 0)
        throw std::invalid_argument("a PNG needs at least one pixel");
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);

    std::vector<std::uint8_t> filtered(h * (w + 1));
    const std::vector<std::uint8_t> zeros(w, 0);
    std::array<std::vector<std::uint8_t>, 5> trial;
    for (auto &t : trial)
        t.resize(w + 1);
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t *current = pixels + row * w;
        const std::uint8_t *prior = row > 0 ? pixels + (row - 1) * w : zeros.data();
        std::size_t best = 0;
        std::uint64_t bestCost = UINT64_MAX;
        for (std::size_t type = 0; type < trial.size(); ++type) {
            FilterRow(static_cast<int>(type), current, prior, w, trial[type].data());
            const std::uint64_t cost = Cost(trial[type].data(), w);
            if (cost < bestCost) {
                bestCost = cost;
                best = type;
            }
        }
        std::copy(trial[best].begin(), trial[best].end(),
                  filtered.begin() + static_cast<std::ptrdiff_t>(row * (w + 1)));
    }

    uLongf size = compressBound(static_cast<uLong>(filtered.size()));
    std::vector<std::uint8_t> z(size);
    const int rc = compress2(z.data(), &size, filtered.data(), static_cast<uLong>(filtered.size()),
                             Z_BEST_COMPRESSION);
    if (rc == Z_MEM_ERROR)
        throw std::bad_alloc();
    if (rc != Z_OK) // not reached: the buffer has compressBound's size
        throw std::runtime_error("zlib could not compress the image");
    z.resize(size);

    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    PutU32(ihdr, static_cast<std::uint32_t>(width));
    PutU32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.push_back(8); // bit depth
    ihdr.push_back(0); // colour type: greyscale
    ihdr.push_back(0); // compression: deflate
    ihdr.push_back(0); // filter method 0 (adaptive, five filter types)
    ihdr.push_back(0); // no interlace
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    return png;
}

} // namespace qzctl
