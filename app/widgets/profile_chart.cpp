#include "widgets/profile_chart.h"

#include <algorithm>
#include <cmath>

#include <QMouseEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QToolTip>

#include "model/point_label.h"

namespace qz417 {

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
    homeX_ = xAxis->range();
    homeZ_ = yAxis->range();

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
    packetIndices_.reserve(kProfilePoints);
    sorting_.reserve(kProfilePoints);

    // Zoom with the wheel, pan by dragging; the readout lives on a layer of
    // its own above the points, so following the mouse repaints only it.
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    addLayer(QStringLiteral("readout"), pointsLayer_, limAbove);
    readoutLayer_ = layer(QStringLiteral("readout"));
    readoutLayer_->setMode(QCPLayer::lmBuffered);
    readoutMarker_ = new QCPItemTracer(this);
    readoutMarker_->setLayer(readoutLayer_);
    readoutMarker_->setStyle(QCPItemTracer::tsCircle);
    readoutMarker_->setSize(9);
    readoutMarker_->setPen(QPen(Qt::blue));
    readoutMarker_->position->setType(QCPItemPosition::ptPlotCoords);
    readoutMarker_->setVisible(false);
    readoutLabel_ = new QCPItemText(this);
    readoutLabel_->setLayer(readoutLayer_);
    readoutLabel_->setClipToAxisRect(false);
    readoutLabel_->position->setType(QCPItemPosition::ptAxisRectRatio);
    readoutLabel_->position->setCoords(0.01, 0.01);
    readoutLabel_->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    readoutLabel_->setBrush(QBrush(QColor(255, 255, 255, 220)));
    readoutLabel_->setPadding(QMargins(3, 1, 3, 1));
    readoutLabel_->setVisible(false);
    resetButton_ = new QToolButton(this);
    resetButton_->setObjectName(seriesName + QStringLiteral("ResetZoom"));
    resetButton_->setText(QStringLiteral("Reset zoom"));
    resetButton_->setToolTip(QStringLiteral("Back to the axes of the device (or double click)"));
    resetButton_->setFocusPolicy(Qt::NoFocus);
    resetButton_->adjustSize();
    connect(resetButton_, &QToolButton::clicked, this, &ProfileChart::ResetZoom);

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
    homeX_ = xAxis->range();
    homeZ_ = yAxis->range();
    replot(rpQueuedReplot);
}

void ProfileChart::ResetZoom() {
    xAxis->setRange(homeX_);
    yAxis->setRange(homeZ_);
    replot(rpQueuedReplot);
}

void ProfileChart::PlotProfile(const std::uint8_t *packet, const ProfileScale &scale) {
    const ProfilePacket view(packet);
    sorting_.resize(0);
    for (int i = 0; i < kProfilePoints; ++i) {
        const ProfilePoint p = DecodePoint(view.point(i), scale);
        if (p.valid)
            sorting_.append({static_cast<double>(p.x), static_cast<double>(p.z), i});
    }
    std::stable_sort(sorting_.begin(), sorting_.end(),
                     [](const Indexed &a, const Indexed &b) { return a.key < b.key; });
    points_.resize(0);
    packetIndices_.resize(0);
    for (const Indexed &p : sorting_) {
        points_.append(QCPGraphData(p.key, p.value));
        packetIndices_.append(p.index);
    }
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

int ProfileChart::ClosestPoint(const QPointF &position, double limit, bool lastOnTie) const {
    int best = -1;
    double bestDistance = limit;
    int index = 0;
    for (auto it = series_->data()->constBegin(); it != series_->data()->constEnd();
         ++it, ++index) {
        const double dx = xAxis->coordToPixel(it->key) - position.x();
        const double dy = yAxis->coordToPixel(it->value) - position.y();
        const double d = dx * dx + dy * dy;
        if (lastOnTie ? d <= bestDistance : (best < 0 || d < bestDistance)) {
            bestDistance = d;
            best = index;
        }
    }
    return best;
}

int ProfileChart::PointAt(const QPointF &position) const {
    return ClosestPoint(position, kHoverRadiusPx * kHoverRadiusPx, true);
}

int ProfileChart::NearestPoint(const QPointF &position) const {
    return ClosestPoint(position, 0, false);
}

int ProfileChart::PacketIndex(int index) const {
    if (index < 0 || index >= packetIndices_.size() || index >= pointCount())
        return -1;
    return packetIndices_[index];
}

void ProfileChart::ShowReadout(const QPointF &position) {
    const int index = axisRect()->rect().contains(position.toPoint()) ? NearestPoint(position) : -1;
    if (index < 0) {
        HideReadout();
        return;
    }
    const auto it = series_->data()->constBegin() + index;
    readoutMarker_->position->setCoords(it->key, it->value);
    readoutLabel_->setText(QStringLiteral("#%1  X %2 mm  Z %3 mm")
                               .arg(PacketIndex(index))
                               .arg(it->key, 0, 'f', 3)
                               .arg(it->value, 0, 'f', 3));
    readoutMarker_->setVisible(true);
    readoutLabel_->setVisible(true);
    readoutLayer_->replot();
}

void ProfileChart::HideReadout() {
    if (!readoutLabel_->visible())
        return;
    readoutMarker_->setVisible(false);
    readoutLabel_->setVisible(false);
    readoutLayer_->replot();
}

QString ProfileChart::readoutText() const {
    return readoutLabel_->visible() ? readoutLabel_->text() : QString();
}

void ProfileChart::mouseDoubleClickEvent(QMouseEvent *event) {
    QCustomPlot::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        ResetZoom();
}

void ProfileChart::leaveEvent(QEvent *event) {
    QCustomPlot::leaveEvent(event);
    HideReadout();
}

void ProfileChart::resizeEvent(QResizeEvent *event) {
    QCustomPlot::resizeEvent(event);
    resetButton_->move(width() - resetButton_->width() - 4, 4);
}

void ProfileChart::mouseMoveEvent(QMouseEvent *event) {
    QCustomPlot::mouseMoveEvent(event);
    ShowReadout(event->position());
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

} // namespace qz417
