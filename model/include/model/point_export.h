// The point formats profiles are exported to: CSV, PLY and PCD. One
// implementation of each, behind one small interface: the header, then the
// rows or points of each profile appended to a string. Where the bytes go
// (a file renamed when complete, standard output, a header rewritten at the
// end) is the caller's business: `qz417ctl profile` writes profiles as they
// arrive, the recording export (model/recording) reads a recording in
// batches. Numbers are written with std::to_chars (the shortest text that
// reads back as the same float, times with nine decimals): the same bytes in
// every locale.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/profile_packet.h"

namespace qz417 {

// One profile to export: its decoded points and what its rows say of it.
struct ExportedProfile {
    const std::array<ProfilePoint, kProfilePoints> &points;
    std::uint64_t number = 0; // CSV: the "profile" column
    double seconds = 0.0;     // CSV with a time column: seconds since the first profile
    float y = 0.0f;           // clouds: y of every point of the profile
};

class PointExporter {
public:
    virtual ~PointExporter() = default;
    // The header of an output of `profiles` profiles holding `points` points
    // in all. The clouds name the counts, so their header can be complete
    // only at the end; CSV names neither.
    virtual std::string Header(std::uint64_t profiles, std::uint64_t points) const = 0;
    // Appends the profile's rows (CSV) or points (clouds) to `out`; returns
    // how many points it wrote.
    virtual std::uint64_t Append(std::string &out, const ExportedProfile &profile) const = 0;
    // Whether Header depends on the counts.
    virtual bool HeaderNamesCounts() const = 0;
    // What starts a comment line in the header ("comment", "#"): a writer
    // that reserves room for the header at the start fills it with one.
    virtual std::string_view CommentMark() const = 0;
};

enum class CsvColumns {
    // "profile,point,valid,x_mm,z_mm": every point, x and z empty when invalid.
    ValidFlag,
    // "profile,point,time_s,x_mm,z_mm": valid points only.
    Time,
};

enum class CloudEncoding { Ascii, Binary }; // binary: little-endian 32-bit floats

enum class PcdShape {
    // WIDTH 1024 points per profile, HEIGHT one row per profile, a point not
    // measured as NaN (is_dense false), as PCL keeps scans.
    Organised,
    // The valid points only: WIDTH the number of points, HEIGHT 1.
    Unorganised,
};

// Points numbered from 1 in the "point" column.
std::unique_ptr<PointExporter> MakeCsvExporter(CsvColumns columns);
// The valid points; `comment` is the header's comment line (without "comment ").
std::unique_ptr<PointExporter> MakePlyExporter(CloudEncoding encoding, std::string comment);
// `comments`: the header's first lines (without "# ").
std::unique_ptr<PointExporter> MakePcdExporter(PcdShape shape, CloudEncoding encoding,
                                               std::vector<std::string> comments);

} // namespace qz417
