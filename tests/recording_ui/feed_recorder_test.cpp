// The feed recorder without a window: every profile of its source that the
// feed delivers reaches the file in order, other sources stay out, a full
// queue is counted as dropped instead of blocking the producer, a limit ends
// the recording, and a file that cannot be created leaves the feed as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "feed/profile_feed.h"
#include "model/recording/recording_file.h"
#include "recording/feed_recorder.h"

namespace {

namespace rec = qz::recording;

// A packet whose bytes all follow from n.
std::vector<std::uint8_t> PacketNumber(std::uint32_t n) {
    std::vector<std::uint8_t> p(qz::kFeedPacketSize);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint8_t>((i * 7 + n * 13) & 0xFF);
    return p;
}

class TempPath {
public:
    explicit TempPath(const char *name)
        : path_(std::filesystem::temp_directory_path() /
                (std::string("feed_recorder_") + std::to_string(::getpid()) + "_" + name)) {}
    ~TempPath() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Waits (at most 10 s) until the recording has ended by itself.
rec::RecorderStatus WaitForEnd(const qz::FeedRecorder &r) {
    for (int i = 0; i < 1000; ++i) {
        rec::RecorderStatus s = r.Status();
        if (s.state != rec::RecorderState::Recording)
            return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return r.Status();
}

TEST(FeedRecorder, RecordsEveryProfileOfItsSourceInOrder) {
    auto feed = qz::ProfileFeed::Create();
    TempPath file("order.qzrec");
    qz::FeedRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    std::string error;
    ASSERT_TRUE(recorder.Start(feed, qz::FeedSource::Udp, settings, &error)) << error;
    EXPECT_EQ(feed->subscriberCount(), 1);

    constexpr std::uint32_t kCount = 3000;
    std::vector<qz::FeedTime> times;
    for (std::uint32_t n = 0; n < kCount; ++n) {
        const auto p = PacketNumber(n);
        const qz::FeedTime t{1000 + static_cast<std::int64_t>(n) * 1000,
                             5000 + static_cast<std::int64_t>(n)};
        feed->Push(p.data(), qz::FeedSource::Udp, t);
        times.push_back(t);
        // Another worker's profiles are not this recording's.
        if (n % 10 == 0)
            feed->Push(PacketNumber(999999).data(), qz::FeedSource::TcpResult, t);
        if (n % 500 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20)); // lets the drain keep up
    }
    recorder.Stop();
    EXPECT_EQ(feed->subscriberCount(), 0);
    const rec::RecorderStatus s = recorder.Status();
    EXPECT_EQ(s.state, rec::RecorderState::Finished);
    EXPECT_EQ(s.dropped, 0u);
    EXPECT_EQ(s.written, kCount);

    rec::RecordingReader reader(file.str());
    ASSERT_EQ(reader.profiles(), kCount);
    std::vector<std::uint8_t> packets(kCount * qz::kFeedPacketSize);
    std::vector<rec::ReceiveTime> read(kCount);
    reader.Read(0, kCount, packets.data(), read.data());
    for (std::uint32_t n = 0; n < kCount; ++n) {
        const auto expected = PacketNumber(n);
        ASSERT_TRUE(
            std::equal(expected.begin(), expected.end(), packets.begin() + n * qz::kFeedPacketSize))
            << "profile " << n;
        ASSERT_EQ(read[n].monotonicNs, times[n].monotonicNs) << n;
        ASSERT_EQ(read[n].wallNs, times[n].wallNs) << n;
    }
}

TEST(FeedRecorder, RepeatedRepliesOfTheResultWorkerAreRecordedOnce) {
    auto feed = qz::ProfileFeed::Create();
    TempPath file("repeats.qzrec");
    qz::FeedRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    std::string error;
    ASSERT_TRUE(recorder.Start(feed, qz::FeedSource::TcpResult, settings, &error)) << error;
    // Profiles 0, 0, 0, 1, 1, 2, 0 (a later, equal profile is a new one), 3.
    const std::uint32_t sequence[] = {0, 0, 0, 1, 1, 2, 0, 3};
    for (std::uint32_t n : sequence)
        feed->PushNow(PacketNumber(n).data(), qz::FeedSource::TcpResult);
    feed->PushNow(PacketNumber(7).data(), qz::FeedSource::Udp); // not this page's
    recorder.Stop();
    rec::RecordingReader reader(file.str());
    ASSERT_EQ(reader.profiles(), 5u);
    std::vector<std::uint8_t> packets(5 * qz::kFeedPacketSize);
    reader.Read(0, 5, packets.data(), nullptr);
    const std::uint32_t expected[] = {0, 1, 2, 0, 3};
    for (std::size_t i = 0; i < 5; ++i) {
        const auto p = PacketNumber(expected[i]);
        EXPECT_TRUE(std::equal(p.begin(), p.end(), packets.begin() + i * qz::kFeedPacketSize)) << i;
    }
}

TEST(FeedRecorder, AFullQueueCountsDropsAndNeverBlocksTheProducer) {
    auto feed = qz::ProfileFeed::Create();
    TempPath file("drops.qzrec");
    qz::FeedRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    settings.queueCapacity = 4;
    std::string error;
    ASSERT_TRUE(recorder.Start(feed, qz::FeedSource::Udp, settings, &error, 4)) << error;
    constexpr std::uint32_t kCount = 20000;
    const auto p = PacketNumber(1);
    for (std::uint32_t n = 0; n < kCount; ++n)
        feed->Push(p.data(), qz::FeedSource::Udp, qz::FeedTime::Now());
    recorder.Stop();
    const rec::RecorderStatus s = recorder.Status();
    EXPECT_GT(s.dropped, 0u);
    // Every pushed profile is either in the file or counted as dropped.
    EXPECT_EQ(s.written + s.dropped, kCount);
    rec::RecordingReader reader(file.str());
    EXPECT_EQ(reader.profiles(), s.written);
}

TEST(FeedRecorder, ACountLimitEndsTheRecordingAndALaterOneStarts) {
    auto feed = qz::ProfileFeed::Create();
    TempPath file("limit.qzrec");
    TempPath second("limit2.qzrec");
    qz::FeedRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    settings.limits.profiles = 100;
    std::string error;
    ASSERT_TRUE(recorder.Start(feed, qz::FeedSource::Udp, settings, &error)) << error;
    for (std::uint32_t n = 0; n < 1000; ++n) {
        feed->Push(PacketNumber(n).data(), qz::FeedSource::Udp, qz::FeedTime::Now());
        if (n % 100 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const rec::RecorderStatus s = WaitForEnd(recorder);
    EXPECT_EQ(s.state, rec::RecorderState::Finished);
    EXPECT_EQ(s.reason, rec::StopReason::CountLimit);
    EXPECT_EQ(s.written, 100u);
    {
        rec::RecordingReader reader(file.str());
        EXPECT_EQ(reader.profiles(), 100u);
    }
    // Ended by itself, it does not stand in the way of the next recording.
    settings.path = second.str();
    settings.limits = {};
    ASSERT_TRUE(recorder.Start(feed, qz::FeedSource::Udp, settings, &error)) << error;
    EXPECT_EQ(feed->subscriberCount(), 1);
    recorder.Stop();
}

TEST(FeedRecorder, AFileThatCannotBeCreatedLeavesTheFeedAlone) {
    auto feed = qz::ProfileFeed::Create();
    qz::FeedRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = "/nonexistent-directory-of-qz417/rec.qzrec";
    std::string error;
    EXPECT_FALSE(recorder.Start(feed, qz::FeedSource::Udp, settings, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(feed->subscriberCount(), 0);
    EXPECT_FALSE(recorder.Running());
    feed->PushNow(PacketNumber(1).data(), qz::FeedSource::Udp); // nobody listens; no harm
}

TEST(FeedRecorder, AnnouncementBytesKeepTheWireLayout) {
    std::uint8_t ip[4] = {127, 0, 0, 1};
    std::uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    std::uint8_t description[255] = {};
    description[0] = 'Q';
    description[254] = 0x7F;
    const rec::Announcement a = qz::AnnouncementBytes(0x01A1, ip, mac, description);
    EXPECT_EQ(a[0], 0xA1);
    EXPECT_EQ(a[1], 0x01);
    EXPECT_EQ(a[2], 127);
    EXPECT_EQ(a[5], 1);
    EXPECT_EQ(a[6], 1);
    EXPECT_EQ(a[11], 6);
    EXPECT_EQ(a[12], 'Q');
    EXPECT_EQ(a[266], 0x7F);
    EXPECT_EQ(a[267], 0);
}

} // namespace
