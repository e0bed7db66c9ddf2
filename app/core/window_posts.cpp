// How worker threads hand work to the window thread: queued calls that run
// after the worker step that caused them, coalesced while one is pending.
#include <QMetaObject>

#include "core/form_main.h"
#include "core/post_gate.h"
#include "core/worker_threads.h"
#include "views/profile_saver.h"

void TFormMain::PostDrawImageFrame() {
    if (drawPosted_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            drawPosted_ = false;
            if (!closed_)
                DrawImageFrame();
        },
        Qt::QueuedConnection);
}

void TFormMain::PostApplyConfigToControls() {
    if (applyPosted_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            // Cleared first: a read that completes while the controls are
            // refreshed posts a new refresh.
            applyPosted_ = false;
            if (!closed_)
                ApplyConfigToControls();
        },
        Qt::QueuedConnection);
}

qz417::WorkerHooks TFormMain::MakeWorkerHooks(bool withSave) {
    qz417::WorkerHooks hooks;
    std::shared_ptr<qz417::PostGate> gate = postGate_;
    hooks.configRead = [gate] { gate->with([](TFormMain &f) { f.PostApplyConfigToControls(); }); };
    hooks.imageFetched = [gate] { gate->with([](TFormMain &f) { f.PostDrawImageFrame(); }); };
    if (withSave) {
        // One saver per run of the result worker, used by that thread only.
        auto saver = std::make_shared<qz417::ProfileSaver>();
        hooks.recordingStart = [saver] { saver->Start(); };
        hooks.resultFetched = [saver](const std::uint8_t *packet) { saver->Step(packet); };
    }
    return hooks;
}
