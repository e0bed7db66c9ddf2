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
    qz417::shot::Session session(argc, argv, 250, "qz417-screenshots");
    TFormMain *form = session.form;
    if (form == nullptr)
        return 1;
    const fs::path &out = session.out;
    const fs::path &work = session.work;
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
    fs::remove_all(work);
    return failures == 0 ? 0 : 1;
}
