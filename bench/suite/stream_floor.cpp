// qz417bench_floor: the least a receiver of the UDP profile stream can do,
// the floor the stream rows of bench/run are measured against.
//
//   qz417bench_floor PORT
//
// One UDP socket on PORT with the receive buffer the link library asks for
// (32 MiB: SO_RCVBUF, then SO_RCVBUFFORCE where that was capped), recvmmsg
// in batches of 64, and the gaps in the packets' 16-bit counter counted as
// the window counts them (qz417::StreamStats); nothing is kept or recorded.
// Prints "ready" once bound, runs until SIGTERM or SIGINT (at most an hour),
// then prints one line:
//   floor received=N lost=N late=N buffer=BYTES drops=N
// (buffer: SO_RCVBUF as the kernel reports it; drops: the socket's
// full-buffer drops from /proc/net/udp, -1 when unknown).
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "model/socket_receive.h"
#include "model/stream_stats.h"

namespace {

constexpr int kAskedBytes = 33554432; // as the link library's stream socket
constexpr unsigned kBatch = 64;
constexpr std::size_t kPacketBytes = 4100;

volatile std::sig_atomic_t gStop = 0;

extern "C" void OnStop(int) {
    gStop = 1;
}

} // namespace

int main(int argc, char **argv) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: qz417bench_floor PORT\n");
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 1;
    int bytes = kAskedBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0 || granted / 2 < bytes)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        std::perror("qz417bench_floor: bind");
        return 1;
    }
    // A receive timeout, so that a stop signal is seen within 100 ms.
    timeval timeout{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    struct sigaction stop {};
    stop.sa_handler = OnStop; // no SA_RESTART: recvmmsg returns on the signal
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    static std::array<std::array<std::uint8_t, kPacketBytes>, kBatch> buffers;
    std::array<iovec, kBatch> iov{};
    std::array<mmsghdr, kBatch> messages{};
    for (unsigned i = 0; i < kBatch; ++i) {
        iov[i] = {buffers[i].data(), kPacketBytes};
        messages[i].msg_hdr.msg_iov = &iov[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    qz417::StreamStats stats;
    const auto start = std::chrono::steady_clock::now();
    while (gStop == 0 && std::chrono::steady_clock::now() - start < std::chrono::hours(1)) {
        const int n = ::recvmmsg(fd, messages.data(), kBatch, MSG_WAITFORONE, nullptr);
        for (int i = 0; i < n; ++i)
            if (messages[i].msg_len == kPacketBytes)
                stats.ObservePacket(buffers[i].data());
    }
    const qz417::SocketReceive receive = qz417::ReadSocketReceive(fd);
    const qz417::StreamCounts &c = stats.counts();
    std::printf("floor received=%llu lost=%llu late=%llu buffer=%d drops=%lld\n",
                static_cast<unsigned long long>(c.received),
                static_cast<unsigned long long>(c.lost),
                static_cast<unsigned long long>(qz417::OutOfOrder(c)), receive.grantedBytes,
                receive.drops ? static_cast<long long>(*receive.drops) : -1LL);
    ::close(fd);
    return 0;
}
