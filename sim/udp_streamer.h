// The UDP result stream of one emulated scanner: while the block (or the
// stream-rate override) asks for it, one 4100-byte profile packet per period
// to the block's destination, on a monotonic schedule, sent in batches so
// that rates of 100 kHz and more are possible.
#pragma once

#include "event_log.h"
#include "net_util.h"
#include "scanner_state.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace qz417::sim {

class UdpStreamer {
public:
    UdpStreamer(ScannerState &state, const EventLog &log, bool allowNetwork);
    ~UdpStreamer();
    UdpStreamer(const UdpStreamer &) = delete;
    UdpStreamer &operator=(const UdpStreamer &) = delete;

    bool open(std::string *error); // the sending socket, bound to the scanner's address
    void start();
    void stop();

private:
    void run();
    // One step of a replayed recording's stream; false when stopping.
    bool replayStep(const ScannerState::StreamTarget &t, std::uint8_t *buffers);
    bool waitStopping(std::chrono::steady_clock::time_point until);
    // Whether this destination may be sent to; says once why not.
    bool permitted(const ScannerState::StreamTarget &t);

    ScannerState &state_;
    const EventLog &log_;
    const bool allowNetwork_;
    Fd socket_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mu_;
    std::condition_variable cv_;
    ScannerState::StreamTarget refused_{};
};

} // namespace qz417::sim
