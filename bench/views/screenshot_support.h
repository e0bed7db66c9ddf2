// What the screenshot programs share: waiting on the event loop and saving the
// window as a PNG.
#pragma once

#include <cstdio>
#include <filesystem>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace qzshot {

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

} // namespace qzshot
