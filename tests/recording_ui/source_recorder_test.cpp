// The source recorder without a window: every profile of its source reaches
// the file in order through the recorder's one queue, other sources stay
// out, a full queue is counted as dropped instead of blocking the producer,
// "Stop" returns at once while the file is finished in the background, the
// writer sleeps until a packet comes (no polling), a limit ends the
// recording, and a file that cannot be created leaves the source as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "model/recording/recording_file.h"
#include "recording/source_recorder.h"
#include "source/profile_source.h"
#include "wait.h"

namespace {

namespace rec = qz417::recording;

// A packet whose bytes all follow from n.
std::vector<std::uint8_t> PacketNumber(std::uint32_t n) {
    std::vector<std::uint8_t> p(qz417::kFeedPacketSize);
    for (std::size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<std::uint8_t>((i * 7 + n * 13) & 0xFF);
    return p;
}

class TempPath {
public:
    explicit TempPath(const char *name)
        : path_(std::filesystem::temp_directory_path() /
                (std::string("source_recorder_") + std::to_string(::getpid()) + "_" + name)) {}
    ~TempPath() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Waits (at most 10 s) until `done` holds for the recorder's status.
template <typename Done> rec::RecorderStatus WaitFor(const qz417::SourceRecorder &r, Done done) {
    rec::RecorderStatus s = r.Status();
    qz417::test::WaitUntil(
        [&] {
            s = r.Status();
            return done(s);
        },
        std::chrono::seconds(10));
    return s;
}

// Waits (at most 10 s) until the recording has ended.
rec::RecorderStatus WaitForEnd(const qz417::SourceRecorder &r) {
    return WaitFor(
        r, [](const rec::RecorderStatus &s) { return s.state != rec::RecorderState::Recording; });
}

std::shared_ptr<qz417::ProfileSource> Source(qz417::FeedSource kind) {
    return std::make_shared<qz417::ProfileSource>(kind, "test");
}

long VoluntarySwitches() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw;
}

TEST(SourceRecorder, RecordsEveryProfileOfItsSourceInOrder) {
    auto udp = Source(qz417::FeedSource::Udp);
    auto tcp = Source(qz417::FeedSource::TcpResult);
    TempPath file("order.qzrec");
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    std::string error;
    ASSERT_TRUE(recorder.Start(udp, settings, &error)) << error;
    EXPECT_EQ(udp->feed()->subscriberCount(), 1);
    EXPECT_EQ(tcp->feed()->subscriberCount(), 0);

    // Pushed without a pause: the one queue holds them all, none is lost.
    constexpr std::uint32_t kCount = 3000;
    std::vector<qz417::ReceiveTime> times;
    for (std::uint32_t n = 0; n < kCount; ++n) {
        const auto p = PacketNumber(n);
        const qz417::ReceiveTime t{1000 + static_cast<std::int64_t>(n) * 1000,
                                   5000 + static_cast<std::int64_t>(n)};
        udp->Push(p.data(), t);
        times.push_back(t);
        // Another worker's profiles are not this recording's.
        if (n % 10 == 0)
            tcp->Push(PacketNumber(999999).data(), t);
    }
    recorder.StopAndWait();
    EXPECT_EQ(udp->feed()->subscriberCount(), 0);
    const rec::RecorderStatus s = recorder.Status();
    EXPECT_EQ(s.state, rec::RecorderState::Finished);
    EXPECT_EQ(s.dropped, 0u);
    EXPECT_EQ(s.written, kCount);

    rec::RecordingReader reader(file.str());
    ASSERT_EQ(reader.profiles(), kCount);
    std::vector<std::uint8_t> packets(kCount * qz417::kFeedPacketSize);
    std::vector<rec::ReceiveTime> read(kCount);
    reader.Read(0, kCount, packets.data(), read.data());
    for (std::uint32_t n = 0; n < kCount; ++n) {
        const auto expected = PacketNumber(n);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                               packets.begin() + n * qz417::kFeedPacketSize))
            << "profile " << n;
        ASSERT_EQ(read[n], times[n]) << n;
    }
}

TEST(SourceRecorder, RepeatedRepliesOfTheResultWorkerAreRecordedOnce) {
    auto tcp = Source(qz417::FeedSource::TcpResult);
    TempPath file("repeats.qzrec");
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    std::string error;
    ASSERT_TRUE(recorder.Start(tcp, settings, &error)) << error;
    // Profiles 0, 0, 0, 1, 1, 2, 0 (a later, equal profile is a new one), 3.
    const std::uint32_t sequence[] = {0, 0, 0, 1, 1, 2, 0, 3};
    for (std::uint32_t n : sequence)
        tcp->PushNow(PacketNumber(n).data());
    recorder.StopAndWait();
    rec::RecordingReader reader(file.str());
    ASSERT_EQ(reader.profiles(), 5u);
    std::vector<std::uint8_t> packets(5 * qz417::kFeedPacketSize);
    reader.Read(0, 5, packets.data(), nullptr);
    const std::uint32_t expected[] = {0, 1, 2, 0, 3};
    for (std::size_t i = 0; i < 5; ++i) {
        const auto p = PacketNumber(expected[i]);
        EXPECT_TRUE(std::equal(p.begin(), p.end(), packets.begin() + i * qz417::kFeedPacketSize))
            << i;
    }
}

TEST(SourceRecorder, AFullQueueCountsDropsAndTheStopReturnsAtOnce) {
    auto udp = Source(qz417::FeedSource::Udp);
    TempPath file("drops.qzrec");
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    settings.queueCapacity = 4;
    std::string error;
    ASSERT_TRUE(recorder.Start(udp, settings, &error)) << error;
    constexpr std::uint32_t kCount = 20000;
    const auto p = PacketNumber(1);
    for (std::uint32_t n = 0; n < kCount; ++n)
        udp->PushNow(p.data());
    // Stopped with the queue full: no packet is taken any more, the call
    // does not wait for the disk.
    const auto before = std::chrono::steady_clock::now();
    recorder.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
    udp->PushNow(p.data()); // after the stop: not this recording's
    const rec::RecorderStatus s = WaitForEnd(recorder);
    EXPECT_EQ(s.state, rec::RecorderState::Finished);
    EXPECT_FALSE(s.finishing);
    EXPECT_GT(s.dropped, 0u);
    // Every pushed profile is either in the file or counted as dropped.
    EXPECT_EQ(s.written + s.dropped, kCount);
    rec::RecordingReader reader(file.str());
    EXPECT_EQ(reader.profiles(), s.written);
}

TEST(SourceRecorder, StopReportsFinishingUntilTheFileIsClosed) {
    auto udp = Source(qz417::FeedSource::Udp);
    TempPath file("finishing.qzrec");
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    std::string error;
    ASSERT_TRUE(recorder.Start(udp, settings, &error)) << error;
    // A full ring for the writer to finish after the stop.
    for (std::uint32_t n = 0; n < 8000; ++n)
        udp->PushNow(PacketNumber(n).data());
    recorder.Stop();
    const rec::RecorderStatus first = recorder.Status();
    EXPECT_TRUE(first.state == rec::RecorderState::Finished || first.finishing);
    std::string second;
    if (first.state == rec::RecorderState::Recording) {
        EXPECT_FALSE(recorder.Start(udp, settings, &second)); // still finishing
    }
    const rec::RecorderStatus s = WaitForEnd(recorder);
    EXPECT_EQ(s.state, rec::RecorderState::Finished);
    EXPECT_EQ(s.reason, rec::StopReason::Requested);
    EXPECT_EQ(s.written + s.dropped, 8000u);
    EXPECT_EQ(rec::RecordingReader(file.str()).profiles(), s.written);
}

TEST(SourceRecorder, TheWriterSleepsUntilAPacketComes) {
    auto udp = Source(qz417::FeedSource::Udp);
    TempPath file("sleeps.qzrec");
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    settings.flushInterval = std::chrono::milliseconds(60'000); // no flush wakes it
    std::string error;
    ASSERT_TRUE(recorder.Start(udp, settings, &error)) << error;
    // Idle: a writer that looked every millisecond would switch hundreds of
    // times in 300 ms; one that sleeps does not switch at all.
    const long before = VoluntarySwitches();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(VoluntarySwitches() - before, 30);
    // A packet wakes it at once.
    for (std::uint32_t n = 0; n < 3; ++n) {
        udp->PushNow(PacketNumber(n).data());
        const rec::RecorderStatus s =
            WaitFor(recorder, [n](const rec::RecorderStatus &st) { return st.written == n + 1; });
        EXPECT_EQ(s.written, n + 1);
    }
    recorder.StopAndWait();
    EXPECT_EQ(rec::RecordingReader(file.str()).profiles(), 3u);
}

TEST(SourceRecorder, ADurationLimitWakesASleepingWriter) {
    auto udp = Source(qz417::FeedSource::Udp);
    TempPath file("duration.qzrec");
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    settings.limits.seconds = 0.3;
    std::string error;
    ASSERT_TRUE(recorder.Start(udp, settings, &error)) << error;
    udp->PushNow(PacketNumber(1).data());
    // No packet after the first: the limit alone ends the recording, on time.
    const auto start = std::chrono::steady_clock::now();
    const rec::RecorderStatus s = WaitForEnd(recorder);
    EXPECT_EQ(s.state, rec::RecorderState::Finished);
    EXPECT_EQ(s.reason, rec::StopReason::DurationLimit);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(rec::RecordingReader(file.str()).profiles(), 1u);
}

TEST(SourceRecorder, ACountLimitEndsTheRecordingAndALaterOneStarts) {
    auto udp = Source(qz417::FeedSource::Udp);
    TempPath file("limit.qzrec");
    TempPath second("limit2.qzrec");
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = file.str();
    settings.limits.profiles = 100;
    std::string error;
    ASSERT_TRUE(recorder.Start(udp, settings, &error)) << error;
    for (std::uint32_t n = 0; n < 1000; ++n)
        udp->PushNow(PacketNumber(n).data());
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
    ASSERT_TRUE(recorder.Start(udp, settings, &error)) << error;
    EXPECT_EQ(udp->feed()->subscriberCount(), 1);
    recorder.StopAndWait();
}

TEST(SourceRecorder, AFileThatCannotBeCreatedLeavesTheSourceAlone) {
    auto udp = Source(qz417::FeedSource::Udp);
    qz417::SourceRecorder recorder;
    rec::RecorderSettings settings;
    settings.path = "/nonexistent-directory-of-qz417/rec.qzrec";
    std::string error;
    EXPECT_FALSE(recorder.Start(udp, settings, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(udp->feed()->subscriberCount(), 0);
    EXPECT_FALSE(recorder.Running());
    udp->PushNow(PacketNumber(1).data()); // nobody listens; no harm
}

TEST(SourceRecorder, AnnouncementBytesKeepTheWireLayout) {
    std::uint8_t ip[4] = {127, 0, 0, 1};
    std::uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    std::uint8_t description[255] = {};
    description[0] = 'Q';
    description[254] = 0x7F;
    const rec::Announcement a = qz417::AnnouncementBytes(0x01A1, ip, mac, description);
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
