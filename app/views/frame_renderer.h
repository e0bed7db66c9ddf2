// The off-screen picture of the image view: a camera frame turned into
// shades of red (black for 0, full red for 255) with the image window
// outlined by inversion. Both images are made once and reused, so drawing a
// frame allocates nothing.
#pragma once

#include <cstdint>

#include <QImage>
#include <QPainter>

#include "core/image_window.h"

namespace qz417 {

class FrameRenderer {
public:
    FrameRenderer();
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer &) = delete;
    FrameRenderer &operator=(const FrameRenderer &) = delete;

    // The frame's bytes (640 x 512, top row first) go here, then Render().
    std::uint8_t *frameBytes() { return indexed_.bits(); }
    const QImage &indexedFrame() const { return indexed_; }

    // Converts the frame once into the picture and outlines the window.
    const QImage &Render(const WindowRectangle &outline);
    const QImage &picture() const { return picture_; }

private:
    QImage indexed_;   // Indexed8 with the red colour table
    QImage picture_;   // RGB32, the picture with its outline
    QPainter painter_; // stays active on picture_ for the renderer's life
};

// Inverts the closed outline (left, top) -> (right, top) -> (right, bottom)
// -> (left, bottom) -> (left, top), each segment without its end point:
// on a rectangle at least two pixels wide and tall every outline pixel is
// inverted once; pixels that two segments share are inverted twice and keep
// their colour. Parts outside the device are clipped.
void InvertOutline(QPainter &painter, const WindowRectangle &r);

} // namespace qz417
