// The hand-over of received profiles from the acquisition threads to whoever
// wants every one of them (the surface view, a recorder). Pure C++, no Qt.
// Each source of profiles (app/source) owns a feed of its own, so a
// subscriber sees the packets of the one source it subscribed to.
//
// A producer (a worker thread, right after a packet arrived) pushes the
// packet by value with its receive time. Every subscriber has a bounded queue
// of its own; a push copies the packet into each queue that has room and
// counts a drop on each that is full. A push never blocks, never allocates
// and never touches the disk, so the acquisition thread never waits on a
// subscriber. Each subscriber drains its queue on its own thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "model/profile_packet.h"
#include "model/recording/recording_format.h"

namespace qz417 {

constexpr std::size_t kFeedPacketSize = 4100;

// Where a packet came from.
enum class FeedSource : std::uint8_t {
    TcpResult = 1, // the TCP result worker
    Udp = 2,       // the UDP result worker
    Playback = 3,  // a recording played back
};

// When a packet was received: nanoseconds of the monotonic clock (for
// intervals) and of the wall clock (for a date stamp); the same struct the
// recording file keeps.
using ReceiveTime = recording::ReceiveTime;

struct FeedPacket {
    std::array<std::uint8_t, kFeedPacketSize> bytes{};
    ReceiveTime time;
    // The scale the profile was measured under: travels with the packet, so
    // a view never decodes it with the scale of another source.
    ProfileScale scale;
    FeedSource source = FeedSource::Udp;
    // Order of the push across all producers of one feed, from 0.
    std::uint64_t sequence = 0;
};

// A bounded queue, many producers, one consumer, lock-free: a full queue
// refuses the push instead of waiting.
class FeedQueue {
public:
    explicit FeedQueue(std::size_t capacity); // rounded up to a power of two, at least 2
    FeedQueue(const FeedQueue &) = delete;
    FeedQueue &operator=(const FeedQueue &) = delete;

    bool TryPush(const FeedPacket &packet);
    bool TryPop(FeedPacket &out);
    std::size_t capacity() const { return mask_ + 1; }

private:
    struct Slot {
        std::atomic<std::size_t> turn{0};
        FeedPacket packet;
    };
    std::unique_ptr<Slot[]> slots_;
    std::size_t mask_;
    alignas(64) std::atomic<std::size_t> head_{0}; // next push
    alignas(64) std::atomic<std::size_t> tail_{0}; // next pop
};

class ProfileFeed;

// A subscriber that takes each packet on the producer's thread instead of
// through a queue (a recorder with a bounded ring of its own). Take must
// never block, allocate or touch the disk; it is called by one producer at
// a time.
class FeedSink {
public:
    virtual void Take(const FeedPacket &packet) noexcept = 0;

protected:
    ~FeedSink() = default;
};

// One subscriber's queue (or sink). Dropping the subscription unsubscribes it; after
// that no producer touches the queue any more.
class FeedSubscription {
public:
    ~FeedSubscription();
    FeedSubscription(const FeedSubscription &) = delete;
    FeedSubscription &operator=(const FeedSubscription &) = delete;

    // Takes the oldest packet; false when the queue is empty (always for a
    // sink).
    bool Pop(FeedPacket &out) { return sink_ == nullptr && queue_.TryPop(out); }
    // Packets handed to this queue, and packets refused because it was full.
    std::uint64_t delivered() const { return delivered_.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
    std::size_t capacity() const { return queue_.capacity(); }

private:
    friend class ProfileFeed;
    FeedSubscription(std::shared_ptr<ProfileFeed> feed, std::size_t capacity, int slot,
                     FeedSink *sink);

    std::shared_ptr<ProfileFeed> feed_;
    FeedSink *sink_;
    FeedQueue queue_; // of 2 slots for a sink
    int slot_;
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

class ProfileFeed : public std::enable_shared_from_this<ProfileFeed> {
public:
    static constexpr int kMaxSubscribers = 8;

    static std::shared_ptr<ProfileFeed> Create();

    // A new subscriber with a queue of at least `capacity` packets; null when
    // kMaxSubscribers are subscribed already. Call from any thread but a
    // producer's.
    std::unique_ptr<FeedSubscription> Subscribe(std::size_t capacity);
    // A subscriber whose sink takes every packet on the producer's thread;
    // the sink must outlive the subscription.
    std::unique_ptr<FeedSubscription> Subscribe(FeedSink *sink);

    // From any producer thread, never blocking: copies the packet
    // (kFeedPacketSize bytes) with the scale it was measured under into
    // every subscriber's queue, or hands it to the subscriber's sink.
    void Push(const std::uint8_t *packet, FeedSource source, ReceiveTime time,
              const ProfileScale &scale = ProfileScale{});
    // The same, stamped with the time of the call.
    void PushNow(const std::uint8_t *packet, FeedSource source,
                 const ProfileScale &scale = ProfileScale{}) {
        Push(packet, source, ReceiveTime::Now(), scale);
    }

    // Packets pushed so far.
    std::uint64_t pushed() const { return sequence_.load(std::memory_order_relaxed); }
    int subscriberCount() const;

private:
    ProfileFeed() = default;
    friend class FeedSubscription;
    std::unique_ptr<FeedSubscription> Add(std::size_t capacity, FeedSink *sink);
    void Unsubscribe(int slot);

    std::array<std::atomic<FeedSubscription *>, kMaxSubscribers> slots_{};
    // Producers inside Push; an unsubscribe waits until it has seen none
    // after clearing the slot, so no push still holds the queue.
    std::atomic<int> pushing_{0};
    std::atomic<std::uint64_t> sequence_{0};
    std::mutex subscribeMutex_; // subscribers only, never taken by a push
};

} // namespace qz417
