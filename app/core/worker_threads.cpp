#include "core/worker_threads.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <thread>

#include "core/app_state.h"

namespace qz417 {

namespace {

constexpr auto kLoopTest = std::chrono::milliseconds(1);
constexpr std::int32_t kSearchTypeFilter = QZ417_TYPE_CODE;

bool ReadConfig(std::int32_t *failedSocket) {
    std::array<std::uint8_t, QZ417_CONFIG_SIZE> block{};
    const std::int32_t socket = DeviceSocket.load();
    if (QZ417_ReadParams(socket, block.data()) == 0) {
        *failedSocket = socket;
        return false;
    }
    DeviceConfig.write(block.data());
    return true;
}

// Worker start: base of the rates and the four counters, then the mode, so
// that the timer never sees the new mode with the previous run's counters.
void EnterMode(std::uint8_t mode) {
    WorkerStartTicks = TickCount();
    AcquiredCount = 0;
    AcquiredCountMark = 0;
    MeasurementCounter = 0;
    MeasurementCounterMark = 0;
    WorkerMode = mode;
}

void Call(const std::function<void()> &f) {
    if (f)
        f();
}

void HandOver(const WorkerHooks &hooks, const std::uint8_t *packet) {
    if (hooks.packetReceived)
        hooks.packetReceived(packet);
}

} // namespace

bool ServiceRequests(const std::function<void()> &configRead, std::int32_t *failedSocket,
                     const std::function<void(const std::uint8_t *)> &configWritten) {
    if (RequestWriteParams.exchange(0) != 0) {
        const ConfigArea copy = DeviceConfig.read();
        const std::int32_t socket = DeviceSocket.load();
        if (QZ417_WriteParams(socket, copy.data()) == 0) {
            *failedSocket = socket;
            return false;
        }
        if (configWritten)
            configWritten(copy.data());
    }
    if (RequestReadParams.exchange(0) != 0) {
        if (!ReadConfig(failedSocket))
            return false;
        Call(configRead);
        RequestImage = 1;
    }
    if (RequestFlushParams.exchange(0) != 0) {
        const std::int32_t socket = DeviceSocket.load();
        if (QZ417_FlushParams(socket, FlushArgument.load()) == 0) {
            *failedSocket = socket;
            return false;
        }
        if (!ReadConfig(failedSocket))
            return false;
        Call(configRead);
        RequestImage = 1;
    }
    return true;
}

bool FetchRequestedImage(std::vector<std::uint8_t> &scratch, bool *fetched,
                         std::int32_t *failedSocket) {
    *fetched = false;
    if (RequestImage.exchange(0) == 0)
        return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kRequestedImageDelayMs));
    scratch.resize(QZ417_IMAGE_SIZE);
    const std::int32_t socket = DeviceSocket.load();
    if (QZ417_GetImage(socket, scratch.data()) == 0) {
        *failedSocket = socket;
        return false;
    }
    ImageBuffer.publish(scratch.data());
    *fetched = true;
    return true;
}

void DropConnection(std::int32_t failedSocket) {
    std::int32_t expected = failedSocket;
    if (DeviceSocket.compare_exchange_strong(expected, -1))
        QZ417_Disconnect(failedSocket);
}

int SearchThreadProc(const WorkerRun &run) {
    WorkerStartTicks = TickCount();
    WorkerMode = kModeSearch;
    DeviceList = QZ_Search(kSearchTypeFilter, SearchTimeout.load());
    run.doneEvent->set();
    return 0;
}

int ResultThreadProc(const WorkerRun &run) {
    std::shared_ptr<ManualResetEvent> runEvent = run.runEvent;
    std::vector<std::uint8_t> image;
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};

    Call(run.hooks.recordingStart);
    EnterMode(kModeResult);
    while (runEvent->wait(kLoopTest)) {
        std::int32_t failed = -1;
        if (!ServiceRequests(run.hooks.configRead, &failed, run.hooks.configWritten)) {
            DropConnection(failed);
            break;
        }
        bool fetched = false;
        if (!FetchRequestedImage(image, &fetched, &failed)) {
            DropConnection(failed);
            break;
        }
        if (fetched)
            Call(run.hooks.imageFetched);
        const std::int32_t socket = DeviceSocket.load();
        if (QZ417_GetResult(socket, packet.data()) == 0) {
            DropConnection(socket);
            break;
        }
        ResultPacket.publish(packet.data());
        HandOver(run.hooks, packet.data());
        if (run.hooks.resultFetched)
            run.hooks.resultFetched(packet.data());
        AcquiredCount.fetch_add(1);
    }
    runEvent.reset();
    run.doneEvent->set();
    return 0;
}

int ImageThreadProc(const WorkerRun &run) {
    std::shared_ptr<ManualResetEvent> runEvent = run.runEvent;
    std::vector<std::uint8_t> image(QZ417_IMAGE_SIZE);

    EnterMode(kModeImage);
    while (runEvent->wait(kLoopTest)) {
        // Every pass fetches a new image anyway.
        RequestImage = 0;
        std::int32_t failed = -1;
        if (!ServiceRequests(run.hooks.configRead, &failed, run.hooks.configWritten)) {
            DropConnection(failed);
            break;
        }
        const std::int32_t socket = DeviceSocket.load();
        if (QZ417_GetImage(socket, image.data()) == 0) {
            DropConnection(socket);
            break;
        }
        ImageBuffer.publish(image.data());
        Call(run.hooks.imageFetched);
        AcquiredCount.fetch_add(1);
    }
    runEvent.reset();
    run.doneEvent->set();
    return 0;
}

int UdpResultThreadProc(const WorkerRun &run) {
    std::shared_ptr<ManualResetEvent> runEvent = run.runEvent;
    const std::uint16_t port = UdpPort.load();
    const std::int32_t socket = QZ417_UDP_Connect(port);
    if (socket == -1) {
        // The port cannot be bound: end at once and tell the window why.
        const int error = errno;
        run.doneEvent->set();
        if (run.hooks.udpPortFailed)
            run.hooks.udpPortFailed(port, error);
        return 0;
    }
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    // A search running meanwhile holds the view; the window hands the view
    // to this worker when the search has ended.
    if (WorkerMode.load() == kModeIdle)
        EnterMode(kModeUdp);
    while (runEvent->wait(kLoopTest)) {
        if (QZ417_UDP_GetResult(socket, packet.data()) == 1) {
            if (!run.publishes || run.publishes->load())
                ResultPacket.publish(packet.data());
            HandOver(run.hooks, packet.data());
        }
    }
    runEvent.reset();
    // The port is free before the worker counts as ended: a worker started
    // as soon as this one has ended binds the same port.
    QZ417_UDP_Disconnect(socket);
    run.doneEvent->set();
    return 0;
}

} // namespace qz417
