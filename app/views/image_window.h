// The image window: the rectangle of the camera picture that the scanner
// keeps in its parameter block, its selection with the mouse, and its
// conversion between picture pixels and the block's window fields.
//
// The state below is the image view's own; the mouse handlers, the drawing
// and the read-back of the parameter block all use it on the window thread.
#pragma once

#include <cstdint>

#include "config/config_area.h"

namespace qz {

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

// Mouse steps of the selection (the left button only; the handlers filter).
void BeginWindowSelection(std::int32_t x, std::int32_t y);
void MoveWindowSelection(std::int32_t x, std::int32_t y);
// Commits the drag: encodes it into DeviceConfig (windowMode 3), then raises
// RequestWriteParams and RequestImage. Does nothing when no drag is under way.
void EndWindowSelection();
// Back to the start state: not selecting, the whole picture as window.
void ResetImageWindow();
// The rectangle the outline shows now: the drag while one is under way.
WindowRectangle OutlinedWindow();

} // namespace qz

// 1 while a selection drag is under way.
extern std::uint8_t SelectingWindow;
// The rectangle being dragged (or the last one decoded from the block).
extern qz::WindowRectangle SelectionRect;
// The committed window, outlined while no drag is under way.
extern qz::WindowRectangle WindowRect;

// After every read of DeviceConfig: both rectangles from the window fields.
void ApplyImageWindowFromConfig(const qz::ConfigArea &area);
