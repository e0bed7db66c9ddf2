// The measurement tools (model/measure) behind the plain C functions of
// qz417model_c.h.
#include "model/capi/qz417model_c.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "model/capi/capi_util.h"
#include "model/measure/measurer.h"
#include "model/profile_packet.h"
#include "model/recording/recorded_results.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_file.h"

struct qz417m_job {
    qz417::measure::Measurer measurer;
    std::string json;
    std::vector<int> limitOffsets; // first limit of each tool in limit_states
    explicit qz417m_job(qz417::measure::Job job)
        : measurer(std::move(job)), json(qz417::measure::JobToJson(measurer.job())) {
        int total = 0;
        for (const auto &t : measurer.job().tools) {
            limitOffsets.push_back(total);
            total += static_cast<int>(t.limits.size());
        }
        limitOffsets.push_back(total);
    }
};

namespace {

using qz417::capi::Guard;
using qz417::capi::SetError;

static_assert(QZ417M_MAX_OUTPUTS == qz417::measure::kMaxOutputs);

const qz417::measure::ToolSetup *Tool(const qz417m_job *job, int tool) {
    if (job == nullptr || tool < 0 || tool >= static_cast<int>(job->measurer.job().tools.size()))
        return nullptr;
    return &job->measurer.job().tools[static_cast<std::size_t>(tool)];
}

const qz417::measure::OutputInfo *Output(const qz417m_job *job, int tool, int output) {
    const auto *t = Tool(job, tool);
    if (t == nullptr)
        return nullptr;
    const auto &info = qz417::measure::InfoOf(t->kind);
    if (output < 0 || output >= info.outputCount)
        return nullptr;
    return &info.outputs[static_cast<std::size_t>(output)];
}

// Copies one result into the caller's arrays.
void Store(const qz417::measure::JobResult &r, double *values, std::uint8_t *passed,
           const char **reasons, std::uint8_t *limitStates) {
    std::size_t l = 0;
    for (std::size_t t = 0; t < r.tools.size(); ++t) {
        const auto &tr = r.tools[t];
        for (std::size_t k = 0; k < QZ417M_MAX_OUTPUTS; ++k)
            values[t * QZ417M_MAX_OUTPUTS + k] = tr.values[k];
        passed[t] = tr.passed ? 1 : 0;
        if (reasons != nullptr)
            reasons[t] = tr.ok ? nullptr : tr.reason;
        if (limitStates != nullptr)
            for (const auto state : tr.limits)
                limitStates[l++] = static_cast<std::uint8_t>(state);
    }
}

// A count taken from the recording at `path`; -1 with the reason when it
// cannot be read.
template <typename F> int64_t CountOf(const char *path, char *error, size_t error_size, F &&count) {
    if (path == nullptr) {
        SetError(error, error_size, "no path given");
        return -1;
    }
    return Guard(error, error_size, static_cast<int64_t>(-1), [&] {
        qz417::recording::RecordingReader reader(path);
        return count(reader);
    });
}

// A recording's stored results and the index of one of its jobs; throws
// when the recording stores no job of that index.
struct RecordedJob {
    RecordedJob(const char *path, int64_t index) : reader(path), results(reader) {
        if (index < 0 || static_cast<std::uint64_t>(index) >= results.jobs().size())
            throw qz417::recording::RecordingError(std::string(path) + " stores no job " +
                                                   std::to_string(index));
        job = static_cast<std::size_t>(index);
    }
    qz417::recording::RecordingReader reader;
    qz417::recording::RecordedResultsReader results;
    std::size_t job = 0;
};

} // namespace

extern "C" {

int qz417m_job_format_version(void) {
    return qz417::measure::kJobVersion;
}

qz417m_job *qz417m_job_load(const char *path, char *error, size_t error_size) {
    if (path == nullptr) {
        SetError(error, error_size, "no path given");
        return nullptr;
    }
    return Guard(error, error_size, static_cast<qz417m_job *>(nullptr),
                 [&] { return new qz417m_job(qz417::measure::LoadJob(path)); });
}

qz417m_job *qz417m_job_parse(const char *text, size_t length, char *error, size_t error_size) {
    if (text == nullptr) {
        SetError(error, error_size, "no text given");
        return nullptr;
    }
    return Guard(error, error_size, static_cast<qz417m_job *>(nullptr), [&] {
        return new qz417m_job(qz417::measure::ParseJob(std::string_view(text, length)));
    });
}

void qz417m_job_free(qz417m_job *job) {
    delete job;
}

const char *qz417m_job_json(const qz417m_job *job) {
    return job == nullptr ? nullptr : job->json.c_str();
}

int qz417m_job_tool_count(const qz417m_job *job) {
    return job == nullptr ? -1 : static_cast<int>(job->measurer.job().tools.size());
}

const char *qz417m_job_tool_name(const qz417m_job *job, int tool) {
    const auto *t = Tool(job, tool);
    return t == nullptr ? nullptr : t->name.c_str();
}

const char *qz417m_job_tool_kind(const qz417m_job *job, int tool) {
    const auto *t = Tool(job, tool);
    return t == nullptr ? nullptr : qz417::measure::InfoOf(t->kind).name;
}

int qz417m_job_output_count(const qz417m_job *job, int tool) {
    const auto *t = Tool(job, tool);
    return t == nullptr ? -1 : qz417::measure::InfoOf(t->kind).outputCount;
}

const char *qz417m_job_output_name(const qz417m_job *job, int tool, int output) {
    const auto *o = Output(job, tool, output);
    return o == nullptr ? nullptr : o->name;
}

const char *qz417m_job_output_unit(const qz417m_job *job, int tool, int output) {
    const auto *o = Output(job, tool, output);
    return o == nullptr ? nullptr : o->unit;
}

int qz417m_job_limit_count(const qz417m_job *job, int tool) {
    const auto *t = Tool(job, tool);
    return t == nullptr ? -1 : static_cast<int>(t->limits.size());
}

int qz417m_job_total_limits(const qz417m_job *job) {
    return job == nullptr ? -1 : job->limitOffsets.back();
}

int qz417m_job_limit(const qz417m_job *job, int tool, int limit, int *output, double *min,
                     double *max) {
    const auto *t = Tool(job, tool);
    if (t == nullptr || limit < 0 || limit >= static_cast<int>(t->limits.size()))
        return -1;
    const auto &l = t->limits[static_cast<std::size_t>(limit)];
    if (output != nullptr)
        *output = l.output;
    if (min != nullptr)
        *min = l.min;
    if (max != nullptr)
        *max = l.max;
    return 0;
}

int qz417m_measure(qz417m_job *job, const double *x, const double *z, size_t n, double *values,
                   uint8_t *tool_passed, const char **reasons, uint8_t *limit_states, char *error,
                   size_t error_size) {
    if (job == nullptr || (n > 0 && (x == nullptr || z == nullptr)) || values == nullptr ||
        tool_passed == nullptr) {
        SetError(error, error_size, "a required argument is missing");
        return -1;
    }
    return Guard(error, error_size, -1, [&] {
        const auto &r =
            job->measurer.Measure(std::span<const double>(x, n), std::span<const double>(z, n));
        Store(r, values, tool_passed, reasons, limit_states);
        return r.passed ? 1 : 0;
    });
}

int64_t qz417m_recording_profiles(const char *path, char *error, size_t error_size) {
    return CountOf(path, error, error_size, [](qz417::recording::RecordingReader &reader) {
        return static_cast<int64_t>(reader.profiles());
    });
}

int64_t qz417m_measure_recording(qz417m_job *job, const char *path, uint64_t first, uint64_t count,
                                 const qz417m_scale *scale, double *values, uint8_t *tool_passed,
                                 const char **reasons, uint16_t *measurement_count, char *error,
                                 size_t error_size) {
    if (job == nullptr || path == nullptr ||
        (count > 0 && (values == nullptr || tool_passed == nullptr))) {
        SetError(error, error_size, "a required argument is missing");
        return -1;
    }
    return Guard(error, error_size, static_cast<int64_t>(-1), [&] {
        namespace rec = qz417::recording;
        rec::RecordingReader reader(path);
        if (first > reader.profiles() || count > reader.profiles() - first)
            throw rec::RecordingError(path + std::string(": profiles ") + std::to_string(first) +
                                      " .. " + std::to_string(first + count) + " lie beyond its " +
                                      std::to_string(reader.profiles()) + " profiles");
        qz417::ProfileScale used = rec::RecordedScale(reader.announcement());
        if (scale != nullptr) {
            used.rangeXEmr = scale->range_x;
            used.rangeZ = scale->range_z;
            used.discreteValue = scale->discrete_value;
            used.errorValue = scale->error_value;
        }
        const std::size_t tools = job->measurer.job().tools.size();
        constexpr std::size_t kBatch = 256;
        std::vector<std::uint8_t> packets(kBatch * qz417::kProfilePacketSize);
        std::array<qz417::ProfilePoint, qz417::kProfilePoints> points{};
        for (std::uint64_t done = 0; done < count; done += kBatch) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBatch, count - done));
            reader.Read(first + done, n, packets.data(), nullptr);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint8_t *packet = packets.data() + i * qz417::kProfilePacketSize;
                const qz417::ProfilePacket view(packet);
                qz417::DecodePacket(view, used, points);
                const std::size_t p = done + i;
                Store(job->measurer.Measure(points), values + p * tools * QZ417M_MAX_OUTPUTS,
                      tool_passed + p * tools, reasons ? reasons + p * tools : nullptr, nullptr);
                if (measurement_count != nullptr)
                    measurement_count[p] = view.measurementCount();
            }
        }
        return static_cast<int64_t>(count);
    });
}

int64_t qz417m_recorded_jobs(const char *path, char *error, size_t error_size) {
    return CountOf(path, error, error_size, [](qz417::recording::RecordingReader &reader) {
        return static_cast<int64_t>(qz417::recording::RecordedResultsReader(reader).jobs().size());
    });
}

qz417m_job *qz417m_recorded_job(const char *path, int64_t index, uint64_t *first_profile,
                                uint64_t *profiles, char *error, size_t error_size) {
    SetError(error, error_size, "");
    if (path == nullptr) {
        SetError(error, error_size, "no path given");
        return nullptr;
    }
    return Guard(error, error_size, static_cast<qz417m_job *>(nullptr), [&]() -> qz417m_job * {
        RecordedJob stored(path, index);
        qz417::recording::RecordingReader &reader = stored.reader;
        qz417::recording::RecordedResultsReader &results = stored.results;
        const std::size_t j = stored.job;
        std::uint64_t count = 0;
        results.ForEach(0, reader.profiles(),
                        [&](std::size_t job, std::uint64_t, const qz417::measure::JobResult &) {
                            count += job == j;
                        });
        if (first_profile != nullptr)
            *first_profile = results.tables().jobs[j].firstProfile;
        if (profiles != nullptr)
            *profiles = count;
        if (results.jobs()[j].tools.empty())
            return nullptr; // nothing measured; the error stays empty
        return new qz417m_job(results.jobs()[j]);
    });
}

int64_t qz417m_read_recorded_results(const char *path, int64_t index, uint64_t capacity,
                                     uint64_t *profile, uint16_t *measurement_count, double *values,
                                     uint8_t *tool_passed, char *reasons, char *error,
                                     size_t error_size) {
    if (path == nullptr ||
        (capacity > 0 && (profile == nullptr || values == nullptr || tool_passed == nullptr))) {
        SetError(error, error_size, "a required argument is missing");
        return -1;
    }
    return Guard(error, error_size, static_cast<int64_t>(-1), [&] {
        RecordedJob stored(path, index);
        qz417::recording::RecordingReader &reader = stored.reader;
        qz417::recording::RecordedResultsReader &results = stored.results;
        const std::size_t j = stored.job;
        const std::size_t tools = results.jobs()[j].tools.size();
        std::uint64_t p = 0;
        // The measurement counters come from the packets, read in batches.
        constexpr std::uint64_t kBatch = 256;
        std::vector<std::uint8_t> packets(kBatch * qz417::kProfilePacketSize);
        std::uint64_t batchFirst = 0, batchCount = 0;
        results.ForEach(0, reader.profiles(),
                        [&](std::size_t job, std::uint64_t at, const qz417::measure::JobResult &r) {
                            if (job != j || p >= capacity)
                                return;
                            profile[p] = at;
                            if (measurement_count != nullptr) {
                                if (at < batchFirst || at >= batchFirst + batchCount) {
                                    batchFirst = at;
                                    batchCount = std::min(kBatch, reader.profiles() - at);
                                    reader.Read(batchFirst, static_cast<std::size_t>(batchCount),
                                                packets.data(), nullptr);
                                }
                                measurement_count[p] =
                                    qz417::ProfilePacket(packets.data() +
                                                         (at - batchFirst) *
                                                             qz417::kProfilePacketSize)
                                        .measurementCount();
                            }
                            std::vector<const char *> why(tools, nullptr);
                            Store(r, values + p * tools * QZ417M_MAX_OUTPUTS,
                                  tool_passed + p * tools, why.data(), nullptr);
                            if (reasons != nullptr)
                                for (std::size_t t = 0; t < tools; ++t) {
                                    char *out = reasons + (p * tools + t) * QZ417M_REASON_SIZE;
                                    std::memset(out, 0, QZ417M_REASON_SIZE);
                                    if (why[t] != nullptr)
                                        std::strncpy(out, why[t], QZ417M_REASON_SIZE - 1);
                                }
                            ++p;
                        });
        return static_cast<int64_t>(p);
    });
}

} // extern "C"
