#include "views/frame_renderer.h"

#include <algorithm>

#include <QColor>
#include <QList>

namespace qz417 {

namespace {

// Qt's raster engine hands a fill of more than 96 rows to its thread pool,
// which allocates its tasks on every call and, for a picture this small,
// takes more than twice as long as filling bands of 64 rows in turn.
constexpr int kConversionBandRows = 64;

QList<QRgb> RedColourTable() {
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = qRgb(i, 0, 0);
    return table;
}

// The pixels of the axis-parallel segment from a to b without b: a run
// along one row or one column.
void InvertSegment(QPainter &painter, int ax, int ay, int bx, int by) {
    if (ay == by) {
        if (ax == bx)
            return;
        const int first = ax < bx ? ax : bx + 1;
        const int last = ax < bx ? bx - 1 : ax;
        painter.fillRect(QRect(QPoint(first, ay), QPoint(last, ay)), Qt::white);
    } else {
        const int first = ay < by ? ay : by + 1;
        const int last = ay < by ? by - 1 : ay;
        // In bands, like the conversion: a taller fill goes to the thread pool.
        for (int y = first; y <= last; y += kConversionBandRows)
            painter.fillRect(
                QRect(QPoint(ax, y), QPoint(ax, std::min(last, y + kConversionBandRows - 1))),
                Qt::white);
    }
}

} // namespace

void InvertOutline(QPainter &painter, const WindowRectangle &r) {
    // The fill colour plays no part: every pixel becomes NOT its old colour.
    const QPainter::CompositionMode previous = painter.compositionMode();
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    InvertSegment(painter, r.left, r.top, r.right, r.top);
    InvertSegment(painter, r.right, r.top, r.right, r.bottom);
    InvertSegment(painter, r.right, r.bottom, r.left, r.bottom);
    InvertSegment(painter, r.left, r.bottom, r.left, r.top);
    painter.setCompositionMode(previous);
}

FrameRenderer::FrameRenderer()
    : indexed_(kPictureWidth, kPictureHeight, QImage::Format_Indexed8),
      picture_(kPictureWidth, kPictureHeight, QImage::Format_RGB32) {
    indexed_.setColorTable(RedColourTable());
    indexed_.fill(0);
    picture_.fill(Qt::black);
    painter_.begin(&picture_);
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setPen(Qt::NoPen);
}

FrameRenderer::~FrameRenderer() {
    if (painter_.isActive())
        painter_.end();
}

const QImage &FrameRenderer::Render(const WindowRectangle &outline) {
    // The one conversion: indexed bytes through the colour table into RGB,
    // done by the paint engine in bands of rows.
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    for (int y = 0; y < kPictureHeight; y += kConversionBandRows)
        painter_.drawImage(QPoint(0, y), indexed_, QRect(0, y, kPictureWidth, kConversionBandRows));
    InvertOutline(painter_, outline);
    return picture_;
}

} // namespace qz417
