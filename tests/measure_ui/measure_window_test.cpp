// The whole window against the emulated scanner's conveyor: the "Measure"
// page measures every profile of the UDP stream, and on the tall box a step
// tool reads the box's height, a line tool its top and a height tool the
// top's Z as the scene lays them out (sim/scene.cpp: belt at 0.7 of the 250 mm range, tilted 3
// degrees, tall box 70 mm high from X = 10 to 80 mm of a 200 mm field, its Z noisy
// by about 0.1 mm).
#include <QtTest>

#include <cmath>
#include <numbers>

#include <QPushButton>
#include <QTabWidget>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulated_window.h"
#include "measure/measure_page.h"
#include "model/measure/job.h"

namespace ms = qz417::measure;

namespace {

constexpr double kBeltZ = 0.7 * 250;
constexpr double kBoxHeight = 70;
constexpr double kTiltDeg = 3;
const double kTilt = std::tan(kTiltDeg * std::numbers::pi / 180);
// Objects are laid out for a 200 mm wide field; the belt's is wider.
constexpr double kXScale = (140 + (230 - 140) * 0.7) / 200;

ms::Job BoxJob() {
    ms::ToolSetup step;
    step.name = "box";
    step.kind = ms::ToolKind::Step;
    // The belt between the flat box (to X = -40) and the tall one (from
    // X = 10), wide enough that its line is not tilted by the noise.
    step.region = {-35 * kXScale, 5 * kXScale};
    step.second = {20 * kXScale, 75 * kXScale}; // the tall box's top
    ms::ToolSetup top;
    top.name = "top";
    top.kind = ms::ToolKind::Height;
    top.region = step.second;
    ms::ToolSetup line = top;
    line.name = "topline";
    line.kind = ms::ToolKind::Line;
    return {{step, top, line}};
}

} // namespace

class MeasureWindowTest : public QObject {
    Q_OBJECT

private:
    qz417::test::EmulatedWindow window_;

private slots:
    void initTestCase() {
        qz417::sim::EmulatorOptions options;
        options.streamRateHz = 300; // the box passes in 200 profiles
        const std::string error = window_.start(options);
        if (!window_.scannerStarted())
            QSKIP(error.c_str());
        QVERIFY2(error.empty(), error.c_str());
    }
    void cleanupTestCase() { window_.stop(); }

    void aStepToolOnTheTallBoxReadsItsHeight() {
        TFormMain &f = window_.form();
        qz417::MeasurePage *page = f.Additions().MeasureView;
        f.PageControlQZ417->setCurrentWidget(f.Additions().TabSheetMeasure);
        QVERIFY(page->ApplyJob(BoxJob()));
        const auto onBox = [page] {
            int n = 0;
            for (const auto &p : page->history().kept())
                n += p.result.tools[0].ok && p.result.tools[0].values[0] < -60;
            return n;
        };
        f.ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeUdp}, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(onBox() >= 50, 20000);
        f.ButtonUDPResult->click();
        QTRY_COMPARE_WITH_TIMEOUT(WorkerMode.load(), std::uint8_t{kModeIdle}, 5000);
        // Every profile of the stream measured, none lost.
        const std::uint64_t pushed = f.Additions().sources.udp->pushed();
        QTRY_COMPARE_WITH_TIMEOUT(page->worker().received(), pushed, 5000);
        QCOMPARE(page->worker().dropped(), std::uint64_t{0});
        page->Tick();
        int checked = 0;
        for (const auto &p : page->history().kept()) {
            const auto &box = p.result.tools[0];
            if (!box.ok || box.values[0] >= -60)
                continue;
            ++checked;
            QVERIFY2(std::abs(box.values[0] + kBoxHeight) < 0.1,
                     qPrintable(QString::number(box.values[0])));
            // The top as a line: 70 mm above the belt's line (Z = 175 at
            // X = 0), tilted as the belt is.
            const auto &line = p.result.tools[2];
            QVERIFY(line.ok);
            QVERIFY2(std::abs(line.values[1] - (kBeltZ - kBoxHeight)) < 0.1,
                     qPrintable(QString::number(line.values[1])));
            QVERIFY2(std::abs(line.values[0] - kTiltDeg) < 0.1,
                     qPrintable(QString::number(line.values[0])));
            // The height tool's mean lies on that line within the region.
            const auto &top = p.result.tools[1];
            QVERIFY(top.ok);
            const ms::Region r = BoxJob().tools[1].region;
            const double low = kBeltZ - kBoxHeight + r.xMin * kTilt - 0.1;
            const double high = kBeltZ - kBoxHeight + r.xMax * kTilt + 0.1;
            QVERIFY2(top.values[2] > low && top.values[2] < high,
                     qPrintable(QString::number(top.values[2])));
        }
        QVERIFY(checked >= 50);
    }
};

QTEST_MAIN(MeasureWindowTest)
#include "measure_window_test.moc"
