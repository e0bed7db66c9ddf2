// qz417bench_stream: the UDP stream as a user receives it, recorded by the
// window's "UDP" page and by `qz417ctl stream --record`, on a quiet machine
// and beside two busy processes, each against the floor of a minimal
// receiver (qz417bench_floor) measured in the same run on the same stream.
//
//   qz417bench_stream SECONDS DIRECTORY WINDOW_BENCH FLOOR CTL [ONLY...]
//
// For 40 kHz and 80 kHz, quiet and busy: the floor, the recording floor
// (FLOOR --record: the same receiver appending every packet's bytes to a
// file with plain write() calls of about 4 MiB, on its one thread), then
// the window (WINDOW_BENCH --udp-record, the real main window offscreen, UDP
// worker and Record control), then CTL stream --record, one after the
// other; each recorder's row has both floors as its baseline. ONLY words
// ("40k", "80k", "quiet", "busy", "window", "ctl") run some turns alone: of
// each kind named, only those named (the floors always run). Each
// receiver is started first and waited for until it says it is bound; then
// the emulator (in this process) streams to 127.0.0.1:16004 for SECONDS,
// stops, and after a second for what is still queued the receiver gets
// SIGTERM and prints its counts. A profile is lost when the emulator sent it
// and it is not in the recording (the floor: not received). "busy": two
// child processes spinning on a CPU from before the floor starts until the
// recording through qz417ctl has ended, killed by their PIDs. Recordings go
// to DIRECTORY and are removed at once, the recording floor's file too. TCP port 10417, UDP port
// 16004.
//
// The emulator stands for a scanner, whose sending does not slow down when
// the computer receiving is busy: where permitted this process runs at nice
// -15 (its emulator threads with it), and every child it starts (receivers
// and busy processes) goes back to 0 first. Without the permission the
// emulator competes like any program, and a turn may send short of the rate
// asked (each row gives the rate reached).
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using qz417::bench::Clock;
using qz417::bench::Figure;
using qz417::bench::Fixed;
using qz417::bench::Since;

constexpr std::uint16_t kTcpPort = 10417;
constexpr std::uint16_t kUdpPort = 16004;

// A child process whose standard output is read here.
class Child {
public:
    explicit Child(const std::vector<std::string> &args) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpriority(PRIO_PROCESS, 0, 0); // a receiver as a user starts it
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char *> argv;
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        fd_ = fds[0];
    }
    ~Child() { Finish(1); }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool started() const { return pid_ > 0 && fd_ >= 0; }
    const std::string &output() const { return text_; }

    // Reads until `marker` is in the output, the output ends or the time is up.
    bool WaitFor(const std::string &marker, double seconds) {
        const auto start = Clock::now();
        while (text_.find(marker) == std::string::npos) {
            if (Since(start) > seconds || !ReadSome(100))
                return false;
        }
        return true;
    }
    // SIGTERM, then reads to the end (SIGKILL after `seconds`); the exit status.
    int Finish(double seconds) {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGTERM);
        const auto start = Clock::now();
        while (Since(start) < seconds && ReadSome(100)) {
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        ::close(fd_);
        fd_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    // False at the end of the output.
    bool ReadSome(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return true;
        char buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        text_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::string text_;
};

// The last value of every "key=value" word of a text.
std::map<std::string, std::string> Fields(const std::string &text) {
    std::map<std::string, std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of(" \n", at);
        const std::string word = text.substr(at, end == std::string::npos ? end : end - at);
        if (const std::size_t eq = word.find('='); eq != std::string::npos && eq > 0)
            out[word.substr(0, eq)] = word.substr(eq + 1);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return out;
}

long long Number(const std::map<std::string, std::string> &f, const std::string &key) {
    const auto it = f.find(key);
    return it == f.end() ? -1 : std::atoll(it->second.c_str());
}

long long RmemMax() {
    std::FILE *f = std::fopen("/proc/sys/net/core/rmem_max", "r");
    long long v = -1;
    if (f) {
        if (std::fscanf(f, "%lld", &v) != 1)
            v = -1;
        std::fclose(f);
    }
    return v;
}

// Two processes spinning on a CPU until killed by their PIDs.
std::vector<pid_t> StartBusy() {
    std::vector<pid_t> pids;
    for (int i = 0; i < 2; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpriority(PRIO_PROCESS, 0, 0);
            for (;;)
                asm volatile("" ::: "memory");
        }
        if (pid > 0)
            pids.push_back(pid);
    }
    return pids;
}

void StopBusy(std::vector<pid_t> &pids) {
    for (const pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pids.clear();
}

struct Turn {
    bool ok = false;
    long long sent = 0, kept = 0; // kept: recorded (the floor: received)
    double rate = 0;              // profiles/s the emulator sent
    std::string log;
};

// One receiver against `seconds` of the stream at `hz`.
Turn RunTurn(const std::vector<std::string> &args, const std::string &readyMarker, double hz,
             double seconds, const std::string &keptKey) {
    Turn t;
    Child child(args);
    if (!child.started() || !child.WaitFor(readyMarker, 60)) {
        t.log = "did not start: " + child.output();
        return t;
    }
    qz417::sim::Emulator emulator(qz417::bench::StreamingOptions(hz, kTcpPort));
    std::string error;
    if (!qz417::bench::StartStreamingTo(emulator, kUdpPort, &error)) {
        t.log = "emulator: " + error;
        return t;
    }
    const long long pressure0 = qz417::bench::CpuPressureMicroseconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    emulator.stop();
    const double streamed = Since(start);
    const double pressure = qz417::bench::CpuPressurePercent(
        pressure0, qz417::bench::CpuPressureMicroseconds(), streamed);
    t.sent = static_cast<long long>(emulator.udpPacketsSent(0));
    t.rate = static_cast<double>(t.sent) / streamed;
    std::this_thread::sleep_for(std::chrono::seconds(1)); // what is still queued
    const int status = child.Finish(120);
    const auto f = Fields(child.output());
    t.kept = Number(f, keptKey);
    t.ok = status == 0 && t.kept >= 0;
    // What the receiver said last (its totals), and the conditions.
    std::string last = child.output();
    while (!last.empty() && last.back() == '\n')
        last.pop_back();
    if (const std::size_t nl = last.rfind('\n'); nl != std::string::npos)
        last = last.substr(nl + 1);
    // qz417ctl says apart what its recorder had no room for.
    if (const std::size_t r = child.output().find("\nrecorded="); r != std::string::npos)
        last = child.output().substr(r + 1, child.output().find('\n', r + 1) - r - 1) + "; " + last;
    t.log = "sent " + std::to_string(t.sent) + " in " + Fixed(streamed, 1) + " s (" +
            Fixed(t.rate, 0) + "/s), CPU pressure " + Fixed(pressure, 0) + " %, exit " +
            std::to_string(status) + "; " + last;
    return t;
}

// "L of S (P %) at R/s": the profiles lost of those sent, and the rate the
// emulator reached (on a loaded machine it falls short of the one asked).
std::string LostOf(const Turn &t) {
    const long long lost = std::max(0LL, t.sent - t.kept);
    return std::to_string(lost) + " of " + std::to_string(t.sent) + " (" +
           Fixed(100.0 * static_cast<double>(lost) / static_cast<double>(std::max(1LL, t.sent)),
                 3) +
           " %) at " + Fixed(t.rate, 0) + "/s";
}

} // namespace

int main(int argc, char **argv) {
    const std::set<std::string> kinds[] = {{"40k", "80k"}, {"quiet", "busy"}, {"window", "ctl"}};
    std::set<std::string> only;
    for (int i = 6; i < argc; ++i)
        only.insert(argv[i]);
    const bool onlyKnown = std::all_of(only.begin(), only.end(), [&](const std::string &w) {
        return std::any_of(std::begin(kinds), std::end(kinds),
                           [&](const auto &k) { return k.count(w) != 0; });
    });
    if (argc < 6 || !onlyKnown || std::atof(argv[1]) <= 0 || std::atof(argv[1]) > 600) {
        std::fprintf(stderr, "usage: qz417bench_stream SECONDS DIRECTORY WINDOW_BENCH FLOOR CTL "
                             "[40k|80k|quiet|busy|window|ctl]...\n");
        return 2;
    }
    // A turn runs when, of every kind, its word is named or none of the kind.
    const auto runs = [&](const std::string &word) {
        for (const auto &k : kinds)
            if (k.count(word) != 0)
                return only.count(word) != 0 ||
                       std::none_of(k.begin(), k.end(),
                                    [&](const std::string &w) { return only.count(w) != 0; });
        return true;
    };
    const double seconds = std::atof(argv[1]);
    const std::string dir = argv[2], window = argv[3], floor = argv[4], ctl = argv[5];
    const bool steadySender = ::setpriority(PRIO_PROCESS, 0, -15) == 0;
    const std::string port = std::to_string(kUdpPort);
    const std::string file = dir + "/qz417bench-stream.h5";
    const std::string rawFile = dir + "/qz417bench-stream-floor.raw";
    std::printf("net.core.rmem_max %lld; running as uid %d (root may force a receive buffer past "
                "it, as the library does); the emulator %s\n",
                RmemMax(), static_cast<int>(::getuid()),
                steadySender
                    ? "at nice -15, as steady as a scanner"
                    : "at nice 0 (not permitted to go lower): it may fall short under load");
    int failures = 0;
    for (const double hz : {40000.0, 80000.0}) {
        for (const bool busy : {false, true}) {
            if (!runs(hz < 50000 ? "40k" : "80k") || !runs(busy ? "busy" : "quiet"))
                continue;
            const std::string when = busy ? "2 busy processes" : "quiet";
            const std::string rate = Fixed(hz / 1000, 0) + " kHz " + Fixed(seconds, 0) + " s";
            std::vector<pid_t> spinners;
            if (busy)
                spinners = StartBusy();
            const Turn f = RunTurn({floor, port}, "ready", hz, seconds, "received");
            std::printf("%s, %s, minimal receiver: %s\n", rate.c_str(), when.c_str(),
                        f.log.c_str());
            // The recording floor: the same receiver writing every packet to a file.
            const Turn rf =
                RunTurn({floor, port, "--record", rawFile}, "ready", hz, seconds, "written");
            std::remove(rawFile.c_str());
            std::printf("%s, %s, recording floor: %s\n", rate.c_str(), when.c_str(),
                        rf.log.c_str());
            const std::string baseline =
                (f.ok ? LostOf(f) + " minimal receiver" : "- (floor failed)") + "; " +
                (rf.ok ? LostOf(rf) + " recording floor" : "- (recording floor failed)");
            const struct {
                const char *name, *word;
                std::vector<std::string> args;
                const char *ready, *kept;
            } subjects[] = {
                {"window \"UDP\" page recording",
                 "window",
                 {window, "--udp-record", port, file},
                 "ready",
                 "written"},
                {"qz417ctl stream --record",
                 "ctl",
                 {ctl, "stream", "--port", port, "--record", file},
                 "receiving on UDP port",
                 "recorded"},
            };
            for (const auto &s : subjects) {
                if (!runs(s.word))
                    continue;
                const Turn t = RunTurn(s.args, s.ready, hz, seconds, s.kept);
                std::remove(file.c_str());
                std::printf("%s, %s, %s: %s; net.core.rmem_max %lld\n", rate.c_str(), when.c_str(),
                            s.name, t.log.c_str(), RmemMax());
                if (!t.ok) {
                    ++failures;
                    std::fprintf(stderr, "qz417bench_stream: %s at %s failed: %s\n", s.name,
                                 rate.c_str(), t.log.c_str());
                    continue;
                }
                const long long lost = std::max(0LL, t.sent - t.kept);
                Figure("UDP " + rate + ", " + s.name + ", " + when + ": profiles lost of sent (%)",
                       LostOf(t), baseline, "-", "0 lost", qz417::bench::YesNo(lost == 0));
            }
            StopBusy(spinners);
        }
    }
    return failures == 0 ? 0 : 1;
}
