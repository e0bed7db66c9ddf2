// The view timer's tick: its frame, the dispatch on WorkerMode, and the idle
// duty that services parameter requests while no worker runs.
#include <vector>

#include <QTimer>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/worker_threads.h"

namespace {

// Image fetched by the idle duty (window thread only).
std::vector<std::uint8_t> &IdleImage() {
    static std::vector<std::uint8_t> image;
    return image;
}

} // namespace

void TFormMain::StartTimerView() {
    TimerView->start();
}

void TFormMain::StopTimerView() {
    TimerView->stop();
}

void TFormMain::TimerViewTimer() {
    // Every duty restarts the timer as its last step or leaves it stopped,
    // so ticks never overlap or queue up.
    StopTimerView();
    switch (WorkerMode.load()) {
    case kModeSearch:
        SearchDuty();
        break;
    case kModeResult:
        ResultViewDuty(kModeResult);
        break;
    case kModeImage:
        ImageCountersDuty();
        break;
    case kModeUdp:
        ResultViewDuty(kModeUdp);
        break;
    default:
        IdleDuty();
        break;
    }
}

void TFormMain::IdleDuty() {
    std::int32_t failed = -1;
    bool fetched = false;
    const bool ok = qz::ServiceRequests([this] { ApplyConfigToControls(); }, &failed) &&
                    qz::FetchRequestedImage(IdleImage(), &fetched, &failed);
    if (!ok) {
        QZ417_Disconnect(DeviceSocket.exchange(-1));
        DisconnectDevice();
        return;
    }
    DrawImageFrame();
    StartTimerView();
}
