// The one definition of a stream's counts: gaps, wraps, swaps, duplicates,
// stale packets and restarts of the 16-bit packetCount, as one table. The
// health row, the recorder, the recording summary and qz417ctl use this class;
// tests/model/data/stream_cases.json holds the same cases for the Python
// reader of docs/recording-format.md and the Python package's binding of this
// class (python/tests/test_stream_stats.py).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/profile_packet.h"
#include "model/stream_stats.h"

namespace qz417 {
namespace {

struct Case {
    std::string name;
    std::vector<std::uint16_t> counters;
    StreamCounts expected;
};

std::vector<Case> LoadCases() {
    std::ifstream in(std::string(QZ417_MODEL_TEST_DATA) + "/stream_cases.json");
    const nlohmann::json doc = nlohmann::json::parse(in);
    std::vector<Case> cases;
    for (const auto &c : doc.at("cases")) {
        Case one;
        one.name = c.at("name").get<std::string>();
        // A sequence is a list of numbers and [first, last] runs.
        for (const auto &item : c.at("counters")) {
            if (item.is_array()) {
                const int first = item.at(0).get<int>();
                const int last = item.at(1).get<int>();
                const int step = item.size() > 2 ? item.at(2).get<int>() : 1;
                for (int v = first; v <= last; v += step)
                    one.counters.push_back(static_cast<std::uint16_t>(v));
            } else {
                one.counters.push_back(static_cast<std::uint16_t>(item.get<int>()));
            }
        }
        const auto &e = c.at("expected");
        one.expected.received = one.counters.size();
        one.expected.lost = e.at("lost").get<std::uint64_t>();
        one.expected.late = e.value("late", std::uint64_t{0});
        one.expected.duplicates = e.value("duplicates", std::uint64_t{0});
        one.expected.restarts = e.value("restarts", std::uint64_t{0});
        cases.push_back(std::move(one));
    }
    return cases;
}

TEST(StreamStats, EveryCaseOfTheTable) {
    const std::vector<Case> cases = LoadCases();
    ASSERT_GE(cases.size(), 15u);
    for (const Case &c : cases) {
        StreamStats stats;
        for (std::uint16_t v : c.counters)
            stats.Observe(v);
        const StreamCounts &got = stats.counts();
        EXPECT_EQ(got.received, c.expected.received) << c.name;
        EXPECT_EQ(got.lost, c.expected.lost) << c.name;
        EXPECT_EQ(got.late, c.expected.late) << c.name;
        EXPECT_EQ(got.duplicates, c.expected.duplicates) << c.name;
        EXPECT_EQ(got.restarts, c.expected.restarts) << c.name;
    }
}

TEST(StreamStats, ReadsThePacketCounterOfAProfilePacket) {
    std::array<std::uint8_t, kProfilePacketSize> packet{};
    StreamStats stats;
    for (int count : {0x1234, 0x1236}) {
        packet[0] = 0xFF; // measurementCount, not looked at
        packet[2] = static_cast<std::uint8_t>(count & 0xFF);
        packet[3] = static_cast<std::uint8_t>(count >> 8);
        stats.ObservePacket(packet.data());
    }
    EXPECT_EQ(stats.counts().lost, 1u);
    EXPECT_EQ(stats.counts().received, 2u);
}

TEST(StreamStats, LongStreamsWithRegularLossAcrossManyWraps) {
    // 1 in 10 lost over 200 001 counters (three wraps), every 1000th pair
    // swapped; the last counter arrives, so every gap is closed.
    StreamStats stats;
    std::uint64_t skipped = 0;
    std::vector<std::uint16_t> sent;
    for (std::uint32_t v = 0; v <= 200000; ++v) {
        if (v % 10 == 9) {
            ++skipped;
            continue;
        }
        sent.push_back(static_cast<std::uint16_t>(v));
    }
    for (std::size_t i = 500; i + 1 < sent.size(); i += 1000)
        std::swap(sent[i], sent[i + 1]);
    for (std::uint16_t v : sent)
        stats.Observe(v);
    EXPECT_EQ(stats.counts().lost, skipped);
    EXPECT_EQ(stats.counts().late, sent.size() / 1000);
    EXPECT_EQ(stats.counts().restarts, 0u);
    EXPECT_EQ(OutOfOrder(stats.counts()), stats.counts().late);
}

} // namespace
} // namespace qz417
