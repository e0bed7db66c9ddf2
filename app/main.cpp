// qz417setup: the setup program's start-up and ordered shutdown.
#include <QApplication>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_fonts.h"

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qz417setup"));
    QApplication::setApplicationDisplayName(QStringLiteral("QZ417 Setup Program."));
    QApplication::setFont(qz::WindowFont());

    FormMain = new TFormMain;
    FormMain->show();
    const int rc = QApplication::exec();

    // The window has closed (timer stopped, image view released, connection
    // closed); stop and await every thread before anything is freed.
    FormMain->ShutdownWorkers();
    delete FormMain;
    FormMain = nullptr;
    return rc;
}
