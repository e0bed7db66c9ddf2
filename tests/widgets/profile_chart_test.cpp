// The point chart: axes, the plotted points, the skipped re-plot and the
// capped repaint.
#include <QtTest>

#include <array>
#include <cmath>
#include <cstdint>

#include "widgets/profile_chart.h"

namespace {

using Packet = std::array<std::uint8_t, qz417::kProfilePacketSize>;

void SetPoint(Packet &p, int i, std::int16_t z, std::int16_t x) {
    const auto base = static_cast<std::size_t>(4 + 4 * i);
    p[base] = static_cast<std::uint8_t>(z);
    p[base + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(z) >> 8);
    p[base + 2] = static_cast<std::uint8_t>(x);
    p[base + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
}

} // namespace

class ProfileChartTest : public QObject {
    Q_OBJECT

private slots:
    void initialLook() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        QCOMPARE(chart.series()->objectName(), QStringLiteral("SeriesResult"));
        QCOMPARE(chart.xAxis->label(), QStringLiteral("X, mm"));
        QCOMPARE(chart.yAxis->label(), QStringLiteral("Z, mm"));
        QCOMPARE(chart.xAxis->range(), QCPRange(0, 25));
        QCOMPARE(chart.yAxis->range(), QCPRange(26, 394));
        QVERIFY(!chart.legend->visible());
        QCOMPARE(chart.series()->lineStyle(), QCPGraph::lsNone);
        QCOMPARE(chart.series()->pen().style(), Qt::NoPen);
        QCOMPARE(chart.pointCount(), 0);
    }

    void axisRangesAndTitle() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesUDP"));
        chart.SetAxisRanges(-120.75, 120.75, 0, 262.5);
        QCOMPARE(chart.xAxis->range(), QCPRange(-120.75, 120.75));
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 262.5));
        // Moving both limits past the old ones keeps them as given.
        chart.SetAxisRanges(500, 600, 700, 800);
        QCOMPARE(chart.xAxis->range(), QCPRange(500, 600));
        QCOMPARE(chart.yAxis->range(), QCPRange(700, 800));
        chart.SetTitle(12345);
        auto *title = qobject_cast<QCPTextElement *>(chart.plotLayout()->element(0, 0));
        QVERIFY(title);
        QCOMPARE(title->text(), QStringLiteral("QZ417\nS/N:12345"));
        QVERIFY(title->font().bold());
        QCOMPARE(title->font().pointSize(), 10);
        chart.SetTitle(7); // replaces, never adds a second title
        QCOMPARE(title->text(), QStringLiteral("QZ417\nS/N:7"));
    }

    void plotsValidPointsInAscendingX() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        Packet p{};
        SetPoint(p, 0, 16384, 8192);  // (115, 250)
        SetPoint(p, 1, 1, -8192);     // (-115, 0.0152...)
        SetPoint(p, 2, 100, 0);       // invalid: X is the error value
        SetPoint(p, 3, 0, 100);       // invalid: Z is the error value
        SetPoint(p, 1023, 8192, 860); // (12.0727..., 125)
        chart.PlotProfile(p.data(), qz417::ProfileScale{});
        QCOMPARE(chart.pointCount(), 3);
        auto it = chart.series()->data()->constBegin();
        QCOMPARE(it->key, -115.0);
        QCOMPARE(it->value, double(0.0152587890625f));
        QCOMPARE((it + 1)->key, double(static_cast<float>(230.0 * 860 / 16384)));
        QCOMPARE((it + 2)->key, 115.0);
        QCOMPARE((it + 2)->value, 250.0);
        QCOMPARE(chart.PointLabel(0), QStringLiteral("-115.000"));
        QCOMPARE(chart.PointLabel(1), QStringLiteral("12.100"));
        QCOMPARE(chart.PointLabel(2), QStringLiteral("115.000"));
        QCOMPARE(chart.PointLabel(3), QString());
        // The axes were not touched.
        QCOMPARE(chart.xAxis->range(), QCPRange(0, 25));
    }

    void unchangedPacketAndScaleAreNotReplotted() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        Packet p{};
        SetPoint(p, 0, 16384, 8192);
        QVERIFY(chart.PlotProfile(p.data(), qz417::ProfileScale{}, 1));
        QVERIFY(!chart.PlotProfile(p.data(), qz417::ProfileScale{}, 1));
        // Another scale (another device shown) plots the same packet anew.
        qz417::ProfileScale other;
        other.rangeZ = 125;
        QVERIFY(chart.PlotProfile(p.data(), other, 1));
        QCOMPARE(chart.series()->data()->constBegin()->value, 125.0);
        SetPoint(p, 0, 16384, -8192);
        QVERIFY(chart.PlotProfile(p.data(), other, 2));
        QCOMPARE(chart.series()->data()->constBegin()->key, -115.0);
    }

    void repaintIsCappedAtTheScreenRate() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        chart.resize(636, 508);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        Packet p{};
        QElapsedTimer clock;
        clock.start();
        const int before = chart.repaintCount();
        std::uint64_t seq = 0;
        while (clock.elapsed() < 200) {
            SetPoint(p, 0, static_cast<std::int16_t>(seq + 1), 8192);
            chart.PlotProfile(p.data(), qz417::ProfileScale{}, ++seq);
            QCoreApplication::processEvents();
        }
        const int repaints = chart.repaintCount() - before;
        QVERIFY2(seq > 50, qPrintable(QString::number(seq)));
        // At most one repaint per 16 ms (plus the first one), yet some.
        QVERIFY2(repaints <= 200 / qz417::ProfileChart::kRepaintIntervalMs + 2,
                 qPrintable(QString::number(repaints)));
        QVERIFY(repaints >= 3);
        // A change after a burst still gets painted, within one interval.
        SetPoint(p, 1, 5, 5);
        chart.PlotProfile(p.data(), qz417::ProfileScale{}, ++seq);
        QTRY_VERIFY_WITH_TIMEOUT(chart.repaintCount() - before > repaints, 1000);
    }

    void hoverFindsThePoint() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        chart.resize(636, 508);
        chart.SetAxisRanges(-120.75, 120.75, 0, 262.5);
        chart.replot();
        Packet p{};
        SetPoint(p, 0, 8192, 8192);
        chart.PlotProfile(p.data(), qz417::ProfileScale{});
        const QPointF at(chart.xAxis->coordToPixel(115.0), chart.yAxis->coordToPixel(125.0));
        QCOMPARE(chart.PointAt(at), 0);
        QCOMPARE(chart.PointAt(at + QPointF(20, 0)), -1);
    }

    void wheelZoomsDragPansAndDoubleClickOrButtonResets() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        chart.resize(636, 508);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        chart.SetAxisRanges(-120.75, 120.75, 0, 262.5);
        chart.replot();
        QCOMPARE(chart.homeXRange(), QCPRange(-120.75, 120.75));
        const QPoint centre = chart.axisRect()->rect().center();

        // Wheel forward: both axes narrower, around the cursor.
        QWheelEvent wheel(QPointF(centre), QPointF(chart.mapToGlobal(centre)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&chart, &wheel);
        QVERIFY(chart.xAxis->range().size() < 241.5 * 0.95);
        QVERIFY(chart.yAxis->range().size() < 262.5 * 0.95);
        const QCPRange zoomed = chart.xAxis->range();

        // Drag: the view moves, its size stays.
        QTest::mousePress(&chart, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseMove(&chart, centre + QPoint(60, 0));
        QMouseEvent move(QEvent::MouseMove, QPointF(centre + QPoint(60, 0)),
                         QPointF(chart.mapToGlobal(centre + QPoint(60, 0))), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&chart, &move);
        QTest::mouseRelease(&chart, Qt::LeftButton, Qt::NoModifier, centre + QPoint(60, 0));
        QVERIFY(chart.xAxis->range().lower < zoomed.lower - 1);
        QVERIFY(std::abs(chart.xAxis->range().size() - zoomed.size()) < 1e-6);

        // A double click returns to the device's axes.
        QTest::mouseDClick(&chart, Qt::LeftButton, Qt::NoModifier, centre);
        QCOMPARE(chart.xAxis->range(), QCPRange(-120.75, 120.75));
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 262.5));

        // So does the button; a new device description moves the home.
        QApplication::sendEvent(&chart, &wheel);
        QVERIFY(chart.xAxis->range().size() < 241.5);
        chart.resetZoomButton()->click();
        QCOMPARE(chart.xAxis->range(), QCPRange(-120.75, 120.75));
        chart.SetAxisRanges(-60, 60, 0, 131.25);
        QApplication::sendEvent(&chart, &wheel);
        chart.ResetZoom();
        QCOMPARE(chart.xAxis->range(), QCPRange(-60, 60));
        QCOMPARE(chart.yAxis->range(), QCPRange(0, 131.25));
        // The button sits inside the chart, at its top right.
        QVERIFY(chart.rect().contains(chart.resetZoomButton()->geometry()));
    }

    void readoutShowsTheNearestPointWithItsPacketIndex() {
        qz417::ProfileChart chart(nullptr, QStringLiteral("SeriesUDP"));
        chart.resize(636, 508);
        chart.SetAxisRanges(-120.75, 120.75, 0, 262.5);
        chart.replot();
        Packet p{};
        SetPoint(p, 10, 8192, 8192);   // (115, 125), packet index 10
        SetPoint(p, 700, 4096, -4096); // (-57.5, 62.5), packet index 700
        chart.PlotProfile(p.data(), qz417::ProfileScale{});
        QCOMPARE(chart.PacketIndex(0), 700); // X order
        QCOMPARE(chart.PacketIndex(1), 10);
        QCOMPARE(chart.PacketIndex(2), -1);
        // Far from both points, but nearer to the second: still read out.
        const QPointF near700(chart.xAxis->coordToPixel(-40.0), chart.yAxis->coordToPixel(80.0));
        chart.ShowReadout(near700);
        QCOMPARE(chart.readoutText(), QStringLiteral("#700  X -57.500 mm  Z 62.500 mm"));
        chart.ShowReadout(
            QPointF(chart.xAxis->coordToPixel(110.0), chart.yAxis->coordToPixel(120.0)));
        QCOMPARE(chart.readoutText(), QStringLiteral("#10  X 115.000 mm  Z 125.000 mm"));
        // Outside the axis rectangle: hidden.
        chart.ShowReadout(QPointF(1, 1));
        QCOMPARE(chart.readoutText(), QString());
        // The point label of a tool tip stays as it was.
        QCOMPARE(chart.PointLabel(1), QStringLiteral("115.000"));
    }
};

QTEST_MAIN(ProfileChartTest)
#include "profile_chart_test.moc"
