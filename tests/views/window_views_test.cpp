// The measurement views in the whole window, against an emulated scanner on
// loopback: the result view, Stop, "Save", an unwritable start directory, the
// image view with a window drag, and the UDP view.
#include <QtTest>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <unistd.h>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/image_window.h"
#include "emulator.h"
#include "model/profile_file.h"
#include "widgets/profile_chart.h"
#include "widgets/video_panel.h"
#include "window_waits.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTimeoutMs = 8000;

std::string ReadAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

qz417::ProfilePacket CurrentPacket(std::array<std::uint8_t, QZ417_PACKET_SIZE> &copy) {
    ResultPacket.read(copy.data());
    return qz417::ProfilePacket(copy.data());
}

} // namespace

class WindowViewsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<qz417::sim::Emulator> sim_;
    std::unique_ptr<TFormMain> form_;
    fs::path start_;
    fs::path previousDir_;
    QString boxTitle_;
    QString boxText_;
    bool workerPausedDuringBox_ = false;
    QTimer boxCloser_;

    fs::path Day() const { return start_ / "Profiles" / qz417::DateStamp(std::time(nullptr)); }

    void Connect() {
        if (form_->ButtonConnect->text() == QLatin1String("Disconnect"))
            return;
        form_->SetSearchTimeoutForTest(700);
        form_->ButtonSearch->click();
        QTRY_VERIFY_WITH_TIMEOUT(form_->ButtonConnect->isEnabled(), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{0}, kTimeoutMs);
        form_->ButtonConnect->click();
        QCOMPARE(form_->ButtonConnect->text(), QStringLiteral("Disconnect"));
    }

    void StartResults() {
        form_->PageControlQZ417->setCurrentWidget(form_->TabSheetResultViewer);
        QCOMPARE(form_->ButtonResult->text(), QStringLiteral("Start"));
        form_->ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, kTimeoutMs);
    }

    void StopResults() {
        form_->ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, kTimeoutMs);
    }

private slots:
    void initTestCase() {
        qz417::ResetAppState();
        qz417::sim::EmulatorOptions options;
        options.streamRateHz = 200; // to 127.0.0.1:6003, the block's default
        sim_ = std::make_unique<qz417::sim::Emulator>(options);
        std::string error;
        if (!sim_->start(&error))
            QSKIP(qPrintable(QStringLiteral("the emulated scanner cannot start here: ") +
                             QString::fromStdString(error)));
        // The window takes the current directory as the base of its profiles.
        start_ = fs::temp_directory_path() / ("qz417-window-views-" + std::to_string(::getpid()));
        fs::remove_all(start_);
        fs::create_directories(start_);
        previousDir_ = fs::current_path();
        fs::current_path(start_);
        form_ = std::make_unique<TFormMain>();
        FormMain = form_.get();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
        QCOMPARE(StartDirectory, start_.string());

        // Closes any message box the window opens, remembering what it said.
        boxCloser_.setInterval(20);
        connect(&boxCloser_, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxTitle_ = box->windowTitle();
                boxText_ = box->text();
                // The worker does not poll the scanner while the message is
                // open: a quiet period, in which a polling worker would fetch
                // dozens of results from the emulated scanner.
                const std::uint16_t before = AcquiredCount.load();
                QThread::msleep(150);
                workerPausedDuringBox_ = AcquiredCount.load() == before;
                box->done(QMessageBox::Ok);
            }
        });
        boxCloser_.start();
        Connect();
    }

    void resultViewPlotsAndCounts() {
        StartResults();
        QTRY_VERIFY_WITH_TIMEOUT(form_->ChartResult->pointCount() > 0, kTimeoutMs);
        const QString first = form_->LabelResultCnt->text();
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelResultCnt->text() != first, kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelPacksCnt->text().toInt() > 10, kTimeoutMs);
        // Rates appear once more than a second has passed.
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelPacksPerSec->text().toInt() > 0, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelResultPerSec->text().toInt() > 0, 3000);

        // The chart holds exactly the valid points of a packet, ordered by X.
        const auto data = form_->ChartResult->series()->data();
        QVERIFY(data->size() <= qz417::kProfilePoints);
        double previous = -1e300;
        for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
            QVERIFY(it->key >= previous);
            previous = it->key;
        }
        StopResults();
        QVERIFY(form_->ChartResult->pointCount() > 0);
    }

    // The duty on a packet whose content the test knows, with the worker's
    // part played by the test: exactly the valid points, the counters from
    // the packet, and the end of the worker.
    void resultDutyShowsTheKnownPacket_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("TCP") << int(kModeResult);
        QTest::newRow("UDP") << int(kModeUdp);
    }
    void resultDutyShowsTheKnownPacket() {
        QFETCH(int, mode);
        const bool udp = mode == kModeUdp;
        QCOMPARE(WorkerMode.load(), std::uint8_t{kModeIdle});
        std::array<std::uint8_t, QZ417_PACKET_SIZE> p{};
        p[0] = 0xFF; // measurementCount 65535
        p[1] = 0xFF;
        p[2] = 0x09; // packetCount 777
        p[3] = 0x03;
        int valid = 0;
        for (int i = 0; i < qz417::kProfilePoints; ++i) {
            const auto x = static_cast<std::uint16_t>(i % 40 == 3 ? 0 : 4000 - 7 * i);
            const auto z = static_cast<std::uint16_t>(5000 + i);
            valid += x != 0;
            const auto base = static_cast<std::size_t>(4 + 4 * i);
            p[base] = static_cast<std::uint8_t>(z);
            p[base + 1] = static_cast<std::uint8_t>(z >> 8);
            p[base + 2] = static_cast<std::uint8_t>(x);
            p[base + 3] = static_cast<std::uint8_t>(x >> 8);
        }
        ResultPacket.publish(p.data());
        qz417::ProfileChart *chart = udp ? form_->ChartUDP : form_->ChartResult;
        QLabel *packs = udp ? form_->LabelPacksUDPCnt : form_->LabelPacksCnt;
        QLabel *measured = udp ? form_->LabelResultUDPCnt : form_->LabelResultCnt;
        QLabel *rate = udp ? form_->LabelResultUDPPerSec : form_->LabelResultPerSec;
        AcquiredCount = 12;
        WorkerStartTicks = qz417::TickCount();
        DoneEvent = std::make_shared<qz417::ManualResetEvent>(false);
        WorkerMode = static_cast<std::uint8_t>(mode);

        QTRY_COMPARE_WITH_TIMEOUT(measured->text(), QStringLiteral("65535"), kTimeoutMs);
        QCOMPARE(packs->text(), udp ? QStringLiteral("777") : QStringLiteral("12"));
        QCOMPARE(chart->pointCount(), valid);
        const auto data = chart->series()->data();
        const double xMin = static_cast<float>(230.0 * (4000 - 7 * 1023) / 16384);
        QCOMPARE(data->constBegin()->key, xMin);
        QCOMPARE((data->constEnd() - 1)->key, double(static_cast<float>(230.0 * 4000 / 16384)));

        DoneEvent->set();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, kTimeoutMs);
        QVERIFY(!DoneEvent);
        QCOMPARE(measured->text(), QStringLiteral("0"));
        QCOMPARE(rate->text(), QStringLiteral("0"));
        QCOMPARE(AcquiredCount.load(), std::uint16_t{0});
        QCOMPARE(packs->text(), udp ? QStringLiteral("777") : QStringLiteral("12"));
        QCOMPARE(chart->pointCount(), valid);
        QCOMPARE(form_->ButtonConnect->text(), QStringLiteral("Disconnect"));
    }

    void stopKeepsTheProfileAndResetsTheMeasurementLabels() {
        StartResults();
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelResultPerSec->text().toInt() > 0, 4000);
        StopResults();
        const int points = form_->ChartResult->pointCount();
        QVERIFY(points > 0);
        QCOMPARE(form_->LabelResultCnt->text(), QStringLiteral("0"));
        QCOMPARE(form_->LabelResultPerSec->text(), QStringLiteral("0"));
        QVERIFY(form_->LabelPacksCnt->text() != QStringLiteral("0"));
        QVERIFY(form_->LabelPacksPerSec->text() != QStringLiteral("0"));
        QVERIFY(qz417::test::WaitForViewTicks(form_.get(), 5)); // ticks that would clear it
        QCOMPARE(form_->ChartResult->pointCount(), points);
        QCOMPARE(form_->ButtonConnect->text(), QStringLiteral("Disconnect")); // still connected
    }

    void saveWritesOneNumberedFile() {
        StartResults();
        QVERIFY(form_->ButtonResultSave->isEnabled());
        form_->ButtonResultSave->click();
        QVERIFY(!form_->ButtonResultSave->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(form_->ButtonResultSave->text(), QStringLiteral("Save"),
                                  kTimeoutMs);
        QVERIFY(form_->ButtonResultSave->isEnabled());
        StopResults();
        const fs::path file = Day() / "00001.txt";
        QVERIFY(fs::is_regular_file(file));
        QVERIFY(!fs::exists(Day() / "00002.txt"));
        const std::string text = ReadAll(file);
        QCOMPARE(std::count(text.begin(), text.end(), '\n'), std::ptrdiff_t(1026));
        QVERIFY(text.rfind("N         X                   Z\r\nProfile nember: ", 0) == 0);
        QVERIFY(boxText_.isEmpty());
    }

    void unwritableStartDirectoryGivesAMessage() {
        const std::string saved = StartDirectory;
        const fs::path plain = start_ / "plain-file";
        std::ofstream(plain) << "x";
        StartDirectory = plain.string();
        StartResults();
        form_->ButtonResultSave->click();
        QTRY_VERIFY_WITH_TIMEOUT(!boxText_.isEmpty(), kTimeoutMs);
        QCOMPARE(boxTitle_, QStringLiteral("QZ417-SP"));
        QVERIFY2(boxText_.contains(QString::fromStdString((plain / "Profiles").string())),
                 qPrintable(boxText_));
        QVERIFY2(boxText_.contains(QStringLiteral("Not a directory")), qPrintable(boxText_));
        QVERIFY(workerPausedDuringBox_);
        QTRY_COMPARE_WITH_TIMEOUT(form_->ButtonResultSave->text(), QStringLiteral("Save"),
                                  kTimeoutMs);
        QVERIFY(form_->ButtonResultSave->isEnabled());
        QCOMPARE(ReadAll(plain), std::string("x"));

        // Recording is armed again and nothing else was lost.
        StartDirectory = saved;
        boxText_.clear();
        form_->ButtonResultSave->click();
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(Day() / "00002.txt"), kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(form_->ButtonResultSave->text(), QStringLiteral("Save"),
                                  kTimeoutMs);
        StopResults();
        QVERIFY(boxText_.isEmpty());
        QCOMPARE(form_->ButtonConnect->text(), QStringLiteral("Disconnect"));
    }

    void imageViewDrawsAndADragWritesTheWindow() {
        form_->PageControlQZ417->setCurrentWidget(form_->TabSheetImageGrabber);
        qz417::VideoPanel *panel = form_->PanelVideo;
        QTRY_VERIFY_WITH_TIMEOUT(!panel->lastFrame().isNull(), kTimeoutMs);
        // The outline inverts shades of red: green is 255 on it and 0 elsewhere.
        const qz417::WindowRectangle w = WindowRect;
        if (w.left >= 0 && w.left < 639 && w.top >= 0 && w.top < 511) {
            QCOMPARE(qGreen(panel->lastFrame().pixel(w.left, w.top)), 255);
            QCOMPARE(qGreen(panel->lastFrame().pixel(w.left + 1, w.top)), 255);
        }

        const std::uint64_t imagesBefore = sim_->commandsServed(0, 2) + sim_->commandsServed(0, 3);
        const std::uint64_t writesBefore = sim_->commandsServed(0, 5);
        QTest::mousePress(panel, Qt::LeftButton, {}, QPoint(100, 50));
        QTest::mouseMove(panel, QPoint(200, 150));
        // The right button changes nothing, also in the middle of a drag.
        QTest::mousePress(panel, Qt::RightButton, {}, QPoint(200, 150));
        QTest::mouseRelease(panel, Qt::RightButton, {}, QPoint(200, 150));
        QCOMPARE(SelectingWindow, std::uint8_t{1});
        QTest::mouseMove(panel, QPoint(299, 249));
        QTest::mouseRelease(panel, Qt::LeftButton, {}, QPoint(299, 249));
        QCOMPARE(WindowRect, (qz417::WindowRectangle{100, 50, 299, 249}));

        QTRY_VERIFY_WITH_TIMEOUT(sim_->commandsServed(0, 5) > writesBefore, kTimeoutMs);
        const auto block = sim_->config(0);
        QCOMPARE(int(block[qz417::ConfigArea::kWindowLeft]), 39);
        QCOMPARE(int(block[qz417::ConfigArea::kWindowWidth]), 79);
        QCOMPARE(int(block[qz417::ConfigArea::kWindowTop]), 24);
        QCOMPARE(int(block[qz417::ConfigArea::kWindowHeight]), 99);
        QCOMPARE(int(block[qz417::ConfigArea::kWindowMode]), 3);
        QTRY_VERIFY_WITH_TIMEOUT(
            sim_->commandsServed(0, 2) + sim_->commandsServed(0, 3) > imagesBefore, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(qGreen(panel->lastFrame().pixel(100, 50)), 255, kTimeoutMs);
        QCOMPARE(qGreen(panel->lastFrame().pixel(299, 249)), 255);
        QCOMPARE(qGreen(panel->lastFrame().pixel(200, 150)), 0);
        QCOMPARE(qGreen(panel->lastFrame().pixel(300, 250)), 0);

        // A press on a chart is the chart's own, not a selection.
        form_->PageControlQZ417->setCurrentWidget(form_->TabSheetResultViewer);
        QTest::mousePress(form_->ChartResult, Qt::LeftButton, {}, QPoint(200, 200));
        QTest::mouseRelease(form_->ChartResult, Qt::LeftButton, {}, QPoint(200, 200));
        QCOMPARE(SelectingWindow, std::uint8_t{0});
        QCOMPARE(WindowRect, (qz417::WindowRectangle{100, 50, 299, 249}));

        // A drag from right to left on the border of the search page's panel
        // selects the whole picture again, as on the picture itself.
        form_->PageControlQZ417->setCurrentWidget(form_->TabSheetSearch);
        QTest::mousePress(form_->Panel4, Qt::LeftButton, {}, QPoint(639, 511));
        QTest::mouseMove(form_->Panel4, QPoint(1, 1));
        QTest::mouseRelease(form_->Panel4, Qt::LeftButton, {}, QPoint(1, 1));
        QCOMPARE(WindowRect, qz417::kWholePicture);
        QTRY_COMPARE_WITH_TIMEOUT(int(sim_->config(0)[qz417::ConfigArea::kWindowWidth]), 255,
                                  kTimeoutMs);
        const auto whole = sim_->config(0);
        QCOMPARE(int(whole[qz417::ConfigArea::kWindowLeft]), 0);
        QCOMPARE(int(whole[qz417::ConfigArea::kWindowTop]), 0);
        QCOMPARE(int(whole[qz417::ConfigArea::kWindowHeight]), 255);
    }

    void imageWorkerCountsFrames() {
        form_->ButtonGrabber->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeImage}, kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelFrameCnt->text().toInt() > 2, kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelFramePerSec->text().toInt() > 0, 4000);
        form_->ButtonGrabber->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, kTimeoutMs);
        QCOMPARE(form_->LabelFrameCnt->text(), QStringLiteral("0"));
        QCOMPARE(form_->LabelFramePerSec->text(), QStringLiteral("0"));
    }

    void aResultWorkerThatFailsDisconnects() {
        StartResults();
        QTRY_VERIFY_WITH_TIMEOUT(form_->ChartResult->pointCount() > 0, kTimeoutMs);
        qz417::sim::FaultOptions faults;
        faults.resetAfterCommands = 0; // the next command resets the connection
        sim_->setFaults(0, faults);
        QTRY_COMPARE_WITH_TIMEOUT(form_->ButtonConnect->text(), QStringLiteral("Connect"),
                                  kTimeoutMs);
        QCOMPARE(WorkerMode.load(), std::uint8_t{kModeIdle});
        QVERIFY(DeviceSocket.load() == -1 || DeviceSocket.load() == 0);
        QCOMPARE(form_->PageControlQZ417->currentWidget(), form_->TabSheetSearch);
        QVERIFY(boxText_.isEmpty()); // no message
        sim_->setFaults(0, qz417::sim::FaultOptions{});
    }

    void udpViewShowsTheDevicesPacketCounter() {
        QCOMPARE(form_->ButtonConnect->text(), QStringLiteral("Connect"));
        form_->PageControlQZ417->setCurrentWidget(form_->TabSheetUDP);
        QCOMPARE(form_->EditUDPPrt->text(), QStringLiteral("6003"));
        form_->ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(form_->ChartUDP->pointCount() > 0, kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(form_->LabelPacksUDPPerSec->text().toInt() > 0, 4000);
        form_->ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, kTimeoutMs);
        // The last tick showed the packet counter of the last datagram it saw.
        // A datagram may still be published between that tick's display and
        // its check for the worker's end, so the label may trail the last
        // datagram by the few that arrived in that moment, never lead it.
        std::array<std::uint8_t, QZ417_PACKET_SIZE> copy{};
        const qz417::ProfilePacket last = CurrentPacket(copy);
        bool ok = false;
        const int shown = form_->LabelPacksUDPCnt->text().toInt(&ok);
        QVERIFY(ok);
        const int behind = (int(last.packetCount()) - shown + 65536) % 65536;
        QVERIFY2(
            behind <= 3,
            qPrintable(
                QStringLiteral("label %1, last datagram %2").arg(shown).arg(last.packetCount())));
        QCOMPARE(form_->LabelResultUDPCnt->text(), QStringLiteral("0"));
        QCOMPARE(form_->LabelResultUDPPerSec->text(), QStringLiteral("0"));
        QVERIFY(form_->ChartUDP->pointCount() > 0);
    }

    // Closing the window while a recording message is open must not leave
    // the worker waiting for it: the shutdown that awaits the worker ends.
    void closingTheWindowReleasesAWaitingRecorder() {
        Connect();
        StartResults();
        const std::string saved = StartDirectory;
        StartDirectory = (start_ / "plain-file").string(); // made by an earlier test
        boxCloser_.stop();
        bool sawBox = false;
        qint64 shutdownMs = -1;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || sawBox)
                return;
            sawBox = true;
            QElapsedTimer clock;
            clock.start();
            form_->close();
            form_->ShutdownWorkers();
            shutdownMs = clock.elapsed();
            box->done(QMessageBox::Ok);
        });
        closer.start();
        form_->ButtonResultSave->click();
        QTRY_VERIFY_WITH_TIMEOUT(sawBox, kTimeoutMs);
        closer.stop();
        StartDirectory = saved;
        QVERIFY2(shutdownMs >= 0 && shutdownMs < 3000, qPrintable(QString::number(shutdownMs)));
    }

    void cleanupTestCase() {
        boxCloser_.stop();
        if (form_) {
            form_->close();
            form_->ShutdownWorkers();
            form_.reset();
            FormMain = nullptr;
        }
        if (sim_)
            sim_->stop();
        if (!previousDir_.empty())
            fs::current_path(previousDir_);
        if (!start_.empty())
            fs::remove_all(start_);
    }
};

QTEST_MAIN(WindowViewsTest)
#include "window_views_test.moc"
