// The command channel's reply handling, through the library's own entry
// points, against a fake peer whose replies are the fuzzer's bytes.
//
// Input: operation (1 byte: profile, image, read, write, flush, angle), the
// size of the pieces the peer sends (1 byte; 0 = all at once), flags (1 byte:
// bit 0 repeats the reply bytes until a whole reply is there), the flush mode
// (4 bytes), then the reply bytes. The peer sends them and then closes its
// sending side, so every exchange ends without waiting for a time-out.
// Checks: success exactly when a whole reply arrived, the reply bytes in the
// caller's buffer in order, nothing written beyond what arrived (the image:
// zeros after it), and exactly the requests the operation sends.
//
// The library works only on sockets it opened itself, so the connection is
// made by QZ417_Connect; this program replaces connect() for the whole
// process (the library's call resolves to the executable's definition
// first) and puts one end of a socket pair in place of the TCP socket.
#include "fuzz_input.h"
#include "qz417link.h"
#include "wire_codec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int connectTo = -1; // the socket the next connect() puts in place

} // namespace

extern "C" int connect(int fd, const sockaddr *, socklen_t) {
    if (connectTo < 0 || dup2(connectTo, fd) < 0) {
        errno = ECONNREFUSED;
        return -1;
    }
    return 0;
}

namespace {

namespace wire = qz417::link::wire;
using qz417::fuzz::Check;

enum Operation : std::uint8_t { kResult, kImage, kRead, kWrite, kFlush, kAngle, kOperations };

constexpr std::uint8_t kSentinel = 0xA5;

std::size_t ReplySize(Operation op) {
    switch (op) {
    case kResult:
        return wire::kPacketSize;
    case kImage:
        return wire::kImageSize;
    case kRead:
        return wire::kConfigSize;
    case kWrite:
        return 0;
    case kFlush:
        return wire::kFlushAckSize;
    case kAngle:
        return wire::kAngleSize;
    default:
        return 0;
    }
}

// Sends `stream` in pieces of `piece` bytes (all at once for 0), then ends the
// peer's side. Stops quietly when the library side has gone away.
void Feed(int fd, const std::vector<std::uint8_t> &stream, std::size_t piece) {
    std::size_t sent = 0;
    while (sent < stream.size()) {
        const std::size_t n =
            piece == 0 ? stream.size() - sent : std::min(piece, stream.size() - sent);
        const ssize_t done = send(fd, stream.data() + sent, n, MSG_NOSIGNAL);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        sent += static_cast<std::size_t>(done);
    }
    shutdown(fd, SHUT_WR);
}

// Everything the library sent, read after its side was closed.
std::vector<std::uint8_t> Drain(int fd) {
    std::vector<std::uint8_t> out;
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

wire::HeaderBytes Header(const wire::CommandHeader &h) {
    return wire::EncodeCommandHeader(h);
}

void CheckRefusals() {
    std::uint8_t buf[wire::kPacketSize];
    static std::vector<std::uint8_t> image(wire::kImageSize);
    for (const int32_t none : {0, -1}) {
        Check(QZ417_GetResult(none, buf) == 0, "profile without a connection");
        Check(QZ417_GetImage(none, image.data()) == 0, "image without a connection");
        Check(QZ417_ReadParams(none, buf) == 0, "read without a connection");
        Check(QZ417_WriteParams(none, buf) == 0, "write without a connection");
        Check(QZ417_FlushParams(none, 0) == 0, "flush without a connection");
        Check(QZ417_CalcAngle(none, buf) == 0, "angle without a connection");
        Check(QZ417_Disconnect(none) == 0, "disconnect of no connection");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const bool refusalsChecked = (CheckRefusals(), true);
    (void)refusalsChecked;

    qz417::fuzz::FuzzInput in(data, size);
    const auto op = static_cast<Operation>(in.u8() % kOperations);
    std::size_t piece = in.u8();
    const std::uint8_t flags = in.u8();
    const auto mode = static_cast<int32_t>(in.u16() | (std::uint32_t(in.u16()) << 16));
    const auto reply = in.rest();

    const std::size_t replySize = ReplySize(op);
    std::vector<std::uint8_t> stream(reply.begin(), reply.end());
    if ((flags & 1) && !stream.empty() && replySize > 0) {
        // A whole reply, then what the peer sent beyond it.
        const std::size_t extra = std::min<std::size_t>(stream.size(), 64);
        std::vector<std::uint8_t> repeated(replySize + extra);
        for (std::size_t i = 0; i < repeated.size(); ++i)
            repeated[i] = stream[i % stream.size()];
        stream.swap(repeated);
        if (piece != 0)
            piece = std::max<std::size_t>(piece * 64, 1024); // keep long replies quick
    }

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    DeviceAnnouncement device{};
    device.type = QZ417_TYPE_CODE;
    device.ip[0] = 127, device.ip[3] = 1;
    connectTo = fds[0];
    const int32_t library = QZ417_Connect(&device);
    connectTo = -1;
    close(fds[0]);
    const int peer = fds[1];
    Check(library > 0, "connection through the socket pair");

    std::thread feeder(Feed, peer, std::cref(stream), piece);

    std::vector<std::uint8_t> buffer(std::max<std::size_t>(replySize, wire::kConfigSize),
                                     kSentinel);
    if (op == kWrite)
        for (std::size_t i = 0; i < wire::kConfigSize; ++i)
            buffer[i] = static_cast<std::uint8_t>(i * 7 + stream.size());
    int32_t result = 0;
    switch (op) {
    case kResult:
        result = QZ417_GetResult(library, buffer.data());
        break;
    case kImage:
        result = QZ417_GetImage(library, buffer.data());
        break;
    case kRead:
        result = QZ417_ReadParams(library, buffer.data());
        break;
    case kWrite:
        result = QZ417_WriteParams(library, buffer.data());
        break;
    case kFlush:
        result = QZ417_FlushParams(library, mode);
        break;
    case kAngle:
        result = QZ417_CalcAngle(library, buffer.data());
        break;
    default:
        break;
    }
    Check(QZ417_Disconnect(library) == 1, "disconnect of an open socket");
    feeder.join();
    const std::vector<std::uint8_t> requests = Drain(peer);
    close(peer);

    // The verdict and the caller's buffer.
    const bool whole = stream.size() >= replySize;
    Check((result == 1) == whole, "result of the exchange");
    Check(result == 0 || result == 1, "result value");
    if (op != kWrite && op != kFlush) {
        const std::size_t arrived = std::min(stream.size(), replySize);
        Check(std::equal(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(arrived),
                         buffer.begin()),
              "reply bytes in the buffer");
        const std::uint8_t after = op == kImage ? 0 : kSentinel;
        for (std::size_t i = arrived; i < replySize; ++i)
            Check(buffer[i] == after, "buffer written beyond the reply");
    }

    // The requests on the wire.
    std::vector<std::uint8_t> expected;
    const auto add = [&expected](const wire::CommandHeader &h) {
        const auto bytes = Header(h);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    };
    switch (op) {
    case kResult:
        add(wire::MakeRequest(wire::Command::GetResult));
        break;
    case kImage: {
        add(wire::MakeRequest(wire::Command::StartImage));
        // Every chunk up to and including the one whose reply broke off.
        const std::size_t chunks =
            whole ? wire::kImageChunkCount : stream.size() / wire::kImageChunkSize + 1;
        for (std::size_t c = 0; c < chunks; ++c)
            add(wire::MakeImageChunkRequest(static_cast<std::uint32_t>(c * wire::kImageChunkSize)));
        break;
    }
    case kRead:
        add(wire::MakeRequest(wire::Command::ReadParams));
        break;
    case kWrite:
        add(wire::MakeWriteParamsRequest());
        expected.insert(expected.end(), buffer.begin(), buffer.begin() + wire::kConfigSize);
        break;
    case kFlush:
        add(wire::MakeFlushRequest(mode));
        break;
    case kAngle:
        add(wire::MakeRequest(wire::Command::CalcAngle));
        break;
    default:
        break;
    }
    Check(requests == expected, "requests sent by the library");
    return 0;
}
