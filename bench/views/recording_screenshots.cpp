// qz417recording_screenshots: the Record control of the "Result viewer" and
// "UDP" pages while recording from an emulated scanner on loopback, and the
// "Playback" page replaying that recording, saved as PNG files for the
// documentation. Not a test; run it under xvfb-run in a
// network namespace of its own:
//
//   xvfb-run -a qz417recording_screenshots <output directory>
#include <cstdio>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QWindow>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "emulator.h"
#include "recording/playback_page.h"
#include "recording/record_controls.h"
#include "screenshot_support.h"

namespace fs = std::filesystem;
using qz417::shot::Pause;
using qz417::shot::Save;
using qz417::shot::WaitFor;

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    qz417::shot::Session session(argc, argv, 1000, "qz417-recording-screenshots");
    TFormMain *form = session.form;
    if (form == nullptr)
        return 1;
    const fs::path &out = session.out;
    const fs::path &work = session.work;
    form->ButtonConnect->click();

    int failures = 0;
    form->PageControlQZ417->setCurrentWidget(form->TabSheetResultViewer);
    form->Additions().ResultRecord->StartRecording(
        QString::fromStdString((work / "result.qzrec").string()), {});
    form->ButtonResult->click();
    WaitFor([form] { return form->LabelResultPerSec->text() != QLatin1String("0"); }, 5000);
    Pause(2300);
    failures += !Save(*form, out / "screenshot-recording-result.png");
    form->Additions().ResultRecord->StopRecording();
    WaitFor([form] { return !form->Additions().ResultRecord->Recording(); }, 10000);
    form->ButtonResult->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);

    form->ButtonConnect->click(); // disconnect: the UDP page returns
    form->PageControlQZ417->setCurrentWidget(form->TabSheetUDP);
    form->Additions().UdpRecord->StartRecording(
        QString::fromStdString((work / "udp.qzrec").string()), {});
    form->ButtonUDPResult->click();
    WaitFor([form] { return form->LabelPacksUDPPerSec->text() != QLatin1String("0"); }, 5000);
    Pause(2300);
    failures += !Save(*form, out / "screenshot-recording.png");
    form->Additions().UdpRecord->StopRecording();
    WaitFor([form] { return !form->Additions().UdpRecord->Recording(); }, 10000);

    // The recording just made, played back at 2x and paused half-way while
    // the UDP stream runs on: the page shows the recording's own counters
    // and description, the live pages stay the scanner's.
    form->PageControlQZ417->setCurrentWidget(form->Additions().TabSheetPlayback);
    qz417::PlaybackPage *playback = form->Additions().PlaybackView;
    if (playback->OpenRecording(QString::fromStdString((work / "udp.qzrec").string()))) {
        playback->speedBox()->setCurrentIndex(1);
        playback->playButton()->click();
        Pause(1200);
        playback->playButton()->click();
        Pause(300);
        failures += !Save(*form, out / "screenshot-playback.png");
    } else {
        ++failures;
    }
    form->ButtonUDPResult->click();
    WaitFor([] { return WorkerMode == 0; }, 5000);

    form->close();
    form->ShutdownWorkers();
    fs::remove_all(work);
    return failures == 0 ? 0 : 1;
}
