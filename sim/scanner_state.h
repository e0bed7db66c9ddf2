// Everything one emulated scanner knows, without any socket: identity,
// parameter block (current, stored, defaults), measurement counter, the
// current profile and picture, faults and counters. All members are safe to
// call from any thread.
#pragma once

#include "announcement.h"
#include "config_block.h"
#include "emulator.h"
#include "measurement_clock.h"
#include "profile_model.h"
#include "recording_replay.h"
#include "scene.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qz417::sim {

using Image = std::vector<std::uint8_t>; // kImageSize bytes

class ScannerState {
public:
    using Clock = std::chrono::steady_clock;

    ScannerState(int index, const EmulatorOptions &options, Clock::time_point start,
                 std::shared_ptr<RecordingReplay> replay = nullptr);

    int index() const { return index_; }
    const Ipv4 &address() const { return address_; }
    const Announcement &announcement() const { return announcement_; }

    ConfigBlock config() const;
    void setConfig(const ConfigBlock &block);
    ConfigBlock storedConfig() const;
    // Command 6. Mode 0 stores the current block (to the state file when
    // there is one), mode 1 returns to the factory block; other modes change
    // nothing. Returns the two acknowledgement bytes: 1 for done, 0 for an
    // unknown mode or a failed write (*warning then says why).
    std::array<std::uint8_t, kAckSize> flush(std::uint32_t mode, std::string *warning);

    // Command 1: the newest profile, packet counter = the stream's current count.
    void profilePacket(std::uint8_t *out, Clock::time_point now);
    // Command 2 takes a fresh picture (at most ~30 per second, else the last);
    // command 3 without a preceding command 2 serves the last one.
    std::shared_ptr<const Image> takeImage(Clock::time_point now);
    std::shared_ptr<const Image> lastImage(Clock::time_point now);
    // Command 7.
    std::int16_t angle(Clock::time_point now);
    std::uint64_t measurementCount(Clock::time_point now);

    FaultOptions faults() const;
    void setFaults(const FaultOptions &f);

    // Where and how fast results are streamed; rateHz 0 means not at all.
    struct StreamTarget {
        Ipv4 address;
        std::uint16_t port = 0;
        double rateHz = 0;
        bool operator==(const StreamTarget &) const = default;
    };
    StreamTarget streamTarget() const;
    // Fills `n` consecutive datagrams of kPacketSize bytes each, numbering
    // them from the stream's packet counter, which advances by n.
    void streamPackets(std::uint8_t *buffers, int n, Clock::time_point now);
    // Replay of a recording: positions due by `now` since the start, the
    // stream's next position, and keeping the stream's position at the due one
    // while nothing is streamed. Only when replaying() is true.
    bool replaying() const { return replay_ != nullptr; }
    std::uint64_t replayDue(Clock::time_point now) const;
    std::uint64_t replayCursor() const;
    void replayFollow(Clock::time_point now);
    Clock::time_point replayDueTime(std::uint64_t position) const;
    bool replayFinished(std::uint64_t position) const { return replay_->finished(position); }

    // Counts up whenever the parameter block changes.
    std::uint64_t configGeneration() const { return generation_.load(); }

    std::atomic<std::uint64_t> commandsServed[8] = {};
    std::atomic<std::uint64_t> connectionsAccepted{0};
    std::atomic<std::uint64_t> udpPacketsSent{0};

private:
    double measurementRate(const ConfigFields &f) const;
    void applyLocked(const ConfigBlock &block); // mu_ held
    const Measurement &currentLocked(Clock::time_point now, std::uint64_t *index);
    double secondsSinceStart(Clock::time_point now) const;

    const int index_;
    const EmulatorOptions options_;
    const std::shared_ptr<RecordingReplay> replay_;
    std::uint64_t replayCursor_ = 0; // guarded by mu_
    const Clock::time_point start_;
    const Ipv4 address_;
    const Announcement announcement_;
    const Scene scene_;
    const ConfigBlock defaults_;
    const std::string statePath_;

    mutable std::mutex mu_;
    ConfigBlock config_;
    ConfigBlock stored_;
    ConfigFields fields_;
    MeasurementClock clock_;
    FaultOptions faults_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint16_t> packetCount_{0};

    // The newest measurement, rebuilt when the counter or the block moves on.
    Measurement measurement_;
    std::uint64_t measuredIndex_ = 0;
    std::uint64_t measuredGeneration_ = ~0ull;
    PacketBytes packet_{};

    std::shared_ptr<const Image> image_;
    Clock::time_point imageTime_;
    std::uint64_t imageGeneration_ = ~0ull;
    std::uint64_t imageSerial_ = 0;
};

} // namespace qz417::sim
