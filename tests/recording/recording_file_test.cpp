// The recording file: what goes in comes out byte for byte, with its times,
// the announcement and the parameter blocks at the profiles they apply to.
#include "model/recording/recording_file.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace qz417::recording {
namespace {

using test::MakePacket;
using test::TempDir;

ParameterBlock BlockFilledWith(std::uint8_t v) {
    ParameterBlock b;
    b.fill(v);
    b[0] = 16;
    return b;
}

TEST(RecordingFile, RoundTripKeepsEveryByteTimeAndBlock) {
    TempDir dir;
    const std::string path = dir.file("a.h5");
    Announcement announcement{};
    for (std::size_t i = 0; i < announcement.size(); ++i)
        announcement[i] = static_cast<std::uint8_t>(i * 13);
    RecordingHeader header{announcement, BlockFilledWith(0xA5), "test 1"};

    constexpr std::size_t kProfiles = 1000; // more than one chunk, not a multiple of one
    std::vector<std::uint8_t> packets(kProfiles * kPacketSize);
    std::vector<ReceiveTime> times(kProfiles);
    for (std::size_t i = 0; i < kProfiles; ++i) {
        const Packet p = MakePacket(i);
        std::copy(p.begin(), p.end(), packets.begin() + static_cast<long>(i * kPacketSize));
        times[i] = {static_cast<std::int64_t>(1'000'000'000 + i * 25'000),
                    static_cast<std::int64_t>(1'700'000'000'000'000'000 + i * 25'001)};
    }
    {
        RecordingWriter w(path, header);
        w.Append(packets.data(), times.data(), 300);
        w.AppendParameterBlock(BlockFilledWith(0x5A), 42);
        w.Append(packets.data() + 300 * kPacketSize, times.data() + 300, 1);
        w.Flush(0);
        w.Append(packets.data() + 301 * kPacketSize, times.data() + 301, kProfiles - 301);
        w.Close(7, EndState::Closed);
    }

    RecordingReader r(path);
    EXPECT_EQ(r.version(), kFormatVersion);
    EXPECT_EQ(r.software(), "test 1");
    EXPECT_EQ(r.created().size(), 20u); // 2026-12-09T03:41:53Z
    ASSERT_EQ(r.profiles(), kProfiles);
    ASSERT_TRUE(r.announcement().has_value());
    EXPECT_EQ(*r.announcement(), announcement);
    EXPECT_EQ(r.droppedProfiles(), 7u);
    EXPECT_EQ(r.endState(), EndState::Closed);

    std::vector<std::uint8_t> back(kProfiles * kPacketSize);
    std::vector<ReceiveTime> backTimes(kProfiles);
    r.Read(0, kProfiles, back.data(), backTimes.data());
    EXPECT_EQ(back, packets);
    EXPECT_EQ(backTimes, times);
    // A range in the middle, crossing a chunk boundary.
    std::vector<std::uint8_t> part(3 * kPacketSize);
    r.Read(127, 3, part.data(), nullptr);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), packets.begin() + 127 * kPacketSize));

    const auto blocks = r.parameterBlocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].block, BlockFilledWith(0xA5));
    EXPECT_EQ(blocks[0].firstProfile, 0u);
    EXPECT_EQ(blocks[1].block, BlockFilledWith(0x5A));
    EXPECT_EQ(blocks[1].firstProfile, 300u);
    EXPECT_EQ(blocks[1].wallNs, 42);

    const RecordingSummary s = r.Summary();
    EXPECT_EQ(s.profiles, kProfiles);
    EXPECT_EQ(s.lostPackets, 0u);
    EXPECT_EQ(s.firstMonotonicNs, times.front().monotonicNs);
    EXPECT_EQ(s.lastWallNs, times.back().wallNs);
    EXPECT_EQ(s.parameterBlocks, 2u);
}

// Batches that start and end inside chunks, on their edges, and hold
// several whole ones read back as written, and a reader opened while the
// writer is at it sees every row flushed so far.
TEST(RecordingFile, BatchesOfWholeAndPartChunksReadBackAsWritten) {
    TempDir dir;
    const std::string path = dir.file("chunks.h5");
    // 128 rows a chunk: a part, the rest of that chunk, exactly one, one and
    // a part, three whole ones from an edge, single rows, a part to the end.
    const std::size_t batches[] = {5, 123, 128, 129, 127, 384, 1, 1, 250};
    std::size_t total = 0;
    for (const std::size_t n : batches)
        total += n;
    std::vector<std::uint8_t> packets(total * kPacketSize);
    std::vector<ReceiveTime> times(total);
    for (std::size_t i = 0; i < total; ++i) {
        const Packet p = MakePacket(i);
        std::copy(p.begin(), p.end(), packets.begin() + static_cast<long>(i * kPacketSize));
        times[i] = {static_cast<std::int64_t>(i), static_cast<std::int64_t>(i * 3)};
    }
    RecordingWriter w(path, RecordingHeader{std::nullopt, std::nullopt, "test"});
    std::size_t at = 0;
    for (const std::size_t n : batches) {
        w.Append(packets.data() + at * kPacketSize, times.data() + at, n);
        at += n;
        w.Flush(0);
        RecordingReader r(path);
        ASSERT_EQ(r.profiles(), at);
        std::vector<std::uint8_t> back(at * kPacketSize);
        r.Read(0, at, back.data(), nullptr);
        ASSERT_TRUE(std::equal(back.begin(), back.end(), packets.begin())) << "after " << at;
    }
    w.Close(0, EndState::Closed);
    RecordingReader r(path);
    std::vector<std::uint8_t> back(total * kPacketSize);
    std::vector<ReceiveTime> backTimes(total);
    r.Read(0, total, back.data(), backTimes.data());
    EXPECT_EQ(back, packets);
    EXPECT_EQ(backTimes, times);
}

TEST(RecordingFile, ReadBeyondTheEndIsRefused) {
    TempDir dir;
    const std::string path = dir.file("b.h5");
    {
        RecordingWriter w(path, {});
        const Packet p = MakePacket(0);
        const ReceiveTime t{1, 2};
        w.Append(p.data(), &t, 1);
        w.Close(0, EndState::Closed);
    }
    RecordingReader r(path);
    EXPECT_FALSE(r.announcement().has_value());
    EXPECT_TRUE(r.parameterBlocks().empty());
    Packet out{};
    EXPECT_NO_THROW(r.Read(1, 0, out.data(), nullptr));
    EXPECT_THROW(r.Read(1, 1, out.data(), nullptr), RecordingError);
    EXPECT_THROW(r.Read(0, 2, out.data(), nullptr), RecordingError);
    EXPECT_THROW(r.Read(~0ull, 2, out.data(), nullptr), RecordingError);
}

TEST(RecordingFile, EmptyRecordingReadsAsNoProfiles) {
    TempDir dir;
    const std::string path = dir.file("empty.h5");
    RecordingWriter(path, {}).Close(0, EndState::Closed);
    RecordingReader r(path);
    EXPECT_EQ(r.profiles(), 0u);
    const RecordingSummary s = r.Summary();
    EXPECT_EQ(s.profiles, 0u);
    EXPECT_EQ(s.lostPackets, 0u);
    EXPECT_EQ(s.end, EndState::Closed);
}

TEST(RecordingFile, LostPacketsAreGapsInTheCounterAcrossItsWrap) {
    TempDir dir;
    const std::string path = dir.file("gaps.h5");
    // Counters 65533, 65534, (65535 lost), 0, (1, 2 lost), 3, 3 (duplicate), 4.
    const std::uint64_t counters[] = {65533, 65534, 65536, 65539, 65539, 65540};
    {
        RecordingWriter w(path, {});
        for (std::uint64_t c : counters) {
            const Packet p = MakePacket(c);
            const ReceiveTime t{};
            w.Append(p.data(), &t, 1);
        }
        w.Close(0, EndState::Closed);
    }
    RecordingReader r(path);
    EXPECT_EQ(r.Summary().lostPackets, 3u);
}

TEST(RecordingFile, ReaderSeesWhatTheWriterFlushedWhileItWrites) {
    TempDir dir;
    const std::string path = dir.file("live.h5");
    RecordingWriter w(path, {});
    std::vector<Packet> packets;
    std::vector<ReceiveTime> times(200);
    for (int i = 0; i < 200; ++i)
        packets.push_back(MakePacket(static_cast<std::uint64_t>(i)));
    std::vector<std::uint8_t> flat;
    for (const auto &p : packets)
        flat.insert(flat.end(), p.begin(), p.end());
    w.Append(flat.data(), times.data(), 50);
    w.Flush(0);

    RecordingReader r(path);
    EXPECT_EQ(r.profiles(), 50u);
    EXPECT_EQ(r.endState(), EndState::Open);
    w.Append(flat.data() + 50 * kPacketSize, times.data() + 50, 150);
    w.Flush(3);
    r.Refresh();
    ASSERT_EQ(r.profiles(), 200u);
    EXPECT_EQ(r.droppedProfiles(), 3u);
    Packet last{};
    r.Read(199, 1, last.data(), nullptr);
    EXPECT_EQ(last, packets[199]);
    w.Close(3, EndState::Closed);
}

TEST(RecordingFile, CreatingInAMissingDirectoryFailsWithTheReason) {
    TempDir dir;
    try {
        RecordingWriter w(dir.file("no/such/dir/x.h5"), {});
        FAIL() << "created a file in a missing directory";
    } catch (const RecordingError &e) {
        EXPECT_NE(std::string(e.what()).find("cannot create"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos)
            << e.what();
    }
}

} // namespace
} // namespace qz417::recording

namespace qz417::recording {
namespace {

TEST(RecordingFile, SummaryCountsTheStreamAsEveryOtherPlaceDoes) {
    // A restart of the scanner's counter after a gap, a swapped pair and one
    // stale packet: the counts of qz417::StreamStats (tests/model/data/stream_cases.json).
    TempDir dir;
    const std::string path = dir.file("restart.h5");
    const std::uint64_t counters[] = {30000, 30001, 30003, 30005, 30004, 30006, 29900,
                                      30007, 0,     1,     2,     4,     5};
    {
        RecordingWriter w(path, {});
        for (std::uint64_t c : counters) {
            const Packet p = MakePacket(c);
            const ReceiveTime t{};
            w.Append(p.data(), &t, 1);
        }
        w.Close(0, EndState::Closed);
    }
    const RecordingSummary s = RecordingReader(path).Summary();
    EXPECT_EQ(s.stream.received, std::size(counters));
    EXPECT_EQ(s.stream.lost, 2u); // 30002 and 3; 30004 came late
    EXPECT_EQ(s.lostPackets, 2u);
    EXPECT_EQ(s.stream.late, 2u); // 30004 and the stale 29900
    EXPECT_EQ(s.stream.restarts, 1u);
    EXPECT_EQ(s.stream.duplicates, 0u);
}

} // namespace
} // namespace qz417::recording
