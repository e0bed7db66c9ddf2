#include "health/stream_health_labels.h"

#include <algorithm>
#include <chrono>

#include <QLabel>
#include <QWidget>

namespace qz417 {

namespace {
QLabel *MakeLabel(QWidget *page, const char *name, const QString &text, int x, int y, int w) {
    auto *label = new QLabel(text, page);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(x, y, w, 16);
    return label;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

StreamHealthLabels::StreamHealthLabels(QWidget *page, int top, int captionWidth, int valueWidth,
                                       int secondColumn, int width)
    : QObject(page) {
    MakeLabel(page, "LabelLostUDPTitle", QStringLiteral("Profiles lost:"), 4, top, captionWidth);
    lost_ =
        MakeLabel(page, "LabelLostUDP", QStringLiteral("0"), 4 + captionWidth + 2, top, valueWidth);
    MakeLabel(page, "LabelOutOfOrderUDPTitle", QStringLiteral("Out of order:"), secondColumn, top,
              captionWidth);
    outOfOrder_ = MakeLabel(page, "LabelOutOfOrderUDP", QStringLiteral("0"),
                            secondColumn + captionWidth + 2, top, valueWidth);
    // In the chart's top left corner, shown while a stream is tracked: two
    // short lines, narrow enough to leave the chart's centred title free.
    const int cornerWidth = std::min(width, kCornerWidth);
    receive_ = MakeLabel(page, "LabelReceiveUDP", QString(), 8, 4, cornerWidth);
    receive_->resize(cornerWidth, 32);
    receive_->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 210);"));
    receive_->hide();
    warning_ = MakeLabel(page, "LabelReceiveWarningUDP", QString(), 8, 38, cornerWidth);
    warning_->resize(cornerWidth, 48);
    warning_->setWordWrap(true);
    warning_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    warning_->setStyleSheet(
        QStringLiteral("background: rgba(255, 255, 255, 210); color: rgb(180, 0, 0);"));
    warning_->hide();
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, qOverload<>(&StreamHealthLabels::Refresh));
}

void StreamHealthLabels::Track(std::shared_ptr<const StreamHealth> health, std::uint16_t port) {
    health_ = std::move(health);
    port_ = port;
    lost_->setText(QStringLiteral("0"));
    outOfOrder_->setText(QStringLiteral("0"));
    lastReceived_ = 0;
    lastRefreshNs_ = NowNs();
    grantedBytes_ = 0;
    drops_.reset();
    receive_->clear();
    receive_->hide();
    warning_->hide();
    timer_.start();
}

void StreamHealthLabels::Refresh() {
    if (!health_)
        return;
    const std::int64_t now = NowNs();
    const double elapsed = static_cast<double>(now - lastRefreshNs_) / 1e9;
    lastRefreshNs_ = now;
    Refresh(port_ != 0 ? ReadUdpPortReceive(port_) : std::nullopt, elapsed);
}

void StreamHealthLabels::Refresh(const std::optional<SocketReceive> &socket,
                                 double elapsedSeconds) {
    if (!health_)
        return;
    const StreamCounts counts = health_->counts();
    lost_->setText(QString::number(counts.lost));
    outOfOrder_->setText(QString::number(OutOfOrder(counts)));
    const double rate = elapsedSeconds > 0
                            ? static_cast<double>(counts.received - lastReceived_) / elapsedSeconds
                            : 0.0;
    lastReceived_ = counts.received;
    // A closed socket keeps the figures it had last.
    if (socket) {
        if (socket->grantedBytes > 0)
            grantedBytes_ = socket->grantedBytes;
        if (socket->drops)
            drops_ = socket->drops;
    }
    if (!drops_ && grantedBytes_ == 0)
        return;
    const std::uint64_t computer = drops_.value_or(0);
    const std::uint64_t network = counts.lost > computer ? counts.lost - computer : 0;
    QString text = QStringLiteral("Lost by the network: %1   Dropped by this computer: %2")
                       .arg(network)
                       .arg(drops_ ? QString::number(computer) : QStringLiteral("?"));
    if (grantedBytes_ > 0) {
        text += QStringLiteral("\nReceive buffer: %1 KiB").arg(grantedBytes_ / 1024);
        if (rate > 0)
            text +=
                QStringLiteral(" (%1 ms)").arg(BufferMilliseconds(grantedBytes_, rate), 0, 'f', 1);
    }
    if (counts.restarts > 0)
        text += QStringLiteral("   Restarts: %1").arg(counts.restarts);
    receive_->setText(text);
    receive_->show();
    const std::string warning = BufferWarning(grantedBytes_, rate);
    warning_->setText(QString::fromStdString(warning));
    warning_->setVisible(!warning.empty());
}

} // namespace qz417
