// The "Surface" page: the last N profiles stacked in time as a height map
// (X across, profile order down with the newest at the top, Z as colour),
// a colour scale, a readout of the cell under the mouse, and a small chart
// of the profile whose row was clicked.
//
// Profiles come from subscriptions to the sources the page is bound to
// (app/source; chosen in "Source:", live by default), so the page sees every
// profile of those sources, not only those a tick happens to see, and none
// of another source. Each profile is binned with the scale it carries.
// The page drains its queue on a timer of its own at the screen's rate and
// redraws at most once per drain, only while it is visible.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <qcustomplot.h>

#include "source/profile_source.h"
#include "surface/surface_history.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace qz417 {

class ProfileChart;

// A choice of "Source:": its name and the sources it shows.
struct SurfaceBinding {
    QString name;
    std::vector<std::shared_ptr<ProfileSource>> sources;
};

class SurfaceView : public QWidget {
    Q_OBJECT

public:
    // Queued profiles of a binding, shared by its sources' queues.
    static constexpr std::size_t kQueueCapacity = 8192;
    static constexpr int kDefaultDepth = 1000;
    static constexpr int kColumns = 300;
    static constexpr double kColourStepMm = 5;

    // bindings: the choices of "Source:"; the first is bound from the start.
    SurfaceView(QWidget *parent, std::vector<SurfaceBinding> bindings);
    ~SurfaceView() override;

    // Binds the page to choice `index` of "Source:": the history starts
    // empty and only that choice's sources are received.
    void Bind(int index);
    int bound() const { return bound_; }
    QComboBox *sourceBox() const { return sourceBox_; }

    // Subscribed to the bound sources (on from the start).
    void SetCollecting(bool on);
    bool collecting() const { return !subscriptions_.empty(); }

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

    std::vector<SurfaceBinding> bindings_;
    int bound_ = 0;
    std::vector<std::unique_ptr<FeedSubscription>> subscriptions_;
    std::uint64_t droppedBefore_ = 0; // by earlier subscriptions
    std::vector<float> merged_;       // one display row while it is merged
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
    QComboBox *sourceBox_ = nullptr;
};

// A perceptually uniform gradient (viridis), from dark blue to yellow.
QCPColorGradient ViridisGradient();

} // namespace qz417
