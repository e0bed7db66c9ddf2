// Saves a picture of the window with the "Parameters" page, connected to an
// emulated scanner on 127.0.0.1:
//   xvfb-run -a ./qz417config_page_screenshot docs/screenshot-parameters.png
// Not a test: it exits 0 once the picture is written.
#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "core/app_state.h"
#include "core/form_main.h"
#include "emulator.h"

namespace {

bool WaitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <picture.png>\n", argv[0]);
        return 2;
    }
    qz417::sim::EmulatorOptions options;
    options.announceIntervalMs = 100;
    qz417::sim::Emulator emulator(options);
    std::string error;
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return 1;
    }
    TFormMain form;
    form.show();
    form.SetSearchTimeoutForTest(700);
    form.ButtonSearch->click();
    if (!WaitFor([&] { return form.ButtonConnect->isEnabled(); }, 5000)) {
        std::fprintf(stderr, "no scanner found\n");
        return 1;
    }
    form.ButtonConnect->click();
    form.PageControlMore->setCurrentWidget(form.TabSheetParameters);
    WaitFor([] { return RequestImage == 0 && RequestWriteParams == 0; }, 3000);
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    form.ButtonConnect->click(); // disconnect
    return 0;
}
