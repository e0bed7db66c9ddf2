// qz417bench_floor: the least a receiver of the UDP profile stream can do,
// the floor the stream rows of bench/run are measured against.
//
//   qz417bench_floor PORT [--record FILE]
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
//
// With --record FILE it is the recording floor, the least a recorder does:
// every packet received (its 4100 bytes, nothing else) is appended to FILE
// (replaced), gathered in blocks of about 4 MiB that a second thread writes
// with one plain write() call each, through 16 blocks (0.4 s at 40 kHz, as
// the recorder's ring). The line then ends in " written=N dropped=N": the
// packets in the file, and those that found every block full. A failed
// write ends the recording (the line says "write_error=ERRNO"); receiving
// goes on.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "model/socket_receive.h"
#include "model/stream_stats.h"

namespace {

constexpr int kAskedBytes = 33554432; // as the link library's stream socket
constexpr unsigned kBatch = 64;
constexpr std::size_t kPacketBytes = 4100;
// The recording floor's blocks: 1024 packets, about 4 MiB per write(), and
// 16 of them.
constexpr std::size_t kRecordPackets = 1024;
constexpr std::size_t kRecordBlocks = 16;

volatile std::sig_atomic_t gStop = 0;

extern "C" void OnStop(int) {
    gStop = 1;
}

// The recording floor's file: the receiving thread gathers packets in
// blocks of kRecordPackets and hands each full block to a writer thread,
// which writes it with one plain write() call; a pool of kRecordBlocks
// blocks (about 67 MB, 0.4 s at 40 kHz, as the recorder's ring) rides out
// the moments the disk does not take the stream. A packet that finds no
// free block is dropped and counted.
class RawRecorder {
public:
    explicit RawRecorder(const char *path)
        : fd_(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)),
          pool_(std::make_unique<std::uint8_t[]>(kRecordBlocks * kRecordPackets * kPacketBytes)) {
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        for (std::size_t i = 0; i < kRecordBlocks; ++i)
            free_.push_back(i);
        writer_ = std::thread([this] { Write(); });
    }
    ~RawRecorder() {
        Finish();
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawRecorder(const RawRecorder &) = delete;
    RawRecorder &operator=(const RawRecorder &) = delete;
    bool ok() const { return error_ == 0; }
    int error() const { return error_; }
    std::uint64_t written() const { return written_; }
    std::uint64_t dropped() const { return dropped_; }

    // Receiving thread: room for `n` more packets in the current block,
    // handing a full one to the writer and taking a free one.
    void MakeRoom(std::size_t n) {
        if (current_ >= 0 && held_ + n <= kRecordPackets)
            return;
        std::lock_guard lock(mu_);
        if (current_ >= 0) {
            full_.push_back({static_cast<std::size_t>(current_), held_});
            wake_.notify_one();
            current_ = -1;
        }
        held_ = 0;
        if (!free_.empty()) {
            current_ = static_cast<long>(free_.front());
            free_.pop_front();
        }
    }
    void Add(const std::uint8_t *packet) {
        if (current_ < 0) {
            ++dropped_;
            return;
        }
        std::memcpy(Block(static_cast<std::size_t>(current_)) + held_ * kPacketBytes, packet,
                    kPacketBytes);
        ++held_;
    }
    // Writes what is held and ends the writer thread.
    void Finish() {
        if (!writer_.joinable())
            return;
        MakeRoom(kRecordPackets + 1); // hands the current block over
        {
            std::lock_guard lock(mu_);
            stop_ = true;
            wake_.notify_one();
        }
        writer_.join();
    }

private:
    struct Full {
        std::size_t block, packets;
    };
    std::uint8_t *Block(std::size_t i) { return pool_.get() + i * kRecordPackets * kPacketBytes; }
    void Write() {
        for (;;) {
            Full f{};
            {
                std::unique_lock lock(mu_);
                wake_.wait(lock, [this] { return stop_ || !full_.empty(); });
                if (full_.empty())
                    return;
                f = full_.front();
                full_.pop_front();
            }
            const std::size_t bytes = f.packets * kPacketBytes;
            std::size_t done = 0;
            while (error_ == 0 && done < bytes) {
                const ssize_t n = ::write(fd_, Block(f.block) + done, bytes - done);
                if (n > 0)
                    done += static_cast<std::size_t>(n);
                else if (n < 0 && errno != EINTR)
                    error_ = errno;
            }
            if (error_ == 0)
                written_ += f.packets;
            std::lock_guard lock(mu_);
            free_.push_back(f.block);
        }
    }

    int fd_;
    std::unique_ptr<std::uint8_t[]> pool_;
    long current_ = -1;    // the block being filled, -1: none
    std::size_t held_ = 0; // packets in it
    std::uint64_t dropped_ = 0;
    std::atomic<std::uint64_t> written_{0};
    std::atomic<int> error_{0};
    std::mutex mu_;
    std::condition_variable wake_;
    std::deque<std::size_t> free_;
    std::deque<Full> full_;
    bool stop_ = false;
    std::thread writer_;
};

} // namespace

int main(int argc, char **argv) {
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const bool record = argc == 4 && std::strcmp(argv[2], "--record") == 0;
    if (port <= 0 || port > 65535 || (argc != 2 && !record)) {
        std::fprintf(stderr, "usage: qz417bench_floor PORT [--record FILE]\n");
        return 2;
    }
    std::unique_ptr<RawRecorder> recorder;
    if (record) {
        recorder = std::make_unique<RawRecorder>(argv[3]);
        if (!recorder->ok()) {
            std::fprintf(stderr, "qz417bench_floor: cannot write %s: %s\n", argv[3],
                         std::strerror(recorder->error()));
            return 1;
        }
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
        if (recorder && n > 0)
            recorder->MakeRoom(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            if (messages[i].msg_len == kPacketBytes) {
                stats.ObservePacket(buffers[i].data());
                if (recorder)
                    recorder->Add(buffers[i].data());
            }
    }
    if (recorder)
        recorder->Finish();
    const qz417::SocketReceive receive = qz417::ReadSocketReceive(fd);
    const qz417::StreamCounts &c = stats.counts();
    std::printf("floor received=%llu lost=%llu late=%llu buffer=%d drops=%lld",
                static_cast<unsigned long long>(c.received),
                static_cast<unsigned long long>(c.lost),
                static_cast<unsigned long long>(qz417::OutOfOrder(c)), receive.grantedBytes,
                receive.drops ? static_cast<long long>(*receive.drops) : -1LL);
    if (recorder) {
        std::printf(" written=%llu dropped=%llu",
                    static_cast<unsigned long long>(recorder->written()),
                    static_cast<unsigned long long>(recorder->dropped()));
        if (!recorder->ok())
            std::printf(" write_error=%d", recorder->error());
    }
    std::printf("\n");
    ::close(fd);
    return 0;
}
