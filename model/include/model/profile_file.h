// The profile text file: its name, its format byte for byte, and writing it.
// Pure code: writing takes the directory from its caller; the recorder
// decides what to tell the user about the result.
//
// Format: every line ends with CR LF. Line 1 is the column header, line 2
// "Profile nember: <measurementCount>", then one line per point:
// number padded to column 11, X padded to column 31, then Z. Values have
// exactly three decimals and always a '.' as separator, whatever the locale.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "model/profile_packet.h"

namespace qz417 {

constexpr int kProfilesPerFile = 1;
constexpr unsigned kMaxProfileFileNumber = 65535;

struct RecordedPoint {
    float x = 0.0f;
    float z = 0.0f;
    bool operator==(const RecordedPoint &) const = default;
};

// The recorded profile: its measurementCount and its decoded points
// (an invalid point is (0, 0)).
struct RecordedProfile {
    std::uint16_t number = 0;
    std::array<RecordedPoint, kProfilePoints> points{};
};

// Decodes a fetched packet into a recorded profile.
RecordedProfile RecordProfile(const ProfilePacket &packet, const ProfileScale &scale);

// The local date of `now` as YYYYMMDD (the name of the day's directory).
std::string DateStamp(std::time_t now);
std::string ZeroPad(unsigned number, int width); // "00042"
// A value as the profile file writes it: 12.3456 -> "12.346". Rounded to at
// most six significant digits and three decimals; a value with more than six
// integer digits is written as d.dddddE+dd. A negative value that rounds to
// zero is written without a sign ("0.000").
std::string FormatProfileValue(float value);
// The whole text of a profile file (header line, number line, 1024 point lines).
std::string ProfileFileText(const RecordedProfile &profile);

struct ProfileWriteResult {
    enum class Status {
        Written,          // path: the new file
        CounterExhausted, // every number of the day is taken; day: the directory
        Failed,           // path: what could not be made or written; error: errno
    };
    Status status = Status::Failed;
    std::string path;
    std::string day;
    int error = 0;
};

// Writes the profile into <startDirectory>/Profiles/<date>/NNNNN.txt with the
// lowest number whose name is free, creating the two directories as needed.
// An existing file is never replaced or truncated.
ProfileWriteResult WriteProfileFile(const std::string &startDirectory, const std::string &date,
                                    const RecordedProfile &profile);

} // namespace qz417
