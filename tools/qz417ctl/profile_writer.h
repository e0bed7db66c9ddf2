// Writing profiles as they arrive: each profile goes to the output when it is
// added, so that memory stays the same for 1 or 65535 profiles. Formats:
// the program's profile text, CSV, PLY (ASCII or binary) and PCL's PCD
// (ASCII or binary).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "profile_output.h"

namespace qz417::ctl {

enum class ProfileFormat { Txt, Csv, Ply, PlyBinary, Pcd, PcdBinary };

// "txt", "csv", "ply", "ply-binary", "pcd", "pcd-binary"; empty if none.
std::optional<ProfileFormat> ParseProfileFormat(const std::string &name);

// What was written, for the summary line.
struct ProfileTally {
    std::uint64_t profiles = 0;
    std::uint64_t points = 0;      // 1024 per profile
    std::uint64_t validPoints = 0; // points the scanner measured
    std::uint16_t firstMeasurement = 0, lastMeasurement = 0;
};

class ProfileWriter {
public:
    virtual ~ProfileWriter() = default;
    // Writes one more profile. Throws Failure when the output cannot be written.
    virtual void add(const PacketBytes &packet) = 0;
    // Completes the output with what was added (headers carry the real
    // counts, also when fewer profiles came than were asked for) and closes it.
    virtual void finish() = 0;
    const ProfileTally &tally() const { return tally_; }

protected:
    void count(const PacketBytes &packet, std::uint64_t valid);
    ProfileTally tally_;
};

// `path` empty: standard output. For txt with a path and count > 1, one file
// per profile (FILE_00001.txt, ...). PLY and PCD headers hold counts that are
// known only at the end: into a file they are written with room to spare and
// rewritten by finish(); into a pipe the points wait in a temporary file.
std::unique_ptr<ProfileWriter> MakeProfileWriter(ProfileFormat format,
                                                 const std::optional<std::string> &path, int count,
                                                 const qz417::ProfileScale &scale);

// "dir/scan.txt" -> "dir/scan_00001.txt" for n = 1.
std::string NumberedPath(const std::string &path, int n);

} // namespace qz417::ctl
