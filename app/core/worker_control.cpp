// The Start/Stop handlers of the result, image and UDP workers, and what
// keeps overlapping threads apart: a start right after a Stop, and a UDP
// worker that runs on while the user searches, connects or runs a TCP worker.
#include <cstring>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>

#include "config/integer_text.h"
#include "core/app_state.h"
#include "core/form_main.h"
#include "core/post_gate.h"
#include "core/thread_owner.h"
#include "core/worker_threads.h"

namespace {

constexpr std::size_t kResultStackBytes = 1024;
constexpr std::size_t kImageStackBytes = 8192;
constexpr std::size_t kUdpStackBytes = 1024;

// Longest wait for a stopped worker to finish its pass: one exchange bounded
// by the library's 4000 ms receive time-out, with some margin.
constexpr auto kStoppedWorkerWait = std::chrono::milliseconds(4500);

bool IsStart(const QPushButton *button) {
    return button->text() == QLatin1String("Start");
}

void SetStart(QPushButton *button) {
    button->setText(QStringLiteral("Start"));
    button->setEnabled(true);
}

// A Stop on either TCP page: both TCP buttons read "Start" again and the
// running TCP worker is told to stop.
void StopTcpWorker(QPushButton *result, QPushButton *grabber,
                   const std::shared_ptr<qz417::ManualResetEvent> &tcpRunEvent) {
    SetStart(result);
    SetStart(grabber);
    if (tcpRunEvent)
        tcpRunEvent->reset();
}

// The events of a TCP worker about to start: RunEvent and DoneEvent anew,
// kept by the window as the TCP worker's.
void NewTcpEvents(std::shared_ptr<qz417::ManualResetEvent> &tcpRunEvent,
                  std::shared_ptr<qz417::ManualResetEvent> &tcpDoneEvent) {
    RunEvent = std::make_shared<qz417::ManualResetEvent>(true);
    DoneEvent = std::make_shared<qz417::ManualResetEvent>(false);
    tcpRunEvent = RunEvent;
    tcpDoneEvent = DoneEvent;
}

} // namespace

bool TFormMain::StartWorkerThread(const qz417::Worker &worker, std::size_t stackBytes,
                                  bool timeCritical, qz417::WorkerRun run) {
    run.hooks = MakeWorkerHooks(worker.kind == qz417::WorkerKind::Result);
    AddFeedHooks(run.hooks, worker.kind);
    if (worker.kind == qz417::WorkerKind::UdpResult) {
        std::shared_ptr<qz417::PostGate> gate = postGate_;
        std::shared_ptr<qz417::ManualResetEvent> done = run.doneEvent;
        run.hooks.udpPortFailed = [gate, done](std::uint16_t port, int error) {
            gate->with([&](TFormMain &f) {
                QMetaObject::invokeMethod(
                    &f, [&f, done, port, error] { f.UdpPortFailed(done, port, error); },
                    Qt::QueuedConnection);
            });
        };
    }
    std::shared_ptr<qz417::ManualResetEvent> runEvent = run.runEvent;
    return threads_->start(qz417::ThreadParams{stackBytes, timeCritical}, std::move(runEvent),
                           [proc = worker.proc, run] { proc(run); });
}

void TFormMain::ResetEndedWorker(std::uint8_t mode, std::shared_ptr<qz417::ManualResetEvent> done) {
    QLabel *rate = mode == kModeResult  ? LabelResultPerSec
                   : mode == kModeImage ? LabelFramePerSec
                                        : LabelResultUDPPerSec;
    QLabel *count = mode == kModeResult  ? LabelResultCnt
                    : mode == kModeImage ? LabelFrameCnt
                                         : LabelResultUDPCnt;
    // A missing event (the tick's view of a worker without one) counts as
    // the one holding the view.
    const bool heldView = DoneEvent == done;
    if (heldView)
        DoneEvent.reset();
    rate->setText(QStringLiteral("0"));
    if (heldView)
        AcquiredCount = 0;
    count->setText(QStringLiteral("0"));
    if (heldView)
        WorkerMode = kModeIdle;
    if (done && tcpDoneEvent_ == done)
        tcpDoneEvent_.reset();
    if (done && udpDoneEvent_ == done) {
        udpDoneEvent_.reset();
        udpPublishes_.reset();
    }
}

void TFormMain::SettleStoppedWorkers() {
    const auto settle = [this](const std::shared_ptr<qz417::ManualResetEvent> &run,
                               std::shared_ptr<qz417::ManualResetEvent> done, std::uint8_t mode) {
        if (!done || !run || run->isSet())
            return; // none, or still running (the UDP worker behind a search)
        done->wait(kStoppedWorkerWait);
        ResetEndedWorker(mode, std::move(done));
    };
    settle(tcpRunEvent_, tcpDoneEvent_, tcpMode_);
    settle(udpRunEvent_, udpDoneEvent_, kModeUdp);
}

bool TFormMain::ResumeUdpView() {
    if (!udpDoneEvent_ || WorkerMode.load() != kModeIdle ||
        (DoneEvent && DoneEvent != udpDoneEvent_))
        return false;
    DoneEvent = udpDoneEvent_;
    if (udpPublishes_)
        *udpPublishes_ = true;
    // As the worker does when it starts: the base of the rates, the counters,
    // then the mode.
    WorkerStartTicks = qz417::TickCount();
    AcquiredCount = 0;
    AcquiredCountMark = 0;
    MeasurementCounter = 0;
    MeasurementCounterMark = 0;
    BeginRates();
    WorkerMode = kModeUdp;
    StartTimerView();
    return true;
}

void TFormMain::UdpPortFailed(const std::shared_ptr<qz417::ManualResetEvent> &done,
                              std::uint16_t port, int error) {
    if (closed_)
        return;
    if (done && udpDoneEvent_ == done) {
        if (DoneEvent == done)
            DoneEvent.reset();
        udpDoneEvent_.reset();
        udpPublishes_.reset();
        SetStart(ButtonUDPResult);
    }
    QMessageBox::critical(this, QStringLiteral("QZ417-SP"),
                          QStringLiteral("The UDP reception was not started.\nPort %1\n%2")
                              .arg(port)
                              .arg(QString::fromLocal8Bit(std::strerror(error))));
}

void TFormMain::ButtonResultClick() {
    if (!IsStart(ButtonResult)) {
        StopTcpWorker(ButtonResult, ButtonGrabber, tcpRunEvent_);
        return;
    }
    SettleStoppedWorkers();
    LabelResultPerSec->setText(QStringLiteral("0"));
    AcquiredCount = 0;
    LabelResultCnt->setText(QString::number(AcquiredCount.load()));
    // A UDP worker still running waits behind this one, and keeps its
    // datagrams out of ResultPacket meanwhile.
    if (udpPublishes_)
        *udpPublishes_ = false;
    if (WorkerMode.load() == kModeUdp)
        WorkerMode = kModeIdle;
    NewTcpEvents(tcpRunEvent_, tcpDoneEvent_);
    tcpMode_ = kModeResult;
    BeginRates();
    if (!StartWorkerThread(qz417::kResultWorker, kResultStackBytes, true,
                           qz417::WorkerRun{RunEvent, DoneEvent, {}, nullptr}))
        return;
    ButtonResult->setText(QStringLiteral("Stop"));
    ButtonGrabber->setEnabled(false);
    ButtonResultSave->setEnabled(true);
    StartTimerView();
}

void TFormMain::ButtonGrabberClick() {
    if (!IsStart(ButtonGrabber)) {
        StopTcpWorker(ButtonResult, ButtonGrabber, tcpRunEvent_);
        return;
    }
    SettleStoppedWorkers();
    LabelFramePerSec->setText(QStringLiteral("0"));
    AcquiredCount = 0;
    LabelFrameCnt->setText(QString::number(AcquiredCount.load()));
    if (WorkerMode.load() == kModeUdp)
        WorkerMode = kModeIdle; // a UDP worker still running waits behind this one
    NewTcpEvents(tcpRunEvent_, tcpDoneEvent_);
    tcpMode_ = kModeImage;
    if (!StartWorkerThread(qz417::kImageWorker, kImageStackBytes, false,
                           qz417::WorkerRun{RunEvent, DoneEvent, {}, nullptr}))
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
    const std::optional<std::int32_t> port = qz417::ParseInteger(text);
    if (!port) {
        qz417::ShowConversionError(this, text);
        return;
    }
    SettleStoppedWorkers();
    UdpPort = static_cast<std::uint16_t>(*port);
    LabelResultUDPPerSec->setText(QStringLiteral("0"));
    AcquiredCount = 0;
    LabelResultUDPCnt->setText(QString::number(AcquiredCount.load()));
    RunEvent = std::make_shared<qz417::ManualResetEvent>(true);
    auto done = std::make_shared<qz417::ManualResetEvent>(false);
    udpRunEvent_ = RunEvent;
    udpDoneEvent_ = done;
    udpPublishes_ = std::make_shared<std::atomic<bool>>(true);
    // While a search runs it keeps the view; the view passes to this worker
    // when the search has ended (ResumeUdpView).
    if (!DoneEvent) {
        DoneEvent = done;
        BeginRates();
    }
    if (!StartWorkerThread(qz417::kUdpResultWorker, kUdpStackBytes, true,
                           qz417::WorkerRun{RunEvent, done, {}, udpPublishes_}))
        return;
    ButtonUDPResult->setText(QStringLiteral("Stop"));
    StartTimerView();
}
