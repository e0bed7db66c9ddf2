#include "emulator.h"

#include "announcer.h"
#include "command_server.h"
#include "event_log.h"
#include "net_util.h"
#include "scanner_state.h"
#include "udp_streamer.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace qz417::sim {

struct Emulator::Impl {
    explicit Impl(EmulatorOptions o) : options(std::move(o)), log(options.quiet) {
        options.count = std::clamp(options.count, 1, kMaxScanners);
        if (!options.replayPath.empty())
            replay = RecordingReplay::open(options.replayPath, options.replayRateHz,
                                           !options.replayOnce, &replayError);
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < options.count; ++k)
            scanners.push_back(std::make_unique<ScannerState>(k, options, start, replay));
    }

    ScannerState &at(int k) const {
        if (k < 0 || k >= static_cast<int>(scanners.size()))
            throw std::out_of_range("qz417::sim::Emulator: no scanner " + std::to_string(k));
        return *scanners[static_cast<std::size_t>(k)];
    }

    static constexpr int kMaxScanners = 254; // 127.0.0.1 .. 127.0.0.254

    EmulatorOptions options;
    EventLog log;
    std::shared_ptr<RecordingReplay> replay;
    std::string replayError; // the recording to replay could not be opened
    std::vector<std::unique_ptr<ScannerState>> scanners;
    std::vector<std::unique_ptr<CommandServer>> servers;
    std::vector<std::unique_ptr<UdpStreamer>> streamers;
    std::unique_ptr<Announcer> announcer;
    bool running = false;
};

Emulator::Emulator(EmulatorOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Emulator::~Emulator() {
    stop();
}

bool Emulator::start(std::string *error) {
    if (impl_->running)
        return true;
    Impl &m = *impl_;
    auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    if (!m.options.replayPath.empty() && !m.replay)
        return fail("cannot replay " + m.replayError);
    if (!m.options.stateDir.empty()) {
        // Checked here, not at the first store: a store that cannot be kept
        // would otherwise only show as a warning long after the start.
        std::error_code ec;
        if (!std::filesystem::is_directory(m.options.stateDir, ec))
            return fail("state directory " + m.options.stateDir + " is not a directory");
    }
    for (auto &s : m.scanners) {
        auto server = std::make_unique<CommandServer>(*s, m.log, m.options.tcpPort);
        std::string why;
        if (!server->listen(&why))
            return fail(why);
        m.servers.push_back(std::move(server));
        auto streamer = std::make_unique<UdpStreamer>(*s, m.log, m.options.allowNetwork);
        if (!streamer->open(&why))
            return fail(why);
        m.streamers.push_back(std::move(streamer));
    }
    if (m.options.announceIntervalMs > 0) {
        Announcer::Target t;
        if (!parseIpv4(m.options.announceAddress, &t.address))
            return fail("not an IPv4 address: " + m.options.announceAddress);
        t.port = m.options.announcePort;
        t.intervalMs = m.options.announceIntervalMs;
        t.offLoopback = m.options.announceOffLoopback || m.options.allowNetwork;
        std::vector<ScannerState *> all;
        for (auto &s : m.scanners)
            all.push_back(s.get());
        m.announcer = std::make_unique<Announcer>(std::move(all), t, m.log);
        std::string why;
        if (!m.announcer->open(&why))
            return fail(why);
    }
    for (auto &s : m.servers)
        s->start();
    for (auto &s : m.streamers)
        s->start();
    if (m.announcer)
        m.announcer->start();
    m.running = true;
    return true;
}

void Emulator::stop() {
    Impl &m = *impl_;
    if (m.announcer)
        m.announcer->stop();
    for (auto &s : m.streamers)
        s->stop();
    for (auto &s : m.servers)
        s->stop();
    m.announcer.reset();
    m.streamers.clear();
    m.servers.clear();
    m.running = false;
}

int Emulator::count() const {
    return static_cast<int>(impl_->scanners.size());
}

std::string Emulator::address(int k) const {
    return impl_->at(k).address().text();
}

std::array<std::uint8_t, 512> Emulator::config(int k) const {
    return impl_->at(k).config();
}

void Emulator::setConfig(int k, const std::array<std::uint8_t, 512> &block) {
    impl_->at(k).setConfig(block);
}

std::array<std::uint8_t, 512> Emulator::storedConfig(int k) const {
    return impl_->at(k).storedConfig();
}

std::array<std::uint8_t, 268> Emulator::announcement(int k) const {
    return impl_->at(k).announcement();
}

void Emulator::setFaults(int k, const FaultOptions &faults) {
    impl_->at(k).setFaults(faults);
}

std::uint64_t Emulator::commandsServed(int k, int code) const {
    if (code < 1 || code > 7)
        return 0;
    return impl_->at(k).commandsServed[code].load();
}

std::uint64_t Emulator::connectionsAccepted(int k) const {
    return impl_->at(k).connectionsAccepted.load();
}

std::uint64_t Emulator::udpPacketsSent(int k) const {
    return impl_->at(k).udpPacketsSent.load();
}

std::uint64_t Emulator::measurementCount(int k) const {
    return impl_->at(k).measurementCount(std::chrono::steady_clock::now());
}

} // namespace qz417::sim
