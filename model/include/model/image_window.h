// The image window: the rectangle of the camera picture that the scanner
// keeps in its parameter block, and its conversion between picture pixels
// and the block's four window fields.
#pragma once

#include <cstdint>

#include "model/config_area.h"

namespace qz417 {

constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 512;

// Picture pixels; right and bottom are the last column and row the outline
// passes through.
struct WindowRectangle {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    bool operator==(const WindowRectangle &) const = default;
};

constexpr WindowRectangle kWholePicture{0, 0, kPictureWidth - 1, kPictureHeight - 1};

// The window fields of the block, each in 1/255 of the picture's width or height.
struct WindowFields {
    std::uint8_t left = 0;
    std::uint8_t width = 0;
    std::uint8_t top = 0;
    std::uint8_t height = 0;
    bool operator==(const WindowFields &) const = default;
};

// The end of a drag: right and bottom clamped to the last column and row;
// an inverted rectangle becomes the whole picture.
WindowRectangle FinishSelection(WindowRectangle r);
// Picture pixels -> window fields (truncating integer division).
WindowFields EncodeImageWindow(const WindowRectangle &r);
// Window fields -> picture pixels (truncating; not the inverse of the encoding).
WindowRectangle DecodeImageWindow(const WindowFields &f);
WindowFields WindowFieldsOf(const ConfigArea &area);

} // namespace qz417
