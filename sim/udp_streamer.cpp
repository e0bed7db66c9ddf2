#include "udp_streamer.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

namespace qz417::sim {

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kMaxBatch = 32;
// A sender that fell further behind than this skips ahead instead of bursting.
constexpr double kMaxLagSeconds = 0.05;
// How often an idle streamer looks at the block again.
constexpr auto kIdlePoll = std::chrono::milliseconds(10);
// The shortest pause between two batches.
constexpr auto kMinSleep = std::chrono::microseconds(50);
} // namespace

UdpStreamer::UdpStreamer(ScannerState &state, const EventLog &log, bool allowNetwork)
    : state_(state), log_(log), allowNetwork_(allowNetwork) {}

UdpStreamer::~UdpStreamer() {
    stop();
}

bool UdpStreamer::open(std::string *error) {
    socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket_.valid()) {
        if (error)
            *error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
        return false;
    }
    const int sndbuf = 4 << 20;
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    // Datagrams come from the scanner's own address when they stay on loopback.
    if (!allowNetwork_) {
        const sockaddr_in a = socketAddress(state_.address(), 0);
        if (::bind(socket_.get(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
            if (error)
                *error = "cannot bind a UDP socket to " + state_.address().text() + ": " +
                         std::strerror(errno);
            return false;
        }
    }
    return true;
}

void UdpStreamer::start() {
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void UdpStreamer::stop() {
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool UdpStreamer::waitStopping(Clock::time_point until) {
    std::unique_lock lock(mu_);
    return cv_.wait_until(lock, until, [this] { return stopping_.load(); });
}

bool UdpStreamer::permitted(const ScannerState::StreamTarget &t) {
    if (t.address.isLoopback() || allowNetwork_)
        return true;
    if (!(t == refused_)) {
        refused_ = t;
        log_.warning(state_.address().text() + ": not streaming to " + t.address.text() + ":" +
                     std::to_string(t.port) +
                     ", which lies outside 127.0.0.0/8 (start with --allow-network to permit it)");
    }
    return false;
}

bool UdpStreamer::replayStep(const ScannerState::StreamTarget &t, std::uint8_t *buffers) {
    const Clock::time_point now = Clock::now();
    if (t.rateHz <= 0 || t.port == 0 || !permitted(t)) {
        // Not streaming: the recording plays on, unsent.
        state_.replayFollow(now);
        return !waitStopping(now + kIdlePoll);
    }
    // Every recorded packet in order, none skipped: a receiver that keeps up
    // gets the recording byte for byte.
    const std::uint64_t cursor = state_.replayCursor();
    const std::uint64_t due = state_.replayDue(now);
    if (state_.replayFinished(cursor) || due <= cursor) {
        const Clock::time_point next =
            state_.replayFinished(cursor) ? now + kIdlePoll : state_.replayDueTime(cursor);
        return !waitStopping(std::min(std::max(next, now + kMinSleep), now + kIdlePoll));
    }
    const int n = static_cast<int>(std::min<std::uint64_t>(due - cursor, kMaxBatch));
    state_.streamPackets(buffers, n, now);
    const sockaddr_in dest = socketAddress(t.address, t.port);
    mmsghdr msgs[kMaxBatch];
    iovec iovs[kMaxBatch];
    for (int i = 0; i < n; ++i) {
        iovs[i] = {buffers + static_cast<std::size_t>(i) * kPacketSize, kPacketSize};
        msgs[i] = {};
        msgs[i].msg_hdr.msg_name = const_cast<sockaddr_in *>(&dest);
        msgs[i].msg_hdr.msg_namelen = sizeof dest;
        msgs[i].msg_hdr.msg_iov = &iovs[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int sent = 0;
    while (sent < n) { // a full socket buffer: wait for it rather than lose the packet
        const int r = ::sendmmsg(socket_.get(), msgs + sent, static_cast<unsigned>(n - sent), 0);
        if (r > 0) {
            sent += r;
            state_.udpPacketsSent.fetch_add(static_cast<std::uint64_t>(r));
        } else if (r < 0 && errno != EAGAIN && errno != ENOBUFS && errno != EINTR) {
            break; // an unreachable destination: the packets are gone, as on a network
        } else if (waitStopping(Clock::now() + kMinSleep)) {
            return false;
        }
    }
    return true;
}

void UdpStreamer::run() {
    std::vector<std::uint8_t> buffers(kMaxBatch * kPacketSize);
    mmsghdr msgs[kMaxBatch];
    iovec iovs[kMaxBatch];
    ScannerState::StreamTarget current{};
    Clock::time_point epoch{};
    std::uint64_t sent = 0; // packets since epoch

    while (!stopping_) {
        const ScannerState::StreamTarget t = state_.streamTarget();
        if (state_.replaying()) {
            if (!replayStep(t, buffers.data()))
                break;
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (t.rateHz <= 0 || t.port == 0 || !permitted(t)) {
            current = {};
            if (waitStopping(now + kIdlePoll))
                break;
            continue;
        }
        if (!(t == current)) { // new destination or rate: a new schedule
            current = t;
            epoch = now;
            sent = 0;
        }
        const double elapsed = std::chrono::duration<double>(now - epoch).count();
        const auto due = static_cast<std::uint64_t>(elapsed * t.rateHz) + 1; // first at once
        const auto maxBacklog = static_cast<std::uint64_t>(t.rateHz * kMaxLagSeconds) + kMaxBatch;
        if (due > sent + maxBacklog)
            sent = due - kMaxBatch; // fell behind: drop the backlog rather than burst
        if (due <= sent) {
            // Sleep until the next packet is due, but never shorter than a
            // timer can sleep: at high rates the packets then go in batches.
            const auto next = epoch + std::chrono::duration_cast<Clock::duration>(
                                          std::chrono::duration<double>(sent / t.rateHz));
            if (waitStopping(std::min(std::max(next, now + kMinSleep), now + kIdlePoll)))
                break;
            continue;
        }
        const int n = static_cast<int>(std::min<std::uint64_t>(due - sent, kMaxBatch));
        state_.streamPackets(buffers.data(), n, now);
        const sockaddr_in dest = socketAddress(t.address, t.port);
        for (int i = 0; i < n; ++i) {
            iovs[i] = {buffers.data() + static_cast<std::size_t>(i) * kPacketSize, kPacketSize};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_name = const_cast<sockaddr_in *>(&dest);
            msgs[i].msg_hdr.msg_namelen = sizeof dest;
            msgs[i].msg_hdr.msg_iov = &iovs[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        const int r = ::sendmmsg(socket_.get(), msgs, static_cast<unsigned>(n), 0);
        if (r > 0)
            state_.udpPacketsSent.fetch_add(static_cast<std::uint64_t>(r));
        // Packets that could not be sent still used up their slot of the schedule.
        sent += static_cast<std::uint64_t>(n);
    }
}

} // namespace qz417::sim
