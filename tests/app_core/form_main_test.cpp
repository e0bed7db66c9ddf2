// The main window driven through its controls (found by their names) against
// emulated scanners on loopback.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/image_window.h"
#include "core/thread_owner.h"
#include "core/tick_source.h"
#include "emulator.h"
#include "message_box_watch.h"
#include "widgets/profile_chart.h"
#include "window_waits.h"

namespace {

constexpr std::uint16_t kTestSearchMs = 1200;
constexpr int kSearchWaitMs = 5000;

// The window's clock in the rate tests (qz417::SetTickSource).
std::atomic<std::uint32_t> FakeTicks{0};

using qz417::test::MessageBoxWatch;

// A UDP socket bound to a port (any address), so that nobody else can bind it.
class PortHolder {
public:
    explicit PortHolder(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_ANY);
        at.sin_port = htons(port);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
    }
    ~PortHolder() { release(); }
    PortHolder(const PortHolder &) = delete;
    PortHolder &operator=(const PortHolder &) = delete;
    bool bound() const { return bound_; }
    void release() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    bool bound_ = false;
};

// A UDP socket on 127.0.0.1 sending 4100-byte profile packets to a port.
class PacketSender {
public:
    explicit PacketSender(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        to_.sin_family = AF_INET;
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to_.sin_port = htons(port);
    }
    ~PacketSender() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PacketSender(const PacketSender &) = delete;
    PacketSender &operator=(const PacketSender &) = delete;
    bool ok() const { return fd_ >= 0; }
    void Send(std::uint16_t measurementCount, std::uint16_t packetCount) {
        std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
        packet[0] = static_cast<std::uint8_t>(measurementCount);
        packet[1] = static_cast<std::uint8_t>(measurementCount >> 8);
        packet[2] = static_cast<std::uint8_t>(packetCount);
        packet[3] = static_cast<std::uint8_t>(packetCount >> 8);
        ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to_),
                 sizeof to_);
    }

private:
    int fd_;
    sockaddr_in to_{};
};

} // namespace

class FormMainTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TFormMain> form_;
    std::unique_ptr<qz417::sim::Emulator> emulator_;

    template <class T> T *W(const char *name) {
        T *w = form_->findChild<T *>(QString::fromLatin1(name));
        if (w == nullptr)
            qFatal("no control %s", name);
        return w;
    }
    QPushButton *Button(const char *name) { return W<QPushButton>(name); }
    QString Text(const char *label) { return W<QLabel>(label)->text(); }
    bool TabVisible(const char *pages, const char *page) {
        auto *tabs = W<QTabWidget>(pages);
        return tabs->isTabVisible(tabs->indexOf(W<QWidget>(page)));
    }
    QStringList MemoRows() { return W<QPlainTextEdit>("MemoInfo")->toPlainText().split('\n'); }
    QString Cell(int row, int column) {
        QTableWidgetItem *item = W<QTableWidget>("StringGridSearch")->item(row, column);
        return item ? item->text() : QString();
    }

    bool StartEmulator(qz417::sim::EmulatorOptions options) {
        emulator_ = std::make_unique<qz417::sim::Emulator>(std::move(options));
        std::string error;
        if (!emulator_->start(&error)) {
            qWarning("emulator: %s", error.c_str());
            return false;
        }
        return true;
    }
    void Search() {
        QTest::mouseClick(Button("ButtonSearch"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Button("ButtonSearch")->isEnabled(), kSearchWaitMs);
    }
    void SearchAndConnect(int scanners) {
        qz417::sim::EmulatorOptions options;
        options.count = scanners;
        SearchAndConnect(options);
    }
    void SearchAndConnect(const qz417::sim::EmulatorOptions &options) {
        if (!StartEmulator(options))
            QSKIP("the emulated scanners cannot listen on port 417 here (needs root or "
                  "CAP_NET_BIND_SERVICE)");
        Search();
        QVERIFY(Button("ButtonConnect")->isEnabled());
        QTest::mouseClick(Button("ButtonConnect"), Qt::LeftButton);
        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Disconnect"));
    }

private slots:
    void init() {
        qz417::ResetAppState();
        form_ = std::make_unique<TFormMain>();
        form_->SetSearchTimeoutForTest(kTestSearchMs);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }

    void cleanup() {
        form_->close();
        form_.reset(); // stops and awaits every thread
        emulator_.reset();
        QZ_ClearList(DeviceList.exchange(nullptr));
        qz417::ResetAppState();
    }

    void startUpState() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("QZ417 Setup Program."));
        QCOMPARE(form_->size(), QSize(947, 608));
        QCOMPARE(W<QTabWidget>("PageControlQZ417")->geometry(), QRect(0, 0, 650, 607));
        QCOMPARE(W<QTabWidget>("PageControlMore")->geometry(), QRect(656, 0, 289, 607));
        QVERIFY(TabVisible("PageControlQZ417", "TabSheetSearch"));
        QVERIFY(TabVisible("PageControlQZ417", "TabSheetUDP"));
        QVERIFY(TabVisible("PageControlMore", "TabSheetInformation"));
        QVERIFY(!TabVisible("PageControlQZ417", "TabSheetResultViewer"));
        QVERIFY(!TabVisible("PageControlQZ417", "TabSheetImageGrabber"));
        QVERIFY(!TabVisible("PageControlMore", "TabSheetParameters"));

        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Connect"));
        QVERIFY(!Button("ButtonConnect")->isEnabled());
        QVERIFY(Button("ButtonSearch")->isEnabled());
        auto *grid = W<QTableWidget>("StringGridSearch");
        QVERIFY(!grid->isEnabled());
        QCOMPARE(grid->columnCount(), 3);
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->horizontalHeaderItem(0)->text(), QStringLiteral("Type of device"));
        QCOMPARE(grid->horizontalHeaderItem(1)->text(), QStringLiteral("IP address"));
        QCOMPARE(grid->horizontalHeaderItem(2)->text(), QStringLiteral("MAC"));
        for (int c = 0; c < 3; ++c) {
            QCOMPARE(grid->columnWidth(c), 210);
            QCOMPARE(Cell(0, c), QString());
        }
        QCOMPARE(grid->rowHeight(0), 21);
        QVERIFY(W<QPlainTextEdit>("MemoInfo")->toPlainText().isEmpty());

        for (const char *label :
             {"LabelResultCnt", "LabelPacksCnt", "LabelResultPerSec", "LabelPacksPerSec",
              "LabelFrameCnt", "LabelFramePerSec", "LabelResultUDPCnt", "LabelPacksUDPCnt",
              "LabelResultUDPPerSec", "LabelPacksUDPPerSec"})
            QCOMPARE(Text(label), QStringLiteral("0"));
        for (const char *button : {"ButtonResult", "ButtonGrabber", "ButtonUDPResult"})
            QCOMPARE(Button(button)->text(), QStringLiteral("Start"));
        QCOMPARE(W<QLineEdit>("EditUDPPrt")->text(), QStringLiteral("6003"));
        QCOMPARE(W<QLineEdit>("EditUDPPrt")->maxLength(), 5);
        QCOMPARE(W<QGroupBox>("GroupBoxIntegration")->title(), QStringLiteral("Integration: 0 us"));
        QVERIFY(!W<QTimer>("TimerView")->isActive());
        QCOMPARE(W<QTimer>("TimerView")->interval(), 1);
        QCOMPARE(DeviceSocket.load(), 0);
        QCOMPARE(UdpPort.load(), std::uint16_t{6003});
        QCOMPARE(form_->Threads().count(), std::size_t{0});
    }

    void fontsAndNoClippedCaptions() {
        QCOMPARE(form_->font().pixelSize(), 11);
        auto *memo = W<QPlainTextEdit>("MemoInfo");
        QCOMPARE(memo->font().pixelSize(), 16);
        QVERIFY(memo->isReadOnly());
        qInfo("window font %s, memo font %s (stretch %d)",
              qPrintable(QFontInfo(form_->font()).family()),
              qPrintable(QFontInfo(memo->font()).family()), memo->font().stretch());
        for (QLabel *label : form_->findChildren<QLabel *>()) {
            const int need = label->fontMetrics().horizontalAdvance(label->text());
            QVERIFY2(need <= label->contentsRect().width(),
                     qPrintable(label->objectName() + ": " + label->text()));
        }
        for (QPushButton *button : form_->findChildren<QPushButton *>()) {
            // The widest caption a button shows.
            QString caption = button->text();
            if (caption == QLatin1String("Start"))
                caption = QStringLiteral("Stop");
            if (caption == QLatin1String("Connect"))
                caption = QStringLiteral("Disconnect");
            const int need = button->fontMetrics().horizontalAdvance(caption) + 8;
            QVERIFY2(need <= button->width(), qPrintable(button->objectName()));
        }
    }

    void searchListsThreeScannersInOrder() {
        qz417::sim::EmulatorOptions options;
        options.count = 3;
        if (!StartEmulator(options))
            QSKIP("the emulated scanners cannot listen on port 417 here");
        QTest::mouseClick(Button("ButtonSearch"), Qt::LeftButton);
        // Searching: everything that reads the list is disabled.
        QVERIFY(!Button("ButtonSearch")->isEnabled());
        QVERIFY(!Button("ButtonConnect")->isEnabled());
        QVERIFY(!W<QTableWidget>("StringGridSearch")->isEnabled());
        QCOMPARE(W<QProgressBar>("ProgressBarSearch")->maximum(), int{kTestSearchMs});
        QTRY_VERIFY_WITH_TIMEOUT(W<QProgressBar>("ProgressBarSearch")->value() > 0, 2000);
        QTRY_VERIFY_WITH_TIMEOUT(Button("ButtonSearch")->isEnabled(), kSearchWaitMs);

        auto *grid = W<QTableWidget>("StringGridSearch");
        QCOMPARE(grid->rowCount(), 3);
        QVERIFY(grid->isEnabled());
        QVERIFY(Button("ButtonConnect")->isEnabled());
        QCOMPARE(W<QProgressBar>("ProgressBarSearch")->value(), int{kTestSearchMs});
        QStringList ips;
        int row = 0;
        const QRegularExpression mac(QStringLiteral("^([0-9A-F]{2}-){5}[0-9A-F]{2}$"));
        for (const DeviceAnnouncement *n = DeviceList.load(); n; n = n->next, ++row) {
            QCOMPARE(Cell(row, 0), QStringLiteral("QZ417"));
            const QString ip = QStringLiteral("%1.%2.%3.%4")
                                   .arg(n->ip[0])
                                   .arg(n->ip[1])
                                   .arg(n->ip[2])
                                   .arg(n->ip[3]);
            QCOMPARE(Cell(row, 1), ip);
            QVERIFY2(mac.match(Cell(row, 2)).hasMatch(), qPrintable(Cell(row, 2)));
            QCOMPARE(Cell(row, 2),
                     QString::asprintf("%02X-%02X-%02X-%02X-%02X-%02X", n->mac[0], n->mac[1],
                                       n->mac[2], n->mac[3], n->mac[4], n->mac[5]));
            ips << ip;
        }
        QCOMPARE(row, 3);
        ips.sort();
        QCOMPARE(ips, QStringList({"127.0.0.1", "127.0.0.2", "127.0.0.3"}));

        // The first row is described, and the scale is that of its device.
        const DeviceAnnouncement *first = DeviceList.load();
        const std::uint32_t serial =
            first->description[1] | (first->description[2] << 8) | (first->description[3] << 16);
        QStringList rows = MemoRows();
        QCOMPARE(rows.size(), 34);
        QCOMPARE(rows[13], QString::number(serial) + ";");
        QCOMPARE(RangeZ.load(), std::uint16_t{250});

        // Choosing another row describes that row's device.
        grid->setCurrentCell(2, 0);
        const DeviceAnnouncement *third = first->next->next;
        const std::uint32_t serial3 =
            third->description[1] | (third->description[2] << 8) | (third->description[3] << 16);
        QCOMPARE(MemoRows()[13], QString::number(serial3) + ";");
    }

    void searchWithoutScanners() {
        Search();
        auto *grid = W<QTableWidget>("StringGridSearch");
        QCOMPARE(grid->rowCount(), 1);
        for (int c = 0; c < 3; ++c)
            QCOMPARE(Cell(0, c), QString());
        QVERIFY(!grid->isEnabled());
        QVERIFY(!Button("ButtonConnect")->isEnabled());
        QVERIFY(Button("ButtonSearch")->isEnabled());
        QVERIFY(W<QPlainTextEdit>("MemoInfo")->toPlainText().isEmpty());
        QVERIFY(!W<QTimer>("TimerView")->isActive());
        QCOMPARE(WorkerMode.load(), std::uint8_t{0});
        QVERIFY(DeviceList.load() == nullptr);
    }

    void scannerAnnouncedManyTimesIsListedOnce() {
        qz417::sim::EmulatorOptions options;
        options.count = 1;
        options.announceIntervalMs = 10;
        if (!StartEmulator(options))
            QSKIP("the emulated scanner cannot listen on port 417 here");
        Search();
        QCOMPARE(W<QTableWidget>("StringGridSearch")->rowCount(), 1);
        QCOMPARE(Cell(0, 1), QStringLiteral("127.0.0.1"));
        QVERIFY(DeviceList.load() != nullptr && DeviceList.load()->next == nullptr);
    }

    void connectShowsTheConnectedPagesAndDisconnectRestores() {
        SearchAndConnect(1);
        QVERIFY(DeviceSocket.load() > 0);
        QVERIFY(TabVisible("PageControlQZ417", "TabSheetResultViewer"));
        QVERIFY(TabVisible("PageControlQZ417", "TabSheetImageGrabber"));
        QVERIFY(TabVisible("PageControlMore", "TabSheetParameters"));
        QVERIFY(!TabVisible("PageControlQZ417", "TabSheetUDP"));
        QCOMPARE(W<QTabWidget>("PageControlQZ417")->currentWidget(), W<QWidget>("TabSheetSearch"));
        QVERIFY(!Button("ButtonSearch")->isEnabled());
        QVERIFY(!W<QTableWidget>("StringGridSearch")->isEnabled());
        QVERIFY(Button("ButtonResult")->isEnabled());
        QVERIFY(Button("ButtonGrabber")->isEnabled());
        QVERIFY(!Button("ButtonResultSave")->isEnabled());
        // The first idle tick fetches a picture.
        QTRY_COMPARE_WITH_TIMEOUT(RequestImage.load(), std::uint8_t{0}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(emulator_->commandsServed(0, 2) >= 1, 3000);

        W<QTabWidget>("PageControlMore")->setCurrentWidget(W<QWidget>("TabSheetParameters"));
        QTest::mouseClick(Button("ButtonConnect"), Qt::LeftButton);
        QCOMPARE(DeviceSocket.load(), -1);
        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Connect"));
        QVERIFY(Button("ButtonConnect")->isEnabled());
        QVERIFY(Button("ButtonSearch")->isEnabled());
        QVERIFY(!TabVisible("PageControlQZ417", "TabSheetResultViewer"));
        QVERIFY(!TabVisible("PageControlQZ417", "TabSheetImageGrabber"));
        QVERIFY(!TabVisible("PageControlMore", "TabSheetParameters"));
        QVERIFY(TabVisible("PageControlQZ417", "TabSheetUDP"));
        QCOMPARE(W<QTabWidget>("PageControlMore")->currentWidget(),
                 W<QWidget>("TabSheetInformation"));
        QCOMPARE(W<QTableWidget>("StringGridSearch")->rowCount(), 1);
        QCOMPARE(Cell(0, 1), QString());
        QVERIFY(!W<QTableWidget>("StringGridSearch")->isEnabled());
        QVERIFY(W<QPlainTextEdit>("MemoInfo")->toPlainText().isEmpty());
        QVERIFY(!W<QTimer>("TimerView")->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(emulator_->connectionsAccepted(0), std::uint64_t{1}, 1000);
    }

    void doubleClickOnAGridRowConnects() {
        qz417::sim::EmulatorOptions options;
        options.count = 2;
        if (!StartEmulator(options))
            QSKIP("the emulated scanners cannot listen on port 417 here");
        Search();
        auto *grid = W<QTableWidget>("StringGridSearch");
        QCOMPARE(grid->rowCount(), 2);
        const QRect cell = grid->visualRect(grid->model()->index(1, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(grid->currentRow(), 1);
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Disconnect"));
        const int k = Cell(1, 1) == QLatin1String("127.0.0.1") ? 0 : 1;
        QCOMPARE(emulator_->connectionsAccepted(k), std::uint64_t{1});
        QCOMPARE(emulator_->connectionsAccepted(1 - k), std::uint64_t{0});
    }

    void udpPortThatIsNotANumber() {
        MessageBoxWatch watch;
        W<QLineEdit>("EditUDPPrt")->setText(QStringLiteral("abc"));
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(watch.texts.size(), 1, 3000);
        QCOMPARE(watch.texts[0], QStringLiteral("'abc' is not a valid integer value"));
        QCOMPARE(Button("ButtonUDPResult")->text(), QStringLiteral("Start"));
        QCOMPARE(form_->Threads().count(), std::size_t{0});
        QCOMPARE(UdpPort.load(), std::uint16_t{6003});
        QVERIFY(!W<QTimer>("TimerView")->isActive());
    }

    void udpPortKeepsItsLow16Bits() {
        W<QLineEdit>("EditUDPPrt")->setText(QStringLiteral("70000"));
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QCOMPARE(UdpPort.load(), std::uint16_t{4464});
        QCOMPARE(Button("ButtonUDPResult")->text(), QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);

        // A datagram to port 4464 reaches the UDP view.
        std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
        packet[0] = 0x10; // measurementCount 16
        packet[2] = 0x09; // packetCount 777
        packet[3] = 0x03;
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(s >= 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(4464);
        QTRY_VERIFY_WITH_TIMEOUT((::sendto(s, packet.data(), packet.size(), 0,
                                           reinterpret_cast<sockaddr *>(&to), sizeof to),
                                  Text("LabelPacksUDPCnt") == QLatin1String("777")),
                                 3000);
        ::close(s);

        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QCOMPARE(Button("ButtonUDPResult")->text(), QStringLiteral("Start"));
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
        QCOMPARE(Text("LabelResultUDPCnt"), QStringLiteral("0"));
        QCOMPARE(Text("LabelResultUDPPerSec"), QStringLiteral("0"));
        QTRY_COMPARE_WITH_TIMEOUT(form_->Threads().running(), std::size_t{0}, 3000);
    }

    // The grid and the charts fill their panels except a 2-pixel border. A
    // press on them, disabled or not, never reaches the window selection:
    // no write of the parameter block, no new picture. A press on the
    // border itself still selects.
    void pressesOnTheGridOrAChartAreNotWindowSelections() {
        SearchAndConnect(1);
        // Connecting asks for one picture; let the idle tick fetch it.
        QTRY_COMPARE_WITH_TIMEOUT(RequestImage.load(), std::uint8_t{0}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(emulator_->commandsServed(0, 3) >= 1, 3000);
        QVERIFY(qz417::test::WaitForViewTicks(form_.get())); // the fetch's tick is over
        QVERIFY(qz417::test::ScannerServedEverythingSent());
        const std::uint64_t writes = emulator_->commandsServed(0, 5);
        const std::uint64_t images =
            emulator_->commandsServed(0, 2) + emulator_->commandsServed(0, 3);
        const qz417::WindowRectangle window = WindowRect;
        const std::uint8_t mode = DeviceConfig.read().windowMode();

        auto *grid = W<QTableWidget>("StringGridSearch");
        QVERIFY(!grid->isEnabled());
        QWidget *cells = grid->viewport();
        QTest::mouseClick(cells, Qt::LeftButton, {}, QPoint(100, 60));
        QTest::mousePress(cells, Qt::LeftButton, {}, QPoint(300, 200));
        QTest::mouseMove(cells, QPoint(400, 300));
        QTest::mouseRelease(cells, Qt::LeftButton, {}, QPoint(400, 300));
        QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(50, 5));
        // The same grid enabled, and an empty chart.
        grid->setEnabled(true);
        QTest::mouseClick(cells, Qt::LeftButton, {}, QPoint(120, 80));
        grid->setEnabled(false);
        auto *pages = W<QTabWidget>("PageControlQZ417");
        pages->setCurrentWidget(W<QWidget>("TabSheetResultViewer"));
        auto *chart = W<QWidget>("ChartResult");
        QTest::mouseClick(chart, Qt::LeftButton, {}, QPoint(200, 200));
        chart->setEnabled(false);
        QTest::mouseClick(chart, Qt::LeftButton, {}, QPoint(210, 210));
        chart->setEnabled(true);
        pages->setCurrentWidget(W<QWidget>("TabSheetSearch"));

        // Idle ticks that would have served a write or a picture request.
        QVERIFY(qz417::test::WaitForViewTicks(form_.get(), 5));
        QVERIFY(qz417::test::ScannerServedEverythingSent());
        QCOMPARE(SelectingWindow, std::uint8_t{0});
        QCOMPARE(WindowRect, window);
        QCOMPARE(DeviceConfig.read().windowMode(), mode);
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});
        QCOMPARE(emulator_->commandsServed(0, 5), writes);
        QCOMPARE(emulator_->commandsServed(0, 2) + emulator_->commandsServed(0, 3), images);

        // The panel's own border: a click there is a selection of one point.
        QTest::mouseClick(W<QFrame>("Panel4"), Qt::LeftButton, {}, QPoint(1, 256));
        QCOMPARE(WindowRect, (qz417::WindowRectangle{1, 256, 1, 256}));
        QCOMPARE(DeviceConfig.read().windowMode(), std::uint8_t{3});
        QTRY_VERIFY_WITH_TIMEOUT(emulator_->commandsServed(0, 5) > writes, 3000);
    }

    // The first rates after Start are taken over the counters' motion since
    // the first datagram of the run, not since 0 nor since a packet left from
    // before the Start. The window's clock is the test's own here, so the
    // rates are exact whatever the machine's load: 5000 measurements and 200
    // packets in 2 s are 2500/s and 100/s.
    void firstUdpRatesCountFromTheFirstDatagram() {
        FakeTicks = 100000;
        qz417::SetTickSource([] { return FakeTicks.load(); });
        PacketSender sender(6003);
        QVERIFY(sender.ok());
        // A packet left from before the Start is not the run's first one.
        std::array<std::uint8_t, QZ417_PACKET_SIZE> stale{};
        stale[0] = 0x10;
        stale[1] = 0x27; // 10000
        ResultPacket.publish(stale.data());

        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);
        // The stale packet is shown while time passes; its counters are no base.
        QTRY_COMPARE_WITH_TIMEOUT(Text("LabelResultUDPCnt"), QStringLiteral("10000"), 3000);
        FakeTicks += 700;
        QVERIFY(qz417::test::WaitForViewTicks(form_.get()));
        QCOMPARE(Text("LabelResultUDPPerSec"), QStringLiteral("0"));

        // The run's first datagram, sent until the page shows it (the worker
        // may still be binding its port), is the base of the first rates.
        QTRY_VERIFY_WITH_TIMEOUT(
            (sender.Send(40000, 40000), Text("LabelResultUDPCnt") == QLatin1String("40000")), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(
            (sender.Send(45000, 40200), Text("LabelResultUDPCnt") == QLatin1String("45000")), 3000);
        QCOMPARE(Text("LabelPacksUDPPerSec"), QStringLiteral("0")); // no time has passed yet
        FakeTicks += 2000;
        QTRY_VERIFY_WITH_TIMEOUT(Text("LabelPacksUDPPerSec") != QLatin1String("0"), 3000);
        QCOMPARE(Text("LabelResultUDPPerSec"), QStringLiteral("2500"));
        QCOMPARE(Text("LabelPacksUDPPerSec"), QStringLiteral("100"));

        // The later rates are taken over the time since the last update:
        // 3000 measurements and 150 packets in 1.5 s.
        QTRY_VERIFY_WITH_TIMEOUT(
            (sender.Send(48000, 40350), Text("LabelResultUDPCnt") == QLatin1String("48000")), 3000);
        FakeTicks += 1500;
        QTRY_COMPARE_WITH_TIMEOUT(Text("LabelResultUDPPerSec"), QStringLiteral("2000"), 3000);
        QCOMPARE(Text("LabelPacksUDPPerSec"), QStringLiteral("100"));
        // A second or less after an update: no new rates.
        QTRY_VERIFY_WITH_TIMEOUT(
            (sender.Send(50000, 40450), Text("LabelResultUDPCnt") == QLatin1String("50000")), 3000);
        FakeTicks += 1000;
        QVERIFY(qz417::test::WaitForViewTicks(form_.get()));
        QCOMPARE(Text("LabelResultUDPPerSec"), QStringLiteral("2000"));
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
    }

    // The same over TCP, on the real clock: the one coarse real-time check
    // of the rates. A scanner measuring 2500/s whose counter stood at 40000
    // shows about 2500 as its first rate (counted from 0 it would show
    // tens of thousands); the margin allows for a busy machine.
    void firstTcpRatesCountFromTheFirstResult() {
        qz417::sim::EmulatorOptions options;
        options.measurementRateHz = 2500;
        options.counterStart = 40000;
        SearchAndConnect(options);
        if (Button("ButtonConnect")->text() != QLatin1String("Disconnect"))
            return; // skipped or failed while connecting
        W<QTabWidget>("PageControlQZ417")->setCurrentWidget(W<QWidget>("TabSheetResultViewer"));
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Text("LabelPacksPerSec") != QLatin1String("0"), 4000);
        const int measurements = Text("LabelResultPerSec").toInt();
        qInfo("first rates over TCP: %d measurements/s, %s packets/s", measurements,
              qPrintable(Text("LabelPacksPerSec")));
        QVERIFY2(measurements >= 2000 && measurements <= 3000,
                 qPrintable(QString::number(measurements)));
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 5000);
    }

    // A port that another socket holds: the user is told why, and the
    // button reads "Start" again.
    void udpPortThatCannotBeBoundIsReported() {
        MessageBoxWatch watch;
        PortHolder holder(6003);
        QVERIFY(holder.bound());

        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(watch.texts.size(), 1, 3000);
        QVERIFY2(watch.texts[0].contains(QLatin1String("6003")), qPrintable(watch.texts[0]));
        QVERIFY2(watch.texts[0].contains(QString::fromLocal8Bit(std::strerror(EADDRINUSE))),
                 qPrintable(watch.texts[0]));
        QCOMPARE(watch.titles[0], QStringLiteral("QZ417-SP"));
        QTRY_COMPARE_WITH_TIMEOUT(Button("ButtonUDPResult")->text(), QStringLiteral("Start"), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(form_->Threads().running(), std::size_t{0}, 3000);
        QCOMPARE(WorkerMode.load(), std::uint8_t{0});
        holder.release();

        // Once the port is free the same button receives.
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);
        QCOMPARE(Button("ButtonUDPResult")->text(), QStringLiteral("Stop"));
        QCOMPARE(watch.texts.size(), 1);
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
    }

    // The UDP page shows a datagram sent now (packet counter `mark`).
    bool UdpPageShows(PacketSender &sender, std::uint16_t mark) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            sender.Send(7, mark);
            QTest::qWait(20);
            if (Text("LabelPacksUDPCnt") == QString::number(mark))
                return true;
        }
        return false;
    }
    bool UdpRunsAndUpdates(PacketSender &sender, std::uint16_t mark) {
        return WorkerMode.load() == kModeUdp && W<QTimer>("TimerView")->isActive() &&
               Button("ButtonUDPResult")->text() == QLatin1String("Stop") &&
               UdpPageShows(sender, mark);
    }

    // The UDP worker runs on while the user searches, connects, runs and
    // stops a TCP worker and disconnects; its page updates after each step.
    void udpPageKeepsUpdatingThroughSearchConnectAndDisconnect() {
        qz417::sim::EmulatorOptions options;
        if (!StartEmulator(options))
            QSKIP("the emulated scanners cannot listen on port 417 here");
        PacketSender sender(6003);
        QVERIFY(sender.ok());
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);
        QVERIFY(UdpRunsAndUpdates(sender, 101));

        QTest::mouseClick(Button("ButtonSearch"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeSearch}, 3000);
        QVERIFY(UdpPageShows(sender, 102)); // also while the search runs
        QTRY_VERIFY_WITH_TIMEOUT(Button("ButtonSearch")->isEnabled(), kSearchWaitMs);
        QCOMPARE(W<QTableWidget>("StringGridSearch")->rowCount(), 1);
        QCOMPARE(Cell(0, 1), QStringLiteral("127.0.0.1"));
        QTRY_VERIFY_WITH_TIMEOUT(UdpRunsAndUpdates(sender, 103), 3000);

        QTest::mouseClick(Button("ButtonConnect"), Qt::LeftButton);
        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Disconnect"));
        QVERIFY(UdpRunsAndUpdates(sender, 104));

        // A TCP worker takes the view while it runs; its page shows the
        // scanner's packets only, whatever arrives by UDP meanwhile.
        W<QTabWidget>("PageControlQZ417")->setCurrentWidget(W<QWidget>("TabSheetResultViewer"));
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 3000);
        for (int i = 0; i < 20; ++i) {
            sender.Send(7, 105);
            QTest::qWait(10);
        }
        QTRY_VERIFY_WITH_TIMEOUT(Text("LabelPacksCnt").toInt() >= 20, 3000);
        const std::uint16_t fetched = AcquiredCount.load();
        QTRY_VERIFY_WITH_TIMEOUT(AcquiredCount.load() != fetched, 3000);
        QVERIFY(Text("LabelResultCnt") != QLatin1String("7"));
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(Text("LabelResultCnt"), QStringLiteral("0"), 3000);
        QCOMPARE(Text("LabelResultPerSec"), QStringLiteral("0"));
        QTRY_VERIFY_WITH_TIMEOUT(UdpRunsAndUpdates(sender, 106), 3000);

        QTest::mouseClick(Button("ButtonConnect"), Qt::LeftButton); // Disconnect
        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Connect"));
        QVERIFY(UdpRunsAndUpdates(sender, 107));

        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
        QCOMPARE(Text("LabelResultUDPCnt"), QStringLiteral("0"));
        QCOMPARE(Text("LabelResultUDPPerSec"), QStringLiteral("0"));
        QTRY_COMPARE_WITH_TIMEOUT(form_->Threads().running(), std::size_t{0}, 3000);
    }

    // UDP started while a search runs: the search still ends as a search
    // (grid filled, button usable again) and the UDP page updates after it.
    void udpStartedDuringASearch() {
        qz417::sim::EmulatorOptions options;
        if (!StartEmulator(options))
            QSKIP("the emulated scanners cannot listen on port 417 here");
        PacketSender sender(6003);
        QTest::mouseClick(Button("ButtonSearch"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeSearch}, 3000);
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QCOMPARE(Button("ButtonUDPResult")->text(), QStringLiteral("Stop"));
        QVERIFY(UdpPageShows(sender, 201));
        QTRY_VERIFY_WITH_TIMEOUT(Button("ButtonSearch")->isEnabled(), kSearchWaitMs);
        QCOMPARE(Cell(0, 1), QStringLiteral("127.0.0.1"));
        QVERIFY(Button("ButtonConnect")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(UdpRunsAndUpdates(sender, 202), 3000);
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
        QCOMPARE(Text("LabelResultUDPCnt"), QStringLiteral("0"));
    }

    // Stop and at once Start of another worker (or a search): the stopped
    // worker's labels are reset all the same, and the new one's page updates.
    void aStartRightAfterAStopResetsTheStoppedWorkersLabels() {
        SearchAndConnect(1);
        QTest::mouseClick(Button("ButtonGrabber"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Text("LabelFrameCnt").toInt() >= 2, 5000);
        QTest::mouseClick(Button("ButtonGrabber"), Qt::LeftButton); // Stop
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);  // Start at once
        QCOMPARE(Button("ButtonResult")->text(), QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Text("LabelPacksCnt").toInt() >= 3, 3000);
        QCOMPARE(Text("LabelFrameCnt"), QStringLiteral("0"));
        QCOMPARE(Text("LabelFramePerSec"), QStringLiteral("0"));
        QVERIFY(!Button("ButtonGrabber")->isEnabled());

        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);  // Stop
        QTest::mouseClick(Button("ButtonGrabber"), Qt::LeftButton); // Start at once
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeImage}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Text("LabelFrameCnt").toInt() >= 2, 5000);
        QCOMPARE(Text("LabelResultCnt"), QStringLiteral("0"));
        QCOMPARE(Text("LabelResultPerSec"), QStringLiteral("0"));
        QTest::mouseClick(Button("ButtonGrabber"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
        QCOMPARE(Text("LabelFrameCnt"), QStringLiteral("0"));
        QVERIFY(W<QTimer>("TimerView")->isActive()); // the idle duty goes on
        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Disconnect"));

        // The UDP worker stopped and at once a search, after a disconnection.
        QTest::mouseClick(Button("ButtonConnect"), Qt::LeftButton);
        PacketSender sender(6003);
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);
        QVERIFY(UdpPageShows(sender, 300));
        QTRY_COMPARE_WITH_TIMEOUT(Text("LabelResultUDPCnt"), QStringLiteral("7"), 3000);
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton); // Stop
        QTest::mouseClick(Button("ButtonSearch"), Qt::LeftButton);    // Search at once
        QTRY_VERIFY_WITH_TIMEOUT(Button("ButtonSearch")->isEnabled(), kSearchWaitMs);
        QCOMPARE(Text("LabelResultUDPCnt"), QStringLiteral("0"));
        QCOMPARE(Text("LabelResultUDPPerSec"), QStringLiteral("0"));
        QCOMPARE(WorkerMode.load(), std::uint8_t{0});
        QTRY_COMPARE_WITH_TIMEOUT(form_->Threads().running(), std::size_t{0}, 3000);

        // Stopped and started again at once: one worker, and it updates.
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 3000);
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(UdpRunsAndUpdates(sender, 301), 3000);
        QCOMPARE(form_->Threads().running(), std::size_t{1});
        QTest::mouseClick(Button("ButtonUDPResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 3000);
    }

    void scannerLostWhileResultsRunReturnsToSearchPage() {
        SearchAndConnect(1);
        MessageBoxWatch watch;
        W<QTabWidget>("PageControlQZ417")->setCurrentWidget(W<QWidget>("TabSheetResultViewer"));
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QCOMPARE(Button("ButtonResult")->text(), QStringLiteral("Stop"));
        QVERIFY(!Button("ButtonGrabber")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(AcquiredCount.load() >= 3, 3000);

        QElapsedTimer clock;
        clock.start();
        emulator_->stop();
        QTRY_COMPARE_WITH_TIMEOUT(Button("ButtonConnect")->text(), QStringLiteral("Connect"), 5500);
        QVERIFY(clock.elapsed() < 5500);
        QCOMPARE(W<QTabWidget>("PageControlQZ417")->currentWidget(), W<QWidget>("TabSheetSearch"));
        QVERIFY(!TabVisible("PageControlQZ417", "TabSheetResultViewer"));
        QCOMPARE(DeviceSocket.load(), -1);
        QCOMPARE(WorkerMode.load(), std::uint8_t{0});
        QCOMPARE(Text("LabelResultCnt"), QStringLiteral("0"));
        QCOMPARE(Button("ButtonResult")->text(), QStringLiteral("Start"));
        QVERIFY(watch.texts.isEmpty());
    }

    void stopThenStartAtOnceRunsOneWorker() {
        SearchAndConnect(1);
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(AcquiredCount.load() >= 2, 3000);
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton); // Stop
        QCOMPARE(Button("ButtonResult")->text(), QStringLiteral("Start"));
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton); // Start again at once
        QCOMPARE(Button("ButtonResult")->text(), QStringLiteral("Stop"));

        // The first thread's end is not taken for the second one's.
        QTRY_COMPARE_WITH_TIMEOUT(form_->Threads().running(), std::size_t{1}, 5000);
        // Ticks after the first thread ended, each of which checks for the end.
        QVERIFY(qz417::test::WaitForViewTicks(form_.get(), 5));
        QCOMPARE(Button("ButtonResult")->text(), QStringLiteral("Stop"));
        QCOMPARE(Button("ButtonConnect")->text(), QStringLiteral("Disconnect"));
        QCOMPARE(WorkerMode.load(), std::uint8_t{kModeResult});
        const std::uint16_t before = AcquiredCount.load();
        QTRY_VERIFY_WITH_TIMEOUT(AcquiredCount.load() != before, 3000);

        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(form_->Threads().running(), std::size_t{0}, 5000);
        QCOMPARE(Text("LabelResultCnt"), QStringLiteral("0"));
        QCOMPARE(Text("LabelResultPerSec"), QStringLiteral("0"));
        QVERIFY(DeviceSocket.load() > 0); // the connection stays open
        QVERIFY(Button("ButtonGrabber")->isEnabled());
    }

    void imageWorkerStartsAndStops() {
        SearchAndConnect(1);
        QTest::mouseClick(Button("ButtonGrabber"), Qt::LeftButton);
        QCOMPARE(Button("ButtonGrabber")->text(), QStringLiteral("Stop"));
        QVERIFY(!Button("ButtonResult")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeImage}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(Text("LabelFrameCnt").toInt() >= 2, 5000);
        QTest::mouseClick(Button("ButtonGrabber"), Qt::LeftButton);
        QVERIFY(Button("ButtonResult")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, 5000);
        QCOMPARE(Text("LabelFrameCnt"), QStringLiteral("0"));
        QCOMPARE(Text("LabelFramePerSec"), QStringLiteral("0"));
        QVERIFY(DeviceSocket.load() > 0);
    }

    void closingWhileAWorkerRunsAwaitsIt() {
        SearchAndConnect(1);
        QTest::mouseClick(Button("ButtonResult"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 3000);
        form_->close();
        QCOMPARE(DeviceSocket.load(), -1);
        QVERIFY(!W<QTimer>("TimerView")->isActive());
        QElapsedTimer clock;
        clock.start();
        form_->ShutdownWorkers();
        QVERIFY(clock.elapsed() < 6500);
        QCOMPARE(form_->Threads().count(), std::size_t{0});
    }

    void deviceDescription_data() {
        QTest::addColumn<int>("modification");
        QTest::addColumn<QStringList>("optionRows"); // rows 3, 5, 7, 9, 11
        QTest::addColumn<bool>("resultSync");
        QTest::addColumn<bool>("measureSync");
        QTest::addColumn<int>("analogOut"); // 0 off, 1 on, -1 left as it was
        QTest::newRow("0x0F") << 0x0F
                              << QStringList{"Ethernet.", "external, internal;",
                                             "external, internal;", "voltage;", "not present;"}
                              << true << true << 1;
        QTest::newRow("0x00") << 0x00
                              << QStringList{"rs485.", "internal;", "internal;", "not present;",
                                             "not present;"}
                              << false << false << 0;
        QTest::newRow("current, modulation")
            << 0x32 << QStringList{"Ethernet.", "internal;", "internal;", "current;", "present;"}
            << false << false << 1;
        QTest::newRow("analog code 3") << 0x19
                                       << QStringList{"rs485.", "external, internal;", "internal;",
                                                      "not defined;", "not present;"}
                                       << true << false << -1;
    }

    void deviceDescription() {
        QFETCH(int, modification);
        QFETCH(QStringList, optionRows);
        QFETCH(bool, resultSync);
        QFETCH(bool, measureSync);
        QFETCH(int, analogOut);

        // Start with the analog group enabled, to see whether code 3 keeps it.
        std::array<std::uint8_t, 255> other{};
        other[0] = 0x08;
        form_->ShowDeviceDescription(other.data());
        const bool analogBefore = W<QGroupBox>("GroupBoxAnalogOut")->isEnabled();

        std::array<std::uint8_t, 255> d{};
        d[0] = static_cast<std::uint8_t>(modification);
        d[1] = 0x39; // serial 12345
        d[2] = 0x30;
        d[6] = 250;   // rangeZ
        d[10] = 230;  // rangeXEmr
        d[13] = 0x40; // discrete 16384
        d[15] = 0x80; // error -32768
        form_->ShowDeviceDescription(d.data());
        form_->ShowDeviceDescription(d.data()); // twice: the memo is replaced, not doubled

        const QStringList rows = MemoRows();
        QCOMPARE(rows.size(), 34);
        QCOMPARE(rows[0], QStringLiteral("DEVICE MODIFICATION"));
        QCOMPARE(QStringList({rows[2], rows[4], rows[6], rows[8], rows[10]}), optionRows);
        QCOMPARE(rows[13], QStringLiteral("12345;"));
        QCOMPARE(rows[29], QStringLiteral("-32768;"));
        QCOMPARE(rows[33], QStringLiteral("0."));

        QCOMPARE(W<QGroupBox>("GroupBoxResultSync")->isEnabled(), resultSync);
        for (const char *c : {"CheckBoxResultSyncEnable", "RadioButtonResultSyncRising",
                              "RadioButtonResultSyncFalling"})
            QCOMPARE(W<QWidget>(c)->isEnabled(), resultSync);
        QCOMPARE(W<QGroupBox>("GroupBoxMeasureSync")->isEnabled(), measureSync);
        for (const char *c : {"CheckBoxMeasureSyncEnable", "ComboBoxSyncDivider",
                              "ComboBoxSyncDelay", "LabelSyncDivider", "LabelSyncDelay"})
            QCOMPARE(W<QWidget>(c)->isEnabled(), measureSync);
        const bool analog = analogOut < 0 ? analogBefore : analogOut == 1;
        QCOMPARE(W<QGroupBox>("GroupBoxAnalogOut")->isEnabled(), analog);
        for (const char *c : {"GroupBoxAnalogSync", "ComboBoxAnalogOutPoints",
                              "ComboBoxAnalogOutTime", "CheckBoxAnalogSyncLevel"})
            QCOMPARE(W<QWidget>(c)->isEnabled(), analog);

        QCOMPARE(RangeZ.load(), std::uint16_t{250});
        QCOMPARE(RangeXEmr.load(), std::uint16_t{230});
        QCOMPARE(DiscreteValue.load(), std::uint16_t{16384});
        QCOMPARE(ErrorValue.load(), std::int16_t{-32768});
        for (const char *chart : {"ChartResult", "ChartUDP"}) {
            auto *plot = W<qz417::ProfileChart>(chart);
            QCOMPARE(plot->xAxis->range().lower, -120.75);
            QCOMPARE(plot->xAxis->range().upper, 120.75);
            QCOMPARE(plot->yAxis->range().lower, 0.0);
            QCOMPARE(plot->yAxis->range().upper, 262.5);
        }
    }
};

QTEST_MAIN(FormMainTest)
#include "form_main_test.moc"
