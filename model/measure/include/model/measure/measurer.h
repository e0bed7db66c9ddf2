// Runs a job on decoded profiles. One Measurer per thread: it owns the
// workspace every tool works in, sized once, so measuring a profile of up
// to the size it was made for allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "model/measure/job.h"
#include "model/measure/line_fit.h"
#include "model/profile_packet.h"

namespace qz417::measure {

enum class LimitState { Pass, Fail, NoResult };

struct ToolResult {
    bool ok = false;
    // Why there is no result (static text), nullptr when ok.
    const char *reason = nullptr;
    // The tool's outputs in the order of InfoOf(kind).outputs; NaN when !ok.
    std::array<double, kMaxOutputs> values{};
    // One per limit of the tool, in the job's order.
    std::vector<LimitState> limits;
    bool passed = true; // every limit Pass
};

struct JobResult {
    std::vector<ToolResult> tools;
    bool passed = true; // every tool passed
};

class Measurer {
public:
    // Throws JobError when the job does not pass ValidateJob.
    explicit Measurer(Job job, std::size_t points = kProfilePoints);

    const Job &job() const { return job_; }
    // Measures one profile (points in packet order, invalid ones marked).
    // The result stays valid until the next call.
    const JobResult &Measure(std::span<const ProfilePoint> profile);
    // Same from separate arrays of X and Z (NaN in either = invalid point).
    const JobResult &Measure(std::span<const double> x, std::span<const double> z);

    // A line the job fits (the same regions and options are fitted once per
    // profile, however many tools use them).
    struct FitRequest {
        std::vector<Region> regions;
        FitOptions options;
        bool statistics = false; // a tool outputs the line's rms and straightness
    };
    // The line of request `slot` on the current profile.
    const Line &Fitted(int slot);

private:
    const JobResult &Evaluate();
    int Request(std::vector<Region> regions, const FitOptions &options, bool statistics = false);
    Job job_;
    Workspace ws_;
    JobResult result_;
    std::vector<FitRequest> fits_;
    std::vector<Line> lines_;
    std::vector<unsigned char> fitted_;
    // Per tool: the slots of its first line, second line and base (-1: none).
    std::vector<std::array<int, 3>> toolFits_;
};

} // namespace qz417::measure
