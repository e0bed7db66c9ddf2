// The "UDP" page's health row and the line over the chart: the counts as
// the model gives them, the loss split into the network's and this
// computer's, the granted buffer, and the warning with its remedy.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include <QLabel>
#include <QTest>
#include <QWidget>

#include "health/stream_health_labels.h"
#include "recording/record_controls.h"

namespace qz417 {

class StreamHealthLabelsTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheSplitTheBufferAndTheWarning() {
        QWidget page;
        StreamHealthLabels labels(&page, 560, 142, 52, 204);
        auto health = std::make_shared<StreamHealth>();
        for (int c = 0; c < 40000; ++c)
            if (c % 1000 != 7) // 40 lost
                health->Observe(static_cast<std::uint16_t>(c));
        labels.Track(health);
        QCOMPARE(labels.lostLabel()->text(), QStringLiteral("0"));
        QVERIFY(labels.receiveLabel()->isHidden());

        // 30 of the 40 dropped by this computer; 416 KiB at 40 000/s.
        SocketReceive socket;
        socket.grantedBytes = 425984;
        socket.drops = 30;
        labels.Refresh(socket, 1.0);
        QCOMPARE(labels.lostLabel()->text(), QStringLiteral("40"));
        QCOMPARE(labels.outOfOrderLabel()->text(), QStringLiteral("0"));
        const QString line = labels.receiveLabel()->text();
        QVERIFY2(line.contains(QStringLiteral("Lost by the network: 10")), qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral("Dropped by this computer: 30")), qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral("Receive buffer: 416 KiB")), qPrintable(line));
        QVERIFY(!labels.receiveLabel()->isHidden());
        QVERIFY(!labels.warningLabel()->isHidden());
        QVERIFY(labels.warningLabel()->text().contains(
            QStringLiteral("sudo sysctl -w net.core.rmem_max=33554432")));
        QCOMPARE(labels.computerDrops(), std::optional<std::uint64_t>(30));

        // The socket closed (stream stopped): the last figures stay; no rate, no warning.
        labels.Refresh(std::nullopt, 1.0);
        QVERIFY(labels.receiveLabel()->text().contains(QStringLiteral("this computer: 30")));
        QVERIFY(labels.warningLabel()->isHidden());

        // A large buffer: no warning at the same rate.
        labels.Track(health);
        socket.grantedBytes = 67108864;
        socket.drops = 0;
        labels.Refresh(socket, 1.0);
        QVERIFY(labels.warningLabel()->isHidden());
        QVERIFY(labels.receiveLabel()->text().contains(QStringLiteral("Lost by the network: 40")));
    }

    void findsTheSocketOfItsPortInThisProcess() {
        // A socket of this process on a loopback port, overrun by datagrams
        // nobody reads: the labels find it by its port, as they find the
        // UDP worker's, and show its drops and buffer.
        const int receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        QVERIFY(receiver >= 0 && sender >= 0);
        const int small = 4096;
        setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(bind(receiver, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        socklen_t length = sizeof address;
        QCOMPARE(getsockname(receiver, reinterpret_cast<sockaddr *>(&address), &length), 0);
        const std::vector<char> datagram(4100, 'x');
        for (int i = 0; i < 64; ++i)
            sendto(sender, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<sockaddr *>(&address), sizeof address);

        QWidget page;
        StreamHealthLabels labels(&page, 560, 142, 52, 204);
        auto health = std::make_shared<StreamHealth>();
        health->Observe(1);
        labels.Track(health, ntohs(address.sin_port));
        labels.Refresh();
        close(receiver);
        close(sender);
        const QString line = labels.receiveLabel()->text();
        QVERIFY2(line.contains(QStringLiteral("Receive buffer: ")), qPrintable(line));
        QVERIFY(labels.computerDrops().has_value());
        QVERIFY(*labels.computerDrops() > 0);
        QVERIFY2(line.contains(
                     QStringLiteral("Dropped by this computer: %1").arg(*labels.computerDrops())),
                 qPrintable(line));
    }

    void theRecordStatusSplitsTheLossTheSameWay() {
        recording::RecorderStatus s;
        s.elapsedSeconds = 61;
        s.written = 1200;
        s.lost = 40;
        s.dropped = 2;
        const QString plain = RecordControls::StatusText(s);
        QVERIFY2(plain.endsWith(QStringLiteral("\nlost 40  dropped 2")), qPrintable(plain));
        const QString split = RecordControls::StatusText(s, std::uint64_t{30});
        QVERIFY2(split.startsWith(plain + QStringLiteral("\nnetwork 10  this computer 30")),
                 qPrintable(split));
        // More drops than gaps (duplicates dropped): never a negative network loss.
        QVERIFY(RecordControls::StatusText(s, std::uint64_t{50})
                    .endsWith(QStringLiteral("network 0  this computer 40")));
    }
};

} // namespace qz417

QTEST_MAIN(qz417::StreamHealthLabelsTest)
#include "stream_health_labels_test.moc"
