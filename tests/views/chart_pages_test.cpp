// The charts of the "Result viewer" and "UDP" pages with zoom added: a press
// on the border of the panel under the chart still reaches the image-window
// handlers; a press, drag, wheel or double click on the chart never does.
// And the pages added beside the window's own keep theirs in place.
#include <QtTest>

#include <QFrame>
#include <QLabel>
#include <QTabWidget>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/image_window.h"
#include "core/window_additions.h"
#include "widgets/profile_chart.h"

class ChartPagesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TFormMain> form_;

private slots:
    void init() {
        qz417::ResetAppState();
        form_ = std::make_unique<TFormMain>();
        FormMain = form_.get();
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }
    void cleanup() {
        form_.reset();
        FormMain = nullptr;
    }

    void pressesOnTheChartNeverSelectAWindow_data() {
        QTest::addColumn<bool>("udp");
        QTest::newRow("Result viewer") << false;
        QTest::newRow("UDP") << true;
    }
    void pressesOnTheChartNeverSelectAWindow() {
        QFETCH(bool, udp);
        QTabWidget *tabs = form_->PageControlQZ417;
        QWidget *page = udp ? form_->TabSheetUDP : form_->TabSheetResultViewer;
        tabs->setTabVisible(tabs->indexOf(page), true);
        tabs->setCurrentWidget(page);
        QFrame *panel = udp ? form_->Panel6 : form_->Panel1;
        qz417::ProfileChart *chart = udp ? form_->ChartUDP : form_->ChartResult;
        QVERIFY(chart->isVisible());
        const QCPRange home = chart->xAxis->range();
        const QPoint centre = chart->rect().center();

        // Drag on the chart: the view pans, no selection starts.
        QTest::mousePress(chart, Qt::LeftButton, Qt::NoModifier, centre);
        QCOMPARE(int(SelectingWindow), 0);
        QMouseEvent move(QEvent::MouseMove, QPointF(centre + QPoint(40, 10)),
                         QPointF(chart->mapToGlobal(centre + QPoint(40, 10))), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
        QTest::mouseRelease(chart, Qt::LeftButton, Qt::NoModifier, centre + QPoint(40, 10));
        QCOMPARE(int(SelectingWindow), 0);
        QVERIFY(!(chart->xAxis->range() == home));
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});

        // Wheel and double click on the chart, and the reset button.
        QWheelEvent wheel(QPointF(centre), QPointF(chart->mapToGlobal(centre)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart, &wheel);
        QTest::mouseDClick(chart, Qt::LeftButton, Qt::NoModifier, centre);
        QCOMPARE(chart->xAxis->range(), home);
        QTest::mouseClick(chart->resetZoomButton(), Qt::LeftButton);
        QCOMPARE(int(SelectingWindow), 0);
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{0});
        QCOMPARE(WindowRect, qz417::kWholePicture);

        // A press on the panel's 2-pixel border starts a selection there.
        QTest::mousePress(panel, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QCOMPARE(int(SelectingWindow), 1);
        QCOMPARE(SelectionRect.left, 1);
        QTest::mouseRelease(panel, Qt::LeftButton, Qt::NoModifier, QPoint(638, 510));
        QCOMPARE(int(SelectingWindow), 0);
        QCOMPARE(WindowRect, (qz417::WindowRectangle{1, 1, 638, 510}));
        QCOMPARE(RequestWriteParams.load(), std::uint8_t{1});
        QCOMPARE(RequestImage.load(), std::uint8_t{1});
    }

    void addedPagesComeAfterTheWindowsOwn() {
        QTabWidget *tabs = form_->PageControlQZ417;
        QCOMPARE(tabs->count(), 7);
        QCOMPARE(tabs->indexOf(form_->TabSheetSearch), 0);
        QCOMPARE(tabs->indexOf(form_->TabSheetResultViewer), 1);
        QCOMPARE(tabs->indexOf(form_->TabSheetImageGrabber), 2);
        QCOMPARE(tabs->indexOf(form_->TabSheetUDP), 3);
        QCOMPARE(tabs->indexOf(form_->Additions().TabSheetSurface), 4);
        QCOMPARE(tabs->tabText(4), QStringLiteral("Surface"));
        QCOMPARE(tabs->indexOf(form_->Additions().TabSheetPlayback), 5);
        QCOMPARE(tabs->tabText(5), QStringLiteral("Playback"));
        QCOMPARE(tabs->indexOf(form_->Additions().TabSheetMeasure), 6);
        QCOMPARE(tabs->tabText(6), QStringLiteral("Measure"));
        // Not connected: the window's own visible pages, and the surface.
        QVERIFY(tabs->isTabVisible(0));
        QVERIFY(!tabs->isTabVisible(1));
        QVERIFY(!tabs->isTabVisible(2));
        QVERIFY(tabs->isTabVisible(3));
        QVERIFY(tabs->isTabVisible(4));
        QVERIFY(tabs->isTabVisible(5));
        QVERIFY(tabs->isTabVisible(6));
        // The health row lies below the counters, inside the page.
        tabs->setCurrentWidget(form_->TabSheetUDP);
        QCoreApplication::processEvents();
        const QLabel *lost =
            form_->TabSheetUDP->findChild<QLabel *>(QStringLiteral("LabelLostUDP"));
        QVERIFY(lost);
        QCOMPARE(lost->text(), QStringLiteral("0"));
        QVERIFY(lost->geometry().top() > form_->LabelPacksUDPCnt->geometry().bottom());
        QVERIFY2(lost->geometry().bottom() < form_->TabSheetUDP->height(),
                 qPrintable(QStringLiteral("%1 %2")
                                .arg(lost->geometry().bottom())
                                .arg(form_->TabSheetUDP->height())));
    }
};

QTEST_MAIN(ChartPagesTest)
#include "chart_pages_test.moc"
