// The measurement job file that "qz417ctl measure --job" and the Python
// package read: any text, as a file on disk may hold it.
//
// Input: the whole file.
// Checks: the reader either returns a job or fails with a JobError of one
// non-empty line; nothing else escapes it. A job it returns writes out and
// reads back to the same text, and measures a profile (steps, a groove,
// invalid points) with every tool giving finite values or a reason.
#include "fuzz_input.h"

#include <array>
#include <cmath>
#include <exception>
#include <string>

#include "model/measure/job.h"
#include "model/measure/measurer.h"

namespace {

using qz417::fuzz::Check;

std::array<qz417::ProfilePoint, qz417::kProfilePoints> MakeProfile() {
    std::array<qz417::ProfilePoint, qz417::kProfilePoints> p{};
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        const double x = -60.0 + 120.0 * i / (qz417::kProfilePoints - 1);
        double z = 50.0 + (x > 5 ? 2.0 : 0.0) - (std::fabs(x + 20) < 4 ? 3.0 : 0.0);
        if (i % 50 == 7)
            z += 9.0; // outliers
        p[static_cast<std::size_t>(i)] = {i % 31 != 3 && std::fabs(x - 30) > 2,
                                          static_cast<float>(x), static_cast<float>(z)};
    }
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const auto profile = MakeProfile();
    const std::string text(reinterpret_cast<const char *>(data), size);
    qz417::measure::Job job;
    try {
        job = qz417::measure::ParseJob(text);
    } catch (const qz417::measure::JobError &e) {
        const std::string line = e.what();
        Check(!line.empty(), "the failure says what is wrong");
        Check(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos,
              "the failure is one line");
        return 0;
    } catch (const std::exception &) {
        qz417::fuzz::Fail("only a JobError may leave the reader");
    }
    Check(!job.tools.empty(), "a job has tools");
    std::string written;
    try {
        written = qz417::measure::JobToJson(job);
        Check(qz417::measure::JobToJson(qz417::measure::ParseJob(written)) == written,
              "a job writes out and reads back unchanged");
    } catch (const std::exception &) {
        qz417::fuzz::Fail("a written job could not be read back");
    }
    qz417::measure::Measurer measurer(job);
    const auto &result = measurer.Measure(profile);
    Check(result.tools.size() == job.tools.size(), "one result per tool");
    bool passed = true;
    for (std::size_t t = 0; t < job.tools.size(); ++t) {
        const auto &r = result.tools[t];
        const auto &info = qz417::measure::InfoOf(job.tools[t].kind);
        if (r.ok) {
            Check(r.reason == nullptr, "a result has no reason");
            for (int k = 0; k < info.outputCount; ++k)
                Check(std::isfinite(r.values[static_cast<std::size_t>(k)]),
                      "every output of a result is finite");
        } else {
            Check(r.reason != nullptr && r.reason[0] != '\0', "no result names its reason");
        }
        Check(r.limits.size() == job.tools[t].limits.size(), "one state per limit");
        passed = passed && r.passed;
    }
    Check(passed == result.passed, "the job passes when every tool passes");
    return 0;
}
