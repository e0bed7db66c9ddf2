// qz417ctl stream: receive the UDP profile stream, print the rates and the
// lost packets once a second, and optionally record every packet.
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "command_line.h"
#include "commands.h"
#include "failure.h"
#include "model/measure/job.h"
#include "model/profile_packet.h"
#include "model/recording/recording_writer_thread.h"
#include "model/socket_receive.h"
#include "qz417link.h"
#include "stream_counter.h"
#include "stream_csv.h"
#include "udp_receiver.h"

#include <nlohmann/json.hpp>

namespace qz417::ctl {

namespace {

constexpr const char *kUsage =
    "qz417ctl stream [--port P] [--seconds S] [--record FILE [--job JOB]] [--csv FILE] [--json]";
constexpr const char *kHelp =
    "usage: qz417ctl stream [--port P] [--seconds S] [--record FILE [--job JOB]] [--csv FILE]\n"
    "                       [--json]\n"
    "\n"
    "Receives the profiles a scanner streams by UDP and prints once a second the\n"
    "packet and measurement rates (from the change of the packets' counters), the\n"
    "packets received, the packets lost (gaps in the packet counter), and of those\n"
    "the ones this computer dropped (its full receive buffer, the kernel's count for\n"
    "the socket) apart from the ones the network lost, and the receive buffer the\n"
    "kernel granted, in bytes and in milliseconds of the stream it holds:\n"
    "  t=1.0s packets=250.0/s measurements=1000.0/s received=250 lost=0 network=0\n"
    "  computer=0 buffer=67108864 buffer_ms=31775.4\n"
    "(one line), and at the end one line with the totals. A buffer that holds less\n"
    "than 100 ms of the stream gets a warning with the remedy on stderr. Late\n"
    "packets, duplicates and restarts of the scanner's counter are counted as in\n"
    "the window (model/stream_stats.h). Stops after S seconds or on Ctrl-C.\n";

class RecordFile {
public:
    // mode "wb" starts afresh (--csv).
    RecordFile(const std::string &path, const char *mode) : file_(std::fopen(path.c_str(), mode)) {
        if (file_ == nullptr)
            throw UsageError("cannot write " + path);
    }
    ~RecordFile() {
        if (file_ != nullptr)
            std::fclose(file_);
    }
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;
    void write(const void *data, std::size_t size, const std::string &path) {
        if (std::fwrite(data, 1, size, file_) != size)
            throw Failure("cannot write " + path);
    }
    void write(const std::string &text, const std::string &path) {
        write(text.data(), text.size(), path);
    }
    // Lets a reader of the file see the rows so far.
    void flush(const std::string &path) {
        if (std::fflush(file_) != 0)
            throw Failure("cannot write " + path);
    }
    void close(const std::string &path) {
        const int rc = std::fclose(file_);
        file_ = nullptr;
        if (rc != 0)
            throw Failure("cannot write " + path);
    }

private:
    std::FILE *file_;
};

// Where the lost packets went: the kernel's drops of this socket (since
// `dropsAtStart`) are this computer's; the rest of the gaps the network's.
struct LossSplit {
    std::uint64_t network = 0;
    std::uint64_t computer = 0;
    bool known = false;
};

LossSplit SplitLoss(std::uint64_t lost, const qz417::SocketReceive &socket,
                    std::uint64_t dropsAtStart) {
    LossSplit out;
    if (!socket.drops)
        return out;
    out.known = true;
    out.computer = *socket.drops >= dropsAtStart ? *socket.drops - dropsAtStart : 0;
    out.network = lost > out.computer ? lost - out.computer : 0;
    return out;
}

void AddReceiveFields(nlohmann::json &line, const LossSplit &split, int grantedBytes,
                      double packetsPerSecond) {
    if (split.known) {
        line["lostByNetwork"] = split.network;
        line["droppedByComputer"] = split.computer;
    }
    if (grantedBytes > 0) {
        line["receiveBufferBytes"] = grantedBytes;
        if (packetsPerSecond > 0)
            line["receiveBufferMs"] = qz417::BufferMilliseconds(grantedBytes, packetsPerSecond);
    }
}

std::string ReceiveText(const LossSplit &split, int grantedBytes, double packetsPerSecond) {
    std::string text;
    if (split.known)
        text += " network=" + std::to_string(split.network) +
                " computer=" + std::to_string(split.computer);
    if (grantedBytes > 0) {
        text += " buffer=" + std::to_string(grantedBytes);
        if (packetsPerSecond > 0) {
            char ms[40];
            std::snprintf(ms, sizeof ms, " buffer_ms=%.1f",
                          qz417::BufferMilliseconds(grantedBytes, packetsPerSecond));
            text += ms;
        }
    }
    return text;
}

void PrintInterval(double seconds, const StreamInterval &s, const LossSplit &split,
                   int grantedBytes, bool json) {
    if (json) {
        nlohmann::json line = {{"t", seconds},
                               {"packetsPerSecond", s.packetRate},
                               {"measurementsPerSecond", s.measurementRate},
                               {"received", s.received},
                               {"lost", s.lost}};
        AddReceiveFields(line, split, grantedBytes, s.packetRate);
        std::cout << line.dump() << std::endl;
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line,
                  "t=%.1fs packets=%.1f/s measurements=%.1f/s received=%llu lost=%llu", seconds,
                  s.packetRate, s.measurementRate, static_cast<unsigned long long>(s.received),
                  static_cast<unsigned long long>(s.lost));
    std::cout << line << ReceiveText(split, grantedBytes, s.packetRate) << std::endl;
}

} // namespace

int RunStream(const Args &args) {
    const std::vector<OptionDef> options = {
        {"port", 0, "P", "local UDP port, 1..65535 (default 6003)"},
        {"seconds", 0, "S", "how long to receive, 1..86400 (default: until interrupted)"},
        {"record", 0, "FILE",
         "record every packet with its receive time to FILE (replaced;\n"
         "HDF5, see docs/recording-format.md; `qz417ctl recording` reads it)"},
        {"job", 0, "JOB",
         "with --record: measure every recorded profile with the measurement job\n"
         "JOB (docs/measurement.md) and store the results in the recording\n"
         "(`qz417ctl recording export --format results-csv` writes them out)"},
        {"csv", 0, "FILE",
         "write one row per packet to FILE as it arrives:\n"
         "received_utc,elapsed_s,measurement_count,packet_count\n"
         "(receive time in UTC and since the start, in microseconds)"},
        {"json", 0, "",
         "print the lines as JSON objects, one per line: {\"t\", \"packetsPerSecond\",\n"
         "\"measurementsPerSecond\", \"received\", \"lost\", \"lostByNetwork\",\n"
         "\"droppedByComputer\", \"receiveBufferBytes\", \"receiveBufferMs\"}, then the\n"
         "totals {\"received\", \"lost\", \"duplicates\", \"late\", \"restarts\",\n"
         "\"lostByNetwork\", \"droppedByComputer\", \"receiveBufferBytes\"} (the fields\n"
         "of the computer's figures only where the system tells them); the first line\n"
         "goes to stderr"}};
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << HelpText(kHelp, options, "Exit status 1 when no packet arrived.\n");
        return kExitOk;
    }
    cl.expectPositional(0, kUsage);
    const int port = static_cast<int>(cl.integer("port", 6003, 1, 65535));
    const std::int64_t seconds = cl.integer("seconds", 0, 1, 86400);
    const auto recordPath = cl.value("record");
    const auto jobPath = cl.value("job");
    if (jobPath && !recordPath)
        throw UsageError("--job needs --record FILE (or use qz417ctl measure)");
    std::optional<qz417::measure::Job> job;
    if (jobPath) {
        try {
            job = qz417::measure::LoadJob(*jobPath);
        } catch (const qz417::measure::JobError &e) {
            throw UsageError(e.what());
        }
    }
    const auto csvPath = cl.value("csv");
    const bool json = cl.has("json");

    UdpSocket socket(port);
    if (!socket.ok())
        throw Failure("cannot receive on UDP port " + std::to_string(port) + " (already in use?)");
    namespace rec = qz417::recording;
    // The receiving loop only hands packets over; a thread of the recorder
    // writes them.
    rec::RecordingWriterThread recorder;
    if (recordPath) {
        rec::RecorderSettings settings;
        settings.path = *recordPath;
        settings.header.software = std::string("qz417ctl ") + QZ417_VERSION;
        settings.job = job;
        std::string error;
        if (!recorder.Start(settings, &error))
            throw UsageError(error);
    }
    std::optional<RecordFile> csv;
    if (csvPath) {
        csv.emplace(*csvPath, "wb");
        csv->write(StreamCsvHeader(), *csvPath);
    }

    std::optional<StopOnSignal> stop;
    stop.emplace();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto intervalStart = start;
    StreamCounter counter;
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    (json ? std::cerr : std::cout) << "receiving on UDP port " << port << std::endl;
    // The socket is new: its drops count from 0, but read them anyway.
    qz417::SocketReceive socketNow = qz417::ReadSocketReceive(socket.handle());
    const std::uint64_t dropsAtStart = socketNow.drops.value_or(0);
    bool warned = false;

    // Real-time where permitted, from here to the end of the loop; the
    // recorder's writer thread, started above, keeps the normal priority.
    std::optional<ReceivePriority> priority;
    priority.emplace();
    while (!StopOnSignal::requested()) {
        if (QZ417_UDP_GetResult(socket.handle(), packet.data()) == 1) {
            counter.add(packet.data());
            if (recordPath)
                recorder.Push(packet.data(), qz417::recording::ReceiveTime::Now());
            if (csv) {
                const auto received = Clock::now();
                const qz417::ProfilePacket p(packet.data());
                csv->write(StreamCsvRow(std::chrono::system_clock::now(), received - start,
                                        p.measurementCount(), p.packetCount()),
                           *csvPath);
            }
        }
        // One clock read per pass serves the interval and the time limit.
        const auto now = Clock::now();
        const std::chrono::duration<double, std::milli> elapsed = now - intervalStart;
        if (elapsed.count() >= 1000.0) {
            const std::chrono::duration<double> sinceStart = now - start;
            const StreamInterval interval = counter.endInterval(elapsed.count());
            socketNow = qz417::ReadSocketReceive(socket.handle());
            PrintInterval(sinceStart.count(), interval,
                          SplitLoss(counter.counts().lost, socketNow, dropsAtStart),
                          socketNow.grantedBytes, json);
            const std::string warning =
                qz417::BufferWarning(socketNow.grantedBytes, interval.packetRate);
            if (!warning.empty() && !warned) {
                warned = true;
                std::cerr << "warning: " << warning << std::endl;
            }
            intervalStart = now;
            if (recordPath && recorder.Status().state == rec::RecorderState::Failed)
                break;
            if (csv)
                csv->flush(*csvPath);
        }
        if (seconds != 0 && now >= end)
            break;
    }
    priority.reset();
    stop.reset();
    socketNow = qz417::ReadSocketReceive(socket.handle());
    const qz417::StreamCounts &totals = counter.counts();
    const LossSplit split = SplitLoss(totals.lost, socketNow, dropsAtStart);
    if (recordPath) {
        recorder.Stop();
        const rec::RecorderStatus st = recorder.Status();
        // "dropped" are the profiles the recorder had no room for; the
        // receive buffer's drops are in the totals below.
        std::cout << "recorded=" << st.written << " dropped=" << st.dropped << " to " << *recordPath
                  << std::endl;
        // Profiles the writer had no time to measure are stored as "no result".
        if (job)
            std::cout << "measured=" << st.measured << " unmeasured=" << st.unmeasured << " with "
                      << *jobPath << std::endl;
        if (st.state == rec::RecorderState::Failed)
            throw Failure(st.error);
    }
    if (csv)
        csv->close(*csvPath);

    if (json) {
        nlohmann::json total = {{"received", totals.received},
                                {"lost", totals.lost},
                                {"duplicates", totals.duplicates},
                                {"late", totals.late},
                                {"restarts", totals.restarts}};
        AddReceiveFields(total, split, socketNow.grantedBytes, 0);
        std::cout << total.dump() << std::endl;
    } else {
        std::cout << "total received=" << totals.received << " lost=" << totals.lost
                  << " duplicates=" << totals.duplicates << " late=" << totals.late
                  << " restarts=" << totals.restarts
                  << ReceiveText(split, socketNow.grantedBytes, 0) << std::endl;
    }
    if (totals.received == 0)
        throw Failure("no packet received on UDP port " + std::to_string(port));
    return kExitOk;
}

} // namespace qz417::ctl
