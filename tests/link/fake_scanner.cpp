#include "fake_scanner.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qz417::test {

namespace wire = link::wire;

namespace {

constexpr int kPollMs = 20;

sockaddr_in LoopbackAddress(const std::string &address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    return sa;
}

} // namespace

FakeScanner::FakeScanner(FakeScannerOptions options)
    : options_(std::move(options)), image_(wire::kImageSize) {
    for (std::size_t i = 0; i < image_.size(); ++i)
        image_[i] = ImageByte(i);
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sa = LoopbackAddress(options_.address, wire::kCommandPort);
    if (bind(listener_, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) != 0 ||
        listen(listener_, 4) != 0) {
        bindError_ = errno;
        close(listener_);
        listener_ = -1;
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

FakeScanner::~FakeScanner() {
    stop_ = true;
    releaseStall();
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close(listener_);
}

DeviceAnnouncement FakeScanner::announcement() const {
    DeviceAnnouncement device{};
    device.type = wire::kTypeCode;
    in_addr a{};
    inet_pton(AF_INET, options_.address.c_str(), &a);
    const auto *bytes = reinterpret_cast<const uint8_t *>(&a.s_addr); // network order
    for (int i = 0; i < 4; ++i)
        device.ip[i] = bytes[i];
    return device;
}

std::vector<RecordedRequest> FakeScanner::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool FakeScanner::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void FakeScanner::releaseStall() {
    {
        std::lock_guard lock(mutex_);
        stallReleased_ = true;
    }
    changed_.notify_all();
}

void FakeScanner::serve() {
    while (!stop_) {
        pollfd entry{listener_, POLLIN, 0};
        if (poll(&entry, 1, kPollMs) <= 0)
            continue;
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (options_.resetOnAccept) {
            const linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            close(fd);
            continue;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        handleConnection(fd);
        close(fd);
    }
}

bool FakeScanner::readExactly(int fd, uint8_t *buffer, std::size_t size) {
    std::size_t count = 0;
    while (count < size && !stop_) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, kPollMs) <= 0)
            continue;
        const ssize_t n = recv(fd, buffer + count, size - count, 0);
        if (n <= 0)
            return false;
        count += static_cast<std::size_t>(n);
    }
    return count == size;
}

bool FakeScanner::waitStall() {
    if (options_.stall.count() == 0)
        return true;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, options_.stall, [&] { return stallReleased_; });
    return !stop_;
}

bool FakeScanner::reply(int fd, const uint8_t *data, std::size_t size, std::size_t &sentTotal) {
    if (options_.silent || !waitStall())
        return true;
    std::size_t limit = size;
    bool hangUp = false;
    if (options_.hangUpAfter && sentTotal + size > *options_.hangUpAfter) {
        limit = *options_.hangUpAfter - sentTotal;
        hangUp = true;
    }
    const std::size_t segment = options_.segmentSize == 0 ? limit : options_.segmentSize;
    for (std::size_t done = 0; done < limit && !stop_;) {
        const std::size_t piece = std::min(segment, limit - done);
        const ssize_t n = send(fd, data + done, piece, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
        sentTotal += static_cast<std::size_t>(n);
        if (options_.segmentPause.count() > 0 && done < limit)
            std::this_thread::sleep_for(options_.segmentPause);
    }
    return !hangUp;
}

void FakeScanner::handleConnection(int fd) {
    std::size_t sentTotal = 0;
    std::vector<uint8_t> packet(wire::kPacketSize), config(wire::kConfigSize);
    for (std::size_t i = 0; i < packet.size(); ++i)
        packet[i] = PacketByte(i);
    for (std::size_t i = 0; i < config.size(); ++i)
        config[i] = ConfigByte(i);
    uint8_t ack[2];
    wire::PutU16(ack, options_.flushAck);

    while (!stop_) {
        RecordedRequest request;
        request.bytes.resize(wire::kCommandHeaderSize);
        if (!readExactly(fd, request.bytes.data(), wire::kCommandHeaderSize))
            return;
        request.header =
            wire::DecodeCommandHeader(std::span<const uint8_t, wire::kCommandHeaderSize>(
                request.bytes.data(), wire::kCommandHeaderSize));
        if (request.header.length > 0) {
            if (request.header.length > wire::kConfigSize)
                return;
            request.bytes.resize(wire::kCommandHeaderSize + request.header.length);
            if (!readExactly(fd, request.bytes.data() + wire::kCommandHeaderSize,
                             request.header.length))
                return;
        }
        if (options_.sequence != nullptr)
            request.sequence = options_.sequence->fetch_add(1);
        const wire::CommandHeader header = request.header;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(request));
        }
        changed_.notify_all();

        bool ok = true;
        switch (static_cast<wire::Command>(header.command)) {
        case wire::Command::GetResult:
            ok = reply(fd, packet.data(), packet.size(), sentTotal);
            break;
        case wire::Command::ImageChunk:
            if (header.offset > image_.size() || header.size > image_.size() - header.offset)
                return;
            ok = reply(fd, image_.data() + header.offset, header.size, sentTotal);
            break;
        case wire::Command::ReadParams:
            ok = reply(fd, config.data(), config.size(), sentTotal);
            break;
        case wire::Command::FlushParams:
            ok = reply(fd, ack, sizeof ack, sentTotal);
            break;
        case wire::Command::CalcAngle:
            ok = reply(fd, kAngle, sizeof kAngle, sentTotal);
            break;
        default: // commands 2 and 5 have no reply
            break;
        }
        if (!ok)
            return;
    }
}

} // namespace qz417::test
