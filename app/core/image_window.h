// The image window's selection with the mouse and the rectangles the image
// view outlines (the encoding into the block's fields is in model/).
//
// The state below is the image view's own; the mouse handlers, the drawing
// and the read-back of the parameter block all use it on the window thread.
#pragma once

#include <cstdint>

#include "model/config_area.h"
#include "model/image_window.h"

namespace qz417 {

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

} // namespace qz417

// 1 while a selection drag is under way.
extern std::uint8_t SelectingWindow;
// The rectangle being dragged (or the last one decoded from the block).
extern qz417::WindowRectangle SelectionRect;
// The committed window, outlined while no drag is under way.
extern qz417::WindowRectangle WindowRect;

// After every read of DeviceConfig: both rectangles from the window fields.
void ApplyImageWindowFromConfig(const qz417::ConfigArea &area);
