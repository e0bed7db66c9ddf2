// The "Measure" page offscreen: tools added and their regions dragged with
// the mouse (in X, and in Z where a region has a Z range), every field of
// every kind of tool reaching the worker's job, bad input refused with a
// message naming the field, a bad job file refused with the library's
// message, a job saved and loaded unchanged, the results' colours, the
// trend's statistics and the exported CSV. The job the page runs gets a new
// version, announced, with every job handed over and every binding, and no
// other time; results made on an old binding are not kept.
#include <QtTest>

#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include "measure/measure_page.h"
#include "model/measure/job.h"
#include "source/profile_source.h"
#include "test_profiles.h"
#include "wait.h"

namespace ms = qz417::measure;
using measure_test::Profile;

namespace {

struct Page {
    std::shared_ptr<qz417::ProfileSource> live =
        std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Udp, "UDP");
    std::shared_ptr<qz417::ProfileSource> playback =
        std::make_shared<qz417::ProfileSource>(qz417::FeedSource::Playback, "Playback");
    qz417::MeasurePage page{
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

// The text of the message shown (closed), empty when none.
QString TakeMessage(QWidget &page) {
    QMessageBox *box = Message(page);
    if (box == nullptr)
        return QString();
    const QString text = box->text();
    box->close();
    return text;
}

// The setup's fields as a user changes them: typed and left.
bool Type(qz417::MeasurePage &page, const char *field, const QString &text) {
    auto *edit = page.setupPanel()->findChild<QLineEdit *>(QString::fromLatin1(field));
    if (edit == nullptr)
        return false;
    edit->setText(text);
    emit edit->editingFinished();
    return true;
}

bool Choose(qz417::MeasurePage &page, const char *field, int index) {
    auto *box = page.setupPanel()->findChild<QComboBox *>(QString::fromLatin1(field));
    if (box == nullptr)
        return false;
    box->setCurrentIndex(index);
    return true;
}

bool Check(qz417::MeasurePage &page, const char *field, bool on) {
    auto *box = page.setupPanel()->findChild<QCheckBox *>(QString::fromLatin1(field));
    if (box == nullptr)
        return false;
    box->setChecked(on);
    return true;
}

bool Click(qz417::MeasurePage &page, const char *field) {
    auto *button = page.setupPanel()->findChild<QPushButton *>(QString::fromLatin1(field));
    if (button == nullptr)
        return false;
    button->click();
    return true;
}

// The job the measuring thread was handed is the page's.
bool WorkerHasPagesJob(const qz417::MeasurePage &page) {
    const auto job = page.worker().job();
    return job != nullptr && ms::JobToJson(*job) == ms::JobToJson(page.job());
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

    void everyFieldOfEveryKindOfToolChangesTheJobTheWorkerUses() {
        Page p;
        qz417::MeasurePage &page = p.page;
        const auto tool = [&]() -> const ms::ToolSetup & { return page.job().tools.back(); };

        // An edge: name, region in X and Z, level, direction, pick, a base
        // line with its own Z range, the fit and a limit.
        page.AddTool(ms::ToolKind::Edge);
        QVERIFY(Type(page, "MeasureName", QStringLiteral("rim")));
        QCOMPARE(tool().name, std::string("rim"));
        QCOMPARE(page.toolList()->item(0)->text(), QStringLiteral("rim (edge)"));
        QVERIFY(Type(page, "MeasureRegion0XMin", QStringLiteral("-30.125")));
        QVERIFY(Type(page, "MeasureRegion0XMax", QStringLiteral("12.5")));
        QCOMPARE(tool().region.xMin, -30.125);
        QCOMPARE(tool().region.xMax, 12.5);
        QVERIFY(!std::isfinite(tool().region.zMin));
        QVERIFY(Check(page, "MeasureRegion0UseZ", true));
        QVERIFY(std::isfinite(tool().region.zMin) && std::isfinite(tool().region.zMax));
        QVERIFY(Type(page, "MeasureRegion0ZMin", QStringLiteral("40")));
        QVERIFY(Type(page, "MeasureRegion0ZMax", QStringLiteral("160.5")));
        QCOMPARE(tool().region.zMin, 40.0);
        QCOMPARE(tool().region.zMax, 160.5);
        // An open side: no bound below.
        QVERIFY(Type(page, "MeasureRegion0ZMin", QString()));
        QVERIFY(std::isinf(tool().region.zMin) && tool().region.zMin < 0);
        QCOMPARE(tool().region.zMax, 160.5);
        QVERIFY(Type(page, "MeasureLevel", QStringLiteral("-2.5")));
        QCOMPARE(tool().level, -2.5);
        QVERIFY(Choose(page, "MeasureDirection", 1));
        QCOMPARE(tool().direction, ms::EdgeDirection::Falling);
        QVERIFY(Choose(page, "MeasurePick", 1));
        QCOMPARE(tool().pick, ms::EdgePick::Last);
        QVERIFY(page.setupPanel()->findChild<QLineEdit *>(QStringLiteral("MeasureRejectSigma")) ==
                nullptr); // no line fitted yet
        QVERIFY(Click(page, "MeasureAddBase"));
        QCOMPARE(tool().levelBase.size(), std::size_t{1});
        QVERIFY(page.regionItem(0, 2) != nullptr); // drawn on the chart
        QVERIFY(Type(page, "MeasureRegion2XMin", QStringLiteral("-90")));
        QVERIFY(Type(page, "MeasureRegion2XMax", QStringLiteral("-60")));
        QVERIFY(Check(page, "MeasureRegion2UseZ", true));
        QVERIFY(Type(page, "MeasureRegion2ZMax", QStringLiteral("200")));
        QCOMPARE(tool().levelBase[0].xMin, -90.0);
        QCOMPARE(tool().levelBase[0].xMax, -60.0);
        QCOMPARE(tool().levelBase[0].zMax, 200.0);
        QVERIFY(Type(page, "MeasureRejectSigma", QStringLiteral("2.5")));
        QVERIFY(Type(page, "MeasureIterations", QStringLiteral("12")));
        QVERIFY(Check(page, "MeasureFitLevel", true));
        QCOMPARE(tool().fit.rejectSigma, 2.5);
        QCOMPARE(tool().fit.maxIterations, 12);
        QVERIFY(tool().fit.level);
        QVERIFY(Choose(page, "MeasureLimitOutput", 1)); // z
        QVERIFY(Type(page, "MeasureLimitMin", QStringLiteral("1")));
        QVERIFY(Type(page, "MeasureLimitMax", QStringLiteral("2.25")));
        QCOMPARE(tool().limits.size(), std::size_t{1});
        QCOMPARE(tool().limits[0].output, 1);
        QCOMPARE(tool().limits[0].min, 1.0);
        QCOMPARE(tool().limits[0].max, 2.25);
        QVERIFY(WorkerHasPagesJob(page));
        // Both bounds emptied: no limit.
        QVERIFY(Type(page, "MeasureLimitMin", QString()));
        QVERIFY(Type(page, "MeasureLimitMax", QString()));
        QVERIFY(tool().limits.empty());
        QVERIFY(Type(page, "MeasureLimitMax", QStringLiteral("2.25")));
        QVERIFY(Click(page, "MeasureAddBase"));
        QVERIFY(Click(page, "MeasureRemoveBase"));
        QCOMPARE(tool().levelBase.size(), std::size_t{1});

        // A width: polarity.
        page.AddTool(ms::ToolKind::Width);
        QVERIFY(Choose(page, "MeasurePolarity", 1));
        QCOMPARE(tool().polarity, ms::Polarity::Groove);
        QVERIFY(Type(page, "MeasureLevel", QStringLiteral("3")));
        QCOMPARE(tool().level, 3.0);

        // A gap: both surfaces and the tolerance.
        page.AddTool(ms::ToolKind::Gap);
        QVERIFY(Type(page, "MeasureRegion1XMin", QStringLiteral("20")));
        QVERIFY(Type(page, "MeasureRegion1XMax", QStringLiteral("70")));
        QVERIFY(Check(page, "MeasureRegion1UseZ", true));
        QVERIFY(Type(page, "MeasureRegion1ZMin", QStringLiteral("10")));
        QCOMPARE(tool().second.xMin, 20.0);
        QCOMPARE(tool().second.xMax, 70.0);
        QCOMPARE(tool().second.zMin, 10.0);
        QVERIFY(Type(page, "MeasureTolerance", QStringLiteral("0.35")));
        QCOMPARE(tool().gapTolerance, 0.35);

        // A step: its reference X, then "auto" again.
        page.AddTool(ms::ToolKind::Step);
        QVERIFY(Type(page, "MeasureReferenceX", QStringLiteral("3.25")));
        QCOMPARE(tool().referenceX, 3.25);
        QVERIFY(WorkerHasPagesJob(page));
        QVERIFY(Type(page, "MeasureReferenceX", QString()));
        QVERIFY(std::isnan(tool().referenceX));

        // An area: a fixed base line, then one fitted on a region.
        page.AddTool(ms::ToolKind::Area);
        QVERIFY(tool().areaBase.empty());
        QVERIFY(Type(page, "MeasureBaseAngle", QStringLiteral("5")));
        QVERIFY(Type(page, "MeasureBaseOffset", QStringLiteral("101.5")));
        QCOMPARE(tool().baseAngleDeg, 5.0);
        QCOMPARE(tool().baseOffset, 101.5);
        QVERIFY(WorkerHasPagesJob(page));
        QVERIFY(Choose(page, "MeasureAreaBase", 0));
        QCOMPARE(tool().areaBase.size(), std::size_t{1});
        QVERIFY(Type(page, "MeasureRegion2XMax", QStringLiteral("-1")));
        QCOMPARE(tool().areaBase[0].xMax, -1.0);
        QVERIFY(Type(page, "MeasureRejectSigma", QStringLiteral("4")));
        QCOMPARE(tool().fit.rejectSigma, 4.0);

        // A line and a height: region and limits.
        page.AddTool(ms::ToolKind::Line);
        QVERIFY(Type(page, "MeasureIterations", QStringLiteral("3")));
        QCOMPARE(tool().fit.maxIterations, 3);
        page.AddTool(ms::ToolKind::Height);
        QVERIFY(page.setupPanel()->findChild<QLineEdit *>(QStringLiteral("MeasureRejectSigma")) ==
                nullptr);
        QVERIFY(Choose(page, "MeasureLimitOutput", 3)); // median
        QVERIFY(Type(page, "MeasureLimitMax", QStringLiteral("120")));
        QCOMPARE(tool().limits[0].output, 3);
        QVERIFY(std::isnan(tool().limits[0].min));
        QCOMPARE(tool().limits[0].max, 120.0);
        QCOMPARE(TakeMessage(page), QString());
        QVERIFY(WorkerHasPagesJob(page));

        // Selecting a tool shows its values.
        page.SelectTool(0);
        auto *level = page.setupPanel()->findChild<QLineEdit *>(QStringLiteral("MeasureLevel"));
        QVERIFY(level != nullptr);
        QCOMPARE(level->text(), QStringLiteral("-2.5"));
        auto *xMin =
            page.setupPanel()->findChild<QLineEdit *>(QStringLiteral("MeasureRegion0XMin"));
        QCOMPARE(xMin->text(), QStringLiteral("-30.125"));

        // The whole job saved and loaded again is the same job.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("all.json"));
        const std::string before = ms::JobToJson(page.job());
        QVERIFY(page.SaveJobFile(path));
        QVERIFY(page.ApplyJob(HeightJob(0, 1)));
        QVERIFY(page.LoadJobFile(path));
        QCOMPARE(ms::JobToJson(page.job()), before);
        QVERIFY(WorkerHasPagesJob(page));
        QCOMPARE(page.job().tools.size(), std::size_t{7});
    }

    void badInputIsRefusedWithAMessageNamingTheFieldAndTheJobStays() {
        Page p;
        qz417::MeasurePage &page = p.page;
        QVERIFY(page.ApplyJob(HeightJob(90, 110)));
        page.AddTool(ms::ToolKind::Line);
        page.SelectTool(0);
        const std::string job = ms::JobToJson(page.job());
        QVERIFY(WorkerHasPagesJob(page));
        const auto refused = [&](const char *field, const QString &text, const QString &says) {
            if (!Type(page, field, text))
                return QStringLiteral("no field %1").arg(QString::fromLatin1(field));
            const QString message = TakeMessage(page);
            if (!message.contains(says))
                return QStringLiteral("%1 = \"%2\": message \"%3\"")
                    .arg(QString::fromLatin1(field), text, message);
            if (ms::JobToJson(page.job()) != job || !WorkerHasPagesJob(page))
                return QStringLiteral("%1 = \"%2\" changed the job")
                    .arg(QString::fromLatin1(field), text);
            auto *edit = page.setupPanel()->findChild<QLineEdit *>(QString::fromLatin1(field));
            if (edit == nullptr || edit->text() == text)
                return QStringLiteral("%1 still shows \"%2\"")
                    .arg(QString::fromLatin1(field), text);
            return QString();
        };
        const struct {
            const char *field;
            QString text;
            QString says;
        } cases[] = {
            {"MeasureRegion0XMin", QStringLiteral("abc"),
             QStringLiteral("top, Region X min \"abc\" is not a number")},
            {"MeasureRegion0XMin", QString(), QStringLiteral("Region X min is empty")},
            {"MeasureRegion0XMax", QStringLiteral("nan"),
             QStringLiteral("Region X max \"nan\" is not a number")},
            {"MeasureRegion0XMax", QStringLiteral("inf"), QStringLiteral("not a number")},
            {"MeasureRegion0XMin", QStringLiteral("500"),
             QStringLiteral("Region X: min 500 is not below max 100")},
            {"MeasureLimitMin", QStringLiteral("120"),
             QStringLiteral("Limit of mean: min 120 is above max 110")},
            {"MeasureName", QString(), QStringLiteral("Name is empty")},
            {"MeasureName", QStringLiteral("line1"), QStringLiteral("\"line1\" is already used")},
        };
        // The limit shown is that of the mean (output 2).
        QVERIFY(Choose(page, "MeasureLimitOutput", 2));
        auto *limitMin =
            page.setupPanel()->findChild<QLineEdit *>(QStringLiteral("MeasureLimitMin"));
        QCOMPARE(limitMin->text(), QStringLiteral("90"));
        for (const auto &c : cases) {
            const QString problem = refused(c.field, c.text, c.says);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        // A Z range upside down, and a fit parameter the library refuses
        // (its message names the entry).
        QVERIFY(Check(page, "MeasureRegion0UseZ", true));
        QVERIFY(Type(page, "MeasureRegion0ZMin", QStringLiteral("10")));
        QVERIFY(Type(page, "MeasureRegion0ZMax", QStringLiteral("20")));
        const std::string withZ = ms::JobToJson(page.job());
        QVERIFY(Type(page, "MeasureRegion0ZMin", QStringLiteral("30")));
        QVERIFY(TakeMessage(page).contains(QStringLiteral("Region Z: min 30 is not below max 20")));
        QCOMPARE(ms::JobToJson(page.job()), withZ);
        page.SelectTool(1);
        QVERIFY(Type(page, "MeasureRejectSigma", QStringLiteral("0.5")));
        QVERIFY(TakeMessage(page).contains(QStringLiteral("fit.rejectSigma")));
        QVERIFY(Type(page, "MeasureIterations", QStringLiteral("2.5")));
        QVERIFY(TakeMessage(page).contains(QStringLiteral("Iterations 2.5 is not a whole number")));
        QCOMPARE(ms::JobToJson(page.job()), withZ);
        QVERIFY(WorkerHasPagesJob(page));
    }

    void aZRangeIsDrawnAndItsEdgesAndBodyDragInZ() {
        Page p;
        qz417::MeasurePage &page = p.page;
        page.AddTool(ms::ToolKind::Height);
        QVERIFY(Type(page, "MeasureRegion0XMin", QStringLiteral("-40")));
        QVERIFY(Type(page, "MeasureRegion0XMax", QStringLiteral("40")));
        QVERIFY(Check(page, "MeasureRegion0UseZ", true));
        QVERIFY(Type(page, "MeasureRegion0ZMin", QStringLiteral("60")));
        QVERIFY(Type(page, "MeasureRegion0ZMax", QStringLiteral("180")));
        QCustomPlot *plot = page.profilePlot();
        plot->replot();
        // Drawn as the region's vertical extent.
        QCPItemRect *rect = page.regionItem(0, 0);
        QCOMPARE(rect->topLeft->coords().y(), 180.0);
        QCOMPARE(rect->bottomRight->coords().y(), 60.0);
        const int x = static_cast<int>(plot->xAxis->coordToPixel(0.0));
        const auto pixel = [&](double z) {
            return static_cast<int>(std::lround(plot->yAxis->coordToPixel(z)));
        };
        // The top edge dragged 30 pixels down: Z max lower, the rest kept.
        const int top = pixel(180);
        QTest::mousePress(plot, Qt::LeftButton, {}, QPoint(x, top));
        QTest::mouseMove(plot, QPoint(x, top + 15));
        QTest::mouseMove(plot, QPoint(x, top + 30));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, QPoint(x, top + 30));
        const double dz = plot->yAxis->pixelToCoord(top + 30) - plot->yAxis->pixelToCoord(top);
        ms::Region r = page.job().tools[0].region;
        QVERIFY2(std::abs(r.zMax - (180 + dz)) < 1e-6, qPrintable(QString::number(r.zMax)));
        QVERIFY(dz < -10);
        QCOMPARE(r.zMin, 60.0);
        QCOMPARE(r.xMin, -40.0);
        QCOMPARE(r.xMax, 40.0);
        QVERIFY(WorkerHasPagesJob(page));
        QCOMPARE(rect->topLeft->coords().y(), r.zMax);
        // The field shows the new value.
        auto *zMax =
            page.setupPanel()->findChild<QLineEdit *>(QStringLiteral("MeasureRegion0ZMax"));
        QVERIFY(std::abs(zMax->text().toDouble() - r.zMax) < 1e-6);
        // The bottom edge dragged 20 pixels up: Z min higher.
        const int bottom = pixel(60);
        QTest::mousePress(plot, Qt::LeftButton, {}, QPoint(x, bottom));
        QTest::mouseMove(plot, QPoint(x, bottom - 20));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, QPoint(x, bottom - 20));
        const ms::Region b = page.job().tools[0].region;
        QVERIFY(b.zMin > 60 + 5);
        QCOMPARE(b.zMax, r.zMax);
        // The body dragged right and up: moved in X and Z, as large as before.
        const int centreY = pixel((b.zMin + b.zMax) / 2);
        QTest::mousePress(plot, Qt::LeftButton, {}, QPoint(x, centreY));
        QTest::mouseMove(plot, QPoint(x + 20, centreY - 25));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, QPoint(x + 20, centreY - 25));
        const ms::Region m = page.job().tools[0].region;
        QVERIFY(m.zMin > b.zMin + 5);
        QVERIFY(std::abs((m.zMax - m.zMin) - (b.zMax - b.zMin)) < 1e-9);
        QVERIFY(m.xMin > b.xMin + 5);
        QVERIFY(std::abs((m.xMax - m.xMin) - 80.0) < 1e-9);
        // A field left as shown keeps the exact value, however many digits it has.
        auto *zMaxField =
            page.setupPanel()->findChild<QLineEdit *>(QStringLiteral("MeasureRegion0ZMax"));
        emit zMaxField->editingFinished();
        QCOMPARE(page.job().tools[0].region.zMax, m.zMax);
        // Outside its Z range a press does not take the region.
        QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(x, pixel(m.zMax) - 20));
        QCOMPARE(page.job().tools[0].region.zMax, m.zMax);
        QVERIFY(WorkerHasPagesJob(page));
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
        const qz417::TrendStatistics &s = p.page.trend();
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

    void theRunningJobChangesVersionWithEachJobAndBindingAndNoOtherTime() {
        Page p;
        QSignalSpy changed(&p.page, &qz417::MeasurePage::runningJobChanged);
        const qz417::MeasurePage::RunningJob empty = p.page.runningJob();
        QVERIFY(empty.version != 0);
        QVERIFY(empty.job == nullptr); // no tools: nothing is measured

        QVERIFY(p.page.ApplyJob(HeightJob(90, 110)));
        QCOMPARE(changed.count(), 1);
        const qz417::MeasurePage::RunningJob first = p.page.runningJob();
        QVERIFY(first.version != empty.version);
        QVERIFY(first.job != nullptr);
        QCOMPARE(ms::JobToJson(*first.job), ms::JobToJson(p.page.job()));

        // A job that does not validate is refused: the running one stays.
        ms::Job bad = HeightJob(90, 110);
        bad.tools[0].region = {100, 10};
        QVERIFY(!p.page.ApplyJob(bad));
        QVERIFY(!TakeMessage(p.page).isEmpty());
        // Nor do measured profiles and the page's ticks change anything.
        QVERIFY(p.Push(6554, 20));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(p.page.runningJob().version, first.version);
        QVERIFY(p.page.runningJob().job == first.job);

        // A press on the region and a move that does not move it: the same
        // job, no new version. Moved: a new version at each step.
        QCustomPlot *plot = p.page.profilePlot();
        const ms::Region r = p.page.job().tools[0].region;
        const QPoint centre(static_cast<int>(plot->xAxis->coordToPixel((r.xMin + r.xMax) / 2)),
                            plot->axisRect()->center().y());
        QTest::mousePress(plot, Qt::LeftButton, {}, centre);
        QTest::mouseMove(plot, centre);
        QCOMPARE(changed.count(), 1);
        QTest::mouseMove(plot, centre + QPoint(10, 0));
        QTest::mouseMove(plot, centre + QPoint(20, 0));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, centre + QPoint(20, 0));
        QCOMPARE(changed.count(), 3);
        const qz417::MeasurePage::RunningJob dragged = p.page.runningJob();
        QVERIFY(dragged.version != first.version);
        QCOMPARE(ms::JobToJson(*dragged.job), ms::JobToJson(p.page.job()));
        QVERIFY(p.page.job().tools[0].region.xMin > r.xMin);

        // Results the worker made on "Live" and the page has not taken yet
        // are left out once it is bound to "Playback": a new version there.
        const std::uint64_t measured = p.page.worker().measured();
        for (int i = 0; i < 5; ++i)
            p.live->PushNow(Profile(static_cast<std::uint16_t>(i), 6554).data());
        QVERIFY(qz417::test::WaitUntil([&] { return p.page.worker().measured() >= measured + 5; },
                                       std::chrono::seconds(5)));
        p.page.Bind(1);
        QCOMPARE(changed.count(), 4);
        const qz417::MeasurePage::RunningJob playback = p.page.runningJob();
        QVERIFY(playback.version != dragged.version);
        QCOMPARE(ms::JobToJson(*playback.job), ms::JobToJson(p.page.job()));
        p.page.Tick();
        QCOMPARE(p.page.history().kept().size(), std::size_t{0});

        // Cleared: a new version without a job.
        QVERIFY(p.page.ApplyJob({}));
        QCOMPARE(changed.count(), 5);
        QVERIFY(p.page.runningJob().version != playback.version);
        QVERIFY(p.page.runningJob().job == nullptr);
    }
};

QTEST_MAIN(MeasurePageTest)
#include "measure_page_test.moc"
