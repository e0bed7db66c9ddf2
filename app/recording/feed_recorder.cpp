#include "recording/feed_recorder.h"

#include <chrono>
#include <cstring>

namespace qz {

FeedRecorder::FeedRecorder() = default;

FeedRecorder::~FeedRecorder() {
    Stop();
}

bool FeedRecorder::Start(const std::shared_ptr<ProfileFeed> &feed, FeedSource source,
                         const recording::RecorderSettings &settings, std::string *error,
                         std::size_t feedQueueCapacity) {
    if (running_.load() && recorder_.Active()) {
        *error = "A recording is running already";
        return false;
    }
    Stop(); // joins the drain thread of an earlier recording that ended by itself
    std::unique_ptr<FeedSubscription> subscription = feed->Subscribe(feedQueueCapacity);
    if (!subscription) {
        *error = "Too many subscribers to the profile feed";
        return false;
    }
    if (!recorder_.Start(settings, error))
        return false; // the subscription ends here, unused
    subscription_ = std::move(subscription);
    source_ = source;
    skipRepeats_ = source == FeedSource::TcpResult;
    haveLast_ = false;
    feedDropped_ = 0;
    stop_ = false;
    running_ = true;
    thread_ = std::thread([this] { Drain(); });
    return true;
}

bool FeedRecorder::DrainOnce() {
    FeedPacket packet;
    if (!subscription_->Pop(packet))
        return false;
    if (packet.source != source_)
        return true;
    if (skipRepeats_) {
        if (haveLast_ && packet.bytes == last_)
            return true;
        last_ = packet.bytes;
        haveLast_ = true;
    }
    const recording::ReceiveTime time{packet.time.monotonicNs, packet.time.wallNs};
    recorder_.Push(packet.bytes.data(), time);
    return true;
}

void FeedRecorder::Drain() {
    // Bounded by the stop flag and by the recorder ending by itself (limit,
    // error): then the queue is left and the subscription released by Stop.
    while (!stop_.load(std::memory_order_acquire) && recorder_.Active()) {
        int taken = 0;
        while (taken < 4096 && DrainOnce())
            ++taken;
        feedDropped_.store(subscription_->dropped(), std::memory_order_relaxed);
        if (taken == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // What was pushed before the stop is still recorded.
    for (int i = 0; i < 1 << 20 && recorder_.Active() && DrainOnce(); ++i) {
    }
    feedDropped_.store(subscription_->dropped(), std::memory_order_relaxed);
}

void FeedRecorder::Stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    recorder_.Stop();
    subscription_.reset();
    running_ = false;
}

recording::RecorderStatus FeedRecorder::Status() const {
    recording::RecorderStatus status = recorder_.Status();
    status.dropped += feedDropped_.load(std::memory_order_relaxed);
    return status;
}

recording::Announcement AnnouncementBytes(std::uint16_t type, const std::uint8_t (&ip)[4],
                                          const std::uint8_t (&mac)[6],
                                          const std::uint8_t (&description)[255]) {
    recording::Announcement a{};
    a[0] = static_cast<std::uint8_t>(type & 0xFF);
    a[1] = static_cast<std::uint8_t>(type >> 8);
    std::memcpy(a.data() + 2, ip, 4);
    std::memcpy(a.data() + 6, mac, 6);
    std::memcpy(a.data() + 12, description, 255);
    return a;
}

} // namespace qz
