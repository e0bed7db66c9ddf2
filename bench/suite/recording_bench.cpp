// qz417bench_recording: the recorder's throughput and the UDP stream
// recorded at 40 kHz.
//
//   qz417bench_recording [SECONDS, default 10] [DIRECTORY, default .]
//                        [STREAM SECONDS, default 60]
//
// 1. The writer: profiles pushed as fast as the recorder takes them, until
//    Stop has closed the file, in profiles per second; beside it a plain
//    sequential write() of the same bytes (4116 per profile, in the same
//    batches) to a file in the same directory, measured in the same run.
//    SECONDS of the stream's rate (at most 5 s) make the profile count.
//    Then the same with a measurement job (height, line and step over the
//    profile): the writer thread's CPU time measuring and storing the
//    results per profile measured, beside its time per profile without a job.
// 2. The emulator streams at 40 kHz to 127.0.0.1; a receiving loop through
//    qz417link hands every packet to the recorder for STREAM SECONDS. The
//    figure is the profiles lost on the network plus those dropped by the
//    recorder; beside it the same loop without recording, as long. Where a
//    loss comes from is printed with it: datagrams the emulator could not
//    send, datagrams the kernel dropped for a full receive buffer, and the
//    longest pause of the receiving loop.
//
// QZ417_BENCH_RCVBUF=BYTES sets the stream socket's receive buffer
// (SO_RCVBUF, capped by net.core.rmem_max and doubled by the kernel) after
// QZ417_UDP_Connect, to try what a larger one than the library's 1 MiB
// does; the row then says so.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "model/measure/job.h"
#include "model/recording/recording_writer_thread.h"

namespace {

namespace rec = qz417::recording;
using qz417::bench::Clock;
using qz417::bench::Figure;
using qz417::bench::Fixed;
using qz417::bench::Since;

constexpr double kStreamHz = 40000;
constexpr std::uint16_t kTcpPort = 10417;
constexpr std::uint16_t kUdpPort = 16004;

rec::Packet SyntheticPacket(std::uint64_t i) {
    rec::Packet p{};
    for (std::size_t k = 0; k < p.size(); ++k)
        p[k] = static_cast<std::uint8_t>(k * 31 + i);
    p[2] = static_cast<std::uint8_t>(i);
    p[3] = static_cast<std::uint8_t>(i >> 8);
    return p;
}

// A profile as the scanner sends it: X rising along the packet, Z a ramp
// that moves with i (the measuring bench takes this shape, not random bytes,
// which the tools would first have to sort).
rec::Packet ProfilePacket(std::uint64_t i) {
    rec::Packet p{};
    const auto put16 = [&p](std::size_t at, std::uint16_t v) {
        p[at] = static_cast<std::uint8_t>(v);
        p[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(2, static_cast<std::uint16_t>(i));
    for (std::size_t k = 0; k < 1024; ++k) {
        put16(4 + 4 * k, static_cast<std::uint16_t>(8000 + (k * 7 + i) % 4000));
        put16(6 + 4 * k, static_cast<std::uint16_t>(static_cast<int>(k) * 16 - 8192));
    }
    return p;
}

// A job of three tools over the profiles' X range (-115 .. 115 mm).
qz417::measure::Job BenchJob() {
    return qz417::measure::ParseJob(R"({"format": "qz417-measure-job", "version": 1, "tools": [
      {"name": "height", "tool": "height", "region": {"x": [-100, 100]}},
      {"name": "line", "tool": "line", "region": {"x": [-100, 0]}},
      {"name": "step", "tool": "step", "regions": [{"x": [-100, -10]}, {"x": [10, 100]}]}]})");
}

// Profiles per second of the recorder, from the first push to the closed file.
double RecorderRate(const std::string &path, std::uint64_t n, rec::RecorderStatus *status = nullptr,
                    std::optional<qz417::measure::Job> job = std::nullopt) {
    const bool measuring = job.has_value();
    rec::RecordingWriterThread r;
    rec::RecorderSettings s;
    s.path = path;
    s.job = std::move(job);
    std::string error;
    if (!r.Start(s, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 0;
    }
    const rec::Packet p = measuring ? ProfilePacket(0) : SyntheticPacket(0);
    const auto start = Clock::now();
    for (std::uint64_t i = 0; i < n; ++i)
        while (!r.Push(p.data(), rec::ReceiveTime::Now()))
            std::this_thread::yield(); // full: wait for the writer (counted as dropped)
    r.Stop();
    const double seconds = Since(start);
    std::printf("recorder: %llu profiles in %.3f s, %llu retries\n",
                static_cast<unsigned long long>(r.Status().written), seconds,
                static_cast<unsigned long long>(r.Status().dropped));
    if (status)
        *status = r.Status();
    return static_cast<double>(r.Status().written) / seconds;
}

// Profiles per second of plain write() calls of the same bytes.
double PlainWriteRate(const std::string &path, std::uint64_t n) {
    constexpr std::uint64_t kBatch = 1024;
    std::vector<std::uint8_t> batch(kBatch * rec::kBytesPerProfile, 0x5A);
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    for (std::uint64_t done = 0; done < n; done += kBatch) {
        const std::size_t bytes = std::min(kBatch, n - done) * rec::kBytesPerProfile;
        if (::write(fd, batch.data(), bytes) != static_cast<ssize_t>(bytes))
            break;
    }
    ::close(fd);
    return static_cast<double>(n) / Since(start);
}

struct StreamResult {
    std::uint64_t received = 0, lost = 0, dropped = 0, written = 0;
    std::uint64_t sent = 0;    // datagrams the emulator sent meanwhile
    long kernelDrops = 0;      // datagrams dropped for a full receive buffer
    double longestPauseMs = 0; // between two received datagrams
    double seconds = 0;
    double cpuPressure = -1; // % of the time some task of the machine waited for a CPU
};

// The receive buffer asked for by QZ417_BENCH_RCVBUF, 0 for the library's.
int ReceiveBufferOverride() {
    const char *bytes = std::getenv("QZ417_BENCH_RCVBUF");
    return bytes ? std::max(0, std::atoi(bytes)) : 0;
}

StreamResult ReceiveStream(qz417::sim::Emulator &emulator, double seconds,
                           const std::string *recordPath) {
    StreamResult out;
    const std::int32_t socket = QZ417_UDP_Connect(kUdpPort);
    if (socket == -1)
        return out;
    if (const int bytes = ReceiveBufferOverride(); bytes > 0)
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t length = sizeof granted;
    ::getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    std::printf("stream socket: receive buffer %d bytes (as the kernel reports it)\n", granted);
    rec::RecordingWriterThread r;
    if (recordPath) {
        rec::RecorderSettings s;
        s.path = *recordPath;
        std::string error;
        if (!r.Start(s, &error))
            std::fprintf(stderr, "%s\n", error.c_str());
    }
    qz417::StreamStats stream;
    rec::Packet p{};
    const long drops0 = qz417::bench::UdpReceiveBufferErrors();
    const std::uint64_t sent0 = emulator.udpPacketsSent(0);
    const long long pressure0 = qz417::bench::CpuPressureMicroseconds();
    const auto start = Clock::now();
    auto last = start;
    for (auto now = start; now - start < std::chrono::duration<double>(seconds);
         now = Clock::now()) {
        if (QZ417_UDP_GetResult(socket, p.data()) != 1)
            continue;
        const auto at = Clock::now();
        if (out.received > 0)
            out.longestPauseMs = std::max(
                out.longestPauseMs, std::chrono::duration<double, std::milli>(at - last).count());
        last = at;
        ++out.received;
        stream.ObservePacket(p.data());
        if (recordPath)
            r.Push(p.data(), rec::ReceiveTime::Now());
    }
    out.seconds = Since(start);
    out.cpuPressure = qz417::bench::CpuPressurePercent(
        pressure0, qz417::bench::CpuPressureMicroseconds(), out.seconds);
    out.sent = emulator.udpPacketsSent(0) - sent0;
    out.kernelDrops = qz417::bench::UdpReceiveBufferErrors() - drops0;
    QZ417_UDP_Disconnect(socket);
    r.Stop();
    out.lost = stream.counts().lost;
    out.dropped = r.Status().dropped;
    out.written = r.Status().written;
    return out;
}

void Print(const char *what, const StreamResult &s) {
    std::printf("stream %s: %.1f s, emulator sent %llu, received %llu, lost %llu (kernel receive "
                "buffer drops %ld), recorder dropped %llu, written %llu, longest pause %.1f ms, "
                "CPU pressure %.0f %%\n",
                what, s.seconds, static_cast<unsigned long long>(s.sent),
                static_cast<unsigned long long>(s.received),
                static_cast<unsigned long long>(s.lost), s.kernelDrops,
                static_cast<unsigned long long>(s.dropped),
                static_cast<unsigned long long>(s.written), s.longestPauseMs, s.cpuPressure);
}

} // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    const std::string dir = argc > 2 ? argv[2] : ".";
    const std::string file = dir + "/qz417bench-recording.h5";
    const std::string plain = dir + "/qz417bench-plain.bin";
    const double streamSeconds = argc > 3 ? std::atof(argv[3]) : 60;
    if (seconds <= 0 || streamSeconds <= 0 || streamSeconds > 600) {
        std::fprintf(stderr,
                     "usage: qz417bench_recording [SECONDS] [DIRECTORY] [STREAM SECONDS <= 600]\n");
        return 2;
    }

    // 1. The writer, two rounds each, alternating; the better round counts.
    const auto n = static_cast<std::uint64_t>(kStreamHz * std::min(seconds, 5.0));
    double recorder = 0, baseline = 0;
    for (int round = 0; round < 2; ++round) {
        baseline = std::max(baseline, PlainWriteRate(plain, n));
        std::remove(plain.c_str());
        recorder = std::max(recorder, RecorderRate(file, n));
        std::remove(file.c_str());
    }
    Figure("recording writer (profiles/s, " + std::to_string(n) + " profiles)", Fixed(recorder, 0),
           Fixed(baseline, 0) + " plain write()", Fixed(recorder / baseline, 2), ">= 40000",
           qz417::bench::YesNo(recorder >= kStreamHz));
    {
        // Pushed as fast as taken, so the writer falls behind and writes
        // some profiles unmeasured; the time counts the measured ones.
        rec::RecorderStatus measured;
        RecorderRate(file, n, &measured, BenchJob());
        std::remove(file.c_str());
        const double perProfile = measured.measured ? measured.measureSeconds * 1e6 /
                                                          static_cast<double>(measured.measured)
                                                    : 0;
        const double writer = 1e6 / recorder;
        Figure("recording with a job (height, line, step): writer's CPU us per profile measured (" +
                   std::to_string(measured.measured) + " measured, " +
                   std::to_string(measured.unmeasured) + " written unmeasured)",
               Fixed(perProfile, 2), Fixed(writer, 2) + " us writing a profile",
               Fixed(perProfile / writer, 2), "-", "-");
    }

    // 2. The UDP stream at 40 kHz, recorded and not.
    qz417::sim::Emulator emulator(qz417::bench::StreamingOptions(kStreamHz, kTcpPort));
    std::string error;
    if (!qz417::bench::StartStreamingTo(emulator, kUdpPort, &error)) {
        std::fprintf(stderr, "qz417bench_recording: %s\n", error.c_str());
        return 1;
    }
    const StreamResult without = ReceiveStream(emulator, streamSeconds, nullptr);
    Print("without recording", without);
    const StreamResult with = ReceiveStream(emulator, streamSeconds, &file);
    Print("recorded", with);
    emulator.stop();
    std::remove(file.c_str());
    const std::uint64_t missing = with.lost + with.dropped;
    // Where a loss came from: the receive buffer (kernel drops) while the
    // receiving loop paused longer than the buffer holds (about 250
    // packets, 6 ms at 40 kHz), on a machine whose CPUs were contended.
    const double sentRate = static_cast<double>(with.sent) / std::max(1e-9, with.seconds);
    const std::string buffer =
        ReceiveBufferOverride() > 0
            ? ", SO_RCVBUF " + std::to_string(ReceiveBufferOverride()) + " set by the caller"
            : "";
    Figure("UDP 40 kHz recorded " + Fixed(streamSeconds, 0) + " s" + buffer +
               ": profiles lost + dropped (of " + std::to_string(with.received + with.lost) +
               ", sent at " + Fixed(sentRate, 0) + "/s; " + std::to_string(with.written) +
               " written; kernel drops " + std::to_string(with.kernelDrops) + ", longest pause " +
               Fixed(with.longestPauseMs, 1) + " ms, CPU pressure " + Fixed(with.cpuPressure, 0) +
               " %)",
           std::to_string(missing),
           std::to_string(without.lost) + " lost without recording (kernel drops " +
               std::to_string(without.kernelDrops) + ", longest pause " +
               Fixed(without.longestPauseMs, 1) + " ms, CPU pressure " +
               Fixed(without.cpuPressure, 0) + " %)",
           "-", "0", qz417::bench::YesNo(missing == 0 && with.written == with.received));
    return with.received > 0 ? 0 : 1;
}
