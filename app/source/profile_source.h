// A source of profiles: one stream (the TCP result worker, the UDP worker, a
// recording played back) with the device description and scale its packets
// were measured under, its own profile feed and its own stream statistics.
// Pure C++, no Qt.
//
// Views bind to a source, never to all profiles at once: a subscriber of a
// source's feed sees that source's packets only, each carrying the scale it
// was measured under. A live source follows the scale of the connected
// scanner (a function read at every push); a playback source carries the
// scale and description of its recording and writes no global.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "feed/profile_feed.h"
#include "health/stream_health.h"
#include "model/profile_packet.h"

namespace qz417 {

// The 255-byte device description (announcement bytes 12 to 266).
constexpr std::size_t kDescriptionSize = 255;
using DescriptionBytes = std::array<std::uint8_t, kDescriptionSize>;

class ProfileSource {
public:
    using ScaleFunction = ProfileScale (*)();

    // kind tags the packets; name is what a selector shows.
    ProfileSource(FeedSource kind, std::string name);
    ProfileSource(const ProfileSource &) = delete;
    ProfileSource &operator=(const ProfileSource &) = delete;

    FeedSource kind() const { return kind_; }
    const std::string &name() const { return name_; }

    // The scale stamped on every packet: a live source follows `function`
    // (the connected scanner's scale), read at each push; set before the
    // producers start.
    void FollowScale(ScaleFunction function) { follow_.store(function); }
    // A fixed scale and the description it came from (a recording's); ends
    // following a function. Window thread.
    void SetDescription(const std::optional<DescriptionBytes> &description,
                        const ProfileScale &scale);
    // The scale a packet pushed now carries.
    ProfileScale scale() const;
    // The description set by SetDescription; none for a live source (its
    // description is the connected scanner's, on the "Information" page).
    std::optional<DescriptionBytes> description() const;

    // The source's stream statistics. A new run (a worker started, a
    // recording opened) starts new ones; the last stay readable after the
    // run has ended. Window thread; the producer observes through Push.
    // StreamHealth publishes the counts of the model's qz417::StreamStats.
    std::shared_ptr<StreamHealth> NewStatistics();
    std::shared_ptr<StreamHealth> statistics() const;

    // Producer thread (one at a time): the packet with its receive time and
    // the source's scale into the feed, counted in the statistics. Never
    // blocks, never allocates.
    void Push(const std::uint8_t *packet, const ReceiveTime &time) noexcept;
    void PushNow(const std::uint8_t *packet) noexcept { Push(packet, ReceiveTime::Now()); }

    // Subscribers of this source only (see ProfileFeed::Subscribe).
    std::unique_ptr<FeedSubscription> Subscribe(std::size_t capacity) {
        return feed_->Subscribe(capacity);
    }
    std::unique_ptr<FeedSubscription> Subscribe(FeedSink *sink) { return feed_->Subscribe(sink); }
    const std::shared_ptr<ProfileFeed> &feed() const { return feed_; }
    // Packets pushed since the source was made.
    std::uint64_t pushed() const { return feed_->pushed(); }

private:
    static std::uint64_t Pack(const ProfileScale &scale);
    static ProfileScale Unpack(std::uint64_t packed);

    const FeedSource kind_;
    const std::string name_;
    const std::shared_ptr<ProfileFeed> feed_;
    std::atomic<ScaleFunction> follow_{nullptr};
    std::atomic<std::uint64_t> fixedScale_; // packed, one value
    std::atomic<StreamHealth *> observing_{nullptr};

    mutable std::mutex mu_; // the members below (window thread and readers)
    std::optional<DescriptionBytes> description_;
    // Every set of statistics made, so that a producer still holding the
    // previous one never sees it freed (one per run: a few hundred bytes).
    std::deque<std::shared_ptr<StreamHealth>> statistics_;
};

// The sources the window has: the two live workers and the playback.
struct ProfileSources {
    std::shared_ptr<ProfileSource> tcp;
    std::shared_ptr<ProfileSource> udp;
    std::shared_ptr<ProfileSource> playback;
    static ProfileSources Create(ProfileSource::ScaleFunction liveScale);
};

} // namespace qz417
