// Helpers shared by the benchmark programs of bench/suite: clocks, CPU and
// memory readings of this process, the emulated scanner on loopback, and the
// one line per figure that bench/run gathers into its table.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulator.h"
#include "qz417link.h"

namespace qz417::bench {

using Clock = std::chrono::steady_clock;

inline double Since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// CPU seconds (user + system) used by the whole process so far.
inline double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// CPU seconds used by the calling thread so far.
inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Peak resident set of the process, KiB.
inline long PeakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Current resident set of the process, KiB (0 when /proc is unreadable).
inline long CurrentRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// The kernel's count of datagrams dropped for a full receive buffer (all
// UDP sockets of the network namespace; a cross-check of the loss counted
// by a benchmark). -1 when /proc is unreadable.
inline long UdpReceiveBufferErrors() {
    std::ifstream snmp("/proc/net/snmp");
    std::string header, values;
    while (std::getline(snmp, header) && std::getline(snmp, values)) {
        if (header.rfind("Udp:", 0) != 0)
            continue;
        std::istringstream h(header), v(values);
        std::string name, value;
        while (h >> name && v >> value)
            if (name == "RcvbufErrors")
                return std::stol(value);
    }
    return -1;
}

// Microseconds in which some runnable task of the machine waited for a CPU
// (the "some" line of /proc/pressure/cpu); -1 where the kernel does not
// report it. Over an interval, against its wall time, it says how contended
// the machine was while a figure was taken.
inline long long CpuPressureMicroseconds() {
    std::ifstream pressure("/proc/pressure/cpu");
    std::string line;
    while (std::getline(pressure, line)) {
        if (line.rfind("some ", 0) != 0)
            continue;
        const std::size_t at = line.find("total=");
        if (at != std::string::npos)
            return std::stoll(line.substr(at + 6));
    }
    return -1;
}

// The share of an interval, in percent, in which some task waited for a CPU;
// from two readings of CpuPressureMicroseconds, -1 when there are none.
inline double CpuPressurePercent(long long before, long long after, double seconds) {
    if (before < 0 || after < 0 || seconds <= 0)
        return -1;
    return 100.0 * static_cast<double>(after - before) * 1e-6 / seconds;
}

// The median of some measurements (the mean of the middle two for an even
// count; 0 for none), so that one turn hit by a load spike does not decide.
inline double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// One figure for the table of bench/run, tab separated:
//   FIGURE  name  value  baseline  ratio  target  holds
// Empty fields are written as "-". holds: "yes", "no" or "-" (no target).
inline void Figure(const std::string &name, const std::string &value,
                   const std::string &baseline = "-", const std::string &ratio = "-",
                   const std::string &target = "-", const std::string &holds = "-") {
    std::printf("FIGURE\t%s\t%s\t%s\t%s\t%s\t%s\n", name.c_str(), value.c_str(), baseline.c_str(),
                ratio.c_str(), target.c_str(), holds.c_str());
    std::fflush(stdout);
}

inline std::string Fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

inline std::string YesNo(bool b) {
    return b ? "yes" : "no";
}

// Starts the emulator, retrying for a while when its loopback ports are
// still taken (another run ending, or a test binding the same addresses).
inline bool StartEmulator(qz417::sim::Emulator &emulator, std::string *error) {
    const auto start = Clock::now();
    for (;;) {
        if (emulator.start(error))
            return true;
        if (Since(start) > 60)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

// The options of an emulator that announces nothing, listens on TCP
// `tcpPort` and streams at `hz` from its start.
inline qz417::sim::EmulatorOptions StreamingOptions(double hz, std::uint16_t tcpPort) {
    qz417::sim::EmulatorOptions o;
    o.announceIntervalMs = 0;
    o.tcpPort = tcpPort;
    o.streamRateHz = hz;
    return o;
}

// Points the emulator's stream at 127.0.0.1:`udpPort`, then starts it as
// StartEmulator does.
inline bool StartStreamingTo(qz417::sim::Emulator &emulator, std::uint16_t udpPort,
                             std::string *error) {
    auto block = emulator.config(0);
    block[26] = 1, block[27] = 0, block[28] = 0, block[29] = 127; // first octet last
    block[30] = static_cast<std::uint8_t>(udpPort), block[31] = udpPort >> 8;
    emulator.setConfig(0, block);
    return StartEmulator(emulator, error);
}

// The list record of an announcement, as QZ_Search would return it.
inline DeviceAnnouncement RecordOf(const std::array<std::uint8_t, 268> &a) {
    DeviceAnnouncement d{};
    d.type = static_cast<std::uint16_t>(a[0] | (a[1] << 8));
    std::memcpy(d.ip, &a[2], 4);
    std::memcpy(d.mac, &a[6], 6);
    std::memcpy(d.description, &a[12], 255);
    return d;
}

} // namespace qz417::bench
