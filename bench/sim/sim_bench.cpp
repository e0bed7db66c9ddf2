// qz417sim_bench: how fast the emulated scanner serves command 1 through the
// library on loopback, and how many UDP packets per second it streams without
// a plain receiver losing any. Binds ports 417 and 6003 on loopback only.
#include "bench_support.h"
#include "emulator.h"
#include "qz417link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

qz417::sim::EmulatorOptions quietOptions() {
    qz417::sim::EmulatorOptions o;
    o.count = 1;
    o.announceIntervalMs = 0;
    o.quiet = true;
    return o;
}

bool benchCommands(double seconds) {
    qz417::sim::Emulator emu(quietOptions());
    std::string error;
    if (!emu.start(&error)) {
        std::fprintf(stderr, "qz417sim_bench: %s\n", error.c_str());
        return false;
    }
    const DeviceAnnouncement d = qz417::bench::RecordOf(emu.announcement(0));
    const int s = QZ417_Connect(&d);
    if (s <= 0) {
        std::fprintf(stderr, "qz417sim_bench: cannot connect\n");
        return false;
    }
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    for (int i = 0; i < 1000; ++i) // warm up
        QZ417_GetResult(s, packet.data());
    long ok = 0, failed = 0;
    const auto start = Clock::now();
    while (since(start) < seconds && failed == 0) {
        for (int i = 0; i < 1000; ++i)
            (QZ417_GetResult(s, packet.data()) == 1 ? ok : failed)++;
    }
    const double elapsed = since(start);
    std::printf("command 1 (profile, 4100 bytes): %ld exchanges in %.2f s = %.0f per second, "
                "%.1f us each, %ld failed\n",
                ok, elapsed, ok / elapsed, 1e6 * elapsed / static_cast<double>(ok), failed);

    std::vector<std::uint8_t> image(QZ417_IMAGE_SIZE);
    long images = 0;
    const auto imageStart = Clock::now();
    while (since(imageStart) < seconds / 2)
        images += QZ417_GetImage(s, image.data());
    std::printf("image (command 2 + ten commands 3, 327680 bytes): %.0f transfers per second\n",
                images / since(imageStart));
    QZ417_Disconnect(s);
    return failed == 0;
}

struct StreamResult {
    long sent = 0, received = 0, gaps = 0;
    double seconds = 0;
};

StreamResult benchStream(double rateHz, double seconds) {
    StreamResult r;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int big = 64 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    timeval tv{0, 200000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(6003);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::perror("qz417sim_bench: bind 127.0.0.1:6003");
        ::close(fd);
        return r;
    }
    qz417::sim::EmulatorOptions o = quietOptions();
    o.streamRateHz = rateHz;
    qz417::sim::Emulator emu(o);
    std::string error;
    if (!emu.start(&error)) {
        std::fprintf(stderr, "qz417sim_bench: %s\n", error.c_str());
        ::close(fd);
        return r;
    }
    std::uint8_t buf[4200];
    bool first = true;
    std::uint16_t last = 0;
    const auto start = Clock::now();
    while (since(start) < seconds) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n != QZ417_PACKET_SIZE)
            continue;
        const auto count = static_cast<std::uint16_t>(buf[2] | (buf[3] << 8));
        if (!first && count != static_cast<std::uint16_t>(last + 1))
            ++r.gaps;
        first = false;
        last = count;
        ++r.received;
    }
    emu.stop();                                        // no more packets; take what is still queued
    r.sent = static_cast<long>(emu.udpPacketsSent(0)); // the receiver was there first
    r.seconds = since(start);
    for (int i = 0; i < 1000000; ++i) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0)
            break;
        if (n == QZ417_PACKET_SIZE)
            ++r.received;
    }
    ::close(fd);
    return r;
}

} // namespace

int main(int argc, char **argv) {
    double seconds = 2;
    if (argc > 1)
        seconds = std::atof(argv[1]);
    if (seconds <= 0 || seconds > 60) {
        std::fprintf(stderr, "usage: qz417sim_bench [SECONDS per figure, default 2]\n");
        return 2;
    }
    if (!benchCommands(seconds))
        return 1;
    double best = 0;
    for (double rate : {10000.0, 50000.0, 100000.0, 150000.0, 200000.0, 300000.0, 400000.0,
                        600000.0, 1000000.0}) {
        const StreamResult r = benchStream(rate, seconds);
        const long lost = r.sent - r.received;
        std::printf("UDP stream at %.0f Hz: sent %ld (%.0f/s), received %ld, lost %ld, "
                    "counter gaps %ld\n",
                    rate, r.sent, r.sent / r.seconds, r.received, lost, r.gaps);
        if (r.sent == 0)
            return 1;
        if (lost != 0 || r.gaps != 0 || r.sent < rate * r.seconds * 0.95)
            break;
        best = r.sent / r.seconds;
    }
    std::printf("UDP stream without loss: %.0f packets per second\n", best);
    return 0;
}
