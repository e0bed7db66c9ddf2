// An X/Z point chart of one profile (ChartResult, ChartUDP), on QCustomPlot.
//
// Built for a refresh on every tick of the view timer: the points live on a
// buffered layer of their own and are drawn as a 2x2 red pixmap without
// outline, nothing is antialiased, the axes never rescale, and the repaint
// is capped at the screen's rate however often the points change.
//
// The user may zoom (mouse wheel) and pan (drag); a double click or the
// "Reset zoom" button returns to the axes last set by SetAxisRanges (the
// device description's). The point nearest the cursor is read out with its
// index in the packet and its X and Z.
#pragma once

#include <cstdint>
#include <optional>

#include <QElapsedTimer>
#include <QTimer>
#include <QToolButton>
#include <QVector>
#include <qcustomplot.h>

#include "model/profile_packet.h"

namespace qz417 {

class ProfileChart : public QCustomPlot {
    Q_OBJECT

public:
    // seriesName: objectName of the point graph ("SeriesResult", "SeriesUDP").
    ProfileChart(QWidget *parent, const QString &seriesName);

    QCPGraph *series() const { return series_; }

    // Title lines "QZ417" and "S/N:<serial>", size 10, bold, black.
    void SetTitle(std::uint32_t serialNumber);
    // Fixed axis limits (minimum set before maximum on each axis).
    void SetAxisRanges(double xMin, double xMax, double zMin, double zMax);
    // Replaces the points by the valid points of the packet, ordered by X.
    void PlotProfile(const std::uint8_t *packet, const ProfileScale &scale);
    // The same, skipped when this packet (by its sequence number) was already
    // plotted with this scale: what the chart shows would not change.
    // Returns true when the points were replaced.
    bool PlotProfile(const std::uint8_t *packet, const ProfileScale &scale, std::uint64_t sequence);

    // Number of points shown, and the text label of point i (in X order):
    // X with three significant digits and three decimals.
    int pointCount() const;
    QString PointLabel(int index) const;
    // Index of the point nearest to a widget position within a few pixels, or -1.
    int PointAt(const QPointF &position) const;

    // Zoom and readout.
    // Back to the axes of the last SetAxisRanges (or the initial ones).
    void ResetZoom();
    QCPRange homeXRange() const { return homeX_; }
    QCPRange homeZRange() const { return homeZ_; }
    QToolButton *resetZoomButton() const { return resetButton_; }
    // Index (in X order) of the point nearest to a widget position, however
    // far, or -1 when there is none.
    int NearestPoint(const QPointF &position) const;
    // Index in the packet (0..1023) of the point i (in X order), or -1.
    int PacketIndex(int index) const;
    // Shows the readout of the point nearest to the position (or hides it).
    void ShowReadout(const QPointF &position);
    void HideReadout();
    // The readout text ("" while hidden): "#<index>  X <x> mm  Z <z> mm".
    QString readoutText() const;

    // Repaints after a point change are at least this far apart: at most
    // ~71 a second, so that a late timer still leaves more than 60.
    static constexpr int kRepaintIntervalMs = 14;
    // How many point repaints ran (for tests and the benchmark).
    int repaintCount() const { return repaints_; }
    // Paints any pending change now (the benchmark measures it).
    void FlushRepaint();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void ScheduleRepaint();
    void RepaintPoints();
    // Index of the point nearest to a widget position in pixels: within
    // `limit` (squared pixels) and the last of equals when lastOnTie, else
    // however far and the first of equals; -1 when there is none.
    int ClosestPoint(const QPointF &position, double limit, bool lastOnTie) const;

    QCPGraph *series_ = nullptr;
    QCPLayer *pointsLayer_ = nullptr;
    QCPTextElement *title_ = nullptr;
    QVector<QCPGraphData> points_;
    QVector<int> packetIndices_; // packet index of each point, in X order
    struct Indexed {
        double key, value;
        int index;
    };
    QVector<Indexed> sorting_;
    QCPRange homeX_, homeZ_;
    QToolButton *resetButton_ = nullptr;
    QCPLayer *readoutLayer_ = nullptr;
    QCPItemTracer *readoutMarker_ = nullptr;
    QCPItemText *readoutLabel_ = nullptr;
    QTimer repaintTimer_;
    QElapsedTimer sinceRepaint_;
    int repaints_ = 0;
    std::optional<std::uint64_t> plottedSequence_;
    ProfileScale plottedScale_;
};

} // namespace qz417
