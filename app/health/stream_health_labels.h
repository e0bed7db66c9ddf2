// The stream-health row of the "UDP" page: "Profiles lost:" and "Out of
// order:" beside the counters, refreshed once a second like the rates.
#pragma once

#include <memory>

#include <QObject>
#include <QTimer>

#include "health/stream_health.h"

class QLabel;
class QWidget;

namespace qz {

class StreamHealthLabels : public QObject {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;

    // Four labels on `page`, on the row at `top`: captions at x = 4 and
    // x = secondColumn, values after each caption.
    StreamHealthLabels(QWidget *page, int top, int captionWidth, int valueWidth, int secondColumn);

    // A new reception starts: counts from this one, "0" shown at once.
    void Track(std::shared_ptr<const StreamHealth> health);
    // Shows the counts now (the timer does it once a second).
    void Refresh();

    QLabel *lostLabel() const { return lost_; }
    QLabel *outOfOrderLabel() const { return outOfOrder_; }

private:
    std::shared_ptr<const StreamHealth> health_;
    QLabel *lost_ = nullptr;
    QLabel *outOfOrder_ = nullptr;
    QTimer timer_;
};

} // namespace qz
