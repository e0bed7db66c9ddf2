#include "surface/surface_view.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSpinBox>

#include "widgets/profile_chart.h"

namespace qz417 {

namespace {

// The axes a device's scale gives a profile chart: X centred over the range
// at the end of the measuring range plus 5 %, Z from 0 to the range plus 5 %.
struct ScaleAxes {
    double xHalf, zMax;
};
ScaleAxes AxesOf(const ProfileScale &s) {
    return {s.rangeXEmr * 1.05 / 2, s.rangeZ * 1.05};
}

int DrainIntervalMs() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double hz = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
    return std::max(8, static_cast<int>(std::ceil(1000.0 / hz)));
}

QLabel *MakeLabel(QWidget *parent, const QString &text, int x, int y, int w, int h = 16) {
    auto *label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

} // namespace

QCPColorGradient ViridisGradient() {
    QCPColorGradient g;
    g.clearColorStops();
    const QColor stops[] = {
        QColor(0x44, 0x01, 0x54), QColor(0x47, 0x2c, 0x7a), QColor(0x3b, 0x52, 0x8b),
        QColor(0x2c, 0x72, 0x8e), QColor(0x21, 0x91, 0x8c), QColor(0x28, 0xae, 0x80),
        QColor(0x5e, 0xc9, 0x62), QColor(0xad, 0xdc, 0x30), QColor(0xfd, 0xe7, 0x25)};
    for (int i = 0; i < 9; ++i)
        g.setColorStopAt(i / 8.0, stops[i]);
    g.setColorInterpolation(QCPColorGradient::ciRGB);
    g.setNanHandling(QCPColorGradient::nhTransparent);
    g.setLevelCount(256);
    return g;
}

SurfaceView::SurfaceView(QWidget *parent, std::vector<SurfaceBinding> bindings)
    : QWidget(parent), bindings_(std::move(bindings)), history_(kDefaultDepth) {
    map_ = new QCustomPlot(this);
    map_->setObjectName(QStringLiteral("SurfaceMap"));
    map_->setGeometry(0, 0, 440, 512);
    map_->setNotAntialiasedElements(QCP::aeAll);
    map_->xAxis->setLabel(QStringLiteral("X, mm"));
    map_->yAxis->setLabel(QStringLiteral("Profiles ago (newest at the top)"));
    map_->yAxis->setRangeReversed(true);
    map_->setMouseTracking(true);
    map_->installEventFilter(this);
    colorMap_ = new QCPColorMap(map_->xAxis, map_->yAxis);
    // The map gets a buffered layer of its own: a redraw that changes only
    // the cells repaints only it, not the axes, the grid and the scale.
    map_->addLayer(QStringLiteral("map"), map_->layer(QStringLiteral("main")),
                   QCustomPlot::limAbove);
    mapLayer_ = map_->layer(QStringLiteral("map"));
    mapLayer_->setMode(QCPLayer::lmBuffered);
    colorMap_->setLayer(mapLayer_);
    colorMap_->setInterpolate(false);
    colorMap_->setTightBoundary(false);
    colorScale_ = new QCPColorScale(map_);
    map_->plotLayout()->addElement(0, 1, colorScale_);
    colorScale_->setType(QCPAxis::atRight);
    colorScale_->axis()->setLabel(QStringLiteral("Z, mm"));
    colorScale_->setBarWidth(10);
    colorMap_->setColorScale(colorScale_);
    // Near surfaces (small Z: the tops of objects) bright, the belt dark.
    colorMap_->setGradient(ViridisGradient().inverted());
    auto *margins = new QCPMarginGroup(map_);
    map_->axisRect()->setMarginGroup(QCP::msBottom | QCP::msTop, margins);
    colorScale_->setMarginGroup(QCP::msBottom | QCP::msTop, margins);

    rowTitle_ = MakeLabel(this, QStringLiteral("Clicked row:"), 446, 2, 196);
    rowChart_ = new ProfileChart(this, QStringLiteral("SeriesSurfaceRow"));
    rowChart_->setObjectName(QStringLiteral("ChartSurfaceRow"));
    rowChart_->setGeometry(444, 20, 200, 300);
    readout_ = MakeLabel(this, QString(), 446, 326, 196, 110);
    readout_->setObjectName(QStringLiteral("LabelSurfaceReadout"));
    readout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    readout_->setWordWrap(true);

    MakeLabel(this, QStringLiteral("Profiles shown:"), 4, 522, 96);
    depthBox_ = new QSpinBox(this);
    depthBox_->setObjectName(QStringLiteral("SpinBoxSurfaceDepth"));
    depthBox_->setRange(static_cast<int>(SurfaceHistory::kMinDepth),
                        static_cast<int>(SurfaceHistory::kMaxDepth));
    depthBox_->setSingleStep(100);
    depthBox_->setValue(kDefaultDepth);
    depthBox_->setGeometry(100, 518, 76, 22);
    connect(depthBox_, &QSpinBox::valueChanged, this, &SurfaceView::SetDepth);
    MakeLabel(this, QStringLiteral("Received:"), 190, 522, 60);
    received_ = MakeLabel(this, QStringLiteral("0"), 252, 522, 80);
    received_->setObjectName(QStringLiteral("LabelSurfaceReceived"));
    MakeLabel(this, QStringLiteral("Dropped:"), 340, 522, 60);
    droppedLabel_ = MakeLabel(this, QStringLiteral("0"), 402, 522, 80);
    droppedLabel_->setObjectName(QStringLiteral("LabelSurfaceDropped"));
    MakeLabel(this, QStringLiteral("Source:"), 488, 522, 46);
    sourceBox_ = new QComboBox(this);
    sourceBox_->setObjectName(QStringLiteral("ComboBoxSurfaceSource"));
    for (const SurfaceBinding &b : bindings_)
        sourceBox_->addItem(b.name);
    sourceBox_->setGeometry(534, 518, 106, 22);
    connect(sourceBox_, &QComboBox::currentIndexChanged, this, &SurfaceView::Bind);

    colorMap_->data()->setSize(kColumns, static_cast<int>(history_.depth()));
    colorMap_->data()->fill(std::numeric_limits<double>::quiet_NaN());
    UpdateColumns(!bindings_.empty() && !bindings_.front().sources.empty()
                      ? bindings_.front().sources.front()->scale()
                      : ProfileScale{});

    SetCollecting(true);
    drainTimer_.setTimerType(Qt::PreciseTimer);
    drainTimer_.setInterval(DrainIntervalMs());
    connect(&drainTimer_, &QTimer::timeout, this, [this] { Drain(); });
    drainTimer_.start();
}

SurfaceView::~SurfaceView() = default;

void SurfaceView::SetCollecting(bool on) {
    if (on == collecting())
        return;
    if (on) {
        if (bound_ < 0 || bound_ >= static_cast<int>(bindings_.size()))
            return;
        // The queues of a binding share kQueueCapacity, so that binding two
        // sources costs no more memory than one.
        const auto &sources = bindings_[static_cast<std::size_t>(bound_)].sources;
        const std::size_t capacity = kQueueCapacity / std::max<std::size_t>(1, sources.size());
        for (const auto &source : sources)
            if (auto s = source->Subscribe(capacity))
                subscriptions_.push_back(std::move(s));
    } else {
        for (const auto &s : subscriptions_)
            droppedBefore_ += s->dropped();
        subscriptions_.clear();
    }
}

void SurfaceView::Bind(int index) {
    if (index < 0 || index >= static_cast<int>(bindings_.size()))
        return;
    const bool was = collecting();
    SetCollecting(false);
    bound_ = index;
    droppedBefore_ = 0;
    // What the page shows comes from the bound sources only.
    history_ = SurfaceHistory(history_.depth(), history_.columns());
    shownAge_ = -1;
    if (was)
        SetCollecting(true);
    if (sourceBox_->currentIndex() != index)
        sourceBox_->setCurrentIndex(index);
    const auto &sources = bindings_[static_cast<std::size_t>(index)].sources;
    if (!sources.empty())
        UpdateColumns(sources.front()->scale());
    dirty_ = true;
    UpdateCounts();
    if (isVisible())
        Redraw();
}

std::uint64_t SurfaceView::dropped() const {
    std::uint64_t n = droppedBefore_;
    for (const auto &s : subscriptions_)
        n += s->dropped();
    return n;
}

void SurfaceView::UpdateColumns(const ProfileScale &scale) {
    if (scale == columnsScale_ && history_.columns().count == kColumns && !dirty_)
        return;
    columnsScale_ = scale;
    const ScaleAxes axes = AxesOf(scale);
    SurfaceColumns columns;
    columns.count = kColumns;
    columns.xMin = -axes.xHalf;
    columns.xMax = axes.xHalf > 0 ? axes.xHalf : 1;
    history_.SetColumns(columns);
    map_->xAxis->setRange(columns.xMin, columns.xMax);
    dirty_ = true;
}

int SurfaceView::Drain() {
    int taken = 0;
    for (const auto &subscription : subscriptions_) {
        // Bounded: what is queued now, never chasing a producer for ever.
        const auto limit = static_cast<int>(subscription->capacity());
        for (int n = 0; n < limit && subscription->Pop(scratch_); ++n) {
            // The columns follow the scale the profile was measured under.
            if (!(scratch_.scale == columnsScale_))
                UpdateColumns(scratch_.scale);
            history_.Add(scratch_.bytes.data(), scratch_.scale, scratch_.time.monotonicNs);
            ++taken;
        }
    }
    if (taken > 0) {
        dirty_ = true;
        UpdateCounts();
    }
    if (dirty_ && isVisible())
        Redraw();
    return taken;
}

void SurfaceView::UpdateCounts() {
    received_->setText(QString::number(history_.added()));
    droppedLabel_->setText(QString::number(dropped()));
}

void SurfaceView::SetDepth(int depth) {
    history_.SetDepth(static_cast<std::size_t>(std::max(depth, 0)));
    if (depthBox_->value() != static_cast<int>(history_.depth()))
        depthBox_->setValue(static_cast<int>(history_.depth()));
    dirty_ = true;
    if (isVisible())
        Redraw();
}

void SurfaceView::Redraw() {
    dirty_ = false;
    ++redraws_;
    const SurfaceColumns &columns = history_.columns();
    const int depth = static_cast<int>(history_.depth());
    const int rows = static_cast<int>(history_.size());
    // No more map rows than the plot has pixel rows: several profiles share
    // a row then, which shows the nearest surface among them, so an object
    // seen by a single profile still shows.
    const int shown = std::clamp(map_->axisRect()->height(), 1, depth);
    QCPColorMapData *data = colorMap_->data();
    if (data->keySize() != columns.count || data->valueSize() != shown)
        data->setSize(columns.count, shown);
    data->setRange(QCPRange(columns.CentreOf(0), columns.CentreOf(columns.count - 1)),
                   QCPRange(0, std::max(1, depth - 1)));
    double zMin = std::numeric_limits<double>::infinity();
    double zMax = -zMin;
    const auto n = static_cast<std::size_t>(columns.count);
    merged_.resize(n);
    for (int r = 0; r < shown; ++r) {
        const int first = static_cast<int>(static_cast<long>(r) * depth / shown);
        const int last = std::min(rows, static_cast<int>(static_cast<long>(r + 1) * depth / shown));
        std::fill(merged_.begin(), merged_.end(), std::numeric_limits<float>::quiet_NaN());
        for (int age = first; age < last; ++age) {
            const float *cells = history_.Cells(static_cast<std::size_t>(age));
            for (std::size_t c = 0; c < n; ++c)
                if (!(merged_[c] <= cells[c]) && !std::isnan(cells[c]))
                    merged_[c] = cells[c];
        }
        for (int c = 0; c < columns.count; ++c) {
            const double z = merged_[static_cast<std::size_t>(c)];
            data->setCell(c, r, z);
            if (z < zMin)
                zMin = z;
            if (z > zMax)
                zMax = z;
        }
    }
    if (!(zMin <= zMax)) {
        zMin = 0;
        zMax = std::max(1.0, AxesOf(columnsScale_).zMax);
    }
    // The colour range in whole steps of 5 mm, so that it rarely changes.
    zMin = std::floor(zMin / kColourStepMm) * kColourStepMm;
    zMax = std::max(zMin + kColourStepMm, std::ceil(zMax / kColourStepMm) * kColourStepMm);
    const QCPRange colours(zMin, zMax);
    const QCPRange rowsRange(-0.5, depth - 0.5);
    if (colours == colorMap_->dataRange() && rowsRange == map_->yAxis->range() && layerDrawn_) {
        mapLayer_->replot();
        return;
    }
    colorMap_->setDataRange(colours);
    map_->yAxis->setRange(rowsRange);
    map_->replot(QCustomPlot::rpQueuedReplot);
    layerDrawn_ = true;
}

void SurfaceView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    dirty_ = true;
    layerDrawn_ = false;
}

int SurfaceView::AgeAt(const QPointF &position) const {
    if (!map_->axisRect()->rect().contains(position.toPoint()))
        return -1;
    const long age = std::lround(map_->yAxis->pixelToCoord(position.y()));
    if (age < 0 || age >= static_cast<long>(history_.size()))
        return -1;
    return static_cast<int>(age);
}

void SurfaceView::ShowReadoutAt(const QPointF &position) {
    const int age = AgeAt(position);
    if (age < 0) {
        readout_->clear();
        return;
    }
    const double x = map_->xAxis->pixelToCoord(position.x());
    const int column = history_.columns().ColumnOf(x);
    const SurfaceRow &row = history_.Row(static_cast<std::size_t>(age));
    QString z = QStringLiteral("no point");
    if (column >= 0) {
        const float cell = history_.Cells(static_cast<std::size_t>(age))[column];
        if (!std::isnan(cell))
            z = QString::number(cell, 'f', 3) + QStringLiteral(" mm");
    }
    readout_->setText(QStringLiteral("X: %1 mm\nZ: %2\nMeasurements counter: %3\n"
                                     "Packets counter: %4\nProfile: %5 ago")
                          .arg(x, 0, 'f', 3)
                          .arg(z)
                          .arg(row.measurementCount)
                          .arg(row.packetCount)
                          .arg(age));
}

QString SurfaceView::readoutText() const {
    return readout_->text();
}

void SurfaceView::ShowRow(int age) {
    if (age < 0 || age >= static_cast<int>(history_.size()))
        return;
    const SurfaceRow &row = history_.Row(static_cast<std::size_t>(age));
    const ScaleAxes axes = AxesOf(row.scale);
    rowChart_->SetAxisRanges(-axes.xHalf, axes.xHalf, 0.0, axes.zMax);
    rowChart_->PlotProfile(row.packet.data(), row.scale);
    rowTitle_->setText(QStringLiteral("Clicked row: measurement %1").arg(row.measurementCount));
    shownAge_ = age;
}

bool SurfaceView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == map_) {
        if (event->type() == QEvent::MouseMove) {
            ShowReadoutAt(static_cast<QMouseEvent *>(event)->position());
        } else if (event->type() == QEvent::MouseButtonPress) {
            const auto *m = static_cast<QMouseEvent *>(event);
            if (m->button() == Qt::LeftButton)
                ShowRow(AgeAt(m->position()));
        } else if (event->type() == QEvent::Leave) {
            readout_->clear();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace qz417
