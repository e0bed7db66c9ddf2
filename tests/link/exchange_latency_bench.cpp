// Measures the command channel's round trips against the fake scanner on
// loopback, with and without TCP_NODELAY on the library's socket:
// write-then-read cycles (command 5 is sent in two pieces) and profile fetches.
// Not a test; run by hand: qz417link_exchange_latency_bench
#include "fake_scanner.h"

#include "qz417link.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

double MicrosecondsPer(int count, std::chrono::steady_clock::duration total) {
    return std::chrono::duration<double, std::micro>(total).count() / count;
}

} // namespace

int main() {
    qz417::test::FakeScannerOptions options;
    options.address = "127.0.0.90";
    qz417::test::FakeScanner scanner(options);
    if (scanner.bindError() != 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.90:417\n");
        return 1;
    }
    const DeviceAnnouncement device = scanner.announcement();
    std::vector<uint8_t> config(QZ417_CONFIG_SIZE), packet(QZ417_PACKET_SIZE);
    for (const int noDelay : {0, 1}) {
        const int32_t fd = QZ417_Connect(&device);
        if (fd <= 0)
            return 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        constexpr int kCycles = 200;
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCycles; ++i)
            if (QZ417_WriteParams(fd, config.data()) != 1 ||
                QZ417_ReadParams(fd, config.data()) != 1)
                return 1;
        const auto writeRead = std::chrono::steady_clock::now() - start;
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCycles; ++i)
            if (QZ417_GetResult(fd, packet.data()) != 1)
                return 1;
        const auto results = std::chrono::steady_clock::now() - start;
        std::printf("TCP_NODELAY=%d: write+read %.1f us/cycle, profile %.1f us/fetch\n", noDelay,
                    MicrosecondsPer(kCycles, writeRead), MicrosecondsPer(kCycles, results));
        QZ417_Disconnect(fd);
    }
    return 0;
}
