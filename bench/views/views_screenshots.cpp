// qz417views_screenshots: the "Result viewer", "Image viewer" and "UDP"
// pages against an emulated scanner on loopback, saved as PNG files for the
// documentation. Not a test; run it under xvfb-run:
//
//   xvfb-run -a qz417views_screenshots <output directory>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QWindow>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_fonts.h"
#include "emulator.h"
#include "screenshot_support.h"
#include "widgets/profile_chart.h"
#include "widgets/video_panel.h"

namespace fs = std::filesystem;
using qz417::shot::Pause;
using qz417::shot::Save;
using qz417::shot::WaitFor;

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setFont(qz417::WindowFont());
    const fs::path out = fs::absolute(argc > 1 ? argv[1] : "docs");
    fs::create_directories(out);

    qz417::ResetAppState();
    qz417::sim::EmulatorOptions options;
    options.streamRateHz = 250;
    qz417::sim::Emulator sim(options);
    if (!qz417::shot::StartScanner(sim))
        return 1;
    const fs::path work = fs::temp_directory_path() / "qz417-screenshots";
    fs::create_directories(work);
    fs::current_path(work);

    TFormMain *form = qz417::shot::ShowWindowAndSearch();
    if (form == nullptr)
        return 1;
    form->ButtonConnect->click();

    int failures = 0;
    form->PageControlQZ417->setCurrentWidget(form->TabSheetResultViewer);
    form->ButtonResult->click();
    WaitFor([form] { return form->LabelResultPerSec->text() != QLatin1String("0"); }, 5000);
    Pause(1200);
    failures += !Save(*form, out / "screenshot-result.png");
    form->ButtonResult->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);

    form->PageControlQZ417->setCurrentWidget(form->TabSheetImageGrabber);
    form->ButtonGrabber->click();
    WaitFor([form] { return form->LabelFramePerSec->text() != QLatin1String("0"); }, 5000);
    // A window selected with the mouse, outlined on the picture.
    form->PanelVideoMouseDown(Qt::LeftButton, 60, 120);
    form->PanelVideoMouseMove(580, 400);
    form->PanelVideoMouseUp(Qt::LeftButton, 580, 400);
    Pause(1200);
    failures += !Save(*form, out / "screenshot-image.png");
    form->ButtonGrabber->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);
    // Back to the whole picture, so the emulated scanner measures everywhere.
    form->PanelVideoMouseDown(Qt::LeftButton, 0, 0);
    form->PanelVideoMouseUp(Qt::LeftButton, 639, 511);
    Pause(300);

    form->ButtonConnect->click(); // disconnect: the UDP page returns
    form->PageControlQZ417->setCurrentWidget(form->TabSheetUDP);
    form->ButtonUDPResult->click();
    WaitFor([form] { return form->LabelPacksUDPPerSec->text() != QLatin1String("0"); }, 5000);
    Pause(1200);
    failures += !Save(*form, out / "screenshot-udp.png");
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);

    form->close();
    form->ShutdownWorkers();
    delete form;
    FormMain = nullptr;
    sim.stop();
    fs::remove_all(work);
    return failures == 0 ? 0 : 1;
}
