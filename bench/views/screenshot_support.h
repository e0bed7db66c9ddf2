// What the screenshot programs share: the emulated scanner and the window
// found it with, waiting on the event loop, and saving the window as a PNG.
#pragma once

#include <cstdio>
#include <filesystem>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <QWindow>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_fonts.h"
#include "emulator.h"

namespace qz417::shot {

// Runs the event loop until done() holds or the time is up.
template <class F> bool WaitFor(F done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline void Pause(int ms) {
    WaitFor([] { return false; }, ms);
}

// The widget as it is drawn now, into `path`; says which file it wrote.
inline bool Save(QWidget &form, const std::filesystem::path &path) {
    const bool ok = form.grab().save(QString::fromStdString(path.string()), "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.c_str());
    return ok;
}

// Starts the emulated scanner; false, with the reason on stderr, when it
// cannot.
inline bool StartScanner(qz417::sim::Emulator &sim) {
    std::string error;
    if (sim.start(&error))
        return true;
    std::fprintf(stderr, "the emulated scanner cannot start: %s\n", error.c_str());
    return false;
}

// Shows a new main window (owned by the caller) and searches until the
// scanner is listed; null, with a message on stderr, when none was found.
inline TFormMain *ShowWindowAndSearch() {
    auto *form = new TFormMain;
    FormMain = form;
    form->show();
    WaitFor([form] { return form->windowHandle() && form->windowHandle()->isExposed(); }, 3000);
    form->SetSearchTimeoutForTest(1000);
    form->ButtonSearch->click();
    if (!WaitFor([form] { return form->ButtonConnect->isEnabled() && WorkerMode == 0; }, 8000)) {
        std::fprintf(stderr, "no scanner found\n");
        return nullptr;
    }
    return form;
}

// What every screenshot program starts with: the window's font, the folder
// the pictures go to (the first argument, else docs/) made, a fresh
// application state, the emulated scanner streaming at `streamRateHz`,
// optionally a work folder of its own under the temporary directory made
// current (for the files a page writes), and the main window shown with the
// scanner found. `form` is null, with a message on stderr, when any of it
// failed. The window is deleted and the scanner stopped with the session.
class Session {
public:
    Session(int argc, char *argv[], int streamRateHz, const char *workFolder = nullptr)
        : out(std::filesystem::absolute(argc > 1 ? argv[1] : "docs")), sim_(Options(streamRateHz)) {
        QApplication::setFont(qz417::WindowFont());
        std::filesystem::create_directories(out);
        qz417::ResetAppState();
        if (!StartScanner(sim_))
            return;
        if (workFolder != nullptr) {
            work = std::filesystem::temp_directory_path() / workFolder;
            std::filesystem::create_directories(work);
            std::filesystem::current_path(work);
        }
        form = ShowWindowAndSearch();
    }
    ~Session() {
        delete form;
        FormMain = nullptr;
        sim_.stop();
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const std::filesystem::path out;
    std::filesystem::path work;
    TFormMain *form = nullptr;

private:
    static qz417::sim::EmulatorOptions Options(int streamRateHz) {
        qz417::sim::EmulatorOptions options;
        options.streamRateHz = streamRateHz;
        return options;
    }
    qz417::sim::Emulator sim_;
};

} // namespace qz417::shot
