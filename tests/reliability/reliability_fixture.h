// Helpers of the reliability tests: the window and emulated scanners in one
// process, message boxes closed and recorded, descriptors and threads counted,
// and a check that the window thread still answers.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <memory>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/thread_owner.h"
#include "emulator.h"
#include "message_box_watch.h"

namespace qz417::rel {

using qz417::test::MessageBoxWatch;

// Entries of a /proc directory (open descriptors, threads of this process).
inline int CountEntries(const char *path) {
    DIR *dir = opendir(path);
    if (dir == nullptr)
        return -1;
    int n = 0;
    while (const dirent *e = readdir(dir))
        if (e->d_name[0] != '.')
            ++n;
    closedir(dir);
    return n - (std::string(path) == "/proc/self/fd" ? 1 : 0); // the one opendir holds
}
inline int OpenDescriptors() {
    return CountEntries("/proc/self/fd");
}
inline int ProcessThreads() {
    return CountEntries("/proc/self/task");
}

// True when a zero-delay timer queued now fires within boundMs: the window
// thread is not blocked and its event loop runs.
inline bool WindowResponds(int boundMs = 1000) {
    bool fired = false;
    QTimer::singleShot(0, qApp, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    while (!fired && clock.elapsed() < boundMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return fired && clock.elapsed() < boundMs;
}

// One window and the emulated scanners it talks to.
class WindowFixture {
public:
    std::unique_ptr<TFormMain> form;
    std::unique_ptr<qz417::sim::Emulator> emulator;

    void create(std::uint16_t searchMs = 1200) {
        qz417::ResetAppState();
        form = std::make_unique<TFormMain>();
        FormMain = form.get();
        form->SetSearchTimeoutForTest(searchMs);
        form->show();
    }
    void destroy() {
        if (form) {
            form->close();
            form.reset(); // stops and awaits every thread
        }
        FormMain = nullptr;
        emulator.reset();
        QZ_ClearList(DeviceList.exchange(nullptr));
        qz417::ResetAppState();
    }

    // False (with the reason in *why) where port 417 cannot be bound. While
    // another program's test holds the port, it tries again for a while.
    bool startEmulator(const qz417::sim::EmulatorOptions &options, std::string *why) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            emulator = std::make_unique<qz417::sim::Emulator>(options);
            if (emulator->start(why))
                return true;
            emulator.reset();
            if (why->find("in use") == std::string::npos || clock.elapsed() > 30000)
                return false;
            QTest::qWait(200);
        }
    }

    template <class T> T *W(const char *name) {
        T *w = form->findChild<T *>(QString::fromLatin1(name));
        if (w == nullptr)
            qFatal("no control %s", name);
        return w;
    }
    QPushButton *button(const char *name) { return W<QPushButton>(name); }
    QString text(const char *label) { return W<QLabel>(label)->text(); }
    bool connected() { return button("ButtonConnect")->text() == QStringLiteral("Disconnect"); }
    bool onSearchPage() {
        return W<QTabWidget>("PageControlQZ417")->currentWidget() == W<QWidget>("TabSheetSearch");
    }

    // Searches and connects to the first scanner found; false when that failed.
    bool searchAndConnect(int waitMs = 5000) {
        form->ButtonSearchClick();
        if (!QTest::qWaitFor([this] { return button("ButtonSearch")->isEnabled(); }, waitMs) ||
            !button("ButtonConnect")->isEnabled())
            return false;
        form->ButtonConnectClick();
        return connected();
    }
};

} // namespace qz417::rel

// In a test function of a class with a WindowFixture fx_: starts the emulated
// scanners, or skips the test with the reason.
#define QZREL_START_OR_SKIP(options)                                                               \
    do {                                                                                           \
        std::string why_;                                                                          \
        if (!fx_.startEmulator((options), &why_))                                                  \
            QSKIP(qPrintable(QStringLiteral("emulated scanners need port 417: ") +                 \
                             QString::fromStdString(why_)));                                       \
    } while (false)

// Starts the scanners (or skips) and connects the window to the first one.
#define QZREL_CONNECT_OR_SKIP(options)                                                             \
    do {                                                                                           \
        QZREL_START_OR_SKIP(options);                                                              \
        QVERIFY(fx_.searchAndConnect());                                                           \
    } while (false)

// Ends the test function when a helper it called has failed.
#define QZREL_RETURN_IF_FAILED()                                                                   \
    do {                                                                                           \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)
