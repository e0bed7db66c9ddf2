// The "Save" button and the window side of the profile saver: the
// saver runs on the result worker's thread, so everything it shows is
// handed to the window thread as queued calls, which run in the order posted.
#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include "core/app_state.h"
#include "core/form_main.h"
#include "views/profile_saver.h"
#include "views/save_waits.h"

namespace {

std::atomic<bool> g_windowClosing{false};

// Signals the event when the last copy of the queued call is gone: after the
// call has run, or when Qt discards it because the window or the application
// went away first.
class ReleaseOnDestruction {
public:
    explicit ReleaseOnDestruction(std::shared_ptr<qz417::ManualResetEvent> event)
        : event_(std::move(event)) {}
    ReleaseOnDestruction(const ReleaseOnDestruction &) = delete;
    ReleaseOnDestruction &operator=(const ReleaseOnDestruction &) = delete;
    ~ReleaseOnDestruction() { event_->set(); }

private:
    std::shared_ptr<qz417::ManualResetEvent> event_;
};

class WindowUi final : public qz417::ProfileSaverUi {
public:
    void SetSaveButton(const std::string &caption, bool enabled) override {
        TFormMain *form = FormMain;
        if (!form)
            return;
        QMetaObject::invokeMethod(
            form,
            [form, text = QString::fromStdString(caption), enabled] {
                form->ButtonResultSave->setText(text);
                form->ButtonResultSave->setEnabled(enabled);
            },
            Qt::QueuedConnection);
    }

    void ShowError(const std::string &message) override {
        TFormMain *form = FormMain;
        if (!form || g_windowClosing.load())
            return;
        auto closed = std::make_shared<qz417::ManualResetEvent>();
        auto release = std::make_shared<ReleaseOnDestruction>(closed);
        QMetaObject::invokeMethod(
            form,
            [form, text = QString::fromStdString(message), release] {
                if (!g_windowClosing.load())
                    QMessageBox::critical(form, QStringLiteral("QZ417-SP"), text);
            },
            Qt::QueuedConnection);
        release.reset();
        // The worker pauses while the message is open; a closing window ends
        // the wait so that a shutdown that awaits the worker cannot hang.
        while (!closed->wait(std::chrono::milliseconds(20))) {
            if (g_windowClosing.load())
                break;
        }
    }
};

} // namespace

namespace qz417 {

ProfileSaverUi &WindowProfileSaverUi() {
    static WindowUi ui;
    return ui;
}

void ReleaseSaveWaits() {
    g_windowClosing = true;
}

void ResetSaveWaits() {
    g_windowClosing = false;
}

} // namespace qz417

void TFormMain::ButtonResultSaveClick() {
    RequestSaveProfile = 1;
    ButtonResultSave->setEnabled(false);
    ButtonResultSave->setText(QString::number(qz417::kProfilesPerFile));
}
