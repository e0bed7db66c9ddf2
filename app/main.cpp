// qz417setup: the setup program's start-up and ordered shutdown.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstring>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_fonts.h"

namespace {

// True when the command line asks only for the help or version text.
bool AsksForText(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        for (const char *option : {"-h", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

// Prints the help or version text and exits, without a display: the manual
// page is made from this text at build time.
int PrintText(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qz417setup"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QZ417_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Setup program for QZ417 laser profile scanners: searches the network for\n"
        "scanners, connects to one, shows its live profiles and camera image, edits\n"
        "its parameters, calibrates the mounting angle and saves profiles.\n"
        "\n"
        "Besides the options below it takes the usual Qt options, for example\n"
        "-platform NAME (or the variable QT_QPA_PLATFORM) to choose the display."));
    parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Qt's own options (-platform and the like) may stand beside --help.
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(version))
        parser.showVersion(); // exits
    parser.showHelp(0);       // exits
}

} // namespace

int main(int argc, char *argv[]) {
    if (AsksForText(argc, argv))
        return PrintText(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qz417setup"));
    QApplication::setApplicationDisplayName(QStringLiteral("QZ417 Setup Program."));
    QApplication::setFont(qz417::WindowFont());

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
