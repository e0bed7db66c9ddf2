#include "health/stream_health_labels.h"

#include <QLabel>
#include <QWidget>

namespace qz {

namespace {
QLabel *MakeLabel(QWidget *page, const char *name, const QString &text, int x, int y, int w) {
    auto *label = new QLabel(text, page);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(x, y, w, 16);
    return label;
}
} // namespace

StreamHealthLabels::StreamHealthLabels(QWidget *page, int top, int captionWidth, int valueWidth,
                                       int secondColumn)
    : QObject(page) {
    MakeLabel(page, "LabelLostUDPTitle", QStringLiteral("Profiles lost:"), 4, top, captionWidth);
    lost_ =
        MakeLabel(page, "LabelLostUDP", QStringLiteral("0"), 4 + captionWidth + 2, top, valueWidth);
    MakeLabel(page, "LabelOutOfOrderUDPTitle", QStringLiteral("Out of order:"), secondColumn, top,
              captionWidth);
    outOfOrder_ = MakeLabel(page, "LabelOutOfOrderUDP", QStringLiteral("0"),
                            secondColumn + captionWidth + 2, top, valueWidth);
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, &StreamHealthLabels::Refresh);
}

void StreamHealthLabels::Track(std::shared_ptr<const StreamHealth> health) {
    health_ = std::move(health);
    lost_->setText(QStringLiteral("0"));
    outOfOrder_->setText(QStringLiteral("0"));
    timer_.start();
}

void StreamHealthLabels::Refresh() {
    if (!health_)
        return;
    lost_->setText(QString::number(health_->lost()));
    outOfOrder_->setText(QString::number(health_->outOfOrder()));
}

} // namespace qz
