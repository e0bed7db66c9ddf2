// qz417sim as a library: one or more emulated QZ417 scanners on loopback,
// started inside the calling process (tests, benchmarks) or by the qz417sim
// command-line program.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qz417::sim {

// What one scanner says about itself in its announcements.
struct DescriptionOptions {
    std::uint16_t type = 417;
    // Ethernet, external result and measurement sync, voltage analog out,
    // laser modulation: bits 0, 1, 2, 3 and 5.
    std::uint8_t modification = 0x2F;
    std::uint32_t serialNumber = 0; // scanner k announces (this or 10000 if 0) + k; 24 bits
    std::uint16_t baseDistance = 80;
    std::uint16_t rangeZ = 250;
    std::uint16_t rangeXSmr = 140;
    std::uint16_t rangeXEmr = 230;
    std::uint16_t discreteValue = 16384;
    std::int16_t errorValue = 0;
    std::uint32_t firmwareVersion = 417;
};

// Misbehaviour on purpose, for tests. Counts are of commands served on a
// connection; -1 means never.
// A count N lets the first N commands of each connection pass normally and
// applies the fault to every later one.
struct FaultOptions {
    int segmentBytes = 0;                   // >0: send replies in pieces of this size
    int segmentDelayMs = 0;                 // pause between the pieces
    int stallAfterCommands = -1;            // stop answering (keep the connection open)
    int closeMidReplyAfter = -1;            // send half a reply, then close
    int resetAfterCommands = -1;            // reset the connection (RST) instead of answering
    bool malformedAnnouncements = false;    // also send wrong sizes, duplicates,
                                            // 0.0.0.0 and other type codes
    std::optional<std::int16_t> angleReply; // fixed reply to command 7
};

struct EmulatorOptions {
    int count = 1; // scanner k listens on 127.0.0.(k+1)
    std::uint16_t tcpPort = 417;
    std::string announceAddress = "127.0.0.1";
    std::uint16_t announcePort = 6001;
    int announceIntervalMs = 250;     // 0: no announcements
    bool announceOffLoopback = false; // announceAddress may lie outside 127.0.0.0/8
    double measurementRateHz = 1000;
    // Where the packets' measurement and packet counters start: a real
    // device's counters run freely and may stand anywhere when a program starts.
    std::uint16_t counterStart = 0;
    int udpHz = 0;             // udpFrequency of the default block (0..255)
    double streamRateHz = 0;   // >0: stream at this rate whatever the block says
    double triggerHz = 100;    // emulated sync pulses (measurement sync)
    double mountTiltDeg = 3;   // tilt of the emulated mount; command 7 measures it
    std::string stateDir;      // empty: stored blocks live in memory only
    bool allowNetwork = false; // allow the UDP stream and announcements off loopback
    bool quiet = true;         // no connection lines on stderr
    DescriptionOptions description;
    FaultOptions faults;
    // Replay of a recording (docs/recording-format.md): the UDP stream and
    // the replies to command 1 are the recorded packets, byte for byte; the
    // announcement's description and the first parameter block come from the
    // recording when it holds them (with the emulator's own addresses).
    std::string replayPath;  // empty: the synthetic scene
    double replayRateHz = 0; // 0: at the recorded timing
    bool replayOnce = false; // false: loop
    int faultScanner = -1;   // -1: `faults` apply to every scanner, else only to k
};

class Emulator {
public:
    explicit Emulator(EmulatorOptions options);
    ~Emulator(); // stops
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    // Binds every server and starts the threads. On failure returns false and
    // says why in *error (for example that port 417 needs CAP_NET_BIND_SERVICE).
    // With a replay that cannot be opened, fails with the reason.
    bool start(std::string *error);
    void stop();

    int count() const;
    std::string address(int k) const; // "127.0.0.(k+1)"

    // The current parameter block of scanner k, and replacing it (as command 5 does).
    std::array<std::uint8_t, 512> config(int k) const;
    void setConfig(int k, const std::array<std::uint8_t, 512> &block);
    // The block command 6 with mode 0 last stored (the factory block before that).
    std::array<std::uint8_t, 512> storedConfig(int k) const;
    // The 268 bytes scanner k announces.
    std::array<std::uint8_t, 268> announcement(int k) const;
    void setFaults(int k, const FaultOptions &faults);

    // Counters for tests: commands served per code (index 1..7), connections accepted.
    std::uint64_t commandsServed(int k, int code) const;
    std::uint64_t connectionsAccepted(int k) const;
    std::uint64_t udpPacketsSent(int k) const;
    std::uint64_t measurementCount(int k) const; // measurements taken so far

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace qz417::sim
