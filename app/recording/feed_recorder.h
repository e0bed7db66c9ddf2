// Records the profiles of one source of the profile feed to a recording
// file. Pure C++, no Qt.
//
// The acquisition thread only pushes into the feed (never blocks, never
// touches the disk). A drain thread of this class takes the packets from its
// feed queue and hands them to a qz::recording::Recorder, whose writer thread
// writes them. Profiles lost on the way are counted, never waited for: those
// refused by the full feed queue and those refused by the recorder's full
// ring both show as dropped.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "feed/profile_feed.h"
#include "model/recording/recorder.h"

namespace qz {

class FeedRecorder {
public:
    FeedRecorder();
    ~FeedRecorder(); // stops
    FeedRecorder(const FeedRecorder &) = delete;
    FeedRecorder &operator=(const FeedRecorder &) = delete;

    // Subscribes to `feed` (profiles of `source` only) and starts recording.
    // The TCP result worker asks for the current result as fast as it can,
    // so it receives the same packet many times over: from that source a
    // packet equal byte for byte to the one before it is a repeat of the
    // same measurement and is not recorded again.
    // False with *error set when the file cannot be created, the feed has no
    // room for another subscriber, or a recording is running.
    bool Start(const std::shared_ptr<ProfileFeed> &feed, FeedSource source,
               const recording::RecorderSettings &settings, std::string *error,
               std::size_t feedQueueCapacity = 16384);

    // Everything received up to now is written and the file closed.
    void Stop();

    // The recorder's status; `dropped` adds the profiles the feed queue
    // refused. After a limit or an error the recording has ended by itself
    // (state Finished or Failed) and Stop only releases the subscription.
    recording::RecorderStatus Status() const;
    bool Running() const { return running_.load(std::memory_order_acquire); }

    // A parameter block written to the scanner while recording.
    void PushParameterBlock(const recording::ParameterBlock &block, std::int64_t wallNs) {
        recorder_.PushParameterBlock(block, wallNs);
    }

private:
    void Drain();
    bool DrainOnce(); // true when a packet was taken

    recording::Recorder recorder_;
    std::unique_ptr<FeedSubscription> subscription_;
    FeedSource source_ = FeedSource::Udp;
    bool skipRepeats_ = false;
    bool haveLast_ = false;
    std::array<std::uint8_t, kFeedPacketSize> last_{}; // drain thread only
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> feedDropped_{0}; // of the last subscription, kept after Stop
    std::thread thread_;
};

// The 268-byte announcement as the recording keeps it: type (little-endian),
// address, MAC, description, reserved byte.
recording::Announcement AnnouncementBytes(std::uint16_t type, const std::uint8_t (&ip)[4],
                                          const std::uint8_t (&mac)[6],
                                          const std::uint8_t (&description)[255]);

} // namespace qz
