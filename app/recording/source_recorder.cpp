#include "recording/source_recorder.h"

#include <cstring>

namespace qz417 {

SourceRecorder::SourceRecorder() = default;

SourceRecorder::~SourceRecorder() {
    StopAndWait();
}

bool SourceRecorder::Start(const std::shared_ptr<ProfileSource> &source,
                           const recording::RecorderSettings &settings, std::string *error) {
    if (writer_.Status().state == recording::RecorderState::Recording) {
        *error = writer_.Status().finishing ? "The last recording is still being finished"
                                            : "A recording is running already";
        return false;
    }
    subscription_.reset(); // of an earlier recording that ended by itself
    skipRepeats_ = source->kind() == FeedSource::TcpResult;
    haveLast_ = false;
    if (!writer_.Start(settings, error))
        return false;
    // Subscribed last: from here on the producer hands every packet to Take.
    subscription_ = source->Subscribe(static_cast<FeedSink *>(this));
    if (!subscription_) {
        writer_.Stop();
        *error = "Too many subscribers to the profile source";
        return false;
    }
    return true;
}

void SourceRecorder::Take(const FeedPacket &packet) noexcept {
    if (skipRepeats_) {
        if (haveLast_ && packet.bytes == last_)
            return;
        last_ = packet.bytes;
        haveLast_ = true;
    }
    writer_.Push(packet.bytes.data(), packet.time);
}

void SourceRecorder::Stop() {
    // Unsubscribing waits only for a push under way; then the writer is told
    // to finish and this returns.
    subscription_.reset();
    writer_.RequestStop();
}

void SourceRecorder::StopAndWait() {
    subscription_.reset();
    writer_.Stop();
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

} // namespace qz417
