// The view timer's tick: its frame, the dispatch on WorkerMode, and the idle
// duty that services parameter requests while no worker runs.
#include <chrono>
#include <vector>

#include <QTimer>

#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
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
    const auto written = [this](const std::uint8_t *block) {
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        qz417::NoteParameterBlockWritten(
            Additions(), block, std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count());
    };
    const bool ok = qz417::ServiceRequests([this] { ApplyConfigToControls(); }, &failed, written) &&
                    qz417::FetchRequestedImage(IdleImage(), &fetched, &failed);
    if (!ok) {
        QZ417_Disconnect(DeviceSocket.exchange(-1));
        DisconnectDevice();
        return;
    }
    DrawImageFrame();
    StartTimerView();
}
