// qz417surface_screenshots: the "Surface" page with the emulated scanner's
// conveyor passing (boxes of different heights, a ball, a wedge), and the
// "UDP" chart zoomed into the edge of a box with the point readout, saved as
// PNG files for the documentation. Not a test; run it under xvfb-run:
//
//   xvfb-run -a qz417surface_screenshots <output directory>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QWindow>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulator.h"
#include "screenshot_support.h"
#include "surface/surface_view.h"
#include "widgets/profile_chart.h"

namespace fs = std::filesystem;
using qz417::shot::Pause;
using qz417::shot::Save;
using qz417::shot::WaitFor;

namespace {

// The smallest Z of the points the UDP chart shows, and the X of the
// leftmost point nearer than `below`.
double NearestZ(const qz417::ProfileChart &chart, double below, double *edgeX) {
    double z = std::numeric_limits<double>::infinity();
    *edgeX = std::numeric_limits<double>::quiet_NaN();
    for (auto it = chart.series()->data()->constBegin(); it != chart.series()->data()->constEnd();
         ++it) {
        z = std::min(z, it->value);
        if (it->value < below && std::isnan(*edgeX))
            *edgeX = it->key;
    }
    return z;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    qz417::shot::Session session(argc, argv, 150); // 1000 profiles: one round of the belt (6.7 s)
    // The scanner's description sets the scale and the axes.
    TFormMain *form = session.form;
    if (form == nullptr)
        return 1;
    const fs::path &out = session.out;

    int failures = 0;
    form->PageControlQZ417->setCurrentWidget(form->TabSheetUDP);
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == kModeUdp; }, 5000);

    // The surface: a whole round of the belt, newest at the top.
    form->PageControlQZ417->setCurrentWidget(form->Additions().TabSheetSurface);
    qz417::SurfaceView *surface = form->Additions().SurfaceView;
    WaitFor([surface] { return surface->history().size() >= 1000; }, 15000);
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);
    Pause(300);
    // Click the row that passes over the tall box, hover over its top.
    QCustomPlot *map = surface->mapPlot();
    int boxRow = 0;
    double edgeX = 0;
    {
        // The row whose nearest point lies highest above the belt.
        double best = std::numeric_limits<double>::infinity();
        std::array<qz417::ProfilePoint, qz417::kProfilePoints> points;
        for (int age = 0; age < 1000; ++age) {
            const auto &row = surface->history().Row(static_cast<std::size_t>(age));
            qz417::DecodePacket(qz417::ProfilePacket(row.packet.data()), row.scale, points);
            for (const auto &p : points)
                if (p.valid && p.z < best) {
                    best = p.z;
                    boxRow = age;
                    edgeX = p.x;
                }
        }
    }
    surface->ShowRow(boxRow);
    surface->ShowReadoutAt(
        QPointF(map->xAxis->coordToPixel(edgeX), map->yAxis->coordToPixel(boxRow)));
    Pause(300);
    failures += !Save(*form, out / "screenshot-surface.png");

    // The UDP chart zoomed into the edge of the tall box (top 70 mm above
    // the belt at 175 mm).
    form->PageControlQZ417->setCurrentWidget(form->TabSheetUDP);
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == kModeUdp; }, 5000);
    if (!WaitFor([&] { return NearestZ(*form->ChartUDP, 120, &edgeX) < 120; }, 10000)) {
        std::fprintf(stderr, "no box passed\n");
        ++failures;
    }
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);
    Pause(200);
    NearestZ(*form->ChartUDP, 120, &edgeX);
    qz417::ProfileChart *chart = form->ChartUDP;
    chart->xAxis->setRange(edgeX - 12, edgeX + 12);
    chart->yAxis->setRange(95, 185);
    chart->replot();
    chart->ShowReadout(
        QPointF(chart->xAxis->coordToPixel(edgeX + 0.5), chart->yAxis->coordToPixel(108)));
    Pause(300);
    failures += !Save(*form, out / "screenshot-zoom.png");
    chart->ResetZoom();

    form->close();
    form->ShutdownWorkers();
    return failures == 0 ? 0 : 1;
}
