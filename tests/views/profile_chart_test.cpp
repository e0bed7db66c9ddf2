// The point chart: axes, the plotted points, the skipped re-plot and the
// capped repaint.
#include <QtTest>

#include <array>
#include <cstdint>

#include "views/profile_chart.h"

namespace {

using Packet = std::array<std::uint8_t, qz::kProfilePacketSize>;

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
        qz::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
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
        qz::ProfileChart chart(nullptr, QStringLiteral("SeriesUDP"));
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
        qz::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        Packet p{};
        SetPoint(p, 0, 16384, 8192);  // (115, 250)
        SetPoint(p, 1, 1, -8192);     // (-115, 0.0152...)
        SetPoint(p, 2, 100, 0);       // invalid: X is the error value
        SetPoint(p, 3, 0, 100);       // invalid: Z is the error value
        SetPoint(p, 1023, 8192, 860); // (12.0727..., 125)
        chart.PlotProfile(p.data(), qz::ProfileScale{});
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
        qz::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        Packet p{};
        SetPoint(p, 0, 16384, 8192);
        QVERIFY(chart.PlotProfile(p.data(), qz::ProfileScale{}, 1));
        QVERIFY(!chart.PlotProfile(p.data(), qz::ProfileScale{}, 1));
        // Another scale (another device shown) plots the same packet anew.
        qz::ProfileScale other;
        other.rangeZ = 125;
        QVERIFY(chart.PlotProfile(p.data(), other, 1));
        QCOMPARE(chart.series()->data()->constBegin()->value, 125.0);
        SetPoint(p, 0, 16384, -8192);
        QVERIFY(chart.PlotProfile(p.data(), other, 2));
        QCOMPARE(chart.series()->data()->constBegin()->key, -115.0);
    }

    void repaintIsCappedAtTheScreenRate() {
        qz::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
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
            chart.PlotProfile(p.data(), qz::ProfileScale{}, ++seq);
            QCoreApplication::processEvents();
        }
        const int repaints = chart.repaintCount() - before;
        QVERIFY2(seq > 50, qPrintable(QString::number(seq)));
        // At most one repaint per 16 ms (plus the first one), yet some.
        QVERIFY2(repaints <= 200 / qz::ProfileChart::kRepaintIntervalMs + 2,
                 qPrintable(QString::number(repaints)));
        QVERIFY(repaints >= 3);
        // A change after a burst still gets painted, within one interval.
        SetPoint(p, 1, 5, 5);
        chart.PlotProfile(p.data(), qz::ProfileScale{}, ++seq);
        QTRY_VERIFY_WITH_TIMEOUT(chart.repaintCount() - before > repaints, 1000);
    }

    void hoverFindsThePoint() {
        qz::ProfileChart chart(nullptr, QStringLiteral("SeriesResult"));
        chart.resize(636, 508);
        chart.SetAxisRanges(-120.75, 120.75, 0, 262.5);
        chart.replot();
        Packet p{};
        SetPoint(p, 0, 8192, 8192);
        chart.PlotProfile(p.data(), qz::ProfileScale{});
        const QPointF at(chart.xAxis->coordToPixel(115.0), chart.yAxis->coordToPixel(125.0));
        QCOMPARE(chart.PointAt(at), 0);
        QCOMPARE(chart.PointAt(at + QPointF(20, 0)), -1);
    }
};

QTEST_MAIN(ProfileChartTest)
#include "profile_chart_test.moc"
