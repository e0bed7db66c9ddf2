// qz417bench_window: the whole program against an emulated scanner on
// loopback. The real main window runs offscreen; its buttons are pressed by
// calling their handlers, and its counters, shared buffers and paint events
// are read from outside. The emulator runs in a child process, so that the
// CPU time and memory measured here are the program's alone.
//
//   qz417bench_window [SECONDS per stream rate, default 10] [UDP PORT, default 16003]
//                     [DIRECTORY for the recordings, default .]
//   qz417bench_window --udp-record PORT FILE
//
// The second form is a receiver of qz417bench_stream: the window, not
// connected, on the "UDP" page with the UDP worker on PORT and its Record
// control recording to FILE; prints "ready", records until SIGTERM, then
// prints "window received=N written=N dropped=N lost=N buffer=BYTES drops=N"
// (the recorder's counts, the worker socket's granted receive buffer and
// the kernel's full-buffer drops for it, -1 when unknown).
//
// Loopback only: the scanner listens on 127.0.0.1, announces to
// 127.0.0.1:6001 and streams to 127.0.0.1:<UDP PORT>. The recordings made
// (the "UDP" page's Record control, and one to play back on the "Playback"
// page) go to DIRECTORY and are removed at the end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "bench_support.h"
#include "core/app_state.h"
#include "core/form_main.h"
#include "core/window_additions.h"
#include "feed/profile_feed.h"
#include "measure/measure_page.h"
#include "model/measure/job.h"
#include "model/recording/recording_file.h"
#include "model/socket_receive.h"
#include "recording/playback_page.h"
#include "recording/record_controls.h"
#include "surface/surface_view.h"
#include "synthetic_packet.h"
#include "widgets/profile_chart.h"
#include "widgets/video_panel.h"

namespace {

using qz417::bench::Clock;
using qz417::bench::Figure;
using qz417::bench::Fixed;
using qz417::bench::Since;
using qz417::bench::YesNo;

// ---- the emulator in a child process, driven by one line per command ----
//   start ANNOUNCE_MS STREAM_HZ UDP_PORT  -> "ok" or "error ..."
//   stop                                  -> number of datagrams sent since start
//   quit
class EmulatorProcess {
public:
    bool spawn() {
        int toChild[2], fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0)
            return false;
        pid_ = ::fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            ::close(toChild[1]);
            ::close(fromChild[0]);
            Serve(::fdopen(toChild[0], "r"), ::fdopen(fromChild[1], "w"));
            ::_exit(0);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        out_ = ::fdopen(toChild[1], "w");
        in_ = ::fdopen(fromChild[0], "r");
        return out_ && in_;
    }
    std::string ask(const std::string &command) {
        std::fprintf(out_, "%s\n", command.c_str());
        std::fflush(out_);
        char line[512] = {};
        if (!std::fgets(line, sizeof line, in_))
            return "error: the emulator process ended";
        std::string answer(line);
        while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
            answer.pop_back();
        return answer;
    }
    void quit() {
        if (pid_ <= 0)
            return;
        std::fprintf(out_, "quit\n");
        std::fflush(out_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        std::fclose(out_);
        std::fclose(in_);
        pid_ = 0;
    }

private:
    static void Serve(FILE *in, FILE *out) {
        std::unique_ptr<qz417::sim::Emulator> emulator;
        char line[512];
        while (std::fgets(line, sizeof line, in)) {
            int announceMs = 0, port = 0;
            double hz = 0;
            if (std::sscanf(line, "start %d %lf %d", &announceMs, &hz, &port) == 3) {
                if (emulator)
                    emulator->stop();
                qz417::sim::EmulatorOptions o;
                o.announceIntervalMs = announceMs;
                o.streamRateHz = hz;
                emulator = std::make_unique<qz417::sim::Emulator>(o);
                auto block = emulator->config(0);
                block[26] = 1; // stream destination 127.0.0.1 (first octet last)
                block[27] = 0;
                block[28] = 0;
                block[29] = 127;
                block[30] = static_cast<std::uint8_t>(port);
                block[31] = static_cast<std::uint8_t>(port >> 8);
                emulator->setConfig(0, block);
                std::string error;
                if (qz417::bench::StartEmulator(*emulator, &error))
                    std::fprintf(out, "ok\n");
                else
                    std::fprintf(out, "error %s\n", error.c_str());
            } else if (std::strncmp(line, "stop", 4) == 0) {
                unsigned long long sent = 0;
                if (emulator) {
                    emulator->stop();
                    sent = emulator->udpPacketsSent(0);
                    emulator.reset();
                }
                std::fprintf(out, "%llu\n", sent);
            } else if (std::strncmp(line, "quit", 4) == 0) {
                break;
            }
            std::fflush(out);
        }
    }

    pid_t pid_ = 0;
    FILE *out_ = nullptr;
    FILE *in_ = nullptr;
};

// ---- the application, watching the view timer's ticks and the paints ----
class BenchApplication : public QApplication {
public:
    using QApplication::QApplication;

    QObject *tickTimer = nullptr;
    QObject *chart = nullptr;
    QObject *panel = nullptr;
    QObject *surface = nullptr;
    QObject *playbackChart = nullptr;
    bool recordTicks = false;
    std::vector<double> tickCpuMs, tickWallMs;
    long chartPaints = 0, panelPaints = 0, surfacePaints = 0, playbackPaints = 0, ticks = 0;

    bool notify(QObject *receiver, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            if (receiver == chart)
                ++chartPaints;
            else if (receiver == panel)
                ++panelPaints;
            else if (receiver == surface)
                ++surfacePaints;
            else if (receiver == playbackChart)
                ++playbackPaints;
        }
        if (receiver == tickTimer && event->type() == QEvent::Timer)
            ++ticks;
        if (!recordTicks || receiver != tickTimer || event->type() != QEvent::Timer)
            return QApplication::notify(receiver, event);
        const double cpu = qz417::bench::ThreadCpuSeconds();
        const auto wall = Clock::now();
        const bool r = QApplication::notify(receiver, event);
        tickCpuMs.push_back((qz417::bench::ThreadCpuSeconds() - cpu) * 1e3);
        tickWallMs.push_back(Since(wall) * 1e3);
        return r;
    }
};

// Runs the event loop for a while (sleeping in it, never spinning).
void RunFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

bool RunUntil(const std::function<bool()> &done, double timeoutSeconds) {
    const auto start = Clock::now();
    while (!done()) {
        if (Since(start) > timeoutSeconds)
            return false;
        RunFor(0.01);
    }
    return true;
}

// A 16-bit counter read often enough to be summed across its wraps.
class CounterSum {
public:
    explicit CounterSum(const std::atomic<std::uint16_t> &c) : counter_(c), last_(c.load()) {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this] { sample(); });
        timer_.start();
    }
    long total() {
        sample();
        return total_;
    }

private:
    void sample() {
        const std::uint16_t now = counter_.load();
        total_ += static_cast<std::uint16_t>(now - last_);
        last_ = now;
    }
    const std::atomic<std::uint16_t> &counter_;
    std::uint16_t last_;
    long total_ = 0;
    QTimer timer_;
};

// CPU use of this process over an interval, in percent of one core.
class CpuMeter {
public:
    CpuMeter() : cpu_(qz417::bench::ProcessCpuSeconds()), start_(Clock::now()) {}
    double percent() const {
        return 100.0 * (qz417::bench::ProcessCpuSeconds() - cpu_) / std::max(1e-9, Since(start_));
    }
    double seconds() const { return Since(start_); }

private:
    double cpu_;
    Clock::time_point start_;
};

double Quantile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

// Sends changing 1024-point profiles to 127.0.0.1:port at about hz per second.
void SendProfiles(int port, double hz, double seconds, std::atomic<bool> &stop) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    const auto start = Clock::now();
    unsigned n = 0;
    while (!stop && Since(start) < seconds) {
        const auto due = static_cast<unsigned>(Since(start) * hz);
        for (; n < due; ++n) {
            qz417::bench::MakePacket(packet, n);
            ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
                     sizeof to);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ::close(fd);
}

// Exchanges per second through the library alone, on a connection of its own
// to the emulated scanner at 127.0.0.1: images, or else profiles.
double LibraryRate(bool images, double seconds) {
    DeviceAnnouncement d{};
    d.type = QZ417_TYPE_CODE;
    d.ip[0] = 127;
    d.ip[3] = 1;
    const std::int32_t s = QZ417_Connect(&d);
    if (s <= 0)
        return 0;
    std::vector<std::uint8_t> buffer(QZ417_IMAGE_SIZE);
    long n = 0;
    const auto start = Clock::now();
    while (Since(start) < seconds)
        n += images ? QZ417_GetImage(s, buffer.data()) : QZ417_GetResult(s, buffer.data());
    const double rate = static_cast<double>(n) / Since(start);
    QZ417_Disconnect(s);
    return rate;
}

std::string Kilo(double hz) {
    return Fixed(hz / 1000, 0) + " kHz";
}

// ---- 7: the "UDP" page's Record control at 10 kHz ----
// The UDP worker receives the emulator's 10 kHz stream in alternating turns,
// plain and recording to a file in `dir` through the page's Record control.
// Each turn's figure is the CPU time of this whole process (acquisition,
// view timer, the recorder's writer thread) over its wall
// time; the median of each kind decides, so that a load spike during one
// turn does not. Every recording is read back: the file must hold every
// profile the worker received during that turn. Empty on success, else why not.
std::string RecordingRows(TFormMain *form, EmulatorProcess &emulator, int udpPort, double perRate,
                          const std::string &dir) {
    qz417::RecordControls *record = form->Additions().UdpRecord;
    form->Additions().SurfaceView->SetCollecting(false);
    form->PageControlQZ417->setCurrentWidget(form->TabSheetUDP);
    form->ButtonUDPResultClick();
    if (!RunUntil([] { return WorkerMode.load() == kModeUdp; }, 3))
        return "the UDP worker did not start for the recording turns";
    const std::string path = dir + "/qz417bench-window-recording.h5";
    const double turnSeconds = std::max(2.0, perRate / 2);
    constexpr int kTurns = 6; // plain, recording, plain, ...
    std::vector<double> cpuPlain, cpuRecording;
    long sentPlain = 0, receivedPlain = 0, sent = 0, received = 0;
    std::uint64_t written = 0, inFiles = 0, dropped = 0;
    std::string error;
    for (int t = 0; t < kTurns && error.empty(); ++t) {
        const bool recording = t % 2 == 1;
        if (recording && !record->StartRecording(QString::fromStdString(path), {})) {
            error = "the Record control did not start: " + record->lastMessage().toStdString();
            break;
        }
        RunFor(0.3);
        const std::uint64_t seq0 = ResultPacket.sequence();
        if (std::string a = emulator.ask("start 0 10000 " + std::to_string(udpPort)); a != "ok") {
            error = a;
            break;
        }
        CpuMeter cpu;
        RunFor(turnSeconds);
        const double percent = cpu.percent();
        const long s = std::atol(emulator.ask("stop").c_str());
        RunFor(0.3); // what is still queued
        const long r = static_cast<long>(ResultPacket.sequence() - seq0);
        std::printf("recording turn %d (%s): CPU %.1f %%, sent %ld, received %ld\n", t,
                    recording ? "recording" : "plain", percent, s, r);
        if (!recording) {
            cpuPlain.push_back(percent);
            sentPlain += s;
            receivedPlain += r;
            continue;
        }
        cpuRecording.push_back(percent);
        sent += s;
        received += r;
        record->StopRecording(); // returns at once: the file is finished in the background
        RunUntil([record] { return !record->Recording(); }, 30);
        const qz417::recording::RecorderStatus status = record->Status();
        std::printf("  recorder: written %llu, dropped %llu, gaps %llu\n",
                    static_cast<unsigned long long>(status.written),
                    static_cast<unsigned long long>(status.dropped),
                    static_cast<unsigned long long>(status.lost));
        written += status.written;
        dropped += status.dropped;
        try {
            inFiles += qz417::recording::RecordingReader(path).profiles();
        } catch (const std::exception &e) {
            error = std::string("the recording cannot be read: ") + e.what();
        }
        std::remove(path.c_str());
    }
    if (record->Recording())
        record->StopRecording();
    RunUntil([record] { return !record->Recording(); }, 30);
    form->ButtonUDPResultClick();
    RunUntil([] { return WorkerMode.load() == kModeIdle; }, 3);
    if (!error.empty())
        return error;

    const double with = qz417::bench::Median(cpuRecording);
    const double without = qz417::bench::Median(cpuPlain);
    const double ratio = with / std::max(1e-9, without);
    Figure("7 CPU, UDP worker at 10 kHz recording on \"UDP\" (% of one core, all threads; "
           "median of " +
               std::to_string(cpuRecording.size()) + " turns of " + Fixed(turnSeconds, 0) + " s)",
           Fixed(with, 1), Fixed(without, 1) + " not recording", Fixed(ratio, 2), "< 2",
           YesNo(ratio < 2));
    const long lost = sent - received;
    const std::uint64_t missing = static_cast<std::uint64_t>(std::max(0L, lost)) + dropped;
    Figure("7 recording at 10 kHz: profiles lost + dropped (sent " + std::to_string(sent) +
               ", received " + std::to_string(received) + ", written " + std::to_string(written) +
               ", in the files " + std::to_string(inFiles) + ")",
           std::to_string(missing),
           std::to_string(sentPlain - receivedPlain) + " lost not recording",
           Fixed(static_cast<double>(inFiles) / std::max(1L, sent), 4), "0",
           YesNo(missing == 0 && inFiles == written &&
                 written == static_cast<std::uint64_t>(received)));
    return {};
}

// ---- 9: the "Measure" page measuring every profile of a 40 kHz stream ----
// A job of every tool against an empty job, in alternating turns on the same
// UDP stream, the Measure page shown and bound to "Live": the worker's
// losses, the profiles measured of those received, the view ticks and the
// process's CPU. Empty on success, else why not.
const char *kEveryToolJob = R"({"format": "qz417-measure-job", "version": 1, "tools": [
  {"name": "plate", "tool": "height", "region": {"x": [-45, -15]}},
  {"name": "flatness", "tool": "line", "region": {"x": [-45, -15]}},
  {"name": "step", "tool": "step", "regions": [{"x": [-45, -15]}, {"x": [15, 45]}]},
  {"name": "edge", "tool": "edge", "region": {"x": [-15, 15]}, "level": 2, "levelBase": [{"x": [-45, -15]}]},
  {"name": "box", "tool": "width", "region": {"x": [-45, 45]}, "level": 2, "levelBase": [{"x": [-45, -15]}]},
  {"name": "joint", "tool": "gap", "regions": [{"x": [-45, -12]}, {"x": [12, 45]}]},
  {"name": "vee", "tool": "angle", "regions": [{"x": [-45, -15]}, {"x": [15, 45]}]},
  {"name": "fill", "tool": "area", "region": {"x": [-12, 12]}, "base": [{"x": [-45, -15]}, {"x": [15, 45]}]}
]})";

std::string MeasureRows(BenchApplication &app, TFormMain *form, EmulatorProcess &emulator,
                        int udpPort, double perRate) {
    struct Turn {
        double seconds = 0, cpu = 0;
        long ticks = 0, sent = 0, received = 0, measured = 0, dropped = 0;
    };
    qz417::MeasurePage *page = form->Additions().MeasureView;
    const qz417::measure::Job everyTool = qz417::measure::ParseJob(kEveryToolJob);
    form->PageControlQZ417->setCurrentWidget(form->Additions().TabSheetMeasure);
    page->Bind(0); // "Live"
    form->ButtonUDPResultClick();
    if (!RunUntil([] { return WorkerMode.load() == kModeUdp; }, 3))
        return "the UDP worker did not start for the Measure page";
    Turn with, without;
    const double turnSeconds = std::max(2.0, perRate / 2);
    for (int t = 0; t < 4; ++t) {
        const bool measuring = t % 2 == 1;
        Turn &turn = measuring ? with : without;
        if (!page->ApplyJob(measuring ? everyTool : qz417::measure::Job{}))
            return "the Measure page refused the job";
        RunFor(0.3);
        const std::uint64_t seq0 = ResultPacket.sequence();
        const std::uint64_t measured0 = page->worker().measured();
        const std::uint64_t dropped0 = page->worker().dropped();
        if (std::string a = emulator.ask("start 0 40000 " + std::to_string(udpPort)); a != "ok")
            return a;
        const long ticks0 = app.ticks;
        CpuMeter cpu;
        RunFor(turnSeconds);
        turn.seconds += cpu.seconds();
        turn.cpu += cpu.percent() * cpu.seconds() / 100;
        turn.ticks += app.ticks - ticks0;
        turn.sent += std::atol(emulator.ask("stop").c_str());
        RunFor(0.3); // what is still queued
        turn.received += static_cast<long>(ResultPacket.sequence() - seq0);
        turn.measured += static_cast<long>(page->worker().measured() - measured0);
        turn.dropped += static_cast<long>(page->worker().dropped() - dropped0);
    }
    form->ButtonUDPResultClick();
    RunUntil([] { return WorkerMode.load() == kModeIdle; }, 3);
    page->ApplyJob(qz417::measure::Job{});

    const long lostWith = with.sent - with.received, lostWithout = without.sent - without.received;
    Figure("9 UDP 40 kHz, Measure page measuring every profile (8 tools): lost packets (sent " +
               std::to_string(with.sent) + ")",
           std::to_string(lostWith), std::to_string(lostWithout) + " lost with an empty job", "-",
           "0 lost", YesNo(lostWith == 0));
    const long notMeasured = with.received - with.measured;
    Figure("9 Measure page: profiles received but not measured (measured " +
               std::to_string(with.measured) + ", worker drops " + std::to_string(with.dropped) +
               ")",
           std::to_string(notMeasured), std::to_string(with.received) + " received", "-", "0",
           YesNo(notMeasured == 0 && with.dropped == 0));
    Figure("9 view ticks per second, measuring / empty job",
           Fixed(static_cast<double>(with.ticks) / with.seconds, 0),
           Fixed(static_cast<double>(without.ticks) / without.seconds, 0));
    const double cpuWith = 100 * with.cpu / with.seconds;
    const double cpuWithout = 100 * without.cpu / without.seconds;
    Figure("9 CPU of the program, measuring 40 kHz (% of one core)", Fixed(cpuWith, 1),
           Fixed(cpuWithout, 1) + " empty job", Fixed(cpuWith / std::max(1e-9, cpuWithout), 2));
    return {};
}

// ---- 8: playback on the "Playback" page ----
// A recording of n profiles of 1024 valid points, received 1 ms apart, with
// the emulator's announcement (so the page takes its scale).
bool WriteRecording(const std::string &path, std::uint32_t n, std::string *error) {
    namespace rec = qz417::recording;
    const qz417::sim::Emulator sim{
        qz417::sim::EmulatorOptions{}}; // not started: its announcement only
    const rec::RecordingHeader header{sim.announcement(0), std::nullopt, "qz417bench_window"};
    constexpr std::uint32_t kBatch = 1000;
    constexpr std::int64_t kPeriodNs = 1'000'000;
    try {
        rec::RecordingWriter writer(path, header);
        std::vector<std::uint8_t> packets(kBatch * QZ417_PACKET_SIZE);
        std::vector<rec::ReceiveTime> times(kBatch);
        std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
        const rec::ReceiveTime t0 = rec::ReceiveTime::Now();
        for (std::uint32_t first = 0; first < n; first += kBatch) {
            const std::uint32_t m = std::min(kBatch, n - first);
            for (std::uint32_t i = 0; i < m; ++i) {
                qz417::bench::MakePacket(packet, first + i);
                std::copy(packet.begin(), packet.end(),
                          packets.begin() + static_cast<std::ptrdiff_t>(i * QZ417_PACKET_SIZE));
                const std::int64_t offset = static_cast<std::int64_t>(first + i) * kPeriodNs;
                times[i] = {t0.monotonicNs + offset, t0.wallNs + offset};
            }
            writer.Append(packets.data(), times.data(), m);
        }
        writer.Close(0, rec::EndState::Closed);
    } catch (const std::exception &e) {
        *error = e.what();
        return false;
    }
    return true;
}

struct Play {
    double seconds = -1;     // -1: did not reach the last profile in time
    std::uint64_t plots = 0; // chart redraws while it played
    long paints = 0;         // paint events of the chart, up to 50 ms after
};

// Plays from profile `from` to the last at the page's chosen speed, with the
// window's event loop running (the page's 60 Hz timer redraws its chart):
// the wall time from "Play" until the player has shown the last profile.
Play PlayToEnd(BenchApplication &app, qz417::PlaybackPage *page, std::uint64_t from,
               double timeoutSeconds) {
    page->player().Seek(from);
    RunFor(0.05);
    Play play;
    const std::uint64_t plots0 = page->plotted();
    const long paints0 = app.playbackPaints;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!page->player().Playing())
            loop.quit();
    });
    QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), &loop, &QEventLoop::quit);
    const auto start = Clock::now();
    page->playButton()->click();
    poll.start();
    loop.exec();
    const double seconds = Since(start);
    play.plots = page->plotted() - plots0;
    page->player().Pause();
    RunFor(0.05); // a paint that was still queued
    play.paints = app.playbackPaints - paints0;
    if (page->player().shown() == static_cast<std::int64_t>(page->player().profiles()) - 1)
        play.seconds = seconds;
    return play;
}

std::string PlaybackRows(BenchApplication &app, TFormMain *form, const std::string &dir) {
    constexpr std::uint32_t kProfiles = 20000; // 20 s at 1 kHz
    const std::string path = dir + "/qz417bench-playback.h5";
    std::string error;
    if (!WriteRecording(path, kProfiles, &error))
        return "the recording to play back cannot be written: " + error;
    qz417::PlaybackPage *page = form->Additions().PlaybackView;
    app.playbackChart = page->chart();
    form->PageControlQZ417->setCurrentWidget(form->Additions().TabSheetPlayback);
    if (!page->OpenRecording(QString::fromStdString(path))) {
        std::remove(path.c_str());
        return "the Playback page did not open " + path;
    }
    RunFor(0.3);

    // "as fast as possible" from the first profile to the last. One play
    // lasts about one frame of the chart's timer, so it plays ten times: the
    // median play decides the speed, the redraws are those of all ten.
    page->speedBox()->setCurrentIndex(3);
    constexpr int kPlays = 10;
    std::vector<double> seconds;
    std::uint64_t plots = 0;
    long paints = 0;
    for (int i = 0; i < kPlays; ++i) {
        const Play p = PlayToEnd(app, page, 0, 30);
        std::printf("playback as fast as possible: %.4f s, %llu plots, %ld paints\n", p.seconds,
                    static_cast<unsigned long long>(p.plots), p.paints);
        if (p.seconds < 0) {
            std::remove(path.c_str());
            return "playing as fast as possible did not reach the end within 30 s";
        }
        seconds.push_back(p.seconds);
        plots += p.plots;
        paints += p.paints;
    }
    const double recorded = (kProfiles - 1) * 1e-3; // after profile 0, which Seek shows
    const double wall = qz417::bench::Median(seconds);
    const double speed = recorded / wall;
    Figure("8 playback \"as fast as possible\", " + std::to_string(kProfiles) +
               " profiles at 1 kHz: wall time (s, median of " + std::to_string(kPlays) +
               " plays; ratio = times real time; " + std::to_string(plots) + " chart redraws and " +
               std::to_string(paints) + " paints in all)",
           Fixed(wall, 4), Fixed(recorded, 3) + " s recorded", Fixed(speed, 1), ">= 10",
           YesNo(speed >= 10 && plots > 0));

    // "10x": the last 10 s of the recording should take 1 s.
    page->speedBox()->setCurrentIndex(2);
    constexpr std::uint32_t kTenX = 10000;
    const Play p = PlayToEnd(app, page, kProfiles - 1 - kTenX, 20);
    std::remove(path.c_str());
    if (p.seconds < 0)
        return "playing at 10x did not reach the end within 20 s";
    const double expected = kTenX * 1e-3 / 10;
    const double ratio = p.seconds / expected;
    Figure("8 playback \"10x\", " + std::to_string(kTenX) + " profiles at 1 kHz: wall time (s; " +
               std::to_string(p.plots) + " chart redraws, " + std::to_string(p.paints) + " paints)",
           Fixed(p.seconds, 3), Fixed(expected, 3) + " s = recorded / 10", Fixed(ratio, 3),
           "0.95 - 1.05", YesNo(ratio >= 0.95 && ratio <= 1.05 && p.plots > 0));
    return {};
}

// ---- the window as a receiver of qz417bench_stream ----
volatile std::sig_atomic_t gStopRecording = 0;

extern "C" void OnStopRecording(int) {
    gStopRecording = 1;
}

int UdpRecordReceiver(int argc, char **argv, int udpPort, const std::string &path) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    BenchApplication app(argc, argv);
    qz417::ResetAppState();
    auto *form = new TFormMain;
    FormMain = form;
    form->show();
    form->Additions().SurfaceView->SetCollecting(false);
    form->PageControlQZ417->setCurrentWidget(form->TabSheetUDP);
    form->EditUDPPrt->setText(QString::number(udpPort));
    RunFor(0.3);
    form->ButtonUDPResultClick();
    int status = 0;
    qz417::RecordControls *record = form->Additions().UdpRecord;
    if (!RunUntil([] { return WorkerMode.load() == kModeUdp; }, 5)) {
        std::fprintf(stderr, "qz417bench_window: the UDP worker did not start\n");
        status = 1;
    } else if (!record->StartRecording(QString::fromStdString(path), {})) {
        std::fprintf(stderr, "qz417bench_window: the Record control did not start: %s\n",
                     record->lastMessage().toStdString().c_str());
        status = 1;
    } else {
        std::signal(SIGTERM, OnStopRecording);
        std::signal(SIGINT, OnStopRecording);
        const std::uint64_t seq0 = ResultPacket.sequence();
        std::printf("ready\n");
        std::fflush(stdout);
        RunUntil([] { return gStopRecording != 0; }, 3600);
        const std::optional<qz417::SocketReceive> receive =
            qz417::ReadUdpPortReceive(static_cast<std::uint16_t>(udpPort));
        const std::uint64_t received = ResultPacket.sequence() - seq0;
        record->StopRecording();
        const qz417::recording::RecorderStatus s = record->Status();
        std::printf("window received=%llu written=%llu dropped=%llu lost=%llu buffer=%d "
                    "drops=%lld\n",
                    static_cast<unsigned long long>(received),
                    static_cast<unsigned long long>(s.written),
                    static_cast<unsigned long long>(s.dropped),
                    static_cast<unsigned long long>(s.lost), receive ? receive->grantedBytes : 0,
                    receive && receive->drops ? static_cast<long long>(*receive->drops) : -1LL);
        std::fflush(stdout);
    }
    form->ButtonUDPResultClick();
    RunUntil([] { return WorkerMode.load() == kModeIdle; }, 5);
    form->close();
    form->ShutdownWorkers();
    delete form;
    FormMain = nullptr;
    return status;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::string(argv[1]) == "--udp-record")
        return UdpRecordReceiver(argc, argv, std::atoi(argv[2]), argv[3]);
    const double perRate = argc > 1 ? std::atof(argv[1]) : 10.0;
    const int udpPort = argc > 2 ? std::atoi(argv[2]) : 16003;
    const std::string dir = argc > 3 ? argv[3] : ".";
    if (perRate <= 0 || perRate > 60 || udpPort <= 1024 || udpPort > 65535) {
        std::fprintf(stderr, "usage: qz417bench_window [SECONDS per rate] [UDP PORT > 1024] "
                             "[DIRECTORY]\n");
        return 2;
    }
    EmulatorProcess emulator;
    if (!emulator.spawn()) {
        std::fprintf(stderr, "qz417bench_window: cannot start the emulator process\n");
        return 1;
    }
    auto fail = [&](const std::string &why) {
        std::fprintf(stderr, "qz417bench_window: %s\n", why.c_str());
        emulator.quit();
        return 1;
    };
    if (std::string a = emulator.ask("start 100 0 " + std::to_string(udpPort)); a != "ok")
        return fail(a);

    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    BenchApplication app(argc, argv);
    qz417::ResetAppState();
    auto *form = new TFormMain;
    FormMain = form;
    form->SetSearchTimeoutForTest(1500);
    form->show();
    app.tickTimer = form->TimerView;
    app.chart = form->ChartUDP;
    app.panel = form->PanelVideo;
    app.surface = form->Additions().SurfaceView->mapPlot();
    // The surface view collects only in its own rows below; the figures
    // above are those of the window without it.
    form->Additions().SurfaceView->SetCollecting(false);

    // ---- search and connect ----
    form->ButtonSearchClick();
    RunFor(0.2);
    if (!RunUntil([&] { return form->ButtonSearch->isEnabled(); }, 8) ||
        !form->ButtonConnect->isEnabled())
        return fail("the search found no scanner");
    form->ButtonConnectClick();
    if (form->ButtonConnect->text() != QLatin1String("Disconnect"))
        return fail("the window did not connect");
    RunFor(1.0); // the first picture arrives

    // ---- 5: connected and idle ----
    {
        form->PageControlQZ417->setCurrentWidget(form->TabSheetImageGrabber);
        RunFor(0.5);
        CpuMeter cpu;
        RunFor(5);
        const double p = cpu.percent();
        Figure("5a CPU, connected and idle (% of one core)", Fixed(p, 1), "-", "-", "< 5",
               YesNo(p < 5));
    }

    // ---- 2b and 1b: the TCP workers against the library alone ----
    // In turns: the library alone on a connection of its own while the
    // window is idle, then the worker for as long, so that a change of the
    // machine's load falls on both alike.
    struct WorkerRun {
        double rate = 0, libraryRate = 0, ratio = 0, cpu = 0, paints = 0;
    };
    auto runWorker = [&](bool images) -> std::optional<WorkerRun> {
        const std::uint8_t mode = images ? kModeImage : kModeResult;
        form->PageControlQZ417->setCurrentWidget(images ? form->TabSheetImageGrabber
                                                        : form->TabSheetResultViewer);
        RunFor(0.3);
        WorkerRun w;
        long total = 0, paints = 0;
        double seconds = 0, cpuSeconds = 0, libraryTotal = 0;
        constexpr int kTurns = 3;
        constexpr double kTurnSeconds = 1.5;
        for (int t = 0; t < kTurns; ++t) {
            const double library = LibraryRate(images, kTurnSeconds);
            libraryTotal += library;
            const long paints0 = app.panelPaints;
            images ? form->ButtonGrabberClick() : form->ButtonResultClick();
            if (!RunUntil([&] { return WorkerMode.load() == mode; }, 3))
                return std::nullopt;
            CounterSum count(AcquiredCount);
            const double cpu0 = qz417::bench::ProcessCpuSeconds();
            const auto start = Clock::now();
            RunFor(kTurnSeconds);
            const double s = Since(start);
            const long n = count.total();
            cpuSeconds += qz417::bench::ProcessCpuSeconds() - cpu0;
            paints += app.panelPaints - paints0;
            images ? form->ButtonGrabberClick() : form->ButtonResultClick();
            RunUntil([] { return WorkerMode.load() == kModeIdle; }, 6);
            total += n;
            seconds += s;
        }
        w.rate = static_cast<double>(total) / seconds;
        w.libraryRate = libraryTotal / kTurns;
        w.ratio = w.libraryRate > 0 ? w.rate / w.libraryRate : 0;
        w.cpu = 100 * cpuSeconds / seconds;
        w.paints = static_cast<double>(paints) / seconds;
        return w;
    };
    {
        const std::optional<WorkerRun> w = runWorker(true);
        if (!w)
            return fail("the image worker did not start");
        Figure("2b images/s, image worker drawing in the window", Fixed(w->rate, 1),
               Fixed(w->libraryRate, 1) + " library alone", Fixed(w->ratio, 3), ">= 0.95",
               YesNo(w->ratio >= 0.95));
        Figure("2b picture paints/s of PanelVideo during it", Fixed(w->paints, 1));
        Figure("5b CPU, image worker running (% of one core)", Fixed(w->cpu, 1));
    }
    {
        const std::optional<WorkerRun> w = runWorker(false);
        if (!w)
            return fail("the result worker did not start");
        Figure("1b results/s, TCP result worker with the window plotting", Fixed(w->rate, 0),
               Fixed(w->libraryRate, 0) + " library alone", Fixed(w->ratio, 3), ">= 0.95",
               YesNo(w->ratio >= 0.95));
        Figure("5c CPU, TCP result worker running (% of one core)", Fixed(w->cpu, 1));
    }

    // ---- 3: the UDP stream at five rates, then 4: the view tick ----
    form->ButtonConnectClick(); // disconnect: the UDP page comes back
    emulator.ask("stop");
    form->PageControlQZ417->setCurrentWidget(form->TabSheetUDP);
    form->EditUDPPrt->setText(QString::number(udpPort));
    RunFor(0.3);
    form->ButtonUDPResultClick();
    if (!RunUntil([] { return WorkerMode.load() == kModeUdp; }, 3))
        return fail("the UDP worker did not start (port " + std::to_string(udpPort) + " taken?)");
    const auto streamStart = Clock::now();
    long rssAfterWarmUp = 0;
    bool first = true;
    for (const double hz : {5000.0, 10000.0, 20000.0, 40000.0, 80000.0}) {
        const std::uint64_t seq0 = ResultPacket.sequence();
        const long drops0 = qz417::bench::UdpReceiveBufferErrors();
        if (std::string a = emulator.ask("start 0 " + Fixed(hz, 0) + " " + std::to_string(udpPort));
            a != "ok")
            return fail(a);
        CpuMeter cpu;
        RunFor(perRate);
        const double p = cpu.percent();
        const double seconds = cpu.seconds();
        const long sent = std::atol(emulator.ask("stop").c_str());
        RunFor(0.3); // what is still queued
        const long received = static_cast<long>(ResultPacket.sequence() - seq0);
        const long lost = sent - received;
        const long drops = qz417::bench::UdpReceiveBufferErrors() - drops0;
        const double sentRate = static_cast<double>(sent) / seconds;
        const bool fast = sentRate >= 0.95 * hz;
        const bool target = hz <= 40000;
        Figure("3 UDP " + Kilo(hz) + ": lost packets (sent " + Fixed(sentRate, 0) +
                   "/s, kernel drops " + std::to_string(drops) + ")",
               std::to_string(lost), std::to_string(sent) + " sent",
               Fixed(static_cast<double>(received) / std::max(1L, sent), 4),
               target ? "0 lost" : "-",
               target ? YesNo(lost == 0 && fast) : (lost == 0 && fast ? "(yes)" : "(no)"));
        Figure("5d CPU, UDP worker at " + Kilo(hz) + " (% of one core)", Fixed(p, 1));
        if (first)
            rssAfterWarmUp = qz417::bench::CurrentRssKiB();
        first = false;
    }

    // ---- 4: the view tick with 1024 valid points ----
    {
        const double seconds = std::max(5.0, 60.0 - Since(streamStart)); // the stream lasts 60 s
        std::atomic<bool> stop{false};
        std::thread sender([&] { SendProfiles(udpPort, 2000, seconds + 1, stop); });
        RunFor(0.5);
        app.tickCpuMs.clear();
        app.tickWallMs.clear();
        const long paints0 = app.chartPaints;
        app.recordTicks = true;
        const auto start = Clock::now();
        RunFor(seconds);
        app.recordTicks = false;
        const double elapsed = Since(start);
        const double paints = static_cast<double>(app.chartPaints - paints0) / elapsed;
        const int points = form->ChartUDP->pointCount();
        stop = true;
        sender.join();
        const double median = Quantile(app.tickCpuMs, 0.5);
        const double p95 = Quantile(app.tickCpuMs, 0.95);
        Figure("4 view tick CPU, 1024 points, median (ms; " + std::to_string(points) +
                   " points shown)",
               Fixed(median, 3), "-", "-", "< 1", YesNo(median < 1 && points == 1024));
        Figure("4 view tick CPU, 95th percentile (ms)", Fixed(p95, 3));
        Figure("4 view tick wall time, median (ms; incl. the 1 ms end-of-worker wait)",
               Fixed(Quantile(app.tickWallMs, 0.5), 3));
        Figure("4 view ticks per second",
               Fixed(static_cast<double>(app.tickCpuMs.size()) / elapsed, 0));
        Figure("4 chart frames painted per second", Fixed(paints, 1), "-", "-", ">= 60",
               YesNo(paints >= 60));
    }

    const long rssEnd = qz417::bench::CurrentRssKiB();
    const double streamSeconds = Since(streamStart);
    form->ButtonUDPResultClick();
    RunUntil([] { return WorkerMode.load() == kModeIdle; }, 3);
    Figure("5e memory growth over a " + Fixed(streamSeconds, 0) + " s stream after warm-up (KiB)",
           std::to_string(rssEnd - rssAfterWarmUp), std::to_string(rssAfterWarmUp) + " KiB RSS",
           "-", "< 1024", YesNo(rssEnd - rssAfterWarmUp < 1024));
    Figure("5f peak resident memory (KiB)", std::to_string(qz417::bench::PeakRssKiB()));

    // ---- 6: the surface view at 10 kHz, N = 1000, against the same run
    // without it (the UDP page shown, the view not collecting), in turns ----
    {
        struct Turn {
            double seconds = 0, mainCpu = 0;
            long ticks = 0, paints = 0, sent = 0, received = 0, taken = 0, dropped = 0;
        };
        Turn with, without;
        form->Additions().SurfaceView->depthBox()->setValue(qz417::SurfaceView::kDefaultDepth);
        form->ButtonUDPResultClick();
        if (!RunUntil([] { return WorkerMode.load() == kModeUdp; }, 3))
            return fail("the UDP worker did not start again");
        const double turnSeconds = std::max(2.0, perRate / 2);
        for (int t = 0; t < 4; ++t) {
            const bool surface = t % 2 == 1;
            Turn &turn = surface ? with : without;
            form->Additions().SurfaceView->SetCollecting(surface);
            form->PageControlQZ417->setCurrentWidget(surface ? form->Additions().TabSheetSurface
                                                             : form->TabSheetUDP);
            RunFor(0.3);
            const std::uint64_t seq0 = ResultPacket.sequence();
            const std::uint64_t taken0 = form->Additions().SurfaceView->history().added();
            const std::uint64_t dropped0 = form->Additions().SurfaceView->dropped();
            if (std::string a = emulator.ask("start 0 10000 " + std::to_string(udpPort)); a != "ok")
                return fail(a);
            const long ticks0 = app.ticks, paints0 = app.surfacePaints;
            const double cpu0 = qz417::bench::ThreadCpuSeconds();
            const auto start = Clock::now();
            RunFor(turnSeconds);
            turn.seconds += Since(start);
            turn.mainCpu += qz417::bench::ThreadCpuSeconds() - cpu0;
            turn.ticks += app.ticks - ticks0;
            turn.paints += app.surfacePaints - paints0;
            turn.sent += std::atol(emulator.ask("stop").c_str());
            RunFor(0.3); // what is still queued
            turn.received += static_cast<long>(ResultPacket.sequence() - seq0);
            turn.taken +=
                static_cast<long>(form->Additions().SurfaceView->history().added() - taken0);
            turn.dropped += static_cast<long>(form->Additions().SurfaceView->dropped() - dropped0);
        }
        form->ButtonUDPResultClick();
        RunUntil([] { return WorkerMode.load() == kModeIdle; }, 3);
        const double fps = static_cast<double>(with.paints) / with.seconds;
        Figure("6 surface view, UDP 10 kHz, N = 1000: height-map frames painted per second",
               Fixed(fps, 1), "-", "-", ">= 30", YesNo(fps >= 30));
        const long lost = with.sent - with.taken;
        Figure("6 surface view: profiles not reaching it (sent " + std::to_string(with.sent) +
                   ", worker received " + std::to_string(with.received) + ", queue drops " +
                   std::to_string(with.dropped) + ")",
               std::to_string(lost), std::to_string(with.sent) + " sent",
               Fixed(static_cast<double>(with.taken) / std::max(1L, with.sent), 4), "0 lost",
               YesNo(lost == 0 && with.dropped == 0));
        const double perTickWith = 1e3 * with.mainCpu / std::max(1L, with.ticks);
        const double perTickWithout = 1e3 * without.mainCpu / std::max(1L, without.ticks);
        Figure("6 window thread CPU per view tick, surface view shown (ms)", Fixed(perTickWith, 4),
               Fixed(perTickWithout, 4) + " UDP page, no surface view",
               Fixed(perTickWith / std::max(1e-9, perTickWithout), 2));
        const double cpuWith = 100 * with.mainCpu / with.seconds;
        const double cpuWithout = 100 * without.mainCpu / without.seconds;
        Figure("6 window thread CPU, surface view shown (% of one core)", Fixed(cpuWith, 1),
               Fixed(cpuWithout, 1) + " UDP page, no surface view",
               Fixed(cpuWith / std::max(1e-9, cpuWithout), 2));
        Figure("6 view ticks per second, with / without the surface view",
               Fixed(static_cast<double>(with.ticks) / with.seconds, 0),
               Fixed(static_cast<double>(without.ticks) / without.seconds, 0));
    }

    if (std::string why = RecordingRows(form, emulator, udpPort, perRate, dir); !why.empty())
        return fail(why);
    if (std::string why = PlaybackRows(app, form, dir); !why.empty())
        return fail(why);
    if (std::string why = MeasureRows(app, form, emulator, udpPort, perRate); !why.empty())
        return fail(why);

    form->close();
    form->ShutdownWorkers();
    delete form;
    FormMain = nullptr;
    QZ_ClearList(DeviceList.exchange(nullptr));
    emulator.quit();
    return 0;
}
