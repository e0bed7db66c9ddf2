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
#include "emulated_window.h"
#include "health/stream_health_labels.h"
#include "source/profile_source.h"
#include "surface/surface_view.h"

class SurfaceWindowTest : public QObject {
    Q_OBJECT

private:
    qz417::test::EmulatedWindow window_;

    TFormMain &f() { return window_.form(); }

private slots:
    void initTestCase() {
        qz417::sim::EmulatorOptions options;
        options.streamRateHz = 2000; // to 127.0.0.1:6003, the block's default
        const std::string error = window_.start(options);
        if (!window_.scannerStarted())
            QSKIP(error.c_str());
        QVERIFY2(error.empty(), error.c_str());
    }

    void cleanupTestCase() { window_.stop(); }

    void everyStreamedProfileReachesTheSurfaceInOrder() {
        qz417::SurfaceView *surface = f().Additions().SurfaceView;
        f().PageControlQZ417->setCurrentWidget(f().Additions().TabSheetSurface);
        surface->depthBox()->setValue(10000);
        const std::uint64_t before = surface->history().added();
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(f().Additions().sources.udp->pushed() > 1500, 10000);
        f().ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
        surface->Drain();

        const qz417::SurfaceHistory &h = surface->history();
        const std::uint64_t received = h.added() - before;
        QVERIFY2(received > 1000, qPrintable(QString::number(received)));
        QCOMPARE(surface->dropped(), std::uint64_t{0});
        QCOMPARE(f().Additions().sources.udp->pushed(), received);
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
        f().Additions().UdpStreamHealth->Refresh();
        QCOMPARE(f().Additions().UdpStreamHealth->lostLabel()->text(), QString::number(gaps));
        QCOMPARE(f().Additions().UdpStreamHealth->outOfOrderLabel()->text(), QStringLiteral("0"));
        // The page's own counters still show the device's own packet counter.
        QCOMPARE(f().LabelPacksUDPCnt->text(), QString::number(h.Row(0).packetCount));
    }

    void tcpResultsReachTheSurfaceToo() {
        f().SetSearchTimeoutForTest(700);
        f().ButtonSearch->click();
        QTRY_VERIFY_WITH_TIMEOUT(f().ButtonConnect->isEnabled(), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 8000);
        f().ButtonConnect->click();
        QCOMPARE(f().ButtonConnect->text(), QStringLiteral("Disconnect"));

        qz417::SurfaceView *surface = f().Additions().SurfaceView;
        const std::uint64_t pushed = f().Additions().sources.tcp->pushed();
        const std::uint64_t added = surface->history().added();
        f().PageControlQZ417->setCurrentWidget(f().TabSheetResultViewer);
        f().ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeResult}, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(f().Additions().sources.tcp->pushed() > pushed + 20, 5000);
        f().ButtonResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
        surface->Drain();

        // Every result the worker fetched, hidden page or not, in order.
        const std::uint64_t n = surface->history().added() - added;
        QVERIFY2(n > 10, qPrintable(QString::number(n)));
        QCOMPARE(f().Additions().sources.tcp->pushed() - pushed, n);
        QCOMPARE(surface->dropped(), std::uint64_t{0});
        const std::size_t rows = std::min<std::size_t>(surface->history().size(), n);
        for (std::size_t age = 0; age + 1 < rows; ++age) {
            const auto step =
                static_cast<std::int16_t>(surface->history().Row(age).measurementCount -
                                          surface->history().Row(age + 1).measurementCount);
            QVERIFY2(step >= 0, qPrintable(QString::number(step)));
        }
        f().ButtonConnect->click(); // disconnect
    }
};

QTEST_MAIN(SurfaceWindowTest)
#include "surface_window_test.moc"
