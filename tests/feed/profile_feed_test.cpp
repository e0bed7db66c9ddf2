// The profile feed: every packet handed over in order while the consumer
// keeps up, drops counted per subscriber when it does not, producers never
// blocked, subscribers coming and going while packets flow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "feed/profile_feed.h"

namespace qz417 {
namespace {

using namespace std::chrono_literals;

// Producer id in byte 0, a 32-bit number in bytes 4..7, the rest a pattern.
std::array<std::uint8_t, kFeedPacketSize> Packet(std::uint8_t producer, std::uint32_t n) {
    std::array<std::uint8_t, kFeedPacketSize> p{};
    p[0] = producer;
    std::memcpy(&p[4], &n, 4);
    p[kFeedPacketSize - 1] = static_cast<std::uint8_t>(n * 7);
    return p;
}

std::uint32_t NumberOf(const FeedPacket &p) {
    std::uint32_t n = 0;
    std::memcpy(&n, &p.bytes[4], 4);
    return n;
}

TEST(ProfileFeed, ConsumerThatKeepsUpGetsEveryPacketInOrder) {
    // As the window meets a 20 kHz stream: a queue of thousands, drained
    // every millisecond or so; a stall of the consumer shorter than the
    // queue's slack (0.4 s here) loses nothing.
    auto feed = ProfileFeed::Create();
    auto sub = feed->Subscribe(8192);
    constexpr std::uint32_t kCount = 20000;
    std::atomic<bool> producerDone{false};
    std::thread producer([&] {
        for (std::uint32_t n = 0; n < kCount; ++n) {
            const auto p = Packet(1, n);
            feed->PushNow(p.data(), FeedSource::Udp);
            if (n % 10 == 9)
                std::this_thread::sleep_for(500us);
        }
        producerDone = true;
    });
    std::uint32_t expected = 0;
    std::uint64_t lastSequence = 0;
    std::int64_t lastMono = 0;
    bool inOrder = true;
    FeedPacket p;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (inOrder && (!producerDone || expected < sub->delivered()) &&
           std::chrono::steady_clock::now() < deadline) {
        while (inOrder && sub->Pop(p)) {
            inOrder =
                NumberOf(p) == expected &&
                p.bytes[kFeedPacketSize - 1] == static_cast<std::uint8_t>(expected * 7) &&
                (expected == 0 || (p.sequence > lastSequence && p.time.monotonicNs >= lastMono));
            lastSequence = p.sequence;
            lastMono = p.time.monotonicNs;
            ++expected;
        }
        std::this_thread::sleep_for(1ms);
    }
    producer.join();
    EXPECT_TRUE(inOrder) << "packet " << expected - 1;
    EXPECT_EQ(sub->dropped(), 0u);
    EXPECT_EQ(expected, kCount);
    EXPECT_EQ(sub->delivered(), kCount);
    EXPECT_EQ(feed->pushed(), kCount);
}

TEST(ProfileFeed, FullQueueDropsForThatSubscriberOnlyAndKeepsTheOldest) {
    auto feed = ProfileFeed::Create();
    auto small = feed->Subscribe(16);
    auto large = feed->Subscribe(200);
    ASSERT_EQ(small->capacity(), 16u);
    ASSERT_GE(large->capacity(), 200u);
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t n = 0; n < 100; ++n) {
        const auto p = Packet(1, n);
        feed->PushNow(p.data(), FeedSource::TcpResult);
    }
    // Nobody drained, yet no push waited.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(small->delivered(), 16u);
    EXPECT_EQ(small->dropped(), 84u);
    EXPECT_EQ(large->delivered(), 100u);
    EXPECT_EQ(large->dropped(), 0u);
    FeedPacket p;
    for (std::uint32_t n = 0; n < 16; ++n) {
        ASSERT_TRUE(small->Pop(p));
        EXPECT_EQ(NumberOf(p), n);
        EXPECT_EQ(p.source, FeedSource::TcpResult);
    }
    EXPECT_FALSE(small->Pop(p));
    // Room again: the next push is taken.
    const auto next = Packet(1, 100);
    feed->PushNow(next.data(), FeedSource::TcpResult);
    ASSERT_TRUE(small->Pop(p));
    EXPECT_EQ(NumberOf(p), 100u);
}

TEST(ProfileFeed, TwoProducersKeepTheirOwnOrder) {
    auto feed = ProfileFeed::Create();
    auto sub = feed->Subscribe(1 << 16); // room for everything: nothing may be lost
    constexpr std::uint32_t kEach = 15000;
    auto produce = [&](std::uint8_t id) {
        for (std::uint32_t n = 0; n < kEach; ++n) {
            const auto p = Packet(id, n);
            feed->PushNow(p.data(), id == 1 ? FeedSource::TcpResult : FeedSource::Udp);
        }
    };
    std::thread a(produce, 1), b(produce, 2);
    std::uint32_t next[3] = {0, 0, 0};
    bool inOrder = true;
    FeedPacket p;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (inOrder && next[1] + next[2] < 2 * kEach &&
           std::chrono::steady_clock::now() < deadline) {
        while (inOrder && sub->Pop(p)) {
            const std::uint8_t id = p.bytes[0] == 1 ? 1 : 2;
            inOrder = NumberOf(p) == next[id] &&
                      p.source == (id == 1 ? FeedSource::TcpResult : FeedSource::Udp);
            ++next[id];
        }
    }
    a.join();
    b.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next[1], kEach);
    EXPECT_EQ(next[2], kEach);
    EXPECT_EQ(sub->dropped(), 0u);
}

TEST(ProfileFeed, SubscribersComeAndGoWhilePacketsFlow) {
    auto feed = ProfileFeed::Create();
    std::atomic<bool> stop{false};
    std::atomic<std::uint32_t> pushed{0};
    std::thread producer([&] {
        std::uint32_t n = 0;
        while (!stop) {
            const auto p = Packet(1, n++);
            feed->PushNow(p.data(), FeedSource::Udp);
            pushed = n;
        }
    });
    for (int round = 0; round < 200; ++round) {
        auto sub = feed->Subscribe(64);
        if (!sub) {
            ADD_FAILURE() << "no subscription";
            break;
        }
        std::this_thread::sleep_for(20us);
        FeedPacket p;
        std::uint32_t last = 0;
        bool first = true;
        while (sub->Pop(p)) {
            if (!first && NumberOf(p) <= last)
                ADD_FAILURE() << NumberOf(p) << " after " << last;
            last = NumberOf(p);
            first = false;
        }
    } // each subscription ends here, with the producer running
    stop = true;
    producer.join();
    EXPECT_GT(pushed.load(), 0u);
    EXPECT_EQ(feed->subscriberCount(), 0);
}

TEST(ProfileFeed, SubscribersAreLimitedAndTimesAreStamped) {
    auto feed = ProfileFeed::Create();
    std::vector<std::unique_ptr<FeedSubscription>> subs;
    for (int i = 0; i < ProfileFeed::kMaxSubscribers; ++i)
        subs.push_back(feed->Subscribe(4));
    EXPECT_EQ(feed->Subscribe(4), nullptr);
    subs.pop_back(); // a released place is taken again
    subs.push_back(feed->Subscribe(4));
    EXPECT_NE(subs.back(), nullptr);
    EXPECT_EQ(feed->subscriberCount(), ProfileFeed::kMaxSubscribers);
    subs.clear();
    auto sub = feed->Subscribe(4);
    ASSERT_NE(sub, nullptr);
    const auto before = ReceiveTime::Now();
    const auto p = Packet(1, 1);
    feed->PushNow(p.data(), FeedSource::Playback);
    ReceiveTime given{123, 456};
    feed->Push(p.data(), FeedSource::Playback, given);
    FeedPacket out;
    ASSERT_TRUE(sub->Pop(out));
    EXPECT_GE(out.time.monotonicNs, before.monotonicNs);
    EXPECT_LT(out.time.wallNs - before.wallNs, 1'000'000'000);
    EXPECT_GE(out.time.wallNs, before.wallNs);
    EXPECT_EQ(out.source, FeedSource::Playback);
    ASSERT_TRUE(sub->Pop(out));
    EXPECT_EQ(out.time.monotonicNs, 123);
    EXPECT_EQ(out.time.wallNs, 456);
}

} // namespace
} // namespace qz417
