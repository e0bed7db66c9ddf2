#include "core/app_state.h"
#include "core/tick_source.h"

#include <chrono>
#include <mutex>
#include <thread>

TFormMain *FormMain = nullptr;

std::atomic<std::int32_t> DeviceSocket{0};
std::atomic<DeviceAnnouncement *> DeviceList{nullptr};

std::shared_ptr<qz417::ManualResetEvent> RunEvent;
std::shared_ptr<qz417::ManualResetEvent> DoneEvent;

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

qz417::SharedConfig DeviceConfig;
qz417::SharedBuffer<QZ417_IMAGE_SIZE> ImageBuffer;
qz417::SharedBuffer<QZ417_PACKET_SIZE> ResultPacket;

std::atomic<std::uint16_t> UdpPort{6003};

std::atomic<std::uint16_t> RangeXEmr{230};
std::atomic<std::uint16_t> RangeZ{250};
std::atomic<std::uint16_t> DiscreteValue{16384};
std::atomic<std::int16_t> ErrorValue{0};

std::string StartDirectory;
std::int16_t LastCalculatedAngle = 0;

namespace qz417 {

// The four scale values are written and read as one: a writer makes the
// version odd, stores them and makes it even again (one writer at a time);
// a reader that saw an odd version, or a different one after reading, read
// while a writer was at work and reads again. Writes are rare (a device
// description shown), so a reader retries at most a few times.
namespace {
std::atomic<std::uint32_t> ScaleVersion{0};
std::mutex ScaleWriter;
} // namespace

ProfileScale CurrentScale() {
    for (;;) {
        const std::uint32_t before = ScaleVersion.load();
        if ((before & 1u) == 0) {
            ProfileScale s;
            s.rangeXEmr = RangeXEmr.load();
            s.rangeZ = RangeZ.load();
            s.discreteValue = DiscreteValue.load();
            s.errorValue = ErrorValue.load();
            if (ScaleVersion.load() == before)
                return s;
        }
        std::this_thread::yield(); // a writer is between its two stores
    }
}

void SetCurrentScale(const ProfileScale &scale) {
    std::lock_guard lock(ScaleWriter);
    ScaleVersion.fetch_add(1); // odd: being written
    RangeXEmr = scale.rangeXEmr;
    RangeZ = scale.rangeZ;
    DiscreteValue = scale.discreteValue;
    ErrorValue = scale.errorValue;
    ScaleVersion.fetch_add(1);
}

namespace {
std::atomic<TickSource> g_tickSource{nullptr};
} // namespace

void SetTickSource(TickSource source) {
    g_tickSource = source;
}

std::uint32_t TickCount() {
    if (const TickSource source = g_tickSource.load())
        return source();
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

void ResetAppState() {
    SetTickSource(nullptr);
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

} // namespace qz417
