// qz417ctl recording info|export: what a recording holds, and profiles of it
// as CSV, PLY or PCD point clouds, or as the program's own profile file.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "failure.h"
#include "model/recording/recorded_results.h"
#include "model/recording/recording_export.h"
#include "model/recording/recording_file.h"

namespace qz417::ctl {

namespace {

namespace rec = qz417::recording;

constexpr const char *kUsage = "qz417ctl recording info|export FILE [OPTIONS]";
constexpr const char *kHelp =
    "usage: qz417ctl recording info FILE\n"
    "       qz417ctl recording export FILE --format csv|ply|pcd|txt|results-csv -o OUT\n"
    "                 [--first I] [--count N] [--pitch MM | --speed MM_PER_S]\n"
    "\n"
    "A recording is the file `qz417ctl stream --record` writes (HDF5, see\n"
    "docs/recording-format.md).\n"
    "\n"
    "info     the profiles, their time span and rate, lost packets (gaps in the\n"
    "         packet counter), dropped profiles, how the recording ended, the\n"
    "         scanner's scale, the parameter blocks it holds and the measurement\n"
    "         results stored with the profiles (`qz417ctl stream --record --job`):\n"
    "         profiles measured and each job's tools.\n"
    "export   profiles I .. I+N-1 (default: all) in millimetres, with the scale\n"
    "         of the recorded announcement (230, 250, 16384, 0 without one):\n"
    "  csv    one row per valid point: profile,point,time_s,x_mm,z_mm (time\n"
    "         since the first profile of the recording; profiles counted from 1\n"
    "         as the window shows them, so --first I writes profile I+1)\n"
    "  ply    ASCII point cloud of the valid points: x across the line, y along\n"
    "  pcd    the motion, z the distance; y is the profile index times --pitch\n"
    "         (mm, default 1) or, with --speed, the time times the speed (mm/s)\n"
    "  txt    the program's own profile file for one profile (--first I)\n"
    "  results-csv  the stored measurement results of the profiles, the columns\n"
    "         of `qz417ctl measure` (profiles counted from 0); a header line\n"
    "         before the first row of each job\n"
    "\n"
    "Exit status 2 for a file that is no readable recording or a range beyond it.\n";

std::string WallText(std::int64_t ns) {
    const std::time_t s = static_cast<std::time_t>(ns / 1000000000);
    std::tm t{};
    gmtime_r(&s, &t);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &t);
    return text;
}

const char *EndText(rec::EndState e) {
    switch (e) {
    case rec::EndState::Closed:
        return "closed normally";
    case rec::EndState::Failed:
        return "stopped by a write error (holds what was written before it)";
    case rec::EndState::Open:
        break;
    }
    return "cut short, or still being written";
}

int Info(rec::RecordingReader &r) {
    const rec::RecordingSummary s = r.Summary();
    const double span = (s.lastMonotonicNs - s.firstMonotonicNs) * 1e-9;
    char line[160];
    std::cout << "file: " << r.path() << "\n"
              << "format version: " << s.version << "\n"
              << "created: " << s.created << "\n"
              << "software: " << s.software << "\n"
              << "profiles: " << s.profiles << "\n";
    if (s.profiles > 0) {
        std::snprintf(line, sizeof line, "duration: %.3f s\n", span);
        std::cout << line << "first received: " << WallText(s.firstWallNs) << "\n";
        if (span > 0) {
            std::snprintf(line, sizeof line, "rate: %.1f profiles/s\n", (s.profiles - 1) / span);
            std::cout << line;
        }
    }
    std::cout << "lost packets: " << s.lostPackets << "\n"
              << "dropped profiles: " << s.droppedProfiles << "\n"
              << "ended: " << EndText(s.end) << "\n";
    const qz417::ProfileScale scale = rec::RecordedScale(r.announcement());
    std::cout << "announcement: " << (s.hasAnnouncement ? "yes" : "no") << "\n"
              << "scale: range X " << scale.rangeXEmr << " mm, range Z " << scale.rangeZ
              << " mm, discrete value " << scale.discreteValue << ", error value "
              << scale.errorValue << "\n"
              << "parameter blocks: " << s.parameterBlocks << "\n";
    if (!s.resultsError.empty()) {
        std::cout << "results: cannot be read: " << s.resultsError << "\n";
        return kExitOk;
    }
    if (s.resultJobs == 0) {
        std::cout << "results: none\n";
        return kExitOk;
    }
    std::cout << "results: " << s.resultProfiles << " profiles measured, " << s.resultJobs
              << (s.resultJobs == 1 ? " job" : " jobs") << "\n";
    try {
        const rec::RecordedResultsReader results(r);
        for (std::size_t j = 0; j < results.jobs().size(); ++j) {
            std::cout << "job " << j + 1 << " from profile "
                      << results.tables().jobs[j].firstProfile << ": ";
            const auto &tools = results.jobs()[j].tools;
            if (tools.empty())
                std::cout << "nothing measured";
            for (std::size_t t = 0; t < tools.size(); ++t)
                std::cout << (t ? ", " : "") << tools[t].name << " ("
                          << qz417::measure::InfoOf(tools[t].kind).name << ")";
            std::cout << "\n";
        }
    } catch (const rec::RecordingError &e) {
        std::cout << "results: cannot be read: " << e.what() << "\n";
    }
    return kExitOk;
}

int Export(rec::RecordingReader &r, const CommandLine &cl) {
    const auto formatName = cl.value("format");
    const auto out = cl.value("output");
    if (!formatName || !out)
        throw UsageError("export needs --format and -o (see qz417ctl recording --help)");
    rec::ExportRequest request;
    if (*formatName == "csv")
        request.format = rec::ExportFormat::Csv;
    else if (*formatName == "ply")
        request.format = rec::ExportFormat::Ply;
    else if (*formatName == "pcd")
        request.format = rec::ExportFormat::Pcd;
    else if (*formatName == "txt")
        request.format = rec::ExportFormat::ProfileText;
    else if (*formatName == "results-csv")
        request.format = rec::ExportFormat::ResultsCsv;
    else
        throw UsageError("unknown format '" + *formatName +
                         "' (csv, ply, pcd, txt or results-csv)");
    const bool txt = request.format == rec::ExportFormat::ProfileText;
    const std::uint64_t total = r.profiles();
    if (total == 0)
        throw UsageError(rec::ExportRangeProblem(0, 0, 1, r.path()));
    request.first =
        static_cast<std::uint64_t>(cl.integer("first", 0, 0, static_cast<std::int64_t>(total) - 1));
    const std::uint64_t fallbackCount = txt ? 1 : total - request.first;
    request.count = static_cast<std::uint64_t>(cl.integer(
        "count", static_cast<std::int64_t>(fallbackCount), 1, static_cast<std::int64_t>(total)));
    if (const std::string problem =
            rec::ExportRangeProblem(total, request.first, request.count, r.path());
        !problem.empty())
        throw UsageError(problem);
    if (cl.has("pitch") && cl.has("speed"))
        throw UsageError("give either --pitch or --speed, not both");
    const auto number = [&](const char *name, double fallback) {
        const auto v = cl.value(name);
        if (!v)
            return fallback;
        char *end = nullptr;
        const double d = std::strtod(v->c_str(), &end);
        if (end == v->c_str() || *end != '\0' || !std::isfinite(d))
            throw UsageError(std::string("invalid value '") + *v + "' for --" + name);
        return d;
    };
    request.pitchMm = number("pitch", 1.0);
    if (cl.has("speed"))
        request.speedMmPerS = number("speed", 0);
    if (txt && request.count != 1)
        throw UsageError("txt holds one profile: give --first I and no --count");
    try {
        rec::ExportRecording(r, request, *out);
    } catch (const rec::ExportError &e) {
        // A write error leaves no part of the file behind.
        throw UsageError(e.what());
    }
    return kExitOk;
}

} // namespace

int RunRecording(const Args &args) {
    const std::vector<OptionDef> options = {
        {"format", 0, "F", "csv, ply, pcd, txt or results-csv (export)"},
        {"output", 'o', "OUT", "the file to write (export)"},
        {"first", 0, "I", "the first profile to export (default 0)"},
        {"count", 0, "N", "how many profiles to export (default: all)"},
        {"pitch", 0, "MM", "y step per profile in mm (default 1)"},
        {"speed", 0, "MM_PER_S", "y from the time times this speed instead"}};
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << kHelp;
        return kExitOk;
    }
    cl.expectPositional(2, kUsage);
    const std::string &action = cl.positional()[0];
    if (action != "info" && action != "export")
        throw UsageError("unknown action '" + action + "' (info or export)");
    try {
        rec::RecordingReader r(cl.positional()[1]);
        return action == "info" ? Info(r) : Export(r, cl);
    } catch (const rec::RecordingError &e) {
        throw UsageError(e.what());
    }
}

} // namespace qz417::ctl
