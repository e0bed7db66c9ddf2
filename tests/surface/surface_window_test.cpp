// The whole window against an emulated scanner that streams 2000 profiles a
// second: every profile the UDP worker receives reaches the "Surface" page
// through the feed, in the order received, and the stream-health row counts
// no loss where the counters run without gaps.
#include <QtTest>

#include <memory>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulator.h"
#include "feed/profile_feed.h"
#include "health/stream_health_labels.h"
#include "surface/surface_view.h"

class SurfaceWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<qzsim::Emulator> sim_;
    std::unique_ptr<TFormMain> form_;

private slots:
    void initTestCase() {
        qz::ResetAppState();
        qzsim::EmulatorOptions options;
        options.streamRateHz = 2000; // to 127.0.0.1:6003, the block's default
        sim_ = std::make_unique<qzsim::Emulator>(options);
        std::string error;
        if (!sim_->start(&error))
            QSKIP(qPrintable(QStringLiteral("the emulated scanner cannot start here: ") +
                             QString::fromStdString(error)));
        form_ = std::make_unique<TFormMain>();
        FormMain = form_.get();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }

    void cleanupTestCase() {
        if (form_) {
            form_->close();
            form_->ShutdownWorkers();
        }
        form_.reset();
        FormMain = nullptr;
        if (sim_)
            sim_->stop();
    }

    void everyStreamedProfileReachesTheSurfaceInOrder() {
        qz::SurfaceView *surface = form_->Additions().SurfaceView;
        form_->PageControlQZ417->setCurrentWidget(form_->Additions().TabSheetSurface);
        surface->depthBox()->setValue(10000);
        const std::uint64_t before = surface->history().added();
        form_->ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 5000);
        QTest::qWait(1500);
        form_->ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
        QTest::qWait(100);
        surface->Drain();

        const qz::SurfaceHistory &h = surface->history();
        const std::uint64_t received = h.added() - before;
        QVERIFY2(received > 1000, qPrintable(QString::number(received)));
        QCOMPARE(surface->dropped(), std::uint64_t{0});
        QCOMPARE(form_->Additions().feed->pushed(), received);
        QVERIFY(surface->redraws() > 0);

        // Order kept: packet counters rise row by row; every gap between two
        // rows is a profile the stream lost, as the health row counts it.
        std::uint64_t gaps = 0;
        const std::size_t rows = std::min<std::size_t>(h.size(), received);
        for (std::size_t age = 0; age + 1 < rows; ++age) {
            const auto step =
                static_cast<std::uint16_t>(h.Row(age).packetCount - h.Row(age + 1).packetCount);
            QVERIFY2(step >= 1 && step < 100, qPrintable(QString::number(step)));
            gaps += step - 1u;
        }
        form_->Additions().UdpStreamHealth->Refresh();
        QCOMPARE(form_->Additions().UdpStreamHealth->lostLabel()->text(), QString::number(gaps));
        QCOMPARE(form_->Additions().UdpStreamHealth->outOfOrderLabel()->text(), QStringLiteral("0"));
        // The page's own counters still show the device's own packet counter.
        QCOMPARE(form_->LabelPacksUDPCnt->text(), QString::number(h.Row(0).packetCount));
    }

    void tcpResultsReachTheSurfaceToo() {
        form_->SetSearchTimeoutForTest(700);
        form_->ButtonSearch->click();
        QTRY_VERIFY_WITH_TIMEOUT(form_->ButtonConnect->isEnabled(), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 8000);
        form_->ButtonConnect->click();
        QCOMPARE(form_->ButtonConnect->text(), QStringLiteral("Disconnect"));

        qz::SurfaceView *surface = form_->Additions().SurfaceView;
        const std::uint64_t pushed = form_->Additions().feed->pushed();
        const std::uint64_t added = surface->history().added();
        form_->PageControlQZ417->setCurrentWidget(form_->TabSheetResultViewer);
        form_->ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 5000);
        QTest::qWait(500);
        form_->ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
        surface->Drain();

        // Every result the worker fetched, hidden page or not, in order.
        const std::uint64_t n = surface->history().added() - added;
        QVERIFY2(n > 10, qPrintable(QString::number(n)));
        QCOMPARE(form_->Additions().feed->pushed() - pushed, n);
        QCOMPARE(surface->dropped(), std::uint64_t{0});
        const std::size_t rows = std::min<std::size_t>(surface->history().size(), n);
        for (std::size_t age = 0; age + 1 < rows; ++age) {
            const auto step =
                static_cast<std::int16_t>(surface->history().Row(age).measurementCount -
                                          surface->history().Row(age + 1).measurementCount);
            QVERIFY2(step >= 0, qPrintable(QString::number(step)));
        }
        form_->ButtonConnect->click(); // disconnect
    }
};

QTEST_MAIN(SurfaceWindowTest)
#include "surface_window_test.moc"
