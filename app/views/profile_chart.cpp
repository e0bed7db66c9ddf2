#include "views/profile_chart.h"

#include <algorithm>
#include <cmath>

#include <QPixmap>
#include <QToolTip>

#include "model/point_label.h"

namespace qz {

namespace {

constexpr double kInitialXMin = 0;
constexpr double kInitialXMax = 25;
constexpr double kInitialZMin = 26;
constexpr double kInitialZMax = 394;
constexpr double kHoverRadiusPx = 4;

QPixmap RedDot() {
    QPixmap dot(2, 2);
    dot.fill(Qt::red);
    return dot;
}

} // namespace

ProfileChart::ProfileChart(QWidget *parent, const QString &seriesName) : QCustomPlot(parent) {
    setNotAntialiasedElements(QCP::aeAll);
    setAntialiasedElements(QCP::aeNone);
    legend->setVisible(false);
    xAxis->setLabel(QStringLiteral("X, mm"));
    yAxis->setLabel(QStringLiteral("Z, mm"));
    xAxis->setRange(kInitialXMin, kInitialXMax);
    yAxis->setRange(kInitialZMin, kInitialZMax);

    // The points get a buffered layer of their own, so a new profile repaints
    // only them and not the axes, grid and labels.
    addLayer(QStringLiteral("points"), layer(QStringLiteral("main")), limAbove);
    pointsLayer_ = layer(QStringLiteral("points"));
    pointsLayer_->setMode(QCPLayer::lmBuffered);

    series_ = addGraph(xAxis, yAxis);
    series_->setObjectName(seriesName);
    series_->setName(seriesName);
    series_->setLayer(pointsLayer_);
    series_->setLineStyle(QCPGraph::lsNone);
    series_->setPen(Qt::NoPen);
    series_->setScatterStyle(QCPScatterStyle(RedDot()));
    series_->setAdaptiveSampling(false);
    points_.reserve(kProfilePoints);

    repaintTimer_.setSingleShot(true);
    connect(&repaintTimer_, &QTimer::timeout, this, &ProfileChart::RepaintPoints);
    sinceRepaint_.start();
    setMouseTracking(true);
}

void ProfileChart::SetTitle(std::uint32_t serialNumber) {
    if (!title_) {
        plotLayout()->insertRow(0);
        title_ = new QCPTextElement(this);
        plotLayout()->addElement(0, 0, title_);
    }
    QFont font = title_->font();
    font.setPointSize(10);
    font.setBold(true);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    title_->setFont(font);
    title_->setTextColor(Qt::black);
    title_->setText(QStringLiteral("QZ417\nS/N:") + QString::number(serialNumber));
    replot(rpQueuedReplot);
}

void ProfileChart::SetAxisRanges(double xMin, double xMax, double zMin, double zMax) {
    // QCustomPlot cannot show an empty range (a device that announces a range
    // of 0): such an axis spans one millimetre from its minimum instead.
    if (!QCPRange::validRange(xMin, xMax))
        xMax = xMin + 1;
    if (!QCPRange::validRange(zMin, zMax))
        zMax = zMin + 1;
    xAxis->setRange(xMin, xMax);
    yAxis->setRange(zMin, zMax);
    replot(rpQueuedReplot);
}

void ProfileChart::PlotProfile(const std::uint8_t *packet, const ProfileScale &scale) {
    const ProfilePacket view(packet);
    points_.resize(0);
    for (int i = 0; i < kProfilePoints; ++i) {
        const ProfilePoint p = DecodePoint(view.point(i), scale);
        if (p.valid)
            points_.append(QCPGraphData(static_cast<double>(p.x), static_cast<double>(p.z)));
    }
    std::stable_sort(points_.begin(), points_.end(),
                     [](const QCPGraphData &a, const QCPGraphData &b) { return a.key < b.key; });
    series_->data()->set(points_, true);
    plottedSequence_.reset();
    ScheduleRepaint();
}

bool ProfileChart::PlotProfile(const std::uint8_t *packet, const ProfileScale &scale,
                               std::uint64_t sequence) {
    if (plottedSequence_ && *plottedSequence_ == sequence && plottedScale_ == scale)
        return false;
    PlotProfile(packet, scale);
    plottedSequence_ = sequence;
    plottedScale_ = scale;
    return true;
}

int ProfileChart::pointCount() const {
    return series_->data()->size();
}

QString ProfileChart::PointLabel(int index) const {
    if (index < 0 || index >= pointCount())
        return {};
    const double x = (series_->data()->constBegin() + index)->key;
    return QString::fromStdString(PointLabelText(x));
}

int ProfileChart::PointAt(const QPointF &position) const {
    int best = -1;
    double bestDistance = kHoverRadiusPx * kHoverRadiusPx;
    int index = 0;
    for (auto it = series_->data()->constBegin(); it != series_->data()->constEnd();
         ++it, ++index) {
        const double dx = xAxis->coordToPixel(it->key) - position.x();
        const double dy = yAxis->coordToPixel(it->value) - position.y();
        const double d = dx * dx + dy * dy;
        if (d <= bestDistance) {
            bestDistance = d;
            best = index;
        }
    }
    return best;
}

void ProfileChart::mouseMoveEvent(QMouseEvent *event) {
    QCustomPlot::mouseMoveEvent(event);
    // The label is made only for the point under the mouse, never per tick.
    const int index = PointAt(event->position());
    if (index >= 0)
        QToolTip::showText(event->globalPosition().toPoint(), PointLabel(index), this);
    else
        QToolTip::hideText();
}

void ProfileChart::ScheduleRepaint() {
    if (repaintTimer_.isActive())
        return;
    const qint64 since = sinceRepaint_.elapsed();
    const int wait = since >= kRepaintIntervalMs ? 0 : kRepaintIntervalMs - static_cast<int>(since);
    repaintTimer_.start(wait);
}

void ProfileChart::RepaintPoints() {
    sinceRepaint_.restart();
    ++repaints_;
    // Only the points' own buffer is redrawn (a full replot when the
    // buffers are not valid yet, e.g. before the first show).
    pointsLayer_->replot();
}

void ProfileChart::FlushRepaint() {
    if (!repaintTimer_.isActive())
        return;
    repaintTimer_.stop();
    RepaintPoints();
}

} // namespace qz
