// The Start/Stop handlers of the result, image and UDP workers.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "config/integer_text.h"
#include "core/app_state.h"
#include "core/form_main.h"
#include "core/thread_owner.h"
#include "core/worker_threads.h"

namespace {

constexpr std::size_t kResultStackBytes = 1024;
constexpr std::size_t kImageStackBytes = 8192;
constexpr std::size_t kUdpStackBytes = 1024;

bool IsStart(const QPushButton *button) {
    return button->text() == QLatin1String("Start");
}

void SetStart(QPushButton *button) {
    button->setText(QStringLiteral("Start"));
    button->setEnabled(true);
}

} // namespace

bool TFormMain::StartWorkerThread(int (*proc)(const qz::WorkerRun &), std::size_t stackBytes,
                                  bool timeCritical, std::shared_ptr<qz::ManualResetEvent> run) {
    qz::WorkerRun worker{run, DoneEvent, MakeWorkerHooks(proc == &qz::ResultThreadProc)};
    AddFeedHooks(worker.hooks, proc);
    return threads_->start(qz::ThreadParams{stackBytes, timeCritical}, std::move(run),
                           [proc, worker] { proc(worker); });
}

void TFormMain::ButtonResultClick() {
    if (!IsStart(ButtonResult)) {
        SetStart(ButtonResult);
        SetStart(ButtonGrabber);
        if (tcpRunEvent_)
            tcpRunEvent_->reset();
        return;
    }
    LabelResultPerSec->setText(QStringLiteral("0"));
    AcquiredCount = 0;
    LabelResultCnt->setText(QString::number(AcquiredCount.load()));
    RunEvent = std::make_shared<qz::ManualResetEvent>(true);
    DoneEvent = std::make_shared<qz::ManualResetEvent>(false);
    tcpRunEvent_ = RunEvent;
    if (!StartWorkerThread(&qz::ResultThreadProc, kResultStackBytes, true, RunEvent))
        return;
    ButtonResult->setText(QStringLiteral("Stop"));
    ButtonGrabber->setEnabled(false);
    ButtonResultSave->setEnabled(true);
    StartTimerView();
}

void TFormMain::ButtonGrabberClick() {
    if (!IsStart(ButtonGrabber)) {
        SetStart(ButtonResult);
        SetStart(ButtonGrabber);
        if (tcpRunEvent_)
            tcpRunEvent_->reset();
        return;
    }
    LabelFramePerSec->setText(QStringLiteral("0"));
    AcquiredCount = 0;
    LabelFrameCnt->setText(QString::number(AcquiredCount.load()));
    RunEvent = std::make_shared<qz::ManualResetEvent>(true);
    DoneEvent = std::make_shared<qz::ManualResetEvent>(false);
    tcpRunEvent_ = RunEvent;
    if (!StartWorkerThread(&qz::ImageThreadProc, kImageStackBytes, false, RunEvent))
        return;
    ButtonGrabber->setText(QStringLiteral("Stop"));
    ButtonResult->setEnabled(false);
    StartTimerView();
}

void TFormMain::ButtonUDPResultClick() {
    if (!IsStart(ButtonUDPResult)) {
        SetStart(ButtonUDPResult);
        if (udpRunEvent_)
            udpRunEvent_->reset();
        return;
    }
    const QString text = EditUDPPrt->text();
    const std::optional<std::int32_t> port = qz::ParseInteger(text);
    if (!port) {
        qz::ShowConversionError(this, text);
        return;
    }
    UdpPort = static_cast<std::uint16_t>(*port);
    LabelResultUDPPerSec->setText(QStringLiteral("0"));
    AcquiredCount = 0;
    LabelResultUDPCnt->setText(QString::number(AcquiredCount.load()));
    RunEvent = std::make_shared<qz::ManualResetEvent>(true);
    DoneEvent = std::make_shared<qz::ManualResetEvent>(false);
    udpRunEvent_ = RunEvent;
    if (!StartWorkerThread(&qz::UdpResultThreadProc, kUdpStackBytes, true, RunEvent))
        return;
    ButtonUDPResult->setText(QStringLiteral("Stop"));
    StartTimerView();
}
