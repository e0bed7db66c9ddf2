// qz417bench_link: exchanges per second through qz417link against a minimal
// raw-socket client that sends the same requests to the same emulated
// scanner on loopback. The two take turns in short rounds, so that both see
// the same machine load; the figure is the sum over all rounds.
//
//   qz417bench_link [SECONDS per client and exchange, default 3]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "bench_support.h"

namespace {

using qz417::bench::Clock;
using qz417::bench::Since;

constexpr int kRounds = 20;

// The raw client: one TCP connection, a 16-byte header per request, the
// reply read until complete. No lock, no argument checks, nothing else.
class RawClient {
public:
    explicit RawClient(const std::string &address) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(QZ417_TCP_PORT);
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RawClient() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool ok() const { return fd_ >= 0; }

    bool request(std::uint32_t command, std::uint32_t offset, std::uint32_t size) {
        std::uint8_t h[16] = {};
        const std::uint32_t fields[4] = {command, 0, offset, size};
        for (int f = 0; f < 4; ++f)
            for (int b = 0; b < 4; ++b)
                h[f * 4 + b] = static_cast<std::uint8_t>(fields[f] >> (8 * b));
        return ::send(fd_, h, sizeof h, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof h);
    }
    bool receive(std::uint8_t *into, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = ::recv(fd_, into + got, n - got, 0);
            if (r <= 0)
                return false;
            got += static_cast<std::size_t>(r);
        }
        return true;
    }
    bool result(std::uint8_t *packet) { return request(1, 0, 0) && receive(packet, 4100); }
    bool image(std::uint8_t *image) {
        if (!request(2, 0, 0))
            return false;
        for (std::uint32_t offset = 0; offset < QZ417_IMAGE_SIZE; offset += 32768)
            if (!request(3, offset, 32768) || !receive(image + offset, 32768))
                return false;
        return true;
    }

private:
    int fd_ = -1;
};

struct Tally {
    long count = 0;
    double seconds = 0;
    long failed = 0;
    double rate() const { return seconds > 0 ? static_cast<double>(count) / seconds : 0; }
};

template <class F> void Round(Tally &t, double seconds, F &&exchange) {
    const auto start = Clock::now();
    while (Since(start) < seconds && t.failed == 0) {
        if (exchange())
            ++t.count;
        else
            ++t.failed;
    }
    t.seconds += Since(start);
}

// The ratio of the totals: the clients took turns in short rounds, so a
// change of the machine's load falls on both alike.
void Report(const char *name, const char *unit, const Tally &lib, const Tally &raw,
            const std::vector<double> &ratios) {
    const double ratio = raw.rate() > 0 ? lib.rate() / raw.rate() : 0;
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    if (!sorted.empty())
        std::fprintf(stderr, "%s: ratios of the rounds from %.3f to %.3f, median %.3f\n", name,
                     sorted.front(), sorted.back(), sorted[sorted.size() / 2]);
    std::fprintf(stderr, "%s: library %ld in %.2f s (%ld failed), raw %ld in %.2f s (%ld failed)\n",
                 name, lib.count, lib.seconds, lib.failed, raw.count, raw.seconds, raw.failed);
    qz417::bench::Figure(std::string(name) + " (" + unit + ")", qz417::bench::Fixed(lib.rate(), 0),
                         qz417::bench::Fixed(raw.rate(), 0) + " raw socket",
                         qz417::bench::Fixed(ratio, 3), ">= 0.95",
                         qz417::bench::YesNo(ratio >= 0.95 && lib.failed == 0 && raw.failed == 0));
}

} // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (seconds <= 0 || seconds > 60) {
        std::fprintf(stderr, "usage: qz417bench_link [SECONDS, default 3]\n");
        return 2;
    }
    qz417::sim::EmulatorOptions options;
    options.announceIntervalMs = 0;
    qz417::sim::Emulator emulator(options);
    std::string error;
    if (!qz417::bench::StartEmulator(emulator, &error)) {
        std::fprintf(stderr, "qz417bench_link: %s\n", error.c_str());
        return 1;
    }
    const DeviceAnnouncement device = qz417::bench::RecordOf(emulator.announcement(0));
    const std::int32_t socket = QZ417_Connect(&device);
    RawClient raw(emulator.address(0));
    if (socket <= 0 || !raw.ok()) {
        std::fprintf(stderr, "qz417bench_link: cannot connect to %s\n",
                     emulator.address(0).c_str());
        return 1;
    }

    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    std::vector<std::uint8_t> image(QZ417_IMAGE_SIZE);
    for (int i = 0; i < 500; ++i) { // warm-up: caches, the emulator's profile
        QZ417_GetResult(socket, packet.data());
        raw.result(packet.data());
    }

    Tally libResult, rawResult, libImage, rawImage;
    std::vector<double> resultRatios, imageRatios;
    const double slice = seconds / kRounds;
    // One round: both clients for one slice each, in alternating order.
    auto round = [&](int r, Tally &lib, Tally &rawTally, const std::function<bool()> &viaLib,
                     const std::function<bool()> &viaRaw, std::vector<double> &ratios) {
        Tally l, w;
        if (r % 2 == 0) {
            Round(l, slice, viaLib);
            Round(w, slice, viaRaw);
        } else {
            Round(w, slice, viaRaw);
            Round(l, slice, viaLib);
        }
        if (w.rate() > 0)
            ratios.push_back(l.rate() / w.rate());
        lib.count += l.count;
        lib.seconds += l.seconds;
        lib.failed += l.failed;
        rawTally.count += w.count;
        rawTally.seconds += w.seconds;
        rawTally.failed += w.failed;
    };
    for (int r = 0; r < kRounds; ++r)
        round(
            r, libResult, rawResult, [&] { return QZ417_GetResult(socket, packet.data()) == 1; },
            [&] { return raw.result(packet.data()); }, resultRatios);
    for (int r = 0; r < kRounds; ++r)
        round(
            r, libImage, rawImage, [&] { return QZ417_GetImage(socket, image.data()) == 1; },
            [&] { return raw.image(image.data()); }, imageRatios);
    QZ417_Disconnect(socket);

    Report("1 TCP profile polling, QZ417_GetResult", "exchanges/s", libResult, rawResult,
           resultRatios);
    Report("2a camera image, QZ417_GetImage", "images/s", libImage, rawImage, imageRatios);
    return libResult.failed + rawResult.failed + libImage.failed + rawImage.failed == 0 ? 0 : 1;
}
