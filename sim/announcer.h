// Sends every emulated scanner's announcement to the discovery port at a
// fixed interval, each from a socket bound to the scanner's own address, and
// the malformed extras when that fault is switched on.
#pragma once

#include "event_log.h"
#include "net_util.h"
#include "scanner_state.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz417::sim {

class Announcer {
public:
    struct Target {
        Ipv4 address;
        std::uint16_t port = 6001;
        int intervalMs = 250;
        bool offLoopback = false; // the address may lie outside 127.0.0.0/8
    };

    Announcer(std::vector<ScannerState *> scanners, const Target &target, const EventLog &log);
    ~Announcer();
    Announcer(const Announcer &) = delete;
    Announcer &operator=(const Announcer &) = delete;

    bool open(std::string *error);
    void start();
    void stop();

private:
    void run();
    void announceAll();

    std::vector<ScannerState *> scanners_;
    const Target target_;
    const EventLog &log_;
    std::vector<Fd> sockets_; // one per scanner
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mu_;
    std::condition_variable cv_;
};

} // namespace qz417::sim
