// qz417bench_measure: a job of every measurement tool on one 1024-point
// profile, per profile, beside decoding the packet alone, measured in the
// same run; and the allocations measuring makes (none expected).
//
//   qz417bench_measure [SECONDS per figure]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "alloc_counter.h"
#include "bench_support.h"
#include "model/measure/measurer.h"
#include "model/profile_packet.h"

namespace {

using qz417::bench::Figure;
using qz417::bench::Fixed;

// Every tool, on regions of 100 to 400 points of the profile below.
const char *kJob = R"({"format": "qz417-measure-job", "version": 1, "tools": [
  {"name": "plate", "tool": "height", "region": {"x": [-45, -15]}, "limits": {"mean": {"min": 99, "max": 101}}},
  {"name": "flatness", "tool": "line", "region": {"x": [-45, -15]}, "limits": {"straightness": {"max": 0.5}}},
  {"name": "step", "tool": "step", "regions": [{"x": [-45, -15]}, {"x": [15, 45]}]},
  {"name": "edge", "tool": "edge", "region": {"x": [-15, 0]}, "level": -2, "levelBase": [{"x": [-45, -15]}], "direction": "falling"},
  {"name": "groove", "tool": "width", "region": {"x": [-15, 15]}, "level": -2, "levelBase": [{"x": [-45, -15]}, {"x": [15, 45]}], "polarity": "groove"},
  {"name": "joint", "tool": "gap", "regions": [{"x": [-45, -12]}, {"x": [12, 45]}], "tolerance": 0.3},
  {"name": "vee", "tool": "angle", "regions": [{"x": [-9, -2]}, {"x": [2, 9]}]},
  {"name": "fill", "tool": "area", "region": {"x": [-12, 12]}, "base": [{"x": [-45, -15]}, {"x": [15, 45]}]}
]})";

// Plates at 100 mm (the right one 0.3 mm higher) with a V groove 8 mm deep
// between x = -10 and 10, noise 0.02 mm, a few invalid points.
std::vector<std::uint8_t> Packet(const qz417::ProfileScale &scale) {
    std::vector<std::uint8_t> bytes(qz417::kProfilePacketSize, 0);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.02);
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        const double x = -50.0 + 100.0 * i / (qz417::kProfilePoints - 1);
        double z = 100.0 + (x > 0 ? 0.3 : 0.0) + noise(rng);
        if (std::fabs(x) < 10.0)
            z -= 8.0 * (1.0 - std::fabs(x) / 10.0);
        auto raw = [&](double v, int range) {
            return static_cast<std::int16_t>(std::lround(v * scale.discreteValue / range));
        };
        std::int16_t zr = raw(z, scale.rangeZ), xr = raw(x, scale.rangeXEmr);
        if (i % 97 == 13)
            zr = scale.errorValue;
        std::uint8_t *p = bytes.data() + 4 + 4 * i;
        p[0] = static_cast<std::uint8_t>(zr & 0xFF);
        p[1] = static_cast<std::uint8_t>((zr >> 8) & 0xFF);
        p[2] = static_cast<std::uint8_t>(xr & 0xFF);
        p[3] = static_cast<std::uint8_t>((xr >> 8) & 0xFF);
    }
    return bytes;
}

volatile double sink = 0;

constexpr int kRounds = 50;

} // namespace

int main(int argc, char **argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (!(seconds > 0 && seconds <= 60)) {
        std::fprintf(stderr, "usage: qz417bench_measure [SECONDS <= 60]\n");
        return 2;
    }
    const qz417::ProfileScale scale;
    const auto bytes = Packet(scale);
    const qz417::ProfilePacket packet(bytes.data());
    qz417::measure::Measurer measurer(qz417::measure::ParseJob(kJob));
    std::array<qz417::ProfilePoint, qz417::kProfilePoints> points{};

    // Short rounds alternate decoding alone and the job alone (on the
    // decoded profile); the best round of each counts. Times are the
    // thread's CPU time, and many short rounds give each figure rounds the
    // other programs of a shared machine did not disturb.
    double decodeUs = 1e9, jobUs = 1e9;
    std::uint64_t allocated = 0;
    int failedTools = 0;
    qz417::DecodePacket(packet, scale, points);
    for (int round = 0; round < kRounds; ++round) {
        long n = 0;
        double t0 = qz417::bench::ThreadCpuSeconds();
        while (qz417::bench::ThreadCpuSeconds() - t0 < seconds / (2 * kRounds)) {
            for (int k = 0; k < 100; ++k) {
                qz417::DecodePacket(packet, scale, points);
                sink = sink + points[static_cast<std::size_t>(k)].z;
            }
            n += 100;
        }
        decodeUs = std::min(decodeUs,
                            (qz417::bench::ThreadCpuSeconds() - t0) * 1e6 / static_cast<double>(n));

        n = 0;
        const std::uint64_t before = bench::AllocationCount();
        t0 = qz417::bench::ThreadCpuSeconds();
        while (qz417::bench::ThreadCpuSeconds() - t0 < seconds / (2 * kRounds)) {
            for (int k = 0; k < 100; ++k) {
                const auto &r = measurer.Measure(points);
                sink = sink + r.tools[0].values[2];
            }
            n += 100;
        }
        jobUs =
            std::min(jobUs, (qz417::bench::ThreadCpuSeconds() - t0) * 1e6 / static_cast<double>(n));
        allocated += bench::AllocationCount() - before;
    }
    for (const auto &t : measurer.Measure(points).tools)
        failedTools += !t.ok;
    Figure("measure job, 8 tools, 1024 points (us/profile)", Fixed(jobUs, 2),
           Fixed(decodeUs, 2) + " decode alone", Fixed(jobUs / decodeUs, 1), "<= 10",
           qz417::bench::YesNo(jobUs <= 10.0));
    Figure("measure job: allocations while measuring, tools without result",
           std::to_string(allocated) + ", " + std::to_string(failedTools), "-", "-", "0, 0",
           qz417::bench::YesNo(allocated == 0 && failedTools == 0));
    return failedTools == 0 ? 0 : 1;
}
