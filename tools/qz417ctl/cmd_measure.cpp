// qz417ctl measure: run a measurement job (model/measure) on every profile
// of the live UDP stream or of a recording, one line per profile, and a
// summary of each result at the end.
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "command_line.h"
#include "commands.h"
#include "failure.h"
#include "model/measure/measurer.h"
#include "model/measure/result_csv.h"
#include "model/profile_packet.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_file.h"
#include "qz417link.h"
#include "udp_receiver.h"

namespace qz417::ctl {

namespace {

namespace ms = qz417::measure;

constexpr const char *kUsage =
    "qz417ctl measure --job FILE [--recording FILE | --port P] [--seconds S] [--count N] "
    "[--scale RX,RZ,D[,E]] [--json] [-o FILE]";
constexpr const char *kHelp =
    "usage: qz417ctl measure --job FILE [--recording FILE | --port P] [--seconds S]\n"
    "                        [--count N] [--scale RX,RZ,D[,E]] [--json] [-o FILE]\n"
    "\n"
    "Runs the measurement job FILE (docs/measurement.md) on every profile of the\n"
    "UDP stream (default) or of a recording, and writes one line per profile:\n"
    "CSV with a header (profile,measurement, then per tool its outputs and\n"
    "<tool>.state: pass, fail or the reason there is no result; then passed), or\n"
    "with --json one object per line. At the end a summary of every output\n"
    "(count, mean, std, min, max, failures) goes to stderr.\n";
constexpr const char *kOutro =
    "Exit status: 0 when every limit held on every profile, 3 when a limit failed\n"
    "or a tool with limits gave no result, 1 when no profile arrived or the\n"
    "recording could not be read, 2 for a wrong command line or job file.\n";

// --scale RANGE_X,RANGE_Z,DISCRETE[,ERROR]
qz417::ProfileScale ParseScale(const std::string &text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        parts.push_back(part);
    if (parts.size() < 3 || parts.size() > 4)
        throw UsageError("--scale: expected RANGE_X,RANGE_Z,DISCRETE[,ERROR], got '" + text + "'");
    qz417::ProfileScale s;
    s.rangeXEmr = static_cast<std::uint16_t>(ParseInteger(parts[0], 1, 65535, "--scale RANGE_X"));
    s.rangeZ = static_cast<std::uint16_t>(ParseInteger(parts[1], 1, 65535, "--scale RANGE_Z"));
    s.discreteValue =
        static_cast<std::uint16_t>(ParseInteger(parts[2], 1, 65535, "--scale DISCRETE"));
    if (parts.size() == 4) {
        // A negative error value is written with a leading minus.
        const bool negative = !parts[3].empty() && parts[3][0] == '-';
        const std::int64_t v =
            ParseInteger(negative ? parts[3].substr(1) : parts[3], 0, 32768, "--scale ERROR");
        s.errorValue = static_cast<std::int16_t>(negative ? -v : v);
        if ((negative ? -v : v) > 32767)
            throw UsageError("--scale ERROR: must lie within -32768..32767");
    }
    return s;
}

// Running count, mean, spread and range of one output (Welford).
struct Summary {
    std::uint64_t count = 0;
    double mean = 0.0, m2 = 0.0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    void Add(double v) {
        ++count;
        const double d = v - mean;
        mean += d / static_cast<double>(count);
        m2 += d * (v - mean);
        min = std::min(min, v);
        max = std::max(max, v);
    }
    double Std() const { return count > 1 ? std::sqrt(m2 / static_cast<double>(count - 1)) : 0.0; }
};

const char *LimitText(ms::LimitState s) {
    switch (s) {
    case ms::LimitState::Pass:
        return "pass";
    case ms::LimitState::Fail:
        return "fail";
    case ms::LimitState::NoResult:
        break;
    }
    return "no result";
}

// Writes the lines and keeps the summary.
class MeasureOutput {
public:
    MeasureOutput(const ms::Job &job, bool json, std::FILE *out, std::string path)
        : job_(job), json_(json), out_(out), path_(std::move(path)) {
        for (const auto &t : job.tools) {
            summaries_.emplace_back(static_cast<std::size_t>(ms::InfoOf(t.kind).outputCount));
            noResult_.push_back(0);
            failed_.push_back(0);
        }
        if (!json_)
            Write(ms::ResultCsvHeader(job));
    }

    void Add(std::uint64_t profile, std::uint16_t measurement, const ms::JobResult &r) {
        ++profiles_;
        passed_ += r.passed;
        for (std::size_t t = 0; t < r.tools.size(); ++t) {
            const auto &tr = r.tools[t];
            const auto &info = ms::InfoOf(job_.tools[t].kind);
            if (tr.ok)
                for (int k = 0; k < info.outputCount; ++k)
                    summaries_[t][static_cast<std::size_t>(k)].Add(
                        tr.values[static_cast<std::size_t>(k)]);
            else
                ++noResult_[t];
            failed_[t] += !tr.passed;
        }
        json_ ? WriteJson(profile, measurement, r) : WriteCsv(profile, measurement, r);
    }

    void Flush() {
        if (std::fflush(out_) != 0)
            throw Failure("cannot write " + path_);
    }

    std::uint64_t profiles() const { return profiles_; }
    bool allPassed() const { return passed_ == profiles_; }

    void PrintSummary() const {
        if (json_) {
            nlohmann::json tools = nlohmann::json::object();
            for (std::size_t t = 0; t < job_.tools.size(); ++t) {
                const auto &info = ms::InfoOf(job_.tools[t].kind);
                nlohmann::json outputs = nlohmann::json::object();
                for (int k = 0; k < info.outputCount; ++k) {
                    const Summary &s = summaries_[t][static_cast<std::size_t>(k)];
                    nlohmann::json o = {{"unit", info.outputs[static_cast<std::size_t>(k)].unit},
                                        {"count", s.count}};
                    if (s.count > 0) {
                        o["mean"] = s.mean;
                        o["std"] = s.Std();
                        o["min"] = s.min;
                        o["max"] = s.max;
                    }
                    outputs[info.outputs[static_cast<std::size_t>(k)].name] = o;
                }
                tools[job_.tools[t].name] = {
                    {"outputs", outputs}, {"noResult", noResult_[t]}, {"failures", failed_[t]}};
            }
            const nlohmann::json summary = {
                {"profiles", profiles_}, {"passed", passed_}, {"tools", tools}};
            std::cerr << summary.dump() << std::endl;
            return;
        }
        std::cerr << "profiles=" << profiles_ << " passed=" << passed_
                  << " failed=" << profiles_ - passed_ << "\n";
        char line[256];
        std::snprintf(line, sizeof line, "%-32s %-6s %10s %12s %12s %12s %12s %9s %9s\n", "output",
                      "unit", "count", "mean", "std", "min", "max", "failures", "noresult");
        std::cerr << line;
        for (std::size_t t = 0; t < job_.tools.size(); ++t) {
            const auto &info = ms::InfoOf(job_.tools[t].kind);
            for (int k = 0; k < info.outputCount; ++k) {
                const Summary &s = summaries_[t][static_cast<std::size_t>(k)];
                const std::string name =
                    job_.tools[t].name + "." + info.outputs[static_cast<std::size_t>(k)].name;
                const auto cell = [&](double v) {
                    return s.count ? ms::CsvNumber(v) : std::string("-");
                };
                std::snprintf(line, sizeof line,
                              "%-32s %-6s %10llu %12s %12s %12s %12s %9llu %9llu\n", name.c_str(),
                              info.outputs[static_cast<std::size_t>(k)].unit,
                              static_cast<unsigned long long>(s.count), cell(s.mean).c_str(),
                              cell(s.Std()).c_str(), cell(s.min).c_str(), cell(s.max).c_str(),
                              static_cast<unsigned long long>(failed_[t]),
                              static_cast<unsigned long long>(noResult_[t]));
                std::cerr << line;
            }
        }
        std::cerr.flush();
    }

private:
    void Write(const std::string &text) {
        if (std::fwrite(text.data(), 1, text.size(), out_) != text.size())
            throw Failure("cannot write " + path_);
    }

    void WriteCsv(std::uint64_t profile, std::uint16_t measurement, const ms::JobResult &r) {
        line_.clear();
        ms::AppendResultCsvRow(line_, job_, profile, measurement, r);
        Write(line_);
    }

    void WriteJson(std::uint64_t profile, std::uint16_t measurement, const ms::JobResult &r) {
        nlohmann::json tools = nlohmann::json::object();
        for (std::size_t t = 0; t < r.tools.size(); ++t) {
            const auto &tr = r.tools[t];
            const auto &setup = job_.tools[t];
            const auto &info = ms::InfoOf(setup.kind);
            nlohmann::json o = {{"ok", tr.ok}, {"passed", tr.passed}};
            if (tr.ok) {
                nlohmann::json values = nlohmann::json::object();
                for (int k = 0; k < info.outputCount; ++k)
                    values[info.outputs[static_cast<std::size_t>(k)].name] =
                        tr.values[static_cast<std::size_t>(k)];
                o["values"] = values;
            } else {
                o["reason"] = tr.reason;
            }
            if (!setup.limits.empty()) {
                nlohmann::json limits = nlohmann::json::object();
                for (std::size_t l = 0; l < setup.limits.size(); ++l)
                    limits[info.outputs[static_cast<std::size_t>(setup.limits[l].output)].name] =
                        LimitText(tr.limits[l]);
                o["limits"] = limits;
            }
            tools[setup.name] = o;
        }
        const nlohmann::json line = {{"profile", profile},
                                     {"measurement", measurement},
                                     {"passed", r.passed},
                                     {"tools", tools}};
        Write(line.dump() + "\n");
    }

    const ms::Job &job_;
    bool json_;
    std::FILE *out_;
    std::string path_;
    std::vector<std::vector<Summary>> summaries_;
    std::vector<std::uint64_t> noResult_, failed_;
    std::uint64_t profiles_ = 0, passed_ = 0;
    std::string line_;
};

std::uint16_t MeasurementCount(const std::uint8_t *packet) {
    return qz417::ProfilePacket(packet).measurementCount();
}

void MeasureRecording(const std::string &path, std::optional<qz417::ProfileScale> scale,
                      std::uint64_t count, ms::Measurer &measurer, MeasureOutput &out) {
    namespace rec = qz417::recording;
    try {
        rec::RecordingReader reader(path);
        const qz417::ProfileScale used = scale ? *scale : rec::RecordedScale(reader.announcement());
        const std::uint64_t total =
            count ? std::min<std::uint64_t>(count, reader.profiles()) : reader.profiles();
        constexpr std::size_t kBatch = 256;
        std::vector<std::uint8_t> packets(kBatch * qz417::kProfilePacketSize);
        std::array<qz417::ProfilePoint, qz417::kProfilePoints> points{};
        for (std::uint64_t first = 0; first < total && !StopOnSignal::requested();
             first += kBatch) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBatch, total - first));
            reader.Read(first, n, packets.data(), nullptr);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint8_t *packet = packets.data() + i * qz417::kProfilePacketSize;
                qz417::DecodePacket(qz417::ProfilePacket(packet), used, points);
                out.Add(first + i, MeasurementCount(packet), measurer.Measure(points));
            }
        }
    } catch (const rec::RecordingError &e) {
        throw Failure(e.what());
    }
    if (out.profiles() == 0)
        throw Failure("no profile in " + path);
}

void MeasureStream(int port, std::int64_t seconds, std::uint64_t count,
                   const qz417::ProfileScale &scale, ms::Measurer &measurer, MeasureOutput &out) {
    UdpSocket socket(port);
    if (!socket.ok())
        throw Failure("cannot receive on UDP port " + std::to_string(port) + " (already in use?)");
    std::cerr << "receiving on UDP port " << port << std::endl;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto lastFlush = start;
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    std::array<qz417::ProfilePoint, qz417::kProfilePoints> points{};
    while (!StopOnSignal::requested() && (seconds == 0 || Clock::now() < end) &&
           (count == 0 || out.profiles() < count)) {
        if (QZ417_UDP_GetResult(socket.handle(), packet.data()) == 1) {
            qz417::DecodePacket(qz417::ProfilePacket(packet.data()), scale, points);
            out.Add(out.profiles(), MeasurementCount(packet.data()), measurer.Measure(points));
        }
        const auto now = Clock::now();
        if (now - lastFlush >= std::chrono::seconds(1)) {
            out.Flush(); // a reader of the output sees the lines so far
            lastFlush = now;
        }
    }
    if (out.profiles() == 0)
        throw Failure("no packet received on UDP port " + std::to_string(port));
}

} // namespace

int RunMeasure(const Args &args) {
    const std::vector<OptionDef> options = {
        {"job", 0, "FILE", "the measurement job (JSON, format qz417-measure-job)"},
        {"recording", 0, "FILE", "measure the profiles of this recording instead of the stream"},
        {"port", 0, "P", "local UDP port of the stream, 1..65535 (default 6003)"},
        {"seconds", 0, "S", "stop after S seconds of the stream, 1..86400"},
        {"count", 0, "N", "stop after N profiles, 1..1000000000"},
        {"scale", 0, "RX,RZ,D[,E]",
         "the scanner's scale: X range, Z range, discrete value, error value\n"
         "(default: the recording's announcement, else 230,250,16384,0)"},
        {"json", 0, "", "one JSON object per profile instead of CSV; the summary as JSON"},
        {"output", 'o', "FILE", "write the lines to FILE (replaced) instead of stdout"}};
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << HelpText(kHelp, options, kOutro);
        return kExitOk;
    }
    cl.expectPositional(0, kUsage);
    const auto jobPath = cl.value("job");
    if (!jobPath)
        throw UsageError("--job FILE is missing (usage: " + std::string(kUsage) + ")");
    const auto recording = cl.value("recording");
    if (recording && (cl.has("port") || cl.has("seconds")))
        throw UsageError("--recording takes neither --port nor --seconds");
    const int port = static_cast<int>(cl.integer("port", 6003, 1, 65535));
    const std::int64_t seconds = cl.integer("seconds", 0, 1, 86400);
    const auto count = static_cast<std::uint64_t>(cl.integer("count", 0, 1, 1000000000));
    std::optional<qz417::ProfileScale> scale;
    if (const auto s = cl.value("scale"))
        scale = ParseScale(*s);
    const bool json = cl.has("json");

    ms::Job job;
    try {
        job = ms::LoadJob(*jobPath);
    } catch (const ms::JobError &e) {
        throw UsageError(e.what());
    }
    ms::Measurer measurer(job);

    const auto outPath = cl.value("output");
    std::FILE *out = stdout;
    if (outPath) {
        out = std::fopen(outPath->c_str(), "wb");
        if (out == nullptr)
            throw UsageError("cannot write " + *outPath);
    }
    struct Closer {
        std::FILE *f;
        ~Closer() {
            if (f != stdout && f != nullptr)
                std::fclose(f);
        }
    } closer{out};
    MeasureOutput output(measurer.job(), json, out, outPath ? *outPath : "stdout");

    {
        const StopOnSignal stop;
        if (recording)
            MeasureRecording(*recording, scale, count, measurer, output);
        else
            MeasureStream(port, seconds, count, scale ? *scale : qz417::ProfileScale{}, measurer,
                          output);
    }
    output.Flush();
    if (out != stdout) {
        closer.f = nullptr;
        if (std::fclose(out) != 0)
            throw Failure("cannot write " + *outPath);
    }
    output.PrintSummary();
    return output.allPassed() ? kExitOk : kExitLimits;
}

} // namespace qz417::ctl
