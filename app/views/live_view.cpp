// The view duties of the view timer's tick: the last profile with its
// counters and rates on the "Result viewer" or "UDP" tab, the frame counters
// of the "Image viewer" tab, and the check that notices a worker's end.
#include <array>
#include <chrono>
#include <optional>

#include <QLabel>
#include <QPushButton>

#include "core/app_state.h"
#include "core/counter_rates.h"
#include "core/form_main.h"
#include "model/profile_packet.h"
#include "widgets/profile_chart.h"

namespace {

// The tick's copy of the most recent whole packet, re-read only when a new
// one was published.
std::array<std::uint8_t, QZ417_PACKET_SIZE> g_packet{};
std::optional<std::uint64_t> g_packetSequence;

// Set from a Start until the run's first packet: the sequence number of
// ResultPacket at the Start. The device's counters run freely, so the first
// rates are taken over their motion since the first packet after the Start,
// not since 0.
std::optional<std::uint64_t> g_ratesAfterSequence;

std::uint64_t RefreshPacket() {
    if (!g_packetSequence || *g_packetSequence != ResultPacket.sequence())
        g_packetSequence = ResultPacket.read(g_packet.data());
    return *g_packetSequence;
}

void ShowNumber(QLabel *label, unsigned value) {
    label->setText(QString::number(value));
}

// Once more than a second has passed: the rates since the last update, the
// packets (or frames) rate first. measurementsRate null: frames only.
void UpdateRates(std::uint32_t now, QLabel *acquiredRate, QLabel *measurementsRate) {
    const std::optional<std::int32_t> elapsed = qz417::RateInterval(now, WorkerStartTicks.load());
    if (!elapsed)
        return;
    const std::uint16_t acquired = AcquiredCount.load();
    const std::uint16_t measured = MeasurementCounter.load();
    ShowNumber(acquiredRate, qz417::CounterRate(acquired, AcquiredCountMark.load(), *elapsed));
    if (measurementsRate)
        ShowNumber(measurementsRate,
                   qz417::CounterRate(measured, MeasurementCounterMark.load(), *elapsed));
    WorkerStartTicks = now;
    AcquiredCountMark = acquired;
    if (measurementsRate)
        MeasurementCounterMark = measured;
}

// True when the worker has ended (a missing event counts as ended).
bool WorkerEnded() {
    const std::shared_ptr<qz417::ManualResetEvent> done = DoneEvent;
    return !done || done->wait(std::chrono::milliseconds(1));
}

} // namespace

void TFormMain::BeginRates() {
    g_ratesAfterSequence = ResultPacket.sequence();
}

std::uint64_t TFormMain::ShowLastProfile(std::uint8_t mode) {
    const bool udp = mode == kModeUdp;
    qz417::ProfileChart *chart = udp ? ChartUDP : ChartResult;
    const std::uint64_t sequence = RefreshPacket();
    // An unchanged packet under an unchanged scale would plot the same points.
    chart->PlotProfile(g_packet.data(), qz417::CurrentScale(), sequence);

    const qz417::ProfilePacket packet(g_packet.data());
    MeasurementCounter = packet.measurementCount();
    if (udp)
        AcquiredCount = packet.packetCount();
    ShowNumber(udp ? LabelPacksUDPCnt : LabelPacksCnt, AcquiredCount.load());
    ShowNumber(udp ? LabelResultUDPCnt : LabelResultCnt, MeasurementCounter.load());
    return sequence;
}

void TFormMain::ResultViewDuty(std::uint8_t mode) {
    const bool udp = mode == kModeUdp;
    QLabel *packsPerSec = udp ? LabelPacksUDPPerSec : LabelPacksPerSec;
    QLabel *resultPerSec = udp ? LabelResultUDPPerSec : LabelResultPerSec;
    QPushButton *button = udp ? ButtonUDPResult : ButtonResult;

    const std::uint32_t now = qz417::TickCount();
    const std::uint64_t sequence = ShowLastProfile(mode);
    if (!g_ratesAfterSequence) {
        UpdateRates(now, packsPerSec, resultPerSec);
    } else if (sequence > *g_ratesAfterSequence) {
        // The run's first packet: the base of its first rates.
        g_ratesAfterSequence.reset();
        WorkerStartTicks = now;
        AcquiredCountMark = AcquiredCount.load();
        MeasurementCounterMark = MeasurementCounter.load();
    }

    if (!WorkerEnded()) {
        DrawImageFrame();
        StartTimerView();
        return;
    }
    // The worker may have taken one more profile while this tick waited for
    // it to end: the counters and the chart keep the last one it received.
    ShowLastProfile(mode);
    ResetEndedWorker(mode, DoneEvent);
    if (button->text() == QLatin1String("Stop")) {
        // The worker ended on its own: its exchange with the device failed.
        DisconnectDevice();
        return;
    }
    DrawImageFrame();
    ResumeUdpView();
    StartTimerView();
}

void TFormMain::ImageCountersDuty() {
    const std::uint32_t now = qz417::TickCount();
    ShowNumber(LabelFrameCnt, AcquiredCount.load());
    UpdateRates(now, LabelFramePerSec, nullptr);

    if (!WorkerEnded()) {
        StartTimerView();
        return;
    }
    ResetEndedWorker(kModeImage, DoneEvent);
    if (ButtonGrabber->text() == QLatin1String("Stop")) {
        DisconnectDevice();
        return;
    }
    ResumeUdpView();
    StartTimerView();
}
