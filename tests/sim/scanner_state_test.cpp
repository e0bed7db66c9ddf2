// One scanner's state without sockets: stored and factory blocks, the state
// file, the measurement counter with and without synchronisation.
#include "emulator.h"
#include "measurement_clock.h"
#include "scanner_state.h"
#include "state_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace qz417::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(MeasurementClock, RateChangesContinueFromTheCurrentCount) {
    const Clock::time_point t0{};
    MeasurementClock c(t0, 1000);
    EXPECT_EQ(c.count(t0 + 1500ms), 1500u);
    c.setRate(10, t0 + 2s); // 2000 so far
    EXPECT_EQ(c.count(t0 + 2s), 2000u);
    EXPECT_EQ(c.count(t0 + 3s), 2010u);
    c.setRate(0, t0 + 4s);
    EXPECT_EQ(c.count(t0 + 100s), 2020u);
}

// The counters in the packets start where the options say, as a device's
// free-running counters stand anywhere; the clock itself still counts from 0.
TEST(ScannerState, PacketCountersStartAtTheGivenValueAndWrap) {
    EmulatorOptions o;
    o.counterStart = 65530;
    o.measurementRateHz = 1000;
    const Clock::time_point t0 = Clock::now();
    ScannerState s(0, o, t0);
    std::uint8_t packet[kPacketSize];
    s.profilePacket(packet, t0);
    EXPECT_EQ(packet[0] | packet[1] << 8, 65530);
    EXPECT_EQ(packet[2] | packet[3] << 8, 65530);
    s.profilePacket(packet, t0 + 20ms);
    const std::uint64_t n = s.measurementCount(t0 + 20ms); // about 20, from 0
    EXPECT_GE(n, 10u);
    EXPECT_LE(n, 20u);
    EXPECT_EQ(packet[0] | packet[1] << 8, static_cast<int>((65530 + n) % 65536)); // wrapped

    std::uint8_t stream[2 * kPacketSize];
    s.streamPackets(stream, 2, t0 + 20ms);
    EXPECT_EQ(stream[2] | stream[3] << 8, 65530);
    EXPECT_EQ(stream[kPacketSize + 2] | stream[kPacketSize + 3] << 8, 65531);
}

TEST(ScannerState, StoreKeepsTheBlockAndDefaultsRestoreTheFactoryBlock) {
    EmulatorOptions o;
    ScannerState s(1, o, Clock::now());
    const ConfigBlock factory = s.config();
    EXPECT_EQ(readAddress(factory, cfg::netAddress).text(), "127.0.0.2");

    ConfigBlock changed = factory;
    changed[cfg::laserLevel] = 12;
    changed[400] = 0x42;
    s.setConfig(changed);
    std::string warning;
    EXPECT_EQ(s.flush(0, &warning)[0], 1);
    EXPECT_EQ(s.storedConfig(), changed);

    ConfigBlock again = changed;
    again[cfg::laserLevel] = 3;
    s.setConfig(again);
    EXPECT_EQ(s.flush(1, &warning)[0], 1);
    EXPECT_EQ(s.config(), factory);
    EXPECT_EQ(s.storedConfig(), changed); // defaults do not overwrite what was stored

    const auto before = s.config();
    EXPECT_EQ(s.flush(7, &warning)[0], 0); // unknown mode: nothing happens
    EXPECT_EQ(s.config(), before);
    EXPECT_TRUE(warning.empty());
}

TEST(ScannerState, StoredBlockSurvivesInTheStateDirectory) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("qz417sim-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    EmulatorOptions o;
    o.stateDir = dir.string();
    ConfigBlock stored;
    {
        ScannerState s(0, o, Clock::now());
        stored = s.config();
        stored[cfg::laserLevel] = 9;
        stored[511] = 0x5A;
        s.setConfig(stored);
        std::string warning;
        ASSERT_EQ(s.flush(0, &warning)[0], 1) << warning;
    }
    ScannerState reborn(0, o, Clock::now());
    EXPECT_EQ(reborn.config(), stored);
    EXPECT_EQ(reborn.storedConfig(), stored);
    ScannerState other(1, o, Clock::now()); // another scanner has its own file
    EXPECT_EQ(other.config()[cfg::laserLevel], 16);

    // A damaged file is ignored.
    std::ofstream(stateFilePath(dir.string(), Ipv4{{127, 0, 0, 3}}), std::ios::binary) << "short";
    ScannerState damaged(2, o, Clock::now());
    EXPECT_EQ(damaged.config()[cfg::laserLevel], 16);
    std::filesystem::remove_all(dir);
}

TEST(ScannerState, StoreReportsAnUnwritableStateDirectory) {
    EmulatorOptions o;
    o.stateDir = "/nonexistent/qz417sim";
    ScannerState s(0, o, Clock::now());
    std::string warning;
    EXPECT_EQ(s.flush(0, &warning)[0], 0);
    EXPECT_NE(warning.find("/nonexistent/qz417sim"), std::string::npos);
}

TEST(ScannerState, EmulatorRefusesToStartWithoutItsStateDirectory) {
    // Checked before any port is bound: runs anywhere.
    EmulatorOptions o;
    o.stateDir = "/nonexistent/qz417sim";
    Emulator emulator(o);
    std::string error;
    EXPECT_FALSE(emulator.start(&error));
    EXPECT_NE(error.find("/nonexistent/qz417sim is not a directory"), std::string::npos) << error;
}

TEST(ScannerState, MeasurementSyncCountsTriggerPulsesOverTheDivider) {
    EmulatorOptions o;
    o.measurementRateHz = 1000;
    o.triggerHz = 100;
    ScannerState s(0, o, Clock::now());
    const auto now = Clock::now();
    const auto free = s.measurementCount(now + 10s) - s.measurementCount(now);
    EXPECT_NEAR(double(free), 10000, 2);

    ConfigBlock b = s.config();
    b[cfg::syncFlags] |= cfg::measureSyncBit;
    b[cfg::syncDivider] = 3; // every 4th pulse
    s.setConfig(b);
    const auto later = Clock::now();
    const auto synced = s.measurementCount(later + 10s) - s.measurementCount(later);
    EXPECT_NEAR(double(synced), 250, 2);
}

TEST(ScannerState, PacketsCarryTheCountersAndTheStreamNumbersItsDatagrams) {
    EmulatorOptions o;
    ScannerState s(0, o, Clock::now());
    const auto t = Clock::now() + 2s;
    std::vector<std::uint8_t> bufs(3 * kPacketSize);
    s.streamPackets(bufs.data(), 3, t);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(getU16(&bufs[i * kPacketSize + 2]), i);
        EXPECT_EQ(getU16(&bufs[i * kPacketSize]),
                  static_cast<std::uint16_t>(s.measurementCount(t)));
    }
    PacketBytes tcp{};
    s.profilePacket(tcp.data(), t);
    EXPECT_EQ(getU16(&tcp[2]), 3); // the stream's count, not advanced by command 1
    EXPECT_EQ(0, std::memcmp(tcp.data() + 4, bufs.data() + 4, kPacketSize - 4));
}

TEST(ScannerState, StreamTargetFollowsTheBlockUnlessOverridden) {
    EmulatorOptions o;
    o.udpHz = 50;
    ScannerState s(0, o, Clock::now());
    EXPECT_EQ(s.streamTarget().rateHz, 50);
    EXPECT_EQ(s.streamTarget().port, 6003);
    ConfigBlock b = s.config();
    writeAddress(b, cfg::udpAddress, Ipv4{{127, 0, 0, 9}});
    b[cfg::udpFrequency] = 0;
    s.setConfig(b);
    EXPECT_EQ(s.streamTarget().address.text(), "127.0.0.9");
    EXPECT_EQ(s.streamTarget().rateHz, 0);
    o.streamRateHz = 100000;
    ScannerState fast(0, o, Clock::now());
    EXPECT_EQ(fast.streamTarget().rateHz, 100000);
}

TEST(ScannerState, ImagesAreRateLimitedButFollowNewParameters) {
    EmulatorOptions o;
    ScannerState s(0, o, Clock::now());
    const auto t = Clock::now();
    const auto a = s.takeImage(t);
    EXPECT_EQ(s.takeImage(t + 5ms), a);   // too soon: the same picture
    EXPECT_NE(s.takeImage(t + 100ms), a); // a new one later
    const auto b = s.lastImage(t + 200ms);
    s.setConfig(s.config());
    EXPECT_NE(s.takeImage(t + 201ms), b); // parameters changed: new picture at once
    ASSERT_EQ(b->size(), kImageSize);
}

TEST(ScannerState, FaultsApplyToTheChosenScannerOnly) {
    EmulatorOptions o;
    o.faults.stallAfterCommands = 2;
    o.faultScanner = 1;
    EXPECT_EQ(ScannerState(0, o, Clock::now()).faults().stallAfterCommands, -1);
    EXPECT_EQ(ScannerState(1, o, Clock::now()).faults().stallAfterCommands, 2);
    o.faultScanner = -1;
    EXPECT_EQ(ScannerState(0, o, Clock::now()).faults().stallAfterCommands, 2);
}

TEST(ScannerState, AngleReplyFaultOverridesTheMeasurement) {
    EmulatorOptions o;
    ScannerState s(0, o, Clock::now());
    const auto t = Clock::now();
    EXPECT_NEAR(s.angle(t), 1638, 4); // 3 degrees
    FaultOptions f;
    f.angleReply = -32768;
    s.setFaults(f);
    EXPECT_EQ(s.angle(t), -32768);
}

} // namespace
} // namespace qz417::sim
