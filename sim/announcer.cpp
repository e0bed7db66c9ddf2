#include "announcer.h"

#include "announcement.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace qz417::sim {

Announcer::Announcer(std::vector<ScannerState *> scanners, const Target &target,
                     const EventLog &log)
    : scanners_(std::move(scanners)), target_(target), log_(log) {}

Announcer::~Announcer() {
    stop();
}

bool Announcer::open(std::string *error) {
    if (!target_.address.isLoopback() && !target_.offLoopback) {
        if (error)
            *error = "refusing to announce to " + target_.address.text() +
                     ", which lies outside 127.0.0.0/8 (use --announce-to to send there)";
        return false;
    }
    for (ScannerState *s : scanners_) {
        Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd.valid()) {
            if (error)
                *error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
            return false;
        }
        if (target_.address.isLoopback()) {
            const sockaddr_in a = socketAddress(s->address(), 0);
            if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
                if (error)
                    *error = "cannot bind a UDP socket to " + s->address().text() + ": " +
                             std::strerror(errno);
                return false;
            }
        } else {
            const int one = 1; // the target may be a broadcast address
            ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        }
        sockets_.push_back(std::move(fd));
    }
    return true;
}

void Announcer::start() {
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void Announcer::stop() {
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void Announcer::announceAll() {
    const sockaddr_in dest = socketAddress(target_.address, target_.port);
    auto send = [&](int fd, const std::uint8_t *data, std::size_t size) {
        ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr *>(&dest), sizeof dest);
    };
    for (std::size_t i = 0; i < scanners_.size(); ++i) {
        const Announcement &a = scanners_[i]->announcement();
        const int fd = sockets_[i].get();
        send(fd, a.data(), a.size());
        if (scanners_[i]->faults().malformedAnnouncements)
            for (const auto &bad : malformedAnnouncements(a, scanners_[i]->index()))
                send(fd, bad.data(), bad.size());
    }
}

void Announcer::run() {
    const auto interval = std::chrono::milliseconds(target_.intervalMs);
    auto next = std::chrono::steady_clock::now();
    std::unique_lock lock(mu_);
    while (!stopping_) {
        lock.unlock();
        announceAll();
        lock.lock();
        next += interval;
        const auto now = std::chrono::steady_clock::now();
        if (next < now)
            next = now; // do not catch up after a stall
        cv_.wait_until(lock, next, [this] { return stopping_.load(); });
    }
}

} // namespace qz417::sim
