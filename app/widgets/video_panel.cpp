#include "widgets/video_panel.h"

#include <cstring>

#include <QPaintEvent>
#include <QPainter>

namespace qz417 {

VideoPanel::VideoPanel(QWidget *parent) : QWidget(parent) {
    // paintEvent covers every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void VideoPanel::showFrame(const QImage &frame) {
    // One copy into the panel's own picture, which is allocated once: sharing
    // the caller's image instead would make the caller's next frame detach
    // (allocate) it.
    if (frame_.size() != frame.size() || frame_.format() != frame.format() || !frame_.isDetached())
        frame_ = QImage(frame.size(), frame.format());
    if (frame_.bytesPerLine() == frame.bytesPerLine()) {
        std::memcpy(frame_.bits(), frame.constBits(),
                    static_cast<std::size_t>(frame.sizeInBytes()));
    } else {
        for (int y = 0; y < frame.height(); ++y)
            std::memcpy(frame_.scanLine(y), frame.constScanLine(y),
                        static_cast<std::size_t>(frame.bytesPerLine()));
    }
    // Coalesced by Qt: however many frames arrive, the panel paints at most
    // once per screen refresh.
    update();
}

void VideoPanel::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    const QRect pictureRect(QPoint(0, 0), frame_.size());
    if (!frame_.isNull())
        painter.drawImage(event->rect().topLeft(), frame_, event->rect() & pictureRect);
    // Around the picture (or before the first one) the plain background.
    for (const QRect &r : event->region().subtracted(QRegion(pictureRect)))
        painter.fillRect(r, palette().window());
}

} // namespace qz417
