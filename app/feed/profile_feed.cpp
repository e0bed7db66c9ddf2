#include "feed/profile_feed.h"

#include <cstring>
#include <thread>

namespace qz417 {

// ---- FeedQueue: a ring of slots, each with a turn number that says whether
// the slot is free for push number n (turn == n) or holds it for the pop
// (turn == n + 1). Producers claim a push number with a compare-exchange on
// head_; nobody ever waits for another thread.

namespace {
std::size_t RoundUp(std::size_t n) {
    std::size_t c = 2;
    while (c < n)
        c <<= 1;
    return c;
}
} // namespace

FeedQueue::FeedQueue(std::size_t capacity)
    : slots_(std::make_unique<Slot[]>(RoundUp(capacity))), mask_(RoundUp(capacity) - 1) {
    for (std::size_t i = 0; i <= mask_; ++i)
        slots_[i].turn.store(i, std::memory_order_relaxed);
}

bool FeedQueue::TryPush(const FeedPacket &packet) {
    std::size_t pos = head_.load(std::memory_order_relaxed);
    for (;;) {
        Slot &slot = slots_[pos & mask_];
        const std::size_t turn = slot.turn.load(std::memory_order_acquire);
        const auto diff = static_cast<std::ptrdiff_t>(turn - pos);
        if (diff == 0) {
            if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                slot.packet = packet;
                slot.turn.store(pos + 1, std::memory_order_release);
                return true;
            }
        } else if (diff < 0) {
            return false; // the slot still holds a packet a lap behind: full
        } else {
            pos = head_.load(std::memory_order_relaxed);
        }
    }
}

bool FeedQueue::TryPop(FeedPacket &out) {
    std::size_t pos = tail_.load(std::memory_order_relaxed);
    for (;;) {
        Slot &slot = slots_[pos & mask_];
        const std::size_t turn = slot.turn.load(std::memory_order_acquire);
        const auto diff = static_cast<std::ptrdiff_t>(turn - (pos + 1));
        if (diff == 0) {
            if (tail_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                out = slot.packet;
                slot.turn.store(pos + mask_ + 1, std::memory_order_release);
                return true;
            }
        } else if (diff < 0) {
            return false; // empty
        } else {
            pos = tail_.load(std::memory_order_relaxed);
        }
    }
}

// ---- subscriptions

FeedSubscription::FeedSubscription(std::shared_ptr<ProfileFeed> feed, std::size_t capacity,
                                   int slot, FeedSink *sink)
    : feed_(std::move(feed)), sink_(sink), queue_(sink != nullptr ? 2 : capacity), slot_(slot) {}

FeedSubscription::~FeedSubscription() {
    feed_->Unsubscribe(slot_);
}

std::shared_ptr<ProfileFeed> ProfileFeed::Create() {
    return std::shared_ptr<ProfileFeed>(new ProfileFeed());
}

std::unique_ptr<FeedSubscription> ProfileFeed::Subscribe(std::size_t capacity) {
    return Add(capacity, nullptr);
}

std::unique_ptr<FeedSubscription> ProfileFeed::Subscribe(FeedSink *sink) {
    return sink != nullptr ? Add(0, sink) : nullptr;
}

std::unique_ptr<FeedSubscription> ProfileFeed::Add(std::size_t capacity, FeedSink *sink) {
    std::lock_guard<std::mutex> lock(subscribeMutex_);
    for (int i = 0; i < kMaxSubscribers; ++i) {
        auto &slot = slots_[static_cast<std::size_t>(i)];
        if (slot.load() != nullptr)
            continue;
        std::unique_ptr<FeedSubscription> s(
            new FeedSubscription(shared_from_this(), capacity, i, sink));
        slot.store(s.get());
        return s;
    }
    return nullptr;
}

void ProfileFeed::Unsubscribe(int slot) {
    std::lock_guard<std::mutex> lock(subscribeMutex_);
    slots_[static_cast<std::size_t>(slot)].store(nullptr);
    // A push that read the slot before it was cleared counted itself in
    // pushing_ first; once none is inside, none can still reach the queue.
    // Pushes take microseconds, so this wait is short and bounded.
    while (pushing_.load() != 0)
        std::this_thread::yield();
}

int ProfileFeed::subscriberCount() const {
    int n = 0;
    for (const auto &slot : slots_)
        n += slot.load() != nullptr ? 1 : 0;
    return n;
}

void ProfileFeed::Push(const std::uint8_t *packet, FeedSource source, ReceiveTime time,
                       const ProfileScale &scale) {
    pushing_.fetch_add(1);
    FeedPacket p;
    std::memcpy(p.bytes.data(), packet, kFeedPacketSize);
    p.time = time;
    p.scale = scale;
    p.source = source;
    p.sequence = sequence_.fetch_add(1, std::memory_order_relaxed);
    for (auto &slot : slots_) {
        FeedSubscription *s = slot.load();
        if (s == nullptr)
            continue;
        if (s->sink_ != nullptr) {
            s->sink_->Take(p);
            s->delivered_.fetch_add(1, std::memory_order_relaxed);
        } else if (s->queue_.TryPush(p))
            s->delivered_.fetch_add(1, std::memory_order_relaxed);
        else
            s->dropped_.fetch_add(1, std::memory_order_relaxed);
    }
    pushing_.fetch_sub(1);
}

} // namespace qz417
