// A process that records synthetic profiles until it is killed, for the
// test that a recording cut by kill -9 stays readable.
//
//   recording_helper PATH RATE_HZ [COUNT [job]]
//
// Pushes profile i (test::MakePacket) at RATE_HZ with its receive time, on a
// recorder that flushes every 500 ms. Prints "recording" once started. With
// COUNT, stops after that many profiles and closes the file (for the Python
// reader's test). With "job", every profile is measured with a small job
// (two height tools, one never finding points) and the results stored.
#include "model/measure/job.h"
#include "model/recording/recording_writer_thread.h"
#include "recording_test_support.h"
#include "wait.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char **argv) {
    using namespace qz417::recording;
    if (argc < 3 || argc > 5)
        return 2;
    const double rate = std::atof(argv[2]);
    const std::uint64_t count =
        argc >= 4 ? std::strtoull(argv[3], nullptr, 10) : static_cast<std::uint64_t>(rate * 60);
    RecordingWriterThread recorder;
    RecorderSettings settings;
    settings.path = argv[1];
    settings.flushInterval = std::chrono::milliseconds(500);
    if (argc == 5 && std::string(argv[4]) == "job")
        settings.job = qz417::measure::ParseJob(R"({"format": "qz417-measure-job", "version": 1,
          "tools": [{"name": "middle", "tool": "height", "region": {"x": [-50, 50]},
                     "limits": {"max": {"max": 175}}},
                    {"name": "outside", "tool": "height", "region": {"x": [500, 600]}}]})");
    std::string error;
    if (!recorder.Start(settings, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("recording\n");
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    // Bounded: the test kills it within seconds; a forgotten one ends after a minute.
    for (std::uint64_t i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::duration<double>(i / rate));
        const Packet p = test::MakePacket(i);
        qz417::test::WaitUntil(
            [&] { return recorder.Push(p.data(), ReceiveTime::Now()) || !recorder.Active(); },
            std::chrono::seconds(10), std::chrono::microseconds(100));
    }
    recorder.Stop();
    return 0;
}
