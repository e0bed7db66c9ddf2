#include "png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace qz417::ctl {

namespace {

// Where libpng's output goes, and why it failed. Filled by the callbacks
// below; nothing in it needs a destructor to run when libpng jumps back.
struct Sink {
    std::vector<std::uint8_t> *out = nullptr;
    bool outOfMemory = false;
    char message[128] = "";
};

void WriteData(png_structp png, png_bytep data, png_size_t size) {
    auto *sink = static_cast<Sink *>(png_get_io_ptr(png));
    bool failed = false;
    try {
        sink->out->insert(sink->out->end(), data, data + size);
    } catch (...) {
        failed = true;
    }
    if (failed) { // outside the handler: png_error does not return
        sink->outOfMemory = true;
        png_error(png, "out of memory");
    }
}

void FlushData(png_structp) {}

void OnError(png_structp png, png_const_charp message) {
    auto *sink = static_cast<Sink *>(png_get_error_ptr(png));
    std::strncpy(sink->message, message, sizeof sink->message - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {} // the tool prints nothing of libpng's

// libpng reports errors by longjmp back to the setjmp below: between the two
// only plain locals live in this frame, and only libpng's C frames and the
// callbacks above, with nothing left to destroy, are skipped.
bool Encode(const std::uint8_t *pixels, png_uint_32 width, png_uint_32 height, Sink *sink) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, OnError, OnWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, WriteData, FlushData);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Each row gets the filter that makes it smallest; deflate at its best.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    for (png_uint_32 row = 0; row < height; ++row)
        png_write_row(png, pixels + static_cast<std::size_t>(row) * width);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::vector<std::uint8_t> EncodeGreyPng(const std::uint8_t *pixels, int width, int height) {
    if (width <= 0 || height <= 0)
        throw std::invalid_argument("a PNG needs at least one pixel");
    std::vector<std::uint8_t> png;
    png.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 2 + 1024);
    Sink sink;
    sink.out = &png;
    if (!Encode(pixels, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), &sink)) {
        if (sink.outOfMemory || sink.message[0] == '\0')
            throw std::bad_alloc(); // libpng's structures or the output could not grow
        throw std::runtime_error(std::string("libpng could not encode the image: ") + sink.message);
    }
    return png;
}

} // namespace qz417::ctl
