#include "command_server.h"

#include "command_header.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qz417::sim {

namespace {
// Each connection has a thread of its own; this bounds them.
constexpr std::size_t kMaxConnections = 64;
} // namespace

CommandServer::CommandServer(ScannerState &state, const EventLog &log, std::uint16_t port)
    : state_(state), log_(log), port_(port),
      name_(state.address().text() + ":" + std::to_string(port)) {}

CommandServer::~CommandServer() {
    stop();
}

bool CommandServer::listen(std::string *error) {
    auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        listen_.reset();
        return false;
    };
    listen_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!listen_.valid() || !wake_.valid())
        return fail(std::string("cannot create a socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(listen_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = socketAddress(state_.address(), port_);
    if (::bind(listen_.get(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        const int e = errno;
        if (e == EACCES || e == EPERM)
            return fail("binding TCP port " + std::to_string(port_) + " on " +
                        state_.address().text() +
                        " needs root or CAP_NET_BIND_SERVICE; grant it with: sudo setcap "
                        "cap_net_bind_service=+ep " +
                        selfExecutable());
        if (e == EADDRINUSE)
            return fail(name_ + " is already in use (is another qz417sim running?)");
        return fail("cannot bind " + name_ + ": " + std::strerror(e));
    }
    if (::listen(listen_.get(), 64) != 0)
        return fail("cannot listen on " + name_ + ": " + std::strerror(errno));
    return true;
}

void CommandServer::start() {
    stopping_ = false;
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

void CommandServer::stop() {
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    if (wake_.valid()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::list<std::unique_ptr<Connection>> all;
    {
        std::lock_guard lock(mu_);
        for (auto &c : connections_)
            if (c->fd >= 0)
                ::shutdown(c->fd, SHUT_RDWR); // wakes a blocked recv or send
        all.swap(connections_);
    }
    for (auto &c : all)
        if (c->thread.joinable())
            c->thread.join();
    listen_.reset();
}

bool CommandServer::waitStopping(std::chrono::milliseconds d) {
    std::unique_lock lock(mu_);
    return stopCv_.wait_for(lock, d, [this] { return stopping_.load(); });
}

void CommandServer::reapFinished() {
    std::list<std::unique_ptr<Connection>> done;
    {
        std::lock_guard lock(mu_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->finished) {
                done.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto &c : done)
        c->thread.join();
}

void CommandServer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listen_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        const int r = ::poll(fds, 2, 1000);
        reapFinished();
        if (r < 0 && errno != EINTR)
            break;
        if (stopping_ || r <= 0 || !(fds[0].revents & POLLIN))
            continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd =
            ::accept4(listen_.get(), reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        state_.connectionsAccepted.fetch_add(1);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->peer = endpointText(peer);
        log_.event(name_ + ": connection from " + c->peer);
        Connection *raw = c.get();
        std::lock_guard lock(mu_);
        if (stopping_) {
            ::close(fd);
            continue;
        }
        if (connections_.size() >= kMaxConnections) {
            log_.event(name_ + ": " + c->peer + " refused, " + std::to_string(kMaxConnections) +
                       " connections are open");
            ::close(fd);
            continue;
        }
        connections_.push_back(std::move(c));
        raw->thread = std::thread([this, raw] { serve(raw); });
    }
}

void CommandServer::closeConnection(Connection *c, bool reset) {
    std::lock_guard lock(mu_);
    if (c->fd >= 0) {
        if (reset) {
            const linger l{1, 0}; // close with RST instead of FIN
            ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        ::close(c->fd);
        c->fd = -1;
    }
    c->finished = true;
}

void CommandServer::serve(Connection *c) {
    std::shared_ptr<const Image> snapshot;
    int served = 0;
    while (!stopping_ && serveOne(c, served, &snapshot))
        ++served;
    if (c->fd >= 0) {
        log_.event(name_ + ": " + c->peer + " closed after " + std::to_string(served) +
                   " commands");
        closeConnection(c, false);
    }
}

bool CommandServer::sendReply(int fd, const std::uint8_t *data, std::size_t size,
                              const FaultOptions &f) {
    if (f.segmentBytes <= 0)
        return sendAll(fd, data, size);
    const auto piece = static_cast<std::size_t>(f.segmentBytes);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(piece, size - done);
        if (!sendAll(fd, data + done, n))
            return false;
        done += n;
        if (done < size && f.segmentDelayMs > 0 &&
            waitStopping(std::chrono::milliseconds(f.segmentDelayMs)))
            return false;
    }
    return true;
}

bool CommandServer::serveOne(Connection *c, int commandsSoFar,
                             std::shared_ptr<const Image> *snapshot) {
    const int fd = c->fd;
    std::uint8_t header[kHeaderSize];
    if (!recvAll(fd, header, sizeof header))
        return false;
    const CommandHeader h = decodeHeader(header);
    const HeaderCheck check = checkHeader(h);
    if (check != HeaderCheck::ok) {
        log_.event(name_ + ": " + c->peer + ": " + describe(check) + " (command " +
                   std::to_string(h.command) + ", length " + std::to_string(h.length) +
                   "), closing");
        return false;
    }
    ConfigBlock written{};
    if (h.command == kWriteParams && !recvAll(fd, written.data(), written.size()))
        return false;

    const FaultOptions f = state_.faults();
    if (f.resetAfterCommands >= 0 && commandsSoFar >= f.resetAfterCommands) {
        log_.event(name_ + ": " + c->peer + ": resetting the connection (fault)");
        closeConnection(c, true);
        return false;
    }
    if (f.stallAfterCommands >= 0 && commandsSoFar >= f.stallAfterCommands) {
        log_.event(name_ + ": " + c->peer + ": stalling (fault)");
        std::uint8_t sink[4096];
        while (!stopping_ && ::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        return false;
    }

    const auto now = std::chrono::steady_clock::now();
    std::uint8_t small[kPacketSize];
    const std::uint8_t *reply = small;
    std::size_t size = replySize(h);
    std::shared_ptr<const Image> image;
    switch (h.command) {
    case kGetResult:
        state_.profilePacket(small, now);
        break;
    case kPrepareImage:
        *snapshot = state_.takeImage(now);
        break;
    case kGetImageChunk:
        image = *snapshot ? *snapshot : state_.lastImage(now);
        reply = image->data() + h.offset;
        break;
    case kReadParams: {
        const ConfigBlock b = state_.config();
        std::memcpy(small, b.data(), b.size());
        break;
    }
    case kWriteParams:
        state_.setConfig(written);
        break;
    case kFlushParams: {
        std::string warning;
        const auto ack = state_.flush(h.offset, &warning);
        if (!warning.empty())
            log_.warning(name_ + ": " + warning);
        std::memcpy(small, ack.data(), ack.size());
        break;
    }
    case kCalcAngle:
        putI16(small, state_.angle(now));
        break;
    default:
        return false;
    }

    if (f.closeMidReplyAfter >= 0 && commandsSoFar >= f.closeMidReplyAfter) {
        log_.event(name_ + ": " + c->peer + ": closing in the middle of a reply (fault)");
        if (size > 0)
            sendAll(fd, reply, std::max<std::size_t>(1, size / 2));
        closeConnection(c, false);
        return false;
    }
    // Counted before the reply leaves, so that a client that has the reply
    // always sees the count.
    state_.commandsServed[h.command].fetch_add(1);
    return size == 0 || sendReply(fd, reply, size, f);
}

} // namespace qz417::sim
