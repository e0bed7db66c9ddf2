// qz417measure_screenshots: the "Measure" page measuring the emulated
// scanner's conveyor: a step tool on the tall box (its height above the belt),
// a height tool on its top (its region narrowed to the top's Z range, drawn
// as its vertical extent, and set up on the right) and a line tool on the
// top, with limits that pass and fail, and the trend of the box's height. Saved as a PNG for the
// documentation. Not a test; run it under xvfb-run:
//
//   xvfb-run -a qz417measure_screenshots <output directory>
#include <cstdio>
#include <filesystem>

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulator.h"
#include "measure/measure_page.h"
#include "model/measure/job.h"
#include "screenshot_support.h"

namespace fs = std::filesystem;
namespace ms = qz417::measure;
using qz417::shot::Pause;
using qz417::shot::Save;
using qz417::shot::WaitFor;

namespace {

// The scene's objects are laid out for a 200 mm field; the belt's is wider.
constexpr double kXScale = (140 + (230 - 140) * 0.7) / 200;

ms::Job BoxJob() {
    ms::ToolSetup step;
    step.name = "box";
    step.kind = ms::ToolKind::Step;
    step.region = {-35 * kXScale, 5 * kXScale}; // the belt left of the tall box
    step.second = {20 * kXScale, 75 * kXScale}; // its top
    step.limits.push_back({0, -70.3, -69.7});
    ms::ToolSetup top;
    top.name = "top";
    top.kind = ms::ToolKind::Height;
    top.region = step.second;
    top.region.zMin = 90.0; // the box's top alone, not the belt beside it
    top.region.zMax = 125.0;
    top.limits.push_back({2, 106.0, 109.0});        // mean
    top.limits.push_back({1, std::nan(""), 108.5}); // max: the tilted top exceeds it
    ms::ToolSetup line = top;
    line.region = step.second;
    line.name = "topline";
    line.kind = ms::ToolKind::Line;
    line.limits = {{0, 2.5, 3.5}}; // angle
    return {{step, top, line}};
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    qz417::shot::Session session(argc, argv, 150); // 1000 profiles: one round of the belt
    TFormMain *form = session.form;
    if (form == nullptr)
        return 1;
    const fs::path &out = session.out;

    int failures = 0;
    qz417::MeasurePage *page = form->Additions().MeasureView;
    form->PageControlQZ417->setCurrentWidget(form->Additions().TabSheetMeasure);
    if (!page->ApplyJob(BoxJob()))
        ++failures;
    page->SelectTool(1); // its setup: the region's X and Z range, limits
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == kModeUdp; }, 5000);
    // A whole round of the belt in the trend, then stop on the tall box.
    const auto onBox = [page] {
        const auto &kept = page->history().kept();
        return kept.size() >= 900 && kept.back().result.tools[0].ok &&
               kept.back().result.tools[0].values[0] < -60;
    };
    if (!WaitFor(onBox, 30000)) {
        std::fprintf(stderr, "the tall box did not pass\n");
        ++failures;
    }
    Pause(250);
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);
    Pause(200);
    // The trend of the box's height: its row in the results table.
    QTableWidget *table = page->resultsTable();
    emit table->cellClicked(0, 0);
    Pause(300);
    failures += !Save(*form, out / "screenshot-measure.png");

    form->close();
    form->ShutdownWorkers();
    return failures == 0 ? 0 : 1;
}
