// Grabs the main window, connected to an emulated scanner and showing live
// profiles, into a PNG file: form_main_screenshot <file.png> [search]
// With "search" the picture shows the search page after the search instead.
#include <cstdio>
#include <memory>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>

#include "core/app_state.h"
#include "core/form_main.h"
#include "emulator.h"

namespace {

template <class F> bool RunUntil(F &&condition, int boundMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < boundMs)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

void Pause(int ms) {
    RunUntil([] { return false; }, ms);
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <file.png> [search]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("QZ417 Setup Program."));

    qz417::sim::EmulatorOptions options;
    options.count = 3;
    qz417::sim::Emulator emulator(options);
    std::string error;
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return 1;
    }

    auto form = std::make_unique<TFormMain>();
    FormMain = form.get();
    form->SetSearchTimeoutForTest(1500);
    form->show();
    auto *search = form->findChild<QPushButton *>(QStringLiteral("ButtonSearch"));
    auto *connectButton = form->findChild<QPushButton *>(QStringLiteral("ButtonConnect"));
    auto *result = form->findChild<QPushButton *>(QStringLiteral("ButtonResult"));
    search->click();
    if (!RunUntil([&] { return search->isEnabled() && connectButton->isEnabled(); }, 6000)) {
        std::fprintf(stderr, "no scanner found\n");
        return 1;
    }
    if (argc == 3) {
        const bool saved = form->grab().save(QString::fromLocal8Bit(argv[1]));
        form->close();
        return saved ? 0 : 1;
    }
    connectButton->click();
    if (connectButton->text() != QLatin1String("Disconnect")) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }
    form->PageControlQZ417->setCurrentWidget(form->TabSheetResultViewer);
    result->click();
    Pause(2500);
    if (connectButton->text() != QLatin1String("Disconnect"))
        std::fprintf(stderr, "the connection was lost before the picture was taken\n");
    const bool saved = form->grab().save(QString::fromLocal8Bit(argv[1]));
    result->click();
    Pause(300);
    form->close();
    form.reset();
    return saved ? 0 : 1;
}
