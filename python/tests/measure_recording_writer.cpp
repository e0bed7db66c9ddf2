// Writes a recording for the Python package's measurement tests:
//
//   measure_recording_writer PATH COUNT [JOB]
//
// Profile i: a level surface 50 mm high with a step of 1 + 0.25 i mm at
// x = 0, X from -40 to 40 mm, every 10th point invalid; the announcement's
// scale is 230 mm, 250 mm, 16384, error value 0. With JOB (a job file) the
// profiles are recorded by the recorder, which stores each one's results.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "model/measure/job.h"
#include "model/recording/recording_file.h"
#include "model/recording/recording_writer_thread.h"

int main(int argc, char **argv) {
    namespace rec = qz417::recording;
    if (argc != 3 && argc != 4)
        return 2;
    const int count = std::atoi(argv[2]);
    try {
        rec::Announcement a{};
        a[12 + 6] = 250, a[12 + 10] = 230, a[12 + 13] = 0x40;
        std::optional<rec::RecordingWriter> w;
        rec::RecordingWriterThread recorder;
        if (argc == 4) {
            rec::RecorderSettings settings;
            settings.path = argv[1];
            settings.header = {a, rec::ParameterBlock{}, "python test"};
            settings.job = qz417::measure::LoadJob(argv[3]);
            std::string error;
            if (!recorder.Start(settings, &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
        } else {
            w.emplace(argv[1], rec::RecordingHeader{a, rec::ParameterBlock{}, "python test"});
        }
        for (int i = 0; i < count; ++i) {
            rec::Packet p{};
            p[0] = static_cast<std::uint8_t>(i);
            for (int k = 0; k < 1024; ++k) {
                const double x = -40.0 + 80.0 * k / 1023.0;
                const double z = 50.0 + (x > 0 ? 1.0 + 0.25 * i : 0.0);
                const auto xr = static_cast<std::int16_t>(std::lround(x * 16384 / 230));
                auto zr = static_cast<std::int16_t>(std::lround(z * 16384 / 250));
                if (k % 10 == 5)
                    zr = 0;
                std::uint8_t *q = p.data() + 4 + 4 * k;
                q[0] = static_cast<std::uint8_t>(zr), q[1] = static_cast<std::uint8_t>(zr >> 8);
                q[2] = static_cast<std::uint8_t>(xr), q[3] = static_cast<std::uint8_t>(xr >> 8);
            }
            const rec::ReceiveTime t{1'000'000'000 + i * 1'000'000, 1'765'000'000'000'000'000};
            if (w)
                w->Append(p.data(), &t, 1);
            else if (!recorder.Push(p.data(), t)) // the ring holds 16384
                return 1;
        }
        if (w)
            w->Close(0, rec::EndState::Closed);
        recorder.Stop();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
