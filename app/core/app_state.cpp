#include "core/app_state.h"

#include <chrono>

TFormMain *FormMain = nullptr;

std::atomic<std::int32_t> DeviceSocket{0};
std::atomic<DeviceAnnouncement *> DeviceList{nullptr};

std::shared_ptr<qz::ManualResetEvent> RunEvent;
std::shared_ptr<qz::ManualResetEvent> DoneEvent;

std::atomic<std::uint8_t> WorkerMode{0};
std::atomic<std::uint32_t> WorkerStartTicks{0};
std::atomic<std::uint16_t> SearchTimeout{0};

std::atomic<std::uint16_t> AcquiredCount{0};
std::atomic<std::uint16_t> AcquiredCountMark{0};
std::atomic<std::uint16_t> MeasurementCounter{0};
std::atomic<std::uint16_t> MeasurementCounterMark{0};

std::atomic<std::uint8_t> RequestWriteParams{0};
std::atomic<std::uint8_t> RequestReadParams{0};
std::atomic<std::uint8_t> RequestFlushParams{0};
std::atomic<std::uint8_t> FlushArgument{0};
std::atomic<std::uint8_t> RequestImage{0};
std::atomic<std::uint8_t> RequestSaveProfile{0};

qz::SharedConfig DeviceConfig;
qz::SharedBuffer<QZ417_IMAGE_SIZE> ImageBuffer;
qz::SharedBuffer<QZ417_PACKET_SIZE> ResultPacket;

std::atomic<std::uint16_t> UdpPort{6003};

std::atomic<std::uint16_t> RangeXEmr{230};
std::atomic<std::uint16_t> RangeZ{250};
std::atomic<std::uint16_t> DiscreteValue{16384};
std::atomic<std::int16_t> ErrorValue{0};

std::string StartDirectory;
std::int16_t LastCalculatedAngle = 0;

namespace qz {

ProfileScale CurrentScale() {
    ProfileScale s;
    s.rangeXEmr = RangeXEmr.load();
    s.rangeZ = RangeZ.load();
    s.discreteValue = DiscreteValue.load();
    s.errorValue = ErrorValue.load();
    return s;
}

void SetCurrentScale(const ProfileScale &scale) {
    RangeXEmr = scale.rangeXEmr;
    RangeZ = scale.rangeZ;
    DiscreteValue = scale.discreteValue;
    ErrorValue = scale.errorValue;
}

std::uint32_t TickCount() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

void ResetAppState() {
    DeviceSocket = 0;
    DeviceList = nullptr;
    RunEvent.reset();
    DoneEvent.reset();
    WorkerMode = 0;
    WorkerStartTicks = 0;
    SearchTimeout = 0;
    AcquiredCount = 0;
    AcquiredCountMark = 0;
    MeasurementCounter = 0;
    MeasurementCounterMark = 0;
    RequestWriteParams = 0;
    RequestReadParams = 0;
    RequestFlushParams = 0;
    FlushArgument = 0;
    RequestImage = 0;
    RequestSaveProfile = 0;
    DeviceConfig.write(ConfigArea{});
    UdpPort = 6003;
    SetCurrentScale(ProfileScale{});
    LastCalculatedAngle = 0;
}

} // namespace qz
