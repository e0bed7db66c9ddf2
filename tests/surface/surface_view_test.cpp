// The "Surface" page on its own, offscreen: what reaches it through the
// feed, the height map it draws, the hover readout, the clicked row.
#include <QtTest>

#include <array>
#include <cmath>

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

#include "source/profile_source.h"
#include "surface/surface_view.h"
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

// Profile n: a flat line at Z = 125 mm over the left half, nothing on the
// right half, one point raised by n units at the centre.
Packet Profile(std::uint16_t n) {
    Packet p{};
    p[0] = static_cast<std::uint8_t>(n);
    p[1] = static_cast<std::uint8_t>(n >> 8);
    p[2] = static_cast<std::uint8_t>(n + 1);
    p[3] = static_cast<std::uint8_t>((n + 1) >> 8);
    for (int i = 0; i < 512; ++i)
        SetPoint(p, i, 8192, static_cast<std::int16_t>(-8000 + 15 * i));
    return p;
}

struct Sources {
    std::shared_ptr<qz417::ProfileSource> live =
        std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Udp, "UDP");
    std::shared_ptr<qz417::ProfileSource> playback =
        std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Playback, "Playback");
    std::vector<qz417::SurfaceBinding> bindings() const {
        return {{QStringLiteral("Live"), {live}}, {QStringLiteral("Playback"), {playback}}};
    }
};

} // namespace

class SurfaceViewTest : public QObject {
    Q_OBJECT

private slots:
    void everyProfileOfTheFeedIsKeptNewestFirst() {
        Sources sources;
        auto &feed = sources.live;
        qz417::SurfaceView view(nullptr, sources.bindings());
        QCOMPARE(feed->feed()->subscriberCount(), 1);
        QCOMPARE(int(view.history().depth()), qz417::SurfaceView::kDefaultDepth);
        for (std::uint16_t n = 0; n < 1500; ++n) {
            const Packet p = Profile(n);
            feed->PushNow(p.data());
        }
        QCOMPARE(view.Drain(), 1500);
        QCOMPARE(view.dropped(), std::uint64_t{0});
        QCOMPARE(view.history().size(), std::size_t{1000});
        for (std::size_t age = 0; age < 1000; ++age)
            QCOMPARE(int(view.history().Row(age).measurementCount), int(1499 - age));
        QCOMPARE(view.findChild<QLabel *>(QStringLiteral("LabelSurfaceReceived"))->text(),
                 QStringLiteral("1500"));
        // Hidden: nothing was drawn.
        QCOMPARE(view.redraws(), 0L);
        view.SetCollecting(false);
        QCOMPARE(feed->feed()->subscriberCount(), 0);
    }

    // Bound to live, the page never receives the playback's profiles, and
    // bound to the playback never the live ones; each profile is binned with
    // the scale its source stamped on it.
    void aBoundPageSeesItsSourceOnlyWithItsScale() {
        Sources sources;
        qz417::ProfileScale recorded;
        recorded.rangeXEmr = 300;
        recorded.rangeZ = 200;
        recorded.discreteValue = 8192;
        recorded.errorValue = -32768;
        sources.playback->SetDescription(std::nullopt, recorded);
        qz417::SurfaceView view(nullptr, sources.bindings());
        QCOMPARE(view.sourceBox()->currentText(), QStringLiteral("Live"));
        QCOMPARE(view.bound(), 0);
        const Packet live = Profile(7);
        const Packet played = Profile(9);
        for (int i = 0; i < 20; ++i) {
            sources.live->PushNow(live.data());
            sources.playback->PushNow(played.data());
        }
        QCOMPARE(view.Drain(), 20);
        for (std::size_t age = 0; age < 20; ++age) {
            QCOMPARE(int(view.history().Row(age).measurementCount), 7);
            QVERIFY(view.history().Row(age).scale == qz417::ProfileScale{});
        }
        QCOMPARE(sources.playback->feed()->subscriberCount(), 0);

        view.sourceBox()->setCurrentIndex(1);
        QCOMPARE(view.bound(), 1);
        QCOMPARE(view.history().size(), std::size_t{0}); // starts empty
        QCOMPARE(sources.live->feed()->subscriberCount(), 0);
        for (int i = 0; i < 5; ++i) {
            sources.live->PushNow(live.data());
            sources.playback->PushNow(played.data());
        }
        QCOMPARE(view.Drain(), 5);
        for (std::size_t age = 0; age < 5; ++age) {
            QCOMPARE(int(view.history().Row(age).measurementCount), 9);
            QVERIFY(view.history().Row(age).scale == recorded);
        }
        // The columns span the recorded scale's X range (300 mm, 5 % more).
        QCOMPARE(view.history().columns().xMax, 300 * 1.05 / 2);
    }

    void aFullQueueIsCountedAsDropped() {
        Sources sources;
        auto &feed = sources.live;
        qz417::SurfaceView view(nullptr, sources.bindings());
        const Packet p = Profile(1);
        for (std::size_t n = 0; n < qz417::SurfaceView::kQueueCapacity + 10; ++n)
            feed->PushNow(p.data());
        QCOMPARE(view.dropped(), std::uint64_t{10});
        view.Drain();
        QCOMPARE(view.findChild<QLabel *>(QStringLiteral("LabelSurfaceDropped"))->text(),
                 QStringLiteral("10"));
    }

    void heightMapReadoutAndClickedRow() {
        Sources sources;
        auto &feed = sources.live;
        qz417::SurfaceView view(nullptr, sources.bindings());
        view.resize(646, 580);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.depthBox()->setValue(100);
        QCOMPARE(view.history().depth(), std::size_t{100});
        for (std::uint16_t n = 0; n < 40; ++n) {
            const Packet p = Profile(n);
            feed->PushNow(p.data());
        }
        QCOMPARE(view.Drain(), 40);
        QVERIFY(view.redraws() > 0);
        view.mapPlot()->replot();

        // The map: 400 columns over the scale's X extent, 100 rows.
        QCPColorMapData *data = view.colorMap()->data();
        QCOMPARE(data->keySize(), qz417::SurfaceView::kColumns);
        QCOMPARE(data->valueSize(), 100);
        int keyIndex = 0, valueIndex = 0;
        data->coordToCell(-100.0, 0, &keyIndex, &valueIndex); // left half: the line
        QCOMPARE(data->cell(keyIndex, 0), 125.0);
        data->coordToCell(100.0, 0, &keyIndex, &valueIndex); // right half: no points
        QVERIFY(std::isnan(data->cell(keyIndex, 0)));
        QVERIFY(std::isnan(data->cell(0, 60)));          // rows not filled yet
        QVERIFY(view.mapPlot()->yAxis->rangeReversed()); // newest at the top

        // Hover over row 3 on the left half.
        QCustomPlot *map = view.mapPlot();
        const QPoint at(qRound(map->xAxis->coordToPixel(-100.0)),
                        qRound(map->yAxis->coordToPixel(3.0)));
        QVERIFY(map->yAxis->coordToPixel(3.0) > map->yAxis->coordToPixel(0.0));
        QTest::mouseMove(map, at);
        view.ShowReadoutAt(at); // offscreen mouse moves need not arrive
        const QString readout = view.readoutText();
        QVERIFY2(readout.contains(QStringLiteral("Z: 125.000 mm")), qPrintable(readout));
        QVERIFY2(readout.contains(QStringLiteral("Measurements counter: 36")), qPrintable(readout));
        QVERIFY2(readout.contains(QStringLiteral("Packets counter: 37")), qPrintable(readout));
        const QRegularExpressionMatch x =
            QRegularExpression(QStringLiteral("X: (-?[0-9.]+) mm")).match(readout);
        QVERIFY2(x.hasMatch(), qPrintable(readout));
        QVERIFY(std::abs(x.captured(1).toDouble() + 100.0) < 1.0);

        // A click on that row shows its profile beside the map.
        QCOMPARE(view.rowChart()->pointCount(), 0);
        QTest::mouseClick(map, Qt::LeftButton, Qt::NoModifier, at);
        QCOMPARE(view.shownRow(), 3);
        QCOMPARE(view.rowChart()->pointCount(), 512);
        QCOMPARE(view.rowChart()->homeXRange(), QCPRange(-120.75, 120.75));
        // Outside the rows: nothing changes.
        QTest::mouseClick(map, Qt::LeftButton, Qt::NoModifier,
                          QPoint(at.x(), qRound(map->yAxis->coordToPixel(80.0))));
        QCOMPARE(view.shownRow(), 3);
    }
};

QTEST_MAIN(SurfaceViewTest)
#include "surface_view_test.moc"
