// Window tests: the whole window against an emulated scanner on 127.0.0.1,
// set up and torn down in one place. The calls return what went wrong
// instead of failing, so that the test decides between QSKIP and QVERIFY.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>

#include "core/app_state.h"
#include "core/form_main.h"
#include "emulator.h"

namespace qz417::test {

class EmulatedWindow {
public:
    ~EmulatedWindow() { stop(); }

    // Starts the emulated scanner with `options`, then shows a new window.
    // Empty when both are up; otherwise why the scanner could not start
    // (the caller skips) or the window was not shown.
    std::string start(const qz417::sim::EmulatorOptions &options) {
        qz417::ResetAppState();
        sim_ = std::make_unique<qz417::sim::Emulator>(options);
        std::string error;
        if (!sim_->start(&error)) {
            sim_.reset();
            return "the emulated scanner cannot start here: " + error;
        }
        form_ = std::make_unique<TFormMain>();
        FormMain = form_.get();
        form_->show();
        if (!QTest::qWaitForWindowExposed(form_.get()))
            return "the window was not shown";
        return {};
    }

    // Searches (for searchMs) and connects to the first scanner found.
    // Empty when connected, otherwise what failed.
    std::string connect(int searchMs = 700) {
        form_->SetSearchTimeoutForTest(static_cast<std::uint16_t>(searchMs));
        form_->ButtonSearch->click();
        if (!QTest::qWaitFor([this] { return form_->ButtonConnect->isEnabled(); }, 5000))
            return "the search found no emulated scanner";
        form_->ButtonConnect->click();
        return connected() ? std::string() : "the window did not connect to the emulated scanner";
    }

    // False when start could not start the scanner: the test skips.
    bool scannerStarted() const { return sim_ != nullptr; }

    bool connected() const {
        return form_ && form_->ButtonConnect->text() == QLatin1String("Disconnect");
    }

    // Closes open message boxes, disconnects, closes the window (its
    // threads stopped and awaited) and stops the scanner.
    void stop() {
        CloseMessageBoxes();
        if (form_) {
            if (connected())
                form_->ButtonConnect->click();
            form_->close();
            form_->ShutdownWorkers();
            form_.reset();
        }
        FormMain = nullptr;
        if (sim_)
            sim_->stop();
        sim_.reset();
    }

    // Closes every message box the window shows (they are not modal to the
    // test's event loop).
    static void CloseMessageBoxes() {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w))
                box->close();
    }

    TFormMain &form() { return *form_; }
    qz417::sim::Emulator &sim() { return *sim_; }

private:
    std::unique_ptr<qz417::sim::Emulator> sim_;
    std::unique_ptr<TFormMain> form_;
};

} // namespace qz417::test
