#include "scanner_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failure.h"

namespace qz417::ctl {

namespace {

constexpr int kLibraryTimeoutMs = 4000;

void SetReceiveTimeout(int fd, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// A TCP connection made the way QZ417_Connect makes one (close-on-exec,
// never descriptor 0, no Nagle delay, 1 MiB receive buffer), but to any port
// and with the connect bounded by timeoutMs. Returns -1 with errno set.
int ConnectTcp(const Ipv4 &ip, int port, int timeoutMs) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd == 0) { // the library takes 0 for "no connection"
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close(fd);
        fd = moved;
    }
    if (fd < 0)
        return -1;
    auto fail = [fd](int err) {
        close(fd);
        errno = err;
        return -1;
    };
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int buffer = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&address.sin_addr, ip.data(), ip.size());
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINPROGRESS)
            return fail(errno);
        pollfd p{fd, POLLOUT, 0};
        int ready = 0;
        do {
            ready = poll(&p, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0)
            return fail(ETIMEDOUT);
        int err = 0;
        socklen_t size = sizeof err;
        if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0)
            return fail(errno);
        if (err != 0)
            return fail(err);
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(errno);
    SetReceiveTimeout(fd, timeoutMs);
    return fd;
}

} // namespace

std::vector<OptionDef> WithConnectOptions(std::vector<OptionDef> own) {
    own.push_back({"port", 0, "PORT", "the scanner's TCP command port, 1..65535 (default 417)"});
    own.push_back({"timeout", 0, "MS",
                   "wait this long for each reply (and, with --port, for the\n"
                   "connection), 1..600000 ms (default 4000)"});
    return own;
}

Ipv4 ScannerAddressArgument(const CommandLine &cl, const std::string &usage) {
    cl.expectPositional(1, usage);
    return ParseIpv4(cl.positional()[0]);
}

ConnectOptions ReadConnectOptions(const CommandLine &cl) {
    ConnectOptions o;
    o.port = static_cast<int>(cl.integer("port", QZ417_TCP_PORT, 1, 65535));
    o.timeoutMs = static_cast<int>(cl.integer("timeout", kLibraryTimeoutMs, 1, 600000));
    return o;
}

ScannerConnection::ScannerConnection(const Ipv4 &ip, const ConnectOptions &options)
    : address_(FormatIpv4(ip.data())), timeoutMs_(options.timeoutMs) {
    errno = 0;
    if (options.port == QZ417_TCP_PORT) {
        const DeviceAnnouncement record = MakeAnnouncement(ip);
        socket_ = QZ417_Connect(&record);
    } else {
        socket_ = ConnectTcp(ip, options.port, options.timeoutMs);
        ownSocket_ = true;
    }
    if (socket_ == -1 || socket_ == 0) {
        const int err = errno;
        std::string line =
            "no scanner at " + address_ + " (TCP port " + std::to_string(options.port);
        if (err == ETIMEDOUT && options.port != QZ417_TCP_PORT)
            line += ": no answer within " + std::to_string(options.timeoutMs) + " ms";
        else if (err != 0)
            line += std::string(": ") + std::strerror(err);
        throw Failure(line + ")");
    }
    if (options.port == QZ417_TCP_PORT && options.timeoutMs != kLibraryTimeoutMs)
        SetReceiveTimeout(socket_, options.timeoutMs);
}

ScannerConnection::~ScannerConnection() {
    // The library closes only the connections it opened.
    if (ownSocket_) {
        if (socket_ > 0)
            close(socket_);
    } else {
        QZ417_Disconnect(socket_);
    }
}

void ScannerConnection::fail(const std::string &what) const {
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK || err == ETIMEDOUT)
        throw Failure("time-out: " + address_ + " did not answer the " + what + " within " +
                      std::to_string(timeoutMs_) + " ms");
    if (err == 0 || err == ECONNRESET || err == EPIPE)
        throw Failure(address_ + " closed the connection during the " + what);
    throw Failure(what + " with " + address_ + " failed: " + std::strerror(err));
}

std::array<std::uint8_t, QZ417_CONFIG_SIZE> ScannerConnection::readParams() {
    std::array<std::uint8_t, QZ417_CONFIG_SIZE> block{};
    errno = 0;
    if (QZ417_ReadParams(socket_, block.data()) != 1)
        fail("parameter read");
    return block;
}

void ScannerConnection::writeParams(const std::array<std::uint8_t, QZ417_CONFIG_SIZE> &block) {
    errno = 0;
    if (QZ417_WriteParams(socket_, block.data()) != 1)
        fail("parameter write");
    // Command 5 has no reply: the send succeeds as soon as the block is in
    // the socket buffer, even when the scanner then drops the connection.
    // Its answer to a read, which it gives only after handling the write,
    // confirms the block arrived before success is reported.
    std::array<std::uint8_t, QZ417_CONFIG_SIZE> readBack{};
    errno = 0;
    if (QZ417_ReadParams(socket_, readBack.data()) != 1)
        fail("read-back after the parameter write");
}

void ScannerConnection::flushParams(int mode) {
    errno = 0;
    if (QZ417_FlushParams(socket_, mode) != 1)
        fail(mode == QZ417_FLUSH_DEFAULTS ? "return to the defaults" : "parameter store");
}

std::array<std::uint8_t, QZ417_PACKET_SIZE> ScannerConnection::getResult() {
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    errno = 0;
    if (QZ417_GetResult(socket_, packet.data()) != 1)
        fail("profile request");
    return packet;
}

std::vector<std::uint8_t> ScannerConnection::getImage() {
    std::vector<std::uint8_t> image(QZ417_IMAGE_SIZE);
    errno = 0;
    if (QZ417_GetImage(socket_, image.data()) != 1)
        fail("image request");
    return image;
}

std::int16_t ScannerConnection::calcAngle() {
    std::uint8_t reply[QZ417_ANGLE_SIZE] = {0, 0};
    errno = 0;
    if (QZ417_CalcAngle(socket_, reply) != 1)
        fail("angle calculation");
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(reply[0] | (reply[1] << 8)));
}

} // namespace qz417::ctl
