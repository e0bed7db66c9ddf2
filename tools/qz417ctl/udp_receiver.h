// What the subcommands that receive the UDP profile stream share: the
// stream's socket, closed when it goes out of scope, the real-time priority
// of the receiving thread, and the stop that Ctrl-C or SIGTERM asks for
// while they receive.
#pragma once

#include <pthread.h>
#include <sched.h>

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

// Raises the calling thread to the highest real-time priority (SCHED_FIFO)
// for its lifetime where the system permits it (root, CAP_SYS_NICE or an
// RLIMIT_RTPRIO), as the window's UDP worker is raised; otherwise the thread
// keeps its priority. The receiving thread then runs as soon as a datagram
// wakes it, ahead of the recorder's writer thread, the kernel's writeback
// and other programs, so its socket's buffer does not run full while it
// waits for a CPU. Threads started while it lives inherit the priority:
// start the recorder's writer before. The thread blocks in its receive call
// between datagrams, so it leaves the CPU to the others whenever the stream
// lets it.
class ReceivePriority {
public:
    ReceivePriority() {
        if (pthread_getschedparam(pthread_self(), &policy_, &param_) != 0)
            return;
        sched_param raised{};
        raised.sched_priority = sched_get_priority_max(SCHED_FIFO);
        raised_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &raised) == 0;
    }
    ~ReceivePriority() {
        if (raised_)
            pthread_setschedparam(pthread_self(), policy_, &param_);
    }
    ReceivePriority(const ReceivePriority &) = delete;
    ReceivePriority &operator=(const ReceivePriority &) = delete;
    bool raised() const { return raised_; }

private:
    int policy_ = SCHED_OTHER;
    sched_param param_{};
    bool raised_ = false;
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
