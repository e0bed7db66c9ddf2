// What the subcommands that receive the UDP profile stream share: the
// stream's socket, closed when it goes out of scope, and the stop that
// Ctrl-C or SIGTERM asks for while they receive.
#pragma once

#include <csignal>
#include <cstdint>

#include "qz417link.h"

namespace qz417::ctl {

class UdpSocket {
public:
    explicit UdpSocket(int port) : socket_(QZ417_UDP_Connect(port)) {}
    ~UdpSocket() { QZ417_UDP_Disconnect(socket_); }
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;
    bool ok() const { return socket_ != -1; }
    std::int32_t handle() const { return socket_; }

private:
    std::int32_t socket_;
};

// Set by SIGINT and SIGTERM while a StopOnSignal lives; the receive loops
// test it between packets and end as if their time were up.
inline volatile std::sig_atomic_t gStopRequested = 0;

extern "C" inline void RequestStopOnSignal(int) {
    gStopRequested = 1;
}

// Catches Ctrl-C and SIGTERM for its lifetime, then restores the defaults.
class StopOnSignal {
public:
    StopOnSignal() {
        gStopRequested = 0;
        std::signal(SIGINT, RequestStopOnSignal);
        std::signal(SIGTERM, RequestStopOnSignal);
    }
    ~StopOnSignal() {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
    StopOnSignal(const StopOnSignal &) = delete;
    StopOnSignal &operator=(const StopOnSignal &) = delete;
    static bool requested() { return gStopRequested != 0; }
};

} // namespace qz417::ctl
