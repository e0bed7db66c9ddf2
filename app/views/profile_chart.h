// An X/Z point chart of one profile (ChartResult, ChartUDP), on QCustomPlot.
#pragma once

#include <cstdint>

#include <qcustomplot.h>

#include "views/profile_packet.h"

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

private:
    QCPGraph *series_ = nullptr;
};

} // namespace qz
