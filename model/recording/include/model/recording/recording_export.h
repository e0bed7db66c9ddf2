// Profiles of a recording written out in millimetres, with the scale of the
// recorded announcement: CSV (one row per valid point), PLY and PCD point
// clouds (the valid points; y along the motion), or the program's own
// profile text file for one profile. `qz417ctl recording export` and the
// window's "Export..." both call ExportRecording.
//
// The recording is read in batches and the output streamed, so memory stays
// the same for 10 or 2.4 million profiles. The output is written beside the
// chosen name and renamed onto it only when complete: a failed or cancelled
// export leaves nothing under that name (an older file there stays as it
// was). Only an output that is no regular file (a device such as /dev/null,
// a pipe) is written in place.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "model/profile_packet.h"
#include "model/recording/recording_file.h"
#include "model/recording/recording_format.h"

namespace qz417::recording {

enum class ExportFormat {
    Csv,         // profile,point,time_s,x_mm,z_mm; profiles and points counted from 1
                 // (the request's index + 1), time since the first profile
    Ply,         // ASCII PLY: x across the line, y along the motion, z the distance
    Pcd,         // ASCII PCD v0.7, the same points as PLY
    ProfileText, // the program's profile text file, one profile
    ResultsCsv,  // the measurement results stored with the profiles, as `qz417ctl measure`
                 // writes them (model/measure/result_csv.h; profiles counted from 0); a
                 // header line before the first row of each job
};

// The scale of the points: the description in the announcement, or the
// usual 230 mm, 250 mm, 16384, 0 without one.
ProfileScale RecordedScale(const std::optional<Announcement> &announcement);

struct ExportRequest {
    ExportFormat format = ExportFormat::Csv;
    // Profiles first .. first + count - 1 (indices from 0); ProfileText takes one.
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    // y of the clouds: the profile's index times pitchMm, or, with
    // speedMmPerS, its time since the first profile times the speed.
    double pitchMm = 1.0;
    std::optional<double> speedMmPerS;
};

// Why an export did not complete.
class ExportError : public std::runtime_error {
public:
    enum class Kind {
        Request,   // the range or the options: nothing was written
        Write,     // the output could not be written (disk full, permissions, ...)
        Cancelled, // the progress callback asked to stop
    };
    ExportError(Kind kind, const std::string &what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// What is wrong with profiles first .. first + count - 1 of a recording of
// `profiles` profiles at `path`; empty when they all lie in it.
std::string ExportRangeProblem(std::uint64_t profiles, std::uint64_t first, std::uint64_t count,
                               const std::string &path);
// The range and the options of a request; empty when it can be exported.
std::string ExportRequestProblem(const ExportRequest &request, std::uint64_t profiles,
                                 const std::string &path);

// Called after each batch with the work done and the whole work (profiles
// read; the clouds read their range twice, once to count the points for the
// header). Returning false stops the export (ExportError::Kind::Cancelled).
// Called on the thread that runs the export.
using ExportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

struct ExportResult {
    std::uint64_t profiles = 0;
    std::uint64_t points = 0; // rows or cloud points; 1024 for the profile text
};

// Writes the request's profiles of `reader` to `outputPath`. Throws
// ExportError (request, write, cancelled) and RecordingError (the recording
// could not be read); in every case no part of the output is left under
// `outputPath`.
ExportResult ExportRecording(RecordingReader &reader, const ExportRequest &request,
                             const std::string &outputPath, const ExportProgress &progress = {});

} // namespace qz417::recording
