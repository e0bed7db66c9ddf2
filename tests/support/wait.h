// Bounded waits of the tests: a condition polled until it holds or a time
// bound has passed, and what the kernel says about the sockets of this
// network namespace (a port bound or listening, datagrams queued or read),
// the positive signs a test waits for instead of sleeping.
//
// The /proc/net figures are those of the caller's network namespace; a test
// program registered with NETNS has one of its own, so they count only its
// own sockets there.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace qz417::test {

// Polls `condition` every `step` until it holds or `bound` has passed;
// true when it held.
template <class Condition>
bool WaitUntil(Condition &&condition, std::chrono::milliseconds bound,
               std::chrono::microseconds step = std::chrono::milliseconds(1)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

namespace detail {

// One socket row of /proc/net/udp, udp6, tcp or tcp6.
struct SocketRow {
    std::uint16_t localPort = 0;
    std::uint16_t remotePort = 0;
    unsigned state = 0;             // TCP: 0x0A listening, 0x06 time-wait, ...
    unsigned long rxQueueBytes = 0; // bytes waiting to be read
};

inline std::uint16_t PortOf(const std::string &address) { // "0100007F:1773"
    const std::size_t colon = address.rfind(':');
    return colon == std::string::npos
               ? 0
               : static_cast<std::uint16_t>(std::stoul(address.substr(colon + 1), nullptr, 16));
}

// Calls visit(row) for each socket of /proc/net/<table>.
template <class Visit> void ForEachSocket(const char *table, Visit &&visit) {
    std::ifstream file(std::string("/proc/net/") + table);
    std::string line;
    std::getline(file, line); // column titles
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        if (!(fields >> slot >> local >> remote >> state >> queues))
            continue;
        SocketRow row;
        row.localPort = PortOf(local);
        row.remotePort = PortOf(remote);
        row.state = static_cast<unsigned>(std::stoul(state, nullptr, 16));
        // tx_queue:rx_queue, hexadecimal
        row.rxQueueBytes = std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16);
        visit(row);
    }
}

// The value of `field` on the "<prefix>" lines of a /proc/net/snmp-style
// file (a title line, then a value line); 0 when absent.
inline std::uint64_t SnmpField(const char *path, const std::string &prefix,
                               const std::string &field) {
    std::ifstream file(path);
    std::string titles, values;
    while (std::getline(file, titles)) {
        if (titles.rfind(prefix + ":", 0) != 0 || !std::getline(file, values))
            continue;
        std::istringstream names(titles), numbers(values);
        std::string name, number;
        while (names >> name && numbers >> number)
            if (name == field)
                return std::stoull(number);
    }
    return 0;
}

// The value of `field` in a /proc/net/snmp6-style file ("name value" lines).
inline std::uint64_t Snmp6Field(const char *path, const std::string &field) {
    std::ifstream file(path);
    std::string name;
    std::uint64_t value = 0;
    while (file >> name >> value)
        if (name == field)
            return value;
    return 0;
}

} // namespace detail

// True when a socket of this namespace is bound to UDP `port`.
inline bool UdpPortBound(std::uint16_t port) {
    bool bound = false;
    const auto look = [&](const detail::SocketRow &row) { bound = bound || row.localPort == port; };
    detail::ForEachSocket("udp", look);
    detail::ForEachSocket("udp6", look);
    return bound;
}

// True when a socket of this namespace listens on TCP `port`.
inline bool TcpPortListening(std::uint16_t port) {
    bool listening = false;
    const auto look = [&](const detail::SocketRow &row) {
        listening = listening || (row.localPort == port && row.state == 0x0A);
    };
    detail::ForEachSocket("tcp", look);
    detail::ForEachSocket("tcp6", look);
    return listening;
}

// TCP connections of this namespace from or to `port` that either side
// still holds (neither listening sockets nor closed ones in time-wait):
// 0 once both ends of every such connection have closed.
inline int TcpConnectionsOnPort(std::uint16_t port) {
    int count = 0;
    const auto look = [&](const detail::SocketRow &row) {
        if ((row.localPort == port || row.remotePort == port) && row.state != 0x0A &&
            row.state != 0x06 && row.state != 0x07)
            ++count;
    };
    detail::ForEachSocket("tcp", look);
    detail::ForEachSocket("tcp6", look);
    return count;
}

// Bytes waiting in the receive queues of the sockets bound to UDP `port`:
// 0 once their owner has read every datagram that arrived.
inline unsigned long UdpBytesQueued(std::uint16_t port) {
    unsigned long total = 0;
    const auto look = [&](const detail::SocketRow &row) {
        if (row.localPort == port)
            total += row.rxQueueBytes;
    };
    detail::ForEachSocket("udp", look);
    detail::ForEachSocket("udp6", look);
    return total;
}

// Datagrams that programs of this namespace have read from UDP sockets so
// far (the kernel counts a datagram when a program receives it, not when it
// arrives). In a namespace of its own a test sees exactly its own reads.
inline std::uint64_t UdpDatagramsRead() {
    return detail::SnmpField("/proc/net/snmp", "Udp", "InDatagrams") +
           detail::Snmp6Field("/proc/net/snmp6", "Udp6InDatagrams");
}

// The system call thread `tid` of this process is blocked in, as its number
// (SYS_futex, SYS_recvfrom, ...), or -1 while it runs: the sign that a thread
// has reached a wait or a receive.
inline long ThreadSyscall(long tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    if (!(file >> number))
        return -1;
    return number;
}

} // namespace qz417::test
