// qz417ctl recording info|export: what a recording holds, and profiles of it
// as CSV, PLY or PCD point clouds, or as the program's own profile file.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "model/device_description.h"
#include "failure.h"
#include "profile_output.h"
#include "model/recording/recording_file.h"
#include "model/profile_packet.h"

namespace qzctl {

namespace {

namespace rec = qz::recording;

constexpr const char *kUsage = "qz417ctl recording info|export FILE [OPTIONS]";
constexpr const char *kHelp =
    "usage: qz417ctl recording info FILE\n"
    "       qz417ctl recording export FILE --format csv|ply|pcd|txt -o OUT\n"
    "                 [--first I] [--count N] [--pitch MM | --speed MM_PER_S]\n"
    "\n"
    "A recording is the file `qz417ctl stream --record` writes (HDF5, see\n"
    "docs/recording-format.md).\n"
    "\n"
    "info     the profiles, their time span and rate, lost packets (gaps in the\n"
    "         packet counter), dropped profiles, how the recording ended, the\n"
    "         scanner's scale and the parameter blocks it holds.\n"
    "export   profiles I .. I+N-1 (default: all) in millimetres, with the scale\n"
    "         of the recorded announcement (230, 250, 16384, 0 without one):\n"
    "  csv    one row per valid point: profile,point,time_s,x_mm,z_mm (time\n"
    "         since the first profile of the recording)\n"
    "  ply    ASCII point cloud of the valid points: x across the line, y along\n"
    "  pcd    the motion, z the distance; y is the profile index times --pitch\n"
    "         (mm, default 1) or, with --speed, the time times the speed (mm/s)\n"
    "  txt    the program's own profile file for one profile (--first I)\n"
    "\n"
    "Exit status 2 for a file that is no readable recording or a range beyond it.\n";

// The scale of the points: the recorded announcement's description.
qz::ProfileScale ScaleOf(const rec::RecordingReader &r) {
    qz::ProfileScale scale; // the program's initial scale
    if (const auto &a = r.announcement()) {
        const qz::DeviceDescription d = qz::DecodeDescription(a->data() + 12);
        scale.rangeXEmr = d.rangeXEmr;
        scale.rangeZ = d.rangeZ;
        scale.discreteValue = d.discreteValue;
        scale.errorValue = d.errorValue;
    }
    return scale;
}

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
    const qz::ProfileScale scale = ScaleOf(r);
    std::cout << "announcement: " << (s.hasAnnouncement ? "yes" : "no") << "\n"
              << "scale: range X " << scale.rangeXEmr << " mm, range Z " << scale.rangeZ
              << " mm, discrete value " << scale.discreteValue << ", error value "
              << scale.errorValue << "\n"
              << "parameter blocks: " << s.parameterBlocks << "\n";
    return kExitOk;
}

enum class Format { Csv, Ply, Pcd, Txt };

// Visits the valid points of profiles [first, first + count) in batches.
template <typename Visit>
void ForEachPoint(rec::RecordingReader &r, std::uint64_t first, std::uint64_t count,
                  const qz::ProfileScale &scale, Visit &&visit) {
    constexpr std::uint64_t kBatch = 256;
    std::vector<std::uint8_t> packets(kBatch * rec::kPacketSize);
    std::vector<rec::ReceiveTime> times(kBatch);
    rec::ReceiveTime origin;
    if (r.profiles() > 0)
        r.Read(0, 1, nullptr, &origin);
    std::array<qz::ProfilePoint, qz::kProfilePoints> points;
    for (std::uint64_t at = first; at < first + count; at += kBatch) {
        const auto n = static_cast<std::size_t>(std::min(kBatch, first + count - at));
        r.Read(at, n, packets.data(), times.data());
        for (std::size_t i = 0; i < n; ++i) {
            qz::DecodePacket(qz::ProfilePacket(packets.data() + i * rec::kPacketSize), scale,
                             points);
            const double t = (times[i].monotonicNs - origin.monotonicNs) * 1e-9;
            for (int k = 0; k < qz::kProfilePoints; ++k)
                if (points[static_cast<std::size_t>(k)].valid)
                    visit(at + i, k, t, points[static_cast<std::size_t>(k)]);
        }
    }
}

int Export(rec::RecordingReader &r, const CommandLine &cl) {
    const auto formatName = cl.value("format");
    const auto out = cl.value("output");
    if (!formatName || !out)
        throw UsageError("export needs --format and -o (see qz417ctl recording --help)");
    Format format;
    if (*formatName == "csv")
        format = Format::Csv;
    else if (*formatName == "ply")
        format = Format::Ply;
    else if (*formatName == "pcd")
        format = Format::Pcd;
    else if (*formatName == "txt")
        format = Format::Txt;
    else
        throw UsageError("unknown format '" + *formatName + "' (csv, ply, pcd or txt)");
    if (r.profiles() == 0)
        throw UsageError(r.path() + " holds no profile");
    const std::uint64_t total = r.profiles();
    const auto first = static_cast<std::uint64_t>(
        cl.integer("first", 0, 0, static_cast<std::int64_t>(total) - 1));
    const std::uint64_t fallbackCount = format == Format::Txt ? 1 : total - first;
    const auto count = static_cast<std::uint64_t>(cl.integer(
        "count", static_cast<std::int64_t>(fallbackCount), 1, static_cast<std::int64_t>(total)));
    if (count > total - first)
        throw UsageError("profiles " + std::to_string(first) + " to " +
                         std::to_string(first + count - 1) + " lie beyond the " +
                         std::to_string(total) + " profiles of " + r.path());
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
    const double pitch = number("pitch", 1.0);
    const std::optional<double> speed =
        cl.has("speed") ? std::optional<double>(number("speed", 0)) : std::nullopt;
    const qz::ProfileScale scale = ScaleOf(r);

    if (format == Format::Txt) {
        if (count != 1)
            throw UsageError("txt holds one profile: give --first I and no --count");
        PacketBytes packet{};
        r.Read(first, 1, packet.data(), nullptr);
        std::ofstream f(*out, std::ios::binary);
        f << ProfileTxt(packet, scale);
        if (!f.flush())
            throw UsageError("cannot write " + *out);
        return kExitOk;
    }

    std::ofstream f(*out, std::ios::binary);
    if (!f)
        throw UsageError("cannot write " + *out);
    const auto yOf = [&](std::uint64_t profile, double t) {
        return static_cast<float>(speed ? t * *speed : static_cast<double>(profile) * pitch);
    };
    if (format == Format::Csv) {
        f << "profile,point,time_s,x_mm,z_mm\n";
        char time[32];
        ForEachPoint(r, first, count, scale,
                     [&](std::uint64_t profile, int k, double t, const qz::ProfilePoint &p) {
                         std::snprintf(time, sizeof time, "%.9f", t);
                         f << profile << ',' << (k + 1) << ',' << time << ',' << FloatText(p.x)
                           << ',' << FloatText(p.z) << '\n';
                     });
    } else {
        // The headers name the number of points: count them first.
        std::uint64_t points = 0;
        ForEachPoint(r, first, count, scale,
                     [&](std::uint64_t, int, double, const qz::ProfilePoint &) { ++points; });
        if (format == Format::Ply)
            f << "ply\nformat ascii 1.0\ncomment qz417 recording " << r.path() << " profiles "
              << first << ".." << first + count - 1 << "\nelement vertex " << points
              << "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
        else
            f << "# .PCD v0.7 - qz417 recording, profiles " << first << ".." << first + count - 1
              << "\nVERSION 0.7\nFIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nCOUNT 1 1 1\nWIDTH "
              << points << "\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " << points
              << "\nDATA ascii\n";
        ForEachPoint(r, first, count, scale,
                     [&](std::uint64_t profile, int, double t, const qz::ProfilePoint &p) {
                         f << FloatText(p.x) << ' ' << FloatText(yOf(profile, t)) << ' '
                           << FloatText(p.z) << '\n';
                     });
    }
    if (!f.flush())
        throw UsageError("cannot write " + *out);
    return kExitOk;
}

} // namespace

int RunRecording(const Args &args) {
    const std::vector<OptionDef> options = {
        {"format", 0, "F", "csv, ply, pcd or txt (export)"},
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

} // namespace qzctl
