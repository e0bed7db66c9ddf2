#include "model/recording/recorded_results.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qz417::recording {

namespace ms = measure;

ResultsJob ResultsJobOf(const ms::Job &job) {
    ResultsJob out;
    if (job.tools.empty())
        return out;
    out.json = ms::JobToJson(job);
    for (std::size_t t = 0; t < job.tools.size(); ++t) {
        const ms::ToolInfo &info = ms::InfoOf(job.tools[t].kind);
        for (int k = 0; k < info.outputCount; ++k) {
            const ms::OutputInfo &o = info.outputs[static_cast<std::size_t>(k)];
            out.outputs.push_back(job.tools[t].name + "." + o.name);
            out.units.push_back(o.unit);
            out.outputTool.push_back(static_cast<std::uint16_t>(t));
        }
    }
    return out;
}

void AppendResultRows(std::vector<ResultValue> &rows, RecordingWriter &writer, const ms::Job &job,
                      std::uint64_t firstOutput, std::uint64_t profile,
                      const ms::JobResult &result) {
    auto output = static_cast<std::uint32_t>(firstOutput);
    for (std::size_t t = 0; t < job.tools.size() && t < result.tools.size(); ++t) {
        const ms::ToolSetup &setup = job.tools[t];
        const ms::ToolResult &tr = result.tools[t];
        const int outputs = ms::InfoOf(setup.kind).outputCount;
        const std::uint16_t reason = tr.ok ? 0 : writer.ResultReason(tr.reason);
        for (int k = 0; k < outputs; ++k, ++output) {
            ResultValue v;
            v.profile = profile;
            v.output = output;
            v.value = tr.ok ? tr.values[static_cast<std::size_t>(k)]
                            : std::numeric_limits<double>::quiet_NaN();
            v.reason = reason;
            v.status = tr.ok ? ResultStatus::Ok : ResultStatus::NoResult;
            if (tr.ok)
                for (std::size_t l = 0; l < setup.limits.size() && l < tr.limits.size(); ++l)
                    if (setup.limits[l].output == k && tr.limits[l] == ms::LimitState::Fail)
                        v.status = ResultStatus::LimitFailed;
            rows.push_back(v);
        }
    }
}

void AppendUnmeasuredRows(std::vector<ResultValue> &rows, std::uint16_t reason,
                          std::uint64_t firstOutput, std::size_t outputs, std::uint64_t profile) {
    for (std::size_t k = 0; k < outputs; ++k)
        rows.push_back({profile, static_cast<std::uint32_t>(firstOutput + k),
                        std::numeric_limits<double>::quiet_NaN(), ResultStatus::NoResult, reason});
}

RecordedResultsReader::RecordedResultsReader(RecordingReader &reader)
    : reader_(reader), tables_(reader.Results()) {
    const std::string damaged = reader.path() + ": the results tables are damaged";
    for (std::size_t j = 0; j < tables_.jobs.size(); ++j) {
        const RecordedJob &r = tables_.jobs[j];
        ms::Job job;
        if (!r.job.json.empty()) {
            try {
                job = ms::ParseJob(r.job.json);
            } catch (const ms::JobError &e) {
                throw RecordingError(damaged + ": job " + std::to_string(j) +
                                     " cannot be read: " + e.what());
            }
        }
        // The outputs named in the file must be those of the job's text.
        if (ResultsJobOf(job).outputs != r.job.outputs)
            throw RecordingError(damaged + ": the outputs of job " + std::to_string(j) +
                                 " do not match its text");
        std::vector<Slot> slots;
        for (std::size_t t = 0; t < job.tools.size(); ++t)
            for (int k = 0; k < ms::InfoOf(job.tools[t].kind).outputCount; ++k)
                slots.push_back({static_cast<std::uint16_t>(t), static_cast<std::uint16_t>(k)});
        jobs_.push_back(std::move(job));
        slots_.push_back(std::move(slots));
    }
}

bool RecordedResultsReader::ForEach(std::uint64_t first, std::uint64_t count, const Visit &visit,
                                    const Progress &progress) {
    constexpr std::size_t kRows = 8192;
    const std::string damaged = reader_.path() + ": the results tables are damaged";
    const std::uint64_t end = first + count;
    std::vector<ResultValue> rows(kRows);
    ms::JobResult result;
    // The profile being gathered: its job, its index, the outputs seen.
    std::size_t job = 0;
    std::uint64_t profile = 0;
    std::size_t seen = 0;
    bool open = false;
    const auto finish = [&] {
        if (!open)
            return;
        open = false;
        if (profile < first || profile >= end)
            return;
        if (seen != slots_[job].size())
            throw RecordingError(damaged + ": profile " + std::to_string(profile) + " has " +
                                 std::to_string(seen) + " of the " +
                                 std::to_string(slots_[job].size()) + " values of its job");
        const ms::Job &setup = jobs_[job];
        result.passed = true;
        for (std::size_t t = 0; t < setup.tools.size(); ++t) {
            ms::ToolResult &tr = result.tools[t];
            tr.passed = true;
            tr.limits.assign(setup.tools[t].limits.size(), ms::LimitState::NoResult);
            for (std::size_t l = 0; l < tr.limits.size(); ++l) {
                const ms::Limit &limit = setup.tools[t].limits[l];
                if (tr.ok) {
                    // The rule of the Measurer, on the stored value.
                    const double v = tr.values[static_cast<std::size_t>(limit.output)];
                    const bool low = !std::isnan(limit.min) && !(v >= limit.min);
                    const bool high = !std::isnan(limit.max) && !(v <= limit.max);
                    tr.limits[l] = low || high ? ms::LimitState::Fail : ms::LimitState::Pass;
                }
                tr.passed = tr.passed && tr.limits[l] == ms::LimitState::Pass;
            }
            result.passed = result.passed && tr.passed;
        }
        visit(job, profile, result);
    };
    std::uint64_t lastProfile = 0;
    bool any = false;
    for (std::uint64_t at = 0; at < tables_.values; at += kRows) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kRows, tables_.values - at));
        reader_.ReadResultValues(at, n, rows.data());
        for (std::size_t i = 0; i < n; ++i) {
            const ResultValue &v = rows[i];
            const std::string row = "value row " + std::to_string(at + i);
            if (any && v.profile < lastProfile)
                throw RecordingError(damaged + ": " + row + " goes back to profile " +
                                     std::to_string(v.profile));
            if (v.profile >= reader_.profiles()) {
                // Rows of a profile a cut file lost (their packet not written).
                finish();
                return true;
            }
            if (!open || v.profile != profile) {
                finish();
                // The job in force: the last one starting at or before the profile.
                std::size_t j = tables_.jobs.size();
                while (j > 0 && tables_.jobs[j - 1].firstProfile > v.profile)
                    --j;
                if (j == 0 || slots_[j - 1].empty())
                    throw RecordingError(damaged + ": " + row + " lies outside every job");
                job = j - 1;
                profile = v.profile;
                seen = 0;
                open = true;
                result.tools.assign(jobs_[job].tools.size(), ms::ToolResult{});
                for (ms::ToolResult &tr : result.tools) {
                    tr.ok = true;
                    tr.values.fill(std::numeric_limits<double>::quiet_NaN());
                }
            }
            const RecordedJob &r = tables_.jobs[job];
            if (v.output < r.firstOutput || v.output - r.firstOutput != seen)
                throw RecordingError(damaged + ": " + row + " names output " +
                                     std::to_string(v.output) + ", not the next of its job");
            if (v.reason >= tables_.reasons.size())
                throw RecordingError(damaged + ": " + row + " names an unknown reason");
            const Slot slot = slots_[job][seen];
            ms::ToolResult &tr = result.tools[slot.tool];
            tr.values[slot.output] = v.value;
            if (v.status == ResultStatus::NoResult) {
                tr.ok = false;
                tr.reason = tables_.reasons[v.reason].c_str();
            }
            ++seen;
            lastProfile = v.profile;
            any = true;
        }
        if (progress &&
            !progress(std::min(count, any && lastProfile >= first ? lastProfile - first : 0),
                      count))
            return false;
        if (any && lastProfile >= end)
            break;
    }
    finish();
    return true;
}

} // namespace qz417::recording
