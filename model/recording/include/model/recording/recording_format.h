// The recording file: names, sizes and the version of its layout, as
// docs/recording-format.md describes them. Every reader of this program
// (the tool, the window, the emulator's replay) goes through RecordingReader.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qz417::recording {

inline constexpr char kFormatName[] = "qz417-recording";
// Raised whenever the layout changes in a way an older reader cannot follow.
inline constexpr std::uint32_t kFormatVersion = 1;
// Raised when tables are added that an older reader of the same version may
// ignore: 1 = the measurement results tables (version 1.1).
inline constexpr std::uint32_t kFormatMinorVersion = 1;

inline constexpr std::size_t kPacketSize = 4100;
inline constexpr std::size_t kAnnouncementSize = 268;
inline constexpr std::size_t kParameterBlockSize = 512;
// Bytes one profile adds to the data of the file: the packet and two times.
inline constexpr std::size_t kBytesPerProfile = kPacketSize + 2 * sizeof(std::int64_t);

// Root attributes.
inline constexpr char kAttrFormat[] = "format";
inline constexpr char kAttrVersion[] = "format_version";
inline constexpr char kAttrMinorVersion[] = "format_minor_version"; // absent: 0
inline constexpr char kAttrCreated[] = "created";
inline constexpr char kAttrSoftware[] = "software";

// Datasets.
inline constexpr char kPackets[] = "packets";                       // uint8 [N, 4100]
inline constexpr char kMonotonicNs[] = "receive_time_monotonic_ns"; // int64 [N]
inline constexpr char kWallNs[] = "receive_time_wall_ns";           // int64 [N]
inline constexpr char kAnnouncement[] = "announcement";             // uint8 [268], optional
inline constexpr char kParameterBlocks[] = "parameter_blocks";      // uint8 [M, 512]
inline constexpr char kParameterFirstProfile[] = "parameter_block_first_profile"; // uint64 [M]
inline constexpr char kParameterWallNs[] = "parameter_block_wall_ns";             // int64 [M]
inline constexpr char kWriterStatus[] = "writer_status";                          // uint64 [2]

// Measurement results (version 1.1), in the group "results". SWMR allows no
// new object once writing started, so every table exists from the start and
// grows; a job's outputs are rows of the output tables and each measured
// value is one row of the value tables.
inline constexpr char kResultsGroup[] = "results";
inline constexpr char kJobJson[] = "results/job_json";                  // uint8 [B], UTF-8
inline constexpr char kJobJsonFirst[] = "results/job_json_first";       // uint64 [J]
inline constexpr char kJobJsonLength[] = "results/job_json_length";     // uint64 [J]
inline constexpr char kJobFirstOutput[] = "results/job_first_output";   // uint64 [J]
inline constexpr char kJobOutputCount[] = "results/job_output_count";   // uint64 [J]
inline constexpr char kJobWallNs[] = "results/job_wall_ns";             // int64 [J]
inline constexpr char kJobFirstProfile[] = "results/job_first_profile"; // uint64 [J]
inline constexpr char kOutputNames[] = "results/output_name";           // string(64) [P]
inline constexpr char kOutputUnits[] = "results/output_unit";           // string(16) [P]
inline constexpr char kOutputTool[] = "results/output_tool";            // uint16 [P]
inline constexpr char kReasons[] = "results/reasons";                   // string(64) [Q]
inline constexpr char kResultOutput[] = "results/output";               // uint32 [V]
inline constexpr char kResultValue[] = "results/value";                 // float64 [V]
inline constexpr char kResultStatus[] = "results/status";               // uint8 [V]
inline constexpr char kResultReason[] = "results/reason";               // uint16 [V]
inline constexpr char kResultProfile[] = "results/profile";             // uint64 [V]
inline constexpr std::size_t kOutputNameSize = 64;
inline constexpr std::size_t kOutputUnitSize = 16;
inline constexpr std::size_t kReasonSize = 64;

// results/status of a value.
enum class ResultStatus : std::uint8_t {
    Ok = 0,          // a value within its limits (or without any)
    NoResult = 1,    // the tool gave no result (results/reason says why); the value is NaN
    LimitFailed = 2, // a value outside a limit of the job
};

// writer_status[0]: profiles dropped because the writer fell behind;
// writer_status[1]: how the recording ended.
enum class EndState : std::uint64_t {
    Open = 0,   // still being written, or cut short (killed, power lost)
    Closed = 1, // stopped by the user or a limit and closed
    Failed = 2, // stopped by a write error; holds what was written before it
};

using Packet = std::array<std::uint8_t, kPacketSize>;
using Announcement = std::array<std::uint8_t, kAnnouncementSize>;
using ParameterBlock = std::array<std::uint8_t, kParameterBlockSize>;

// When a packet was received, in nanoseconds: CLOCK_MONOTONIC for intervals,
// CLOCK_REALTIME (since 1970-01-01 UTC) for the date.
// When a profile was received: nanoseconds of the monotonic clock (for
// intervals) and of the wall clock (for a date stamp). The window's profile
// feed hands packets over with the same struct.
struct ReceiveTime {
    std::int64_t monotonicNs = 0;
    std::int64_t wallNs = 0;
    static ReceiveTime Now() {
        using namespace std::chrono;
        return {duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count(),
                duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count()};
    }
    bool operator==(const ReceiveTime &) const = default;
};

// A parameter block and the first profile recorded while it was in force.
struct ParameterBlockEntry {
    ParameterBlock block{};
    std::uint64_t firstProfile = 0;
    std::int64_t wallNs = 0;
};

} // namespace qz417::recording
