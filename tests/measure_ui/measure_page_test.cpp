// The "Measure" page offscreen: tools added and their regions dragged with
// the mouse, a bad job file refused with the library's message, the
// results' colours, the trend's statistics and the exported CSV.
#include <QtTest>

#include <cmath>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include "measure/measure_page.h"
#include "model/measure/job.h"
#include "source/profile_source.h"
#include "test_profiles.h"

namespace ms = qz::measure;
using measure_test::Profile;

namespace {

struct Page {
    std::shared_ptr<qz::ProfileSource> live =
        std::make_shared<qz::ProfileSource>(qz::FeedSource::Udp, "UDP");
    std::shared_ptr<qz::ProfileSource> playback =
        std::make_shared<qz::ProfileSource>(qz::FeedSource::Playback, "Playback");
    qz::MeasurePage page{
        nullptr, {{QStringLiteral("Live"), {live}}, {QStringLiteral("Playback"), {playback}}}};

    Page() {
        page.resize(646, 580);
        page.show();
        page.profilePlot()->replot();
    }
    // Pushes profiles and waits until the page has taken their results.
    bool Push(std::int16_t boxRaw, int count = 1) {
        const std::uint64_t before = page.worker().received();
        for (int i = 0; i < count; ++i)
            live->PushNow(Profile(static_cast<std::uint16_t>(i), boxRaw).data());
        const std::uint64_t want = before + static_cast<std::uint64_t>(count);
        (void)QTest::qWaitFor([&] { return page.worker().received() >= want; }, 5000);
        page.Tick();
        return page.worker().received() >= want;
    }
};

ms::Job HeightJob(double min, double max) {
    ms::ToolSetup t;
    t.name = "top";
    t.kind = ms::ToolKind::Height;
    t.region = {10, 100};
    t.limits.push_back({2, min, max}); // mean
    return {{t}};
}

QMessageBox *Message(QWidget &page) {
    for (QMessageBox *box : page.findChildren<QMessageBox *>())
        if (box->isVisible())
            return box;
    return nullptr;
}

} // namespace

class MeasurePageTest : public QObject {
    Q_OBJECT

private slots:
    void aRegionDraggedWithTheMouseMovesAndResizesTheToolsRegion() {
        Page p;
        p.page.AddTool(ms::ToolKind::Height);
        QCOMPARE(p.page.job().tools.size(), std::size_t{1});
        QCOMPARE(p.page.job().tools[0].kind, ms::ToolKind::Height);
        QCOMPARE(p.page.toolList()->count(), 1);
        QVERIFY(p.page.regionItem(0, 0) != nullptr);
        QCustomPlot *plot = p.page.profilePlot();
        const ms::Region before = p.page.job().tools[0].region;
        QVERIFY(before.xMax > before.xMin);
        const int y = plot->axisRect()->center().y();
        const int centre =
            static_cast<int>(plot->xAxis->coordToPixel((before.xMin + before.xMax) / 2));
        // Drag the body 40 pixels to the right: moved, as wide as before.
        QTest::mousePress(plot, Qt::LeftButton, {}, QPoint(centre, y));
        QTest::mouseMove(plot, QPoint(centre + 20, y));
        QTest::mouseMove(plot, QPoint(centre + 40, y));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, QPoint(centre + 40, y));
        const double dx =
            plot->xAxis->pixelToCoord(centre + 40) - plot->xAxis->pixelToCoord(centre);
        const ms::Region moved = p.page.job().tools[0].region;
        QVERIFY(std::abs(moved.xMin - (before.xMin + dx)) < 1e-6);
        QVERIFY(std::abs(moved.xMax - (before.xMax + dx)) < 1e-6);
        // The rectangle follows.
        QVERIFY(std::abs(p.page.regionItem(0, 0)->topLeft->coords().x() - moved.xMin) < 1e-9);
        // Drag the right edge 30 pixels to the left: narrower, left edge kept.
        const int right = static_cast<int>(std::lround(plot->xAxis->coordToPixel(moved.xMax)));
        QTest::mousePress(plot, Qt::LeftButton, {}, QPoint(right, y));
        QTest::mouseMove(plot, QPoint(right - 30, y));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, QPoint(right - 30, y));
        const ms::Region resized = p.page.job().tools[0].region;
        QVERIFY(std::abs(resized.xMin - moved.xMin) < 1e-9);
        QVERIFY(resized.xMax < moved.xMax - 10);
        // A press outside every region changes nothing.
        QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(plot->axisRect()->left() + 3, y));
        QCOMPARE(p.page.job().tools[0].region.xMax, resized.xMax);

        // A two-region tool: two rectangles; removed, the first stays alone.
        p.page.AddTool(ms::ToolKind::Step);
        QCOMPARE(p.page.job().tools.size(), std::size_t{2});
        QVERIFY(p.page.regionItem(1, 1) != nullptr);
        QCOMPARE(p.page.resultsTable()->rowCount(), 5 + 2);
        p.page.RemoveTool(1);
        QCOMPARE(p.page.job().tools.size(), std::size_t{1});
        QVERIFY(p.page.regionItem(1, 0) == nullptr);
    }

    void aBadJobFileIsRefusedWithTheLibrarysMessageAndTheOldJobKept() {
        Page p;
        QVERIFY(p.page.ApplyJob(HeightJob(90, 110)));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.json"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"format": "qz417-measure-job", "version": 1, "tools": [
            {"name": "bead", "tool": "height", "region": {"x": [5, 1]}}]})");
        f.close();
        QVERIFY(!p.page.LoadJobFile(path));
        QMessageBox *box = Message(p.page);
        QVERIFY(box != nullptr);
        QCOMPARE(box->windowTitle(), QStringLiteral("QZ417-SP"));
        QVERIFY2(box->text().contains(QStringLiteral("tools[0]")), qPrintable(box->text()));
        box->close();
        QCOMPARE(p.page.job().tools.size(), std::size_t{1});
        QCOMPARE(p.page.job().tools[0].name, std::string("top"));

        // A good one round-trips through "Save job..." and "Load job...".
        const QString good = dir.filePath(QStringLiteral("good.json"));
        QVERIFY(p.page.SaveJobFile(good));
        QVERIFY(p.page.ApplyJob(HeightJob(0, 1)));
        QVERIFY(p.page.LoadJobFile(good));
        QCOMPARE(p.page.job().tools[0].limits[0].min, 90.0);
    }

    void resultsAreGreenWhenPassingRedWhenFailingGreyWithoutAResult() {
        Page p;
        QVERIFY(p.page.ApplyJob(HeightJob(90, 110)));
        // 6554 units of 250 mm in 16384: 100.006 mm, within the limits.
        QVERIFY(p.Push(6554));
        QTableWidget *table = p.page.resultsTable();
        QCOMPARE(table->rowCount(), 5);
        QCOMPARE(table->item(2, 1)->text(), QStringLiteral("mean"));
        QCOMPARE(table->item(2, 2)->text(), QStringLiteral("100.006"));
        QCOMPARE(table->item(2, 5)->text(), QStringLiteral("pass"));
        const QColor pass = table->item(2, 5)->background().color();
        QVERIFY(pass.green() > pass.red());
        // 8000 units: 122 mm, above the limit.
        QVERIFY(p.Push(8000));
        QCOMPARE(table->item(2, 5)->text(), QStringLiteral("fail"));
        const QColor fail = table->item(2, 5)->background().color();
        QVERIFY(fail.red() > fail.green());
        // A region where the profile has no points: no result, grey, with the reason.
        ms::Job job = HeightJob(90, 110);
        job.tools[0].region = {150, 200};
        QVERIFY(p.page.ApplyJob(job));
        QVERIFY(p.Push(6554));
        QVERIFY2(table->item(2, 5)->text().startsWith(QStringLiteral("no result: ")),
                 qPrintable(table->item(2, 5)->text()));
        const QColor none = table->item(2, 5)->background().color();
        QVERIFY(none.red() == none.green() && none.green() == none.blue() && none.red() < 255);
    }

    void theTrendOfAClickedResultHasTheStatisticsOfTheKeptProfiles() {
        Page p;
        QVERIFY(p.page.ApplyJob(HeightJob(90, 110)));
        // Click the "mean" row.
        QTableWidget *table = p.page.resultsTable();
        const QRect cell = table->visualItemRect(table->item(2, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        // Means of 100, 110, 120 and 130 mm (raw = mm * 16384 / 250).
        for (int mm : {100, 110, 120, 130})
            QVERIFY(p.Push(static_cast<std::int16_t>(mm * 16384 / 250)));
        const qz::TrendStatistics &s = p.page.trend();
        QCOMPARE(s.count, std::uint64_t{4});
        const auto mm = [](int v) {
            return static_cast<double>(static_cast<float>(250.0 * (v * 16384 / 250) / 16384));
        };
        const double mean = (mm(100) + mm(110) + mm(120) + mm(130)) / 4;
        QVERIFY(std::abs(s.mean - mean) < 1e-4);
        double ss = 0;
        for (int v : {100, 110, 120, 130})
            ss += (mm(v) - mean) * (mm(v) - mean);
        QVERIFY(std::abs(s.std - std::sqrt(ss / 3)) < 1e-4);
        QVERIFY(std::abs(s.min - mm(100)) < 1e-4);
        QVERIFY(std::abs(s.max - mm(130)) < 1e-4);
        QCOMPARE(s.failures, std::uint64_t{2}); // 120 and 130 above 110
        QVERIFY(p.page.statsLabel()->text().contains(QStringLiteral("Failures: 2")));

        // "Export results...": one row per kept profile after the header.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("results.csv"));
        QVERIFY(p.page.ExportResults(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + 4 + 1); // header, rows, empty after the last break
        QVERIFY(lines[0].startsWith("profile,measurement,top.min"));
        QVERIFY(lines[4].endsWith(",fail,0"));

        // Another source: the kept results start empty.
        p.page.sourceBox()->setCurrentIndex(1);
        QCOMPARE(p.page.bound(), 1);
        QCOMPARE(p.page.history().kept().size(), std::size_t{0});
    }
};

QTEST_MAIN(MeasurePageTest)
#include "measure_page_test.moc"
