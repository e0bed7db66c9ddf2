// Faults end to end: the window against emulated scanners that vanish,
// stall, close or dribble their replies, a connection made and dropped a
// thousand times, floods of stray datagrams, and parameter blocks with every
// value out of range. Each test checks the end state and that the window
// thread still answers.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include <QLineEdit>
#include <QTableWidget>

#include "reliability_fixture.h"
#include "wait.h"
#include "window_waits.h"

using qz417::rel::MessageBoxWatch;
using qz417::rel::WindowResponds;

namespace {

using Block = std::array<std::uint8_t, 512>;

bool Uninterpreted(std::size_t offset) {
    return offset == 3 || offset == 4 || offset == 13 || offset >= 33;
}

// Sends `count` datagrams from `make` to 127.0.0.1:port in bursts, so that
// the whole flood takes about `spreadMs`.
class DatagramFlood {
public:
    using Maker = std::function<std::vector<std::uint8_t>(std::mt19937 &)>;

    DatagramFlood(std::uint16_t port, int count, int spreadMs, Maker make)
        : thread_([=, this] { run(port, count, spreadMs, make); }) {}
    ~DatagramFlood() { join(); }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }
    bool done() const { return done_.load(); }
    int sent() const { return sent_.load(); }

private:
    void run(std::uint16_t port, int count, int spreadMs, const Maker &make) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::mt19937 random(417);
        constexpr int kBurst = 1000;
        const int bursts = (count + kBurst - 1) / kBurst;
        for (int b = 0; b < bursts && fd >= 0; ++b) {
            for (int i = 0; i < kBurst && b * kBurst + i < count; ++i) {
                const std::vector<std::uint8_t> d = make(random);
                if (sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                           sizeof to) >= 0)
                    sent_.fetch_add(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(spreadMs / bursts));
        }
        if (fd >= 0)
            close(fd);
        done_ = true;
    }

    std::atomic<int> sent_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Datagrams that are no announcement: any length but 268, another type
// code, or type 417 from the address 0.0.0.0.
std::vector<std::uint8_t> StrayAnnouncement(std::mt19937 &random) {
    const unsigned kind = random() % 3;
    std::size_t length = 268;
    if (kind == 0) {
        length = random() % 1400;
        if (length == 268)
            length = 269;
    }
    std::vector<std::uint8_t> d(length);
    for (auto &b : d)
        b = static_cast<std::uint8_t>(random());
    if (kind == 1) {
        std::uint16_t type = static_cast<std::uint16_t>(random());
        if (type == 417)
            type = 418;
        d[0] = static_cast<std::uint8_t>(type);
        d[1] = static_cast<std::uint8_t>(type >> 8);
    } else if (kind == 2) {
        d[0] = 417 & 0xFF;
        d[1] = 417 >> 8;
        std::fill(d.begin() + 2, d.begin() + 6, 0); // from 0.0.0.0
    }
    return d;
}

constexpr std::uint8_t kStrayByte = 0xEE;

// Datagrams that are no profile packet: every length but 4100, marked so
// that one in the shared packet would show.
std::vector<std::uint8_t> StrayPacket(std::mt19937 &random) {
    static const std::size_t kEdges[] = {0, 1, 4, 4096, 4099, 4101, 4104, 8200};
    std::size_t length = random() % 2 ? kEdges[random() % std::size(kEdges)] : random() % 9000;
    if (length == 4100)
        length = 4099;
    return std::vector<std::uint8_t>(length, kStrayByte);
}

} // namespace

class FaultInjectionTest : public QObject {
    Q_OBJECT

    qz417::rel::WindowFixture fx_;

    // Starts the result ("result") or image ("image") worker and waits for acquisitions.
    void startTcpWorker(const QString &worker) {
        const bool result = worker == QStringLiteral("result");
        QPushButton *b = fx_.button(result ? "ButtonResult" : "ButtonGrabber");
        b->click();
        QCOMPARE(b->text(), QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(),
                                  std::uint8_t(result ? kModeResult : kModeImage), 3000);
        // A bound for a busy machine: one-byte segments took 15 s there.
        QTRY_VERIFY_WITH_TIMEOUT(AcquiredCount.load() >= 2, 30000);
    }
    // After a disconnection: the emulated scanner has closed its side of the
    // connection (none open on port 417) and its thread for it has ended.
    // That thread ends right after it closes and gives no sign of its own:
    // the thread count staying the same over 20 ms stands for it. False
    // after 5 s.
    bool settledAfterDisconnect() {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            const int threads = qz417::rel::ProcessThreads();
            QTest::qWait(20);
            if (qz417::test::TcpConnectionsOnPort(417) == 0 &&
                qz417::rel::ProcessThreads() == threads)
                return true;
        }
        return false;
    }
    // The disconnected state, reached without a message.
    void verifyBackOnSearchPage(const MessageBoxWatch &watch) {
        QVERIFY(!fx_.connected());
        QVERIFY(fx_.onSearchPage());
        QCOMPARE(DeviceSocket.load(), -1);
        QCOMPARE(fx_.button("ButtonResult")->text(), QStringLiteral("Start"));
        QCOMPARE(fx_.button("ButtonGrabber")->text(), QStringLiteral("Start"));
        QVERIFY(fx_.button("ButtonSearch")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(fx_.form->Threads().running(), std::size_t{0}, 5000);
        QVERIFY(watch.texts.isEmpty());
        QVERIFY(WindowResponds());
    }

private slots:
    void init() { fx_.create(); }
    void cleanup() { fx_.destroy(); }

    void scannerStoppedWhileATcpWorkerRuns_data() {
        QTest::addColumn<QString>("worker");
        QTest::newRow("result") << QStringLiteral("result");
        QTest::newRow("image") << QStringLiteral("image");
    }
    void scannerStoppedWhileATcpWorkerRuns() {
        QFETCH(QString, worker);
        QZREL_CONNECT_OR_SKIP(qz417::sim::EmulatorOptions{});
        MessageBoxWatch watch;
        startTcpWorker(worker);
        QZREL_RETURN_IF_FAILED();
        QElapsedTimer clock;
        clock.start();
        fx_.emulator->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!fx_.connected(), 5500);
        QVERIFY(clock.elapsed() < 5500);
        verifyBackOnSearchPage(watch);
    }

    void scannerStoppedWhileTheUdpWorkerRuns() {
        qz417::sim::EmulatorOptions options;
        options.udpHz = 200;
        QZREL_START_OR_SKIP(options);
        MessageBoxWatch watch;
        fx_.W<QLineEdit>("EditUDPPrt")->setText(QStringLiteral("6003"));
        fx_.button("ButtonUDPResult")->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(fx_.text("LabelPacksUDPCnt").toInt() > 0, 5000);

        fx_.emulator->stop(); // its sender has stopped when this returns
        // The worker has read what was still on its way, and the page shows it.
        QTRY_COMPARE_WITH_TIMEOUT(qz417::test::UdpBytesQueued(6003), 0ul, 3000);
        QVERIFY(qz417::test::WaitForViewTicks(fx_.form.get()));
        const QString frozen = fx_.text("LabelPacksUDPCnt");
        // Ticks with nothing new to show: nothing arrives, nothing is made up.
        QVERIFY(qz417::test::WaitForViewTicks(fx_.form.get(), 20));
        QCOMPARE(fx_.text("LabelPacksUDPCnt"), frozen);
        QVERIFY(WindowResponds());
        QCOMPARE(fx_.button("ButtonUDPResult")->text(), QStringLiteral("Stop"));

        fx_.button("ButtonUDPResult")->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(fx_.form->Threads().running(), std::size_t{0}, 3000);
        QCOMPARE(fx_.button("ButtonUDPResult")->text(), QStringLiteral("Start"));
        QVERIFY(watch.texts.isEmpty());
        QVERIFY(WindowResponds());
    }

    // A fault switched on while the window is connected: a worker, or the
    // idle tick (a parameter read), meets it at its next exchange.
    void faultDuringAnExchange_data() {
        QTest::addColumn<QString>("worker");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("withinMs");
        // A stall is noticed by the 4 s receive time-out; a close at once.
        for (const char *fault :
             {"stall mid-reply", "stall before reply", "close mid-reply", "reset"}) {
            const int within = QByteArray(fault).startsWith("stall") ? 6000 : 2000;
            for (const char *worker : {"result", "image", "idle"})
                QTest::addRow("%s, %s", fault, worker)
                    << QString::fromLatin1(worker) << QString::fromLatin1(fault) << within;
        }
    }
    void faultDuringAnExchange() {
        QFETCH(QString, worker);
        QFETCH(QString, fault);
        QFETCH(int, withinMs);
        QZREL_CONNECT_OR_SKIP(qz417::sim::EmulatorOptions{});
        MessageBoxWatch watch;
        if (worker != QStringLiteral("idle")) {
            startTcpWorker(worker);
            QZREL_RETURN_IF_FAILED();
        } else {
            // The first idle ticks fetch the picture connecting asked for.
            QTRY_VERIFY_WITH_TIMEOUT(
                RequestImage.load() == 0 && fx_.emulator->commandsServed(0, 3) >= 1, 3000);
            QVERIFY(qz417::test::WaitForViewTicks(fx_.form.get()));
        }

        qz417::sim::FaultOptions f;
        if (fault == QStringLiteral("stall mid-reply")) {
            f.segmentBytes = 64;
            f.segmentDelayMs = 60000; // the rest of the reply never comes
        } else if (fault == QStringLiteral("stall before reply")) {
            f.stallAfterCommands = 0;
        } else if (fault == QStringLiteral("close mid-reply")) {
            f.closeMidReplyAfter = 0;
        } else {
            f.resetAfterCommands = 0;
        }
        fx_.emulator->setFaults(0, f);
        if (worker == QStringLiteral("idle"))
            fx_.button("ButtonReadCfg")->click();

        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(!fx_.connected(), withinMs);
        QVERIFY(clock.elapsed() < withinMs);
        verifyBackOnSearchPage(watch);
        QZREL_RETURN_IF_FAILED();

        // And it connects again once the scanner behaves.
        fx_.emulator->setFaults(0, qz417::sim::FaultOptions{});
        fx_.form->ButtonConnectClick();
        QVERIFY(fx_.connected());
    }

    void oneByteSegmentsStillWork() {
        qz417::sim::EmulatorOptions options;
        options.faults.segmentBytes = 1;
        QZREL_CONNECT_OR_SKIP(options);
        MessageBoxWatch watch;
        // The parameter block arrived byte by byte, whole.
        const auto emulated = fx_.emulator->config(0);
        QVERIFY(std::equal(emulated.begin(), emulated.end(), DeviceConfig.read().bytes().begin()));

        startTcpWorker(QStringLiteral("result"));
        QZREL_RETURN_IF_FAILED();
        const std::uint16_t before = AcquiredCount.load();
        QTRY_VERIFY_WITH_TIMEOUT(std::uint16_t(AcquiredCount.load() - before) >= 5, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(fx_.text("LabelResultCnt").toInt() > 0, 3000);
        QVERIFY(WindowResponds());
        fx_.button("ButtonResult")->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 5000);

        // A whole image of 327680 one-byte pieces.
        const auto chunks = fx_.emulator->commandsServed(0, 3);
        fx_.button("ButtonGrabber")->click();
        QTRY_VERIFY_WITH_TIMEOUT(fx_.text("LabelFrameCnt").toInt() >= 1, 30000);
        QVERIFY(fx_.emulator->commandsServed(0, 3) >= chunks + 10);
        fx_.button("ButtonGrabber")->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 10000);
        QVERIFY(fx_.connected());
        QVERIFY(watch.texts.isEmpty());
        QVERIFY(WindowResponds());
    }

    void connectAndDisconnectAThousandTimes() {
        QZREL_CONNECT_OR_SKIP(qz417::sim::EmulatorOptions{});
        fx_.form->ButtonConnectClick(); // disconnect: the first round set up what stays
        QVERIFY(!fx_.connected());
        QVERIFY(settledAfterDisconnect());
        const int fds = qz417::rel::OpenDescriptors();
        const int threads = qz417::rel::ProcessThreads();
        const auto accepted = fx_.emulator->connectionsAccepted(0);

        constexpr int kRounds = 1000;
        for (int i = 0; i < kRounds; ++i) {
            fx_.form->ButtonConnectClick();
            QVERIFY2(fx_.connected(), qPrintable(QStringLiteral("round %1").arg(i)));
            fx_.form->ButtonConnectClick();
            QVERIFY(!fx_.connected());
            if (i % 50 == 0)
                QCoreApplication::processEvents();
        }
        QCOMPARE(fx_.emulator->connectionsAccepted(0), accepted + kRounds);
        // The emulator ends its side of each connection on its own time.
        QTRY_COMPARE_WITH_TIMEOUT(qz417::rel::OpenDescriptors(), fds, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(qz417::rel::ProcessThreads(), threads, 5000);
        QCOMPARE(fx_.form->Threads().running(), std::size_t{0});
        QVERIFY(WindowResponds());
    }

    void connectRunAndDisconnectRepeatedly() {
        QZREL_CONNECT_OR_SKIP(qz417::sim::EmulatorOptions{});
        fx_.form->ButtonConnectClick();
        QVERIFY(settledAfterDisconnect());
        const int fds = qz417::rel::OpenDescriptors();
        const int threads = qz417::rel::ProcessThreads();

        constexpr int kRounds = 100;
        for (int i = 0; i < kRounds; ++i) {
            fx_.form->ButtonConnectClick();
            QVERIFY(fx_.connected());
            fx_.button(i % 2 ? "ButtonGrabber" : "ButtonResult")->click();
            QTRY_VERIFY_WITH_TIMEOUT(WorkerMode.load() != 0, 3000);
            fx_.form->ButtonConnectClick(); // disconnect under the running worker
            QVERIFY(!fx_.connected());
            QTRY_COMPARE_WITH_TIMEOUT(fx_.form->Threads().running(), std::size_t{0}, 5000);
            // The window handles what the ended worker posted (the view timer
            // stopped with the disconnection).
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE_WITH_TIMEOUT(qz417::rel::OpenDescriptors(), fds, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(qz417::rel::ProcessThreads(), threads, 5000);
        QVERIFY(WindowResponds());
    }

    void strayDatagramsDuringASearch() {
        qz417::sim::EmulatorOptions options;
        options.count = 2;
        QZREL_START_OR_SKIP(options);
        fx_.form->SetSearchTimeoutForTest(3000);
        MessageBoxWatch watch;
        fx_.form->ButtonSearchClick();
        DatagramFlood flood(6001, 100000, 2500, StrayAnnouncement);
        while (!flood.done())
            QVERIFY(WindowResponds());
        flood.join();
        QTRY_VERIFY_WITH_TIMEOUT(fx_.button("ButtonSearch")->isEnabled(), 5000);
        QCOMPARE(flood.sent(), 100000);

        // Only the two scanners, each once, in the order their first
        // announcements arrived (which of the two comes first is up to them).
        auto *grid = fx_.W<QTableWidget>("StringGridSearch");
        QCOMPARE(grid->rowCount(), 2);
        int row = 0;
        bool seen[2] = {false, false};
        for (const DeviceAnnouncement *n = DeviceList.load(); n; n = n->next, ++row) {
            QVERIFY(row < 2);
            int k = 0;
            while (k < 2 &&
                   !std::equal(n->ip, n->ip + 4, fx_.emulator->announcement(k).begin() + 2))
                ++k;
            QVERIFY2(k < 2, "a node that is neither scanner");
            QVERIFY(!seen[k]);
            seen[k] = true;
            const auto a = fx_.emulator->announcement(k);
            QCOMPARE(n->type, std::uint16_t{417});
            QVERIFY(std::equal(n->mac, n->mac + 6, a.begin() + 6));
            QVERIFY(std::equal(n->description, n->description + 255, a.begin() + 12));
            QCOMPARE(grid->item(row, 1)->text(), QString::fromStdString(fx_.emulator->address(k)));
        }
        QCOMPARE(row, 2);
        QVERIFY(watch.texts.isEmpty());
        // The window still connects.
        fx_.form->ButtonConnectClick();
        QVERIFY(fx_.connected());
    }

    void strayDatagramsDuringAStream() {
        qz417::sim::EmulatorOptions options;
        options.udpHz = 250;
        QZREL_START_OR_SKIP(options);
        MessageBoxWatch watch;
        fx_.W<QLineEdit>("EditUDPPrt")->setText(QStringLiteral("6003"));
        fx_.button("ButtonUDPResult")->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(fx_.text("LabelPacksUDPCnt").toInt() > 0, 5000);

        DatagramFlood flood(6003, 100000, 2500, StrayPacket);
        std::array<std::uint8_t, QZ417_PACKET_SIZE> shown{};
        int samples = 0;
        while (!flood.done()) {
            QVERIFY(WindowResponds());
            ResultPacket.read(shown.data());
            ++samples;
            const bool stray = std::count(shown.begin(), shown.begin() + 64, kStrayByte) == 64;
            QVERIFY2(!stray, "a stray datagram reached the shown packet");
        }
        flood.join();
        QVERIFY(samples > 0);
        QCOMPARE(flood.sent(), 100000);

        // The real stream still comes through and is shown.
        const int before = fx_.text("LabelPacksUDPCnt").toInt();
        QTRY_VERIFY_WITH_TIMEOUT(fx_.text("LabelPacksUDPCnt").toInt() != before, 3000);
        ResultPacket.read(shown.data());
        QVERIFY(std::count(shown.begin(), shown.end(), kStrayByte) < 64);

        fx_.button("ButtonUDPResult")->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
        QVERIFY(watch.texts.isEmpty());
        QVERIFY(WindowResponds());
    }

    // Blocks with out-of-range values read from the scanner, shown and written
    // back: what the program does not interpret arrives unchanged.
    void randomParameterBlocksWrittenBack() {
        QZREL_CONNECT_OR_SKIP(qz417::sim::EmulatorOptions{});
        MessageBoxWatch watch;
        std::mt19937 random(4170);
        constexpr int kBlocks = 24;
        for (int round = 0; round < kBlocks; ++round) {
            Block block;
            for (auto &b : block)
                b = static_cast<std::uint8_t>(random());
            switch (round) {
            case 0:
                block.fill(0xFF);
                break;
            case 1:
                block.fill(0x80); // angle -32640, every list index out of range
                break;
            case 2:
                block[10] = 0x00;
                block[11] = 0x80; // angle -32768
                break;
            default:
                break;
            }
            block[0] = static_cast<std::uint8_t>(32 + round * 9);  // laser above 31
            block[16] = static_cast<std::uint8_t>(5 + round * 10); // analog points beyond the list
            // Nothing of the last round may still be on its way to the scanner.
            QTRY_VERIFY_WITH_TIMEOUT(
                RequestWriteParams.load() == 0 && RequestReadParams.load() == 0, 3000);
            QVERIFY(qz417::test::ScannerServedEverythingSent());
            fx_.emulator->setConfig(0, block);

            const auto reads = fx_.emulator->commandsServed(0, 4);
            fx_.button("ButtonReadCfg")->click();
            QTRY_VERIFY_WITH_TIMEOUT(fx_.emulator->commandsServed(0, 4) > reads, 3000);
            QTRY_VERIFY2_WITH_TIMEOUT(DeviceConfig.read().byteAt(100) == block[100] &&
                                          DeviceConfig.read().byteAt(511) == block[511],
                                      qPrintable(QStringLiteral("round %1").arg(round)), 3000);
            // A track bar that moved has asked for a write by itself; let it
            // go first (the next idle tick sends it) and reach the scanner.
            QVERIFY(qz417::test::WaitForViewTicks(fx_.form.get()));
            QTRY_VERIFY_WITH_TIMEOUT(RequestWriteParams.load() == 0, 3000);
            QVERIFY(qz417::test::ScannerServedEverythingSent());
            const auto writes = fx_.emulator->commandsServed(0, 5);
            fx_.button("ButtonWriteCfg")->click();
            QTRY_VERIFY_WITH_TIMEOUT(fx_.emulator->commandsServed(0, 5) > writes, 3000);

            const Block back = fx_.emulator->config(0);
            for (std::size_t i = 0; i < back.size(); ++i)
                if (Uninterpreted(i))
                    QVERIFY2(back[i] == block[i],
                             qPrintable(QStringLiteral("round %1, byte %2").arg(round).arg(i)));
            QCOMPARE(back[12] & 0x80, block[12] & 0x80);
            // The track bar stops at 31: moved there, it stores 31; already there, it
            // leaves the byte as read.
            QVERIFY(back[0] == 31 || back[0] == block[0]);
            QCOMPARE(back[16], block[16]); // a list beyond its items keeps the byte
            QVERIFY(fx_.connected());
        }
        QVERIFY(watch.texts.isEmpty());
        QVERIFY(WindowResponds());
    }

    // Every value of every interpreted byte, applied to the page in-process.
    void everyFieldValueAppliedToThePage() {
        std::mt19937 random(417);
        for (int value = 0; value < 256; ++value) {
            Block block;
            for (std::size_t i = 0; i < block.size(); ++i)
                block[i] = Uninterpreted(i) ? static_cast<std::uint8_t>(random())
                                            : static_cast<std::uint8_t>(value);
            block[12] = static_cast<std::uint8_t>(value ^ (random() & 0x80));
            DeviceConfig.write(block.data());
            fx_.form->ApplyConfigToControls();
            const auto now = DeviceConfig.read();
            for (std::size_t i = 0; i < block.size(); ++i) {
                if (i == 0 || i == 10 || i == 11)
                    continue; // the laser and angle track bars may clamp
                QVERIFY2(now.byteAt(i) == block[i],
                         qPrintable(QStringLiteral("value %1, byte %2").arg(value).arg(i)));
            }
            if (value <= 31)
                QCOMPARE(int{now.laserLevel()}, value);
            else
                QVERIFY(now.laserLevel() == 31 || now.laserLevel() == value);
        }
        RequestWriteParams = 0;
        QVERIFY(WindowResponds());
    }
};

QTEST_MAIN(FaultInjectionTest)
#include "fault_injection_test.moc"
