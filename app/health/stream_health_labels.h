// The stream-health row of the "UDP" page: "Profiles lost:" and "Out of
// order:" beside the counters, refreshed once a second like the rates; and
// over the top of the chart, while a stream runs, where the lost profiles
// were lost (by the network, or dropped by this computer's full receive
// buffer), the buffer the kernel granted, and a warning with the remedy
// when that buffer holds less than 100 ms of the stream.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QObject>
#include <QTimer>

#include "health/stream_health.h"
#include "model/socket_receive.h"

class QLabel;
class QWidget;

namespace qz417 {

class StreamHealthLabels : public QObject {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;
    // Width of the receive lines and the warning in the chart's corner.
    static constexpr int kCornerWidth = 270;

    // Four labels on `page`, on the row at `top`: captions at x = 4 and
    // x = secondColumn, values after each caption. The receive lines and the
    // warning lie in the page's top left corner, from x = 8, at most
    // kCornerWidth wide (`width` when narrower).
    StreamHealthLabels(QWidget *page, int top, int captionWidth, int valueWidth, int secondColumn,
                       int width = 624);

    // A new reception on UDP `port` starts: counts from this one, "0" shown
    // at once. The socket is found by its port (this process's own).
    void Track(std::shared_ptr<const StreamHealth> health, std::uint16_t port = 0);
    // Shows the counts now (the timer does it once a second).
    void Refresh();
    // Refresh with the socket's figures given (tests).
    void Refresh(const std::optional<SocketReceive> &socket, double elapsedSeconds);

    // Datagrams this computer dropped (full receive buffer) since Track,
    // when known.
    std::optional<std::uint64_t> computerDrops() const { return drops_; }

    QLabel *lostLabel() const { return lost_; }
    QLabel *outOfOrderLabel() const { return outOfOrder_; }
    QLabel *receiveLabel() const { return receive_; }
    QLabel *warningLabel() const { return warning_; }

private:
    std::shared_ptr<const StreamHealth> health_;
    std::uint16_t port_ = 0;
    QLabel *lost_ = nullptr;
    QLabel *outOfOrder_ = nullptr;
    QLabel *receive_ = nullptr;
    QLabel *warning_ = nullptr;
    QTimer timer_;
    // For the rate of the last refresh.
    std::uint64_t lastReceived_ = 0;
    std::int64_t lastRefreshNs_ = 0;
    int grantedBytes_ = 0;
    std::optional<std::uint64_t> drops_;
};

} // namespace qz417
