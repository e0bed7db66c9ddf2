// The "Surface" page: the last N profiles stacked in time as a height map
// (X across, profile order down with the newest at the top, Z as colour),
// a colour scale, a readout of the cell under the mouse, and a small chart
// of the profile whose row was clicked.
//
// Profiles come from a subscription to the profile feed, so the page sees
// every profile the workers receive, not only those a tick happens to see.
// The page drains its queue on a timer of its own at the screen's rate and
// redraws at most once per drain, only while it is visible.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <qcustomplot.h>

#include "feed/profile_feed.h"
#include "surface/surface_history.h"

class QLabel;
class QSpinBox;

namespace qz {

class ProfileChart;

class SurfaceView : public QWidget {
    Q_OBJECT

public:
    static constexpr std::size_t kQueueCapacity = 8192;
    static constexpr int kDefaultDepth = 1000;
    static constexpr int kColumns = 300;
    static constexpr double kColourStepMm = 5;

    // scale: the scale of the shown device, read at every drain.
    SurfaceView(QWidget *parent, std::shared_ptr<ProfileFeed> feed,
                std::function<ProfileScale()> scale);
    ~SurfaceView() override;

    // Subscribed to the feed (on from the start).
    void SetCollecting(bool on);
    bool collecting() const { return subscription_ != nullptr; }

    // Moves every queued profile into the history; redraws when visible.
    // Returns how many profiles it took. The drain timer calls it.
    int Drain();
    void SetDepth(int depth);
    // Shows the profile of a row (age 0 = newest) in the small chart.
    void ShowRow(int age);
    // The readout for a position of the height map's widget.
    void ShowReadoutAt(const QPointF &position);

    const SurfaceHistory &history() const { return history_; }
    QCustomPlot *mapPlot() const { return map_; }
    QCPColorMap *colorMap() const { return colorMap_; }
    QCPColorScale *colorScale() const { return colorScale_; }
    ProfileChart *rowChart() const { return rowChart_; }
    QSpinBox *depthBox() const { return depthBox_; }
    QString readoutText() const;
    // Profiles lost to a full queue, and height-map redraws made.
    std::uint64_t dropped() const;
    long redraws() const { return redraws_; }
    // Age of the row shown in the small chart, -1 for none.
    int shownRow() const { return shownAge_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Redraw();
    void UpdateCounts();
    void UpdateColumns(const ProfileScale &scale);
    int AgeAt(const QPointF &position) const;

    std::shared_ptr<ProfileFeed> feed_;
    std::unique_ptr<FeedSubscription> subscription_;
    std::uint64_t droppedBefore_ = 0; // by earlier subscriptions
    std::vector<float> merged_;       // one display row while it is merged
    std::function<ProfileScale()> scale_;
    SurfaceHistory history_;
    ProfileScale columnsScale_;
    FeedPacket scratch_;
    QTimer drainTimer_;
    bool dirty_ = true;
    long redraws_ = 0;
    int shownAge_ = -1;

    QCustomPlot *map_ = nullptr;
    QCPColorMap *colorMap_ = nullptr;
    QCPLayer *mapLayer_ = nullptr;
    bool layerDrawn_ = false; // a full replot has drawn every layer once
    QCPColorScale *colorScale_ = nullptr;
    ProfileChart *rowChart_ = nullptr;
    QLabel *readout_ = nullptr;
    QLabel *rowTitle_ = nullptr;
    QSpinBox *depthBox_ = nullptr;
    QLabel *received_ = nullptr;
    QLabel *droppedLabel_ = nullptr;
};

// A perceptually uniform gradient (viridis), from dark blue to yellow.
QCPColorGradient ViridisGradient();

} // namespace qz
