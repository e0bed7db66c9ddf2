// The recording writer thread: it writes what the acquisition side pushed,
// in order; a full queue drops and counts instead of blocking; limits and
// write errors end the recording and keep what was written; a process
// killed mid-recording leaves a readable file.
#include "model/recording/recording_writer_thread.h"
#include "recording_test_support.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>
#include <vector>

namespace qz417::recording {
namespace {

using test::MakePacket;
using test::PacketCountOf;
using test::TempDir;
using namespace std::chrono_literals;

// Waits (bounded) until the recorder has ended by itself.
RecorderStatus WaitEnded(const RecordingWriterThread &r) {
    qz417::test::WaitUntil([&] { return r.Status().state != RecorderState::Recording; }, 10s);
    return r.Status();
}

// Every profile in the file is one that was pushed, in push order.
void ExpectIncreasingSyntheticProfiles(const std::string &path, std::uint64_t expected) {
    RecordingReader r(path);
    ASSERT_EQ(r.profiles(), expected);
    std::vector<std::uint8_t> all(r.profiles() * kPacketSize);
    r.Read(0, r.profiles(), all.data(), nullptr);
    long previous = -1;
    for (std::uint64_t i = 0; i < r.profiles(); ++i) {
        const std::uint8_t *p = all.data() + i * kPacketSize;
        const std::uint16_t c = PacketCountOf(p);
        ASSERT_GT(static_cast<long>(c), previous) << "profile " << i;
        const Packet original = MakePacket(c);
        ASSERT_TRUE(std::equal(original.begin(), original.end(), p)) << "profile " << i;
        previous = c;
    }
}

TEST(RecordingWriterThread, WritesEveryPushedProfileInOrderWithTheBlocksBetween) {
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("r.h5");
    s.header.parameterBlock = ParameterBlock{};
    std::string error;
    ASSERT_TRUE(rec.Start(s, &error)) << error;
    EXPECT_FALSE(rec.Start(s, &error));
    EXPECT_NE(error.find("already"), std::string::npos);
    std::vector<ReceiveTime> times;
    for (std::uint64_t i = 0; i < 5000; ++i) {
        if (i == 2000) {
            ParameterBlock b{};
            b[0] = 20;
            rec.PushParameterBlock(b, 99);
        }
        const Packet p = MakePacket(i);
        times.push_back({static_cast<std::int64_t>(i), static_cast<std::int64_t>(2 * i)});
        // The queue has room again soon.
        ASSERT_TRUE(
            qz417::test::WaitUntil([&] { return rec.Push(p.data(), times.back()); }, 10s, 100us))
            << "profile " << i << " found no room";
    }
    rec.Stop();
    const RecorderStatus st = rec.Status();
    EXPECT_EQ(st.state, RecorderState::Finished);
    EXPECT_EQ(st.reason, StopReason::Requested);
    EXPECT_EQ(st.written, 5000u);
    EXPECT_EQ(st.bytes, 5000u * kBytesPerProfile);
    EXPECT_EQ(st.lost, 0u);
    ExpectIncreasingSyntheticProfiles(s.path, 5000);

    RecordingReader r(s.path);
    EXPECT_EQ(r.endState(), EndState::Closed);
    std::vector<ReceiveTime> back(5000);
    r.Read(0, 5000, nullptr, back.data());
    EXPECT_EQ(back, times);
    const auto blocks = r.parameterBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].firstProfile, 0u);
    EXPECT_EQ(blocks[1].firstProfile, 2000u);
    EXPECT_EQ(blocks[1].block[0], 20);
    EXPECT_FALSE(rec.Push(MakePacket(1).data(), {})); // stopped: nothing taken
}

TEST(RecordingWriterThread, FullQueueDropsAndCountsInsteadOfBlocking) {
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("overflow.h5");
    s.queueCapacity = 2;
    std::string error;
    ASSERT_TRUE(rec.Start(s, &error)) << error;
    std::uint64_t taken = 0;
    for (std::uint64_t i = 0; i < 3000; ++i)
        taken += rec.Push(MakePacket(i).data(), {}) ? 1 : 0;
    rec.Stop();
    const RecorderStatus st = rec.Status();
    EXPECT_EQ(st.received, 3000u);
    EXPECT_GT(st.dropped, 0u);
    EXPECT_EQ(st.written, taken);
    EXPECT_EQ(st.written + st.dropped, st.received);
    EXPECT_EQ(st.lost, 0u); // dropped here is not lost on the network
    ExpectIncreasingSyntheticProfiles(s.path, taken);
    RecordingReader r(s.path);
    EXPECT_EQ(r.droppedProfiles(), st.dropped);
}

TEST(RecordingWriterThread, NetworkGapsCountAsLost) {
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("lost.h5");
    std::string error;
    ASSERT_TRUE(rec.Start(s, &error)) << error;
    for (std::uint64_t c : {65534u, 65535u, 2u, 3u, 10u})
        ASSERT_TRUE(rec.Push(MakePacket(c).data(), {}));
    rec.Stop();
    EXPECT_EQ(rec.Status().lost, 2u + 6u);
}

TEST(RecordingWriterThread, AScannerRestartIsNeitherLostNorLate) {
    // The scanner counted to 30009 and starts again from 0: the counts follow
    // it (qz417::StreamStats), so the gap after the restart still shows.
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("restart.h5");
    std::string error;
    ASSERT_TRUE(rec.Start(s, &error)) << error;
    for (std::uint64_t c = 30000; c < 30010; ++c)
        ASSERT_TRUE(rec.Push(MakePacket(c).data(), {}));
    for (std::uint64_t c : {0u, 1u, 2u, 5u, 6u, 4u})
        ASSERT_TRUE(rec.Push(MakePacket(c).data(), {}));
    rec.Stop();
    const RecorderStatus st = rec.Status();
    EXPECT_EQ(st.lost, 1u); // 3; 4 came late
    EXPECT_EQ(st.outOfOrder, 1u);
    EXPECT_EQ(st.restarts, 1u);
    EXPECT_EQ(st.written, 16u);
}

TEST(RecordingWriterThread, LimitsEndTheRecordingByThemselves) {
    TempDir dir;
    struct Case {
        RecordingLimits limits;
        StopReason reason;
        std::uint64_t written;
    };
    for (const Case &c : {Case{{0, 100, 0}, StopReason::CountLimit, 100},
                          Case{{0, 0, 50 * kBytesPerProfile + 10}, StopReason::SizeLimit, 50},
                          Case{{0, 80, 50 * kBytesPerProfile}, StopReason::SizeLimit, 50}}) {
        RecordingWriterThread rec;
        RecorderSettings s;
        s.path = dir.file("limit.h5");
        s.limits = c.limits;
        std::string error;
        ASSERT_TRUE(rec.Start(s, &error)) << error;
        for (std::uint64_t i = 0; i < 500; ++i) {
            const Packet p = MakePacket(i);
            qz417::test::WaitUntil(
                [&] {
                    return rec.Push(p.data(), {}) || rec.Status().dropped == 0 || !rec.Active();
                },
                10s, 100us);
        }
        const RecorderStatus st = WaitEnded(rec);
        EXPECT_EQ(st.state, RecorderState::Finished);
        EXPECT_EQ(st.reason, c.reason);
        EXPECT_EQ(st.written, c.written);
        rec.Stop();
        RecordingReader r(s.path);
        EXPECT_EQ(r.profiles(), c.written);
        EXPECT_EQ(r.endState(), EndState::Closed);
    }
}

TEST(RecordingWriterThread, DurationLimitEndsEvenWithoutProfiles) {
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("duration.h5");
    s.limits.seconds = 0.2;
    std::string error;
    const ReceiveTime start = ReceiveTime::Now();
    ASSERT_TRUE(rec.Start(s, &error)) << error;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(rec.Push(MakePacket(static_cast<std::uint64_t>(i)).data(), ReceiveTime::Now()));
    // A profile received after the limit is not taken.
    EXPECT_FALSE(rec.Push(MakePacket(9).data(), {start.monotonicNs + 300'000'000, 0}));
    const RecorderStatus st = WaitEnded(rec);
    EXPECT_EQ(st.state, RecorderState::Finished);
    EXPECT_EQ(st.reason, StopReason::DurationLimit);
    EXPECT_EQ(st.written, 5u);
    EXPECT_GE(st.elapsedSeconds, 0.19);
}

TEST(RecordingWriterThread, FileThatCannotBeCreatedIsRefusedAtStart) {
    TempDir dir;
    RecordingWriterThread rec;
    RecorderSettings s;
    s.path = dir.file("missing/dir/r.h5");
    std::string error;
    EXPECT_FALSE(rec.Start(s, &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    EXPECT_EQ(rec.Status().state, RecorderState::Idle);
    EXPECT_FALSE(rec.Push(MakePacket(0).data(), {}));
}

// In a child process with a mount namespace of its own: records onto a
// 2 MiB tmpfs until the disk is full, then checks that the recorder failed
// with the system's reason and that the file holds what was written.
// Writes one line "<state> <written> <readable> <error>" to `out`.
void RecordOntoFullDisk(int out, const std::string &mountPoint,
                        std::chrono::milliseconds flushInterval) {
    std::string line;
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=2m") != 0) {
        line = "skip";
    } else {
        RecordingWriterThread rec;
        RecorderSettings s;
        s.path = mountPoint + "/full.h5";
        s.flushInterval = flushInterval;
        std::string error;
        if (!rec.Start(s, &error)) {
            line = "start-failed " + error;
        } else {
            for (std::uint64_t i = 0; i < 5000 && rec.Active(); ++i) {
                const Packet p = MakePacket(i);
                qz417::test::WaitUntil([&] { return rec.Push(p.data(), {}) || !rec.Active(); }, 10s,
                                       100us);
                std::this_thread::sleep_for(300us); // the disk fills at a steady pace
            }
            const RecorderStatus st = WaitEnded(rec);
            rec.Stop();
            std::string readable = "unreadable";
            try {
                RecordingReader r(s.path);
                std::vector<std::uint8_t> all(r.profiles() * kPacketSize);
                r.Read(0, r.profiles(), all.data(), nullptr);
                bool inOrder = true;
                for (std::uint64_t i = 0; i < r.profiles(); ++i)
                    inOrder = inOrder && PacketCountOf(all.data() + i * kPacketSize) == i;
                readable = inOrder ? std::to_string(r.profiles()) : "disordered";
            } catch (const RecordingError &e) {
                readable = std::string("unreadable:") + e.what();
            }
            line = std::string(st.state == RecorderState::Failed ? "failed" : "not-failed") + " " +
                   std::to_string(st.written) + " " + readable + " " + st.error;
        }
    }
    line += "\n";
    (void)!write(out, line.data(), line.size());
}

// Once with flushes every 20 ms, and once with the default interval, so that
// the disk is full before the first flush.
class FullDisk : public ::testing::TestWithParam<std::chrono::milliseconds> {};

INSTANTIATE_TEST_SUITE_P(RecordingWriterThread, FullDisk,
                         ::testing::Values(20ms, RecorderSettings{}.flushInterval),
                         [](const auto &info) {
                             return "FlushEvery" + std::to_string(info.param.count()) + "ms";
                         });

TEST_P(FullDisk, StopsWithTheReasonAndKeepsWhatWasWritten) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        RecordOntoFullDisk(fds[1], dir.path(), GetParam());
        _exit(0);
    }
    close(fds[1]);
    std::string result;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        result.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << result;
    if (result.rfind("skip", 0) == 0)
        GTEST_SKIP() << "no mount namespace with a small tmpfs (needs root)";
    std::istringstream in(result);
    std::string state, readable;
    std::uint64_t written = 0;
    in >> state >> written >> readable;
    EXPECT_EQ(state, "failed") << result;
    EXPECT_NE(result.find("No space left on device"), std::string::npos) << result;
    // 2 MiB hold a few hundred profiles; the file keeps what the last flush made durable.
    EXPECT_GT(written, 100u) << result;
    ASSERT_EQ(readable.find("unreadable"), std::string::npos) << result;
    EXPECT_NE(readable, "disordered") << result;
    EXPECT_GT(std::stoull(readable), 0u) << result;
    EXPECT_EQ(std::stoull(readable), written) << result; // closed cleanly with all of it
}

TEST(RecordingWriterThread, KilledProcessLeavesAFileReadableToItsLastFlush) {
    TempDir dir;
    const std::string path = dir.file("killed.h5");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(QZ417_RECORDING_HELPER, "recording_helper", path.c_str(), "2000", nullptr);
        _exit(127);
    }
    // Read alongside the writer until it has flushed a good part.
    std::uint64_t seen = 0;
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (seen < 3000 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(50ms);
        try {
            RecordingReader r(path);
            seen = r.profiles();
        } catch (const RecordingError &) {
        }
    }
    const ReceiveTime killedAt = ReceiveTime::Now();
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_GE(seen, 3000u) << "the recording did not grow while being written";

    RecordingReader r(path);
    EXPECT_EQ(r.endState(), EndState::Open);
    ASSERT_GE(r.profiles(), seen);
    std::vector<std::uint8_t> all(r.profiles() * kPacketSize);
    std::vector<ReceiveTime> times(r.profiles());
    r.Read(0, r.profiles(), all.data(), times.data());
    for (std::uint64_t i = 0; i < r.profiles(); ++i) {
        const Packet original = MakePacket(i);
        ASSERT_TRUE(std::equal(original.begin(), original.end(), all.data() + i * kPacketSize))
            << "profile " << i << " of " << r.profiles();
    }
    // At most a flush interval (500 ms) and the batch in hand are lost.
    EXPECT_LT(killedAt.monotonicNs - times.back().monotonicNs, 1'000'000'000);
}

} // namespace
} // namespace qz417::recording
