// An X/Z point chart of one profile (ChartResult, ChartUDP), on QCustomPlot.
//
// Built for a refresh on every tick of the view timer: the points live on a
// buffered layer of their own and are drawn as a 2x2 red pixmap without
// outline, nothing is antialiased, the axes never rescale, and the repaint
// is capped at the screen's rate however often the points change.
#pragma once

#include <cstdint>
#include <optional>

#include <QElapsedTimer>
#include <QTimer>
#include <QVector>
#include <qcustomplot.h>

#include "model/profile_packet.h"

namespace qz {

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

    // Repaints after a point change are at least this far apart: at most
    // ~71 a second, so that a late timer still leaves more than 60.
    static constexpr int kRepaintIntervalMs = 14;
    // How many point repaints ran (for tests and the benchmark).
    int repaintCount() const { return repaints_; }
    // Paints any pending change now (the benchmark measures it).
    void FlushRepaint();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void ScheduleRepaint();
    void RepaintPoints();

    QCPGraph *series_ = nullptr;
    QCPLayer *pointsLayer_ = nullptr;
    QCPTextElement *title_ = nullptr;
    QVector<QCPGraphData> points_;
    QTimer repaintTimer_;
    QElapsedTimer sinceRepaint_;
    int repaints_ = 0;
    std::optional<std::uint64_t> plottedSequence_;
    ProfileScale plottedScale_;
};

} // namespace qz
