// qz417ctl stream: receive the UDP profile stream, print the rates and the
// lost packets once a second, and optionally record every packet.
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>

#include "command_line.h"
#include "commands.h"
#include "failure.h"
#include "qz417link.h"
#include "model/recording/recorder.h"
#include "stream_counter.h"
#include "stream_csv.h"

#include <nlohmann/json.hpp>

namespace qzctl {

namespace {

constexpr const char *kUsage =
    "qz417ctl stream [--port P] [--seconds S] [--record FILE] [--csv FILE] [--json]";
constexpr const char *kHelp =
    "usage: qz417ctl stream [--port P] [--seconds S] [--record FILE] [--csv FILE] [--json]\n"
    "\n"
    "Receives the profiles a scanner streams by UDP and prints once a second the\n"
    "packet and measurement rates (from the change of the packets' counters), the\n"
    "packets received and the packets lost (gaps in the packet counter):\n"
    "  t=1.0s packets=250.0/s measurements=1000.0/s received=250 lost=0\n"
    "and at the end one line with the totals. Stops after S seconds or on Ctrl-C.\n";

volatile std::sig_atomic_t gStop = 0;

extern "C" void OnStopSignal(int) {
    gStop = 1;
}

class UdpSocket {
public:
    explicit UdpSocket(int port) : socket_(QZ417_UDP_Connect(port)) {}
    ~UdpSocket() { QZ417_UDP_Disconnect(socket_); }
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;
    bool ok() const { return socket_ != -1; }
    std::int32_t handle() const { return socket_; }

private:
    std::int32_t socket_;
};

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

void PrintInterval(double seconds, const StreamInterval &s, bool json) {
    if (json) {
        const nlohmann::json line = {{"t", seconds},
                                     {"packetsPerSecond", s.packetRate},
                                     {"measurementsPerSecond", s.measurementRate},
                                     {"received", s.received},
                                     {"lost", s.lost}};
        std::cout << line.dump() << std::endl;
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line,
                  "t=%.1fs packets=%.1f/s measurements=%.1f/s received=%llu lost=%llu", seconds,
                  s.packetRate, s.measurementRate, static_cast<unsigned long long>(s.received),
                  static_cast<unsigned long long>(s.lost));
    std::cout << line << std::endl;
}

} // namespace

int RunStream(const Args &args) {
    const std::vector<OptionDef> options = {
        {"port", 0, "P", "local UDP port, 1..65535 (default 6003)"},
        {"seconds", 0, "S", "how long to receive, 1..86400 (default: until interrupted)"},
        {"record", 0, "FILE",
         "record every packet with its receive time to FILE (replaced;\n"
         "HDF5, see docs/recording-format.md; `qz417ctl recording` reads it)"},
        {"csv", 0, "FILE",
         "write one row per packet to FILE as it arrives:\n"
         "received_utc,elapsed_s,measurement_count,packet_count\n"
         "(receive time in UTC and since the start, in microseconds)"},
        {"json", 0, "",
         "print the lines as JSON objects, one per line: {\"t\", \"packetsPerSecond\",\n"
         "\"measurementsPerSecond\", \"received\", \"lost\"}, then the totals\n"
         "{\"received\", \"lost\", \"duplicates\", \"late\"}; the first line goes to\n"
         "stderr"}};
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << HelpText(kHelp, options, "Exit status 1 when no packet arrived.\n");
        return kExitOk;
    }
    cl.expectPositional(0, kUsage);
    const int port = static_cast<int>(cl.integer("port", 6003, 1, 65535));
    const std::int64_t seconds = cl.integer("seconds", 0, 1, 86400);
    const auto recordPath = cl.value("record");
    const auto csvPath = cl.value("csv");
    const bool json = cl.has("json");

    UdpSocket socket(port);
    if (!socket.ok())
        throw Failure("cannot receive on UDP port " + std::to_string(port) + " (already in use?)");
    namespace rec = qz::recording;
    // The receiving loop only hands packets over; a thread of the recorder
    // writes them.
    rec::Recorder recorder;
    if (recordPath) {
        rec::RecorderSettings settings;
        settings.path = *recordPath;
        settings.header.software = std::string("qz417ctl ") + QZ417_VERSION;
        std::string error;
        if (!recorder.Start(settings, &error))
            throw UsageError(error);
    }
    std::optional<RecordFile> csv;
    if (csvPath) {
        csv.emplace(*csvPath, "wb");
        csv->write(StreamCsvHeader(), *csvPath);
    }

    gStop = 0;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto intervalStart = start;
    StreamCounter counter;
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    (json ? std::cerr : std::cout) << "receiving on UDP port " << port << std::endl;

    while (gStop == 0 && (seconds == 0 || Clock::now() < end)) {
        if (QZ417_UDP_GetResult(socket.handle(), packet.data()) == 1) {
            const auto received = Clock::now();
            const auto measurement = static_cast<std::uint16_t>(packet[0] | (packet[1] << 8));
            const auto packetCount = static_cast<std::uint16_t>(packet[2] | (packet[3] << 8));
            counter.add(measurement, packetCount);
            if (recordPath)
                recorder.Push(packet.data(), qz::recording::ReceiveTime::Now());
            if (csv)
                csv->write(StreamCsvRow(std::chrono::system_clock::now(), received - start,
                                        measurement, packetCount),
                           *csvPath);
        }
        const auto now = Clock::now();
        const std::chrono::duration<double, std::milli> elapsed = now - intervalStart;
        if (elapsed.count() >= 1000.0) {
            const std::chrono::duration<double> sinceStart = now - start;
            PrintInterval(sinceStart.count(), counter.endInterval(elapsed.count()), json);
            intervalStart = now;
            if (recordPath && recorder.Status().state == rec::RecorderState::Failed)
                break;
            if (csv)
                csv->flush(*csvPath);
        }
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (recordPath) {
        recorder.Stop();
        const rec::RecorderStatus st = recorder.Status();
        std::cout << "recorded=" << st.written << " dropped=" << st.dropped << " to " << *recordPath
                  << std::endl;
        if (st.state == rec::RecorderState::Failed)
            throw Failure(st.error);
    }
    if (csv)
        csv->close(*csvPath);

    if (json) {
        const nlohmann::json total = {{"received", counter.received()},
                                      {"lost", counter.lost()},
                                      {"duplicates", counter.duplicates()},
                                      {"late", counter.late()}};
        std::cout << total.dump() << std::endl;
    } else {
        std::cout << "total received=" << counter.received() << " lost=" << counter.lost()
                  << " duplicates=" << counter.duplicates() << " late=" << counter.late()
                  << std::endl;
    }
    if (counter.received() == 0)
        throw Failure("no packet received on UDP port " + std::to_string(port));
    return kExitOk;
}

} // namespace qzctl
