// Writing and reading recording files (HDF5, layout in
// docs/recording-format.md). Neither class is shared between threads: the
// RecordingWriterThread's writer thread owns its RecordingWriter, and each reader belongs
// to the thread that opened it. Failures throw RecordingError with a message
// that names the file and the reason.
#pragma once

#include "model/recording/recording_format.h"
#include "model/stream_stats.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qz::recording {

class RecordingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a recording knows before its first profile.
struct RecordingHeader {
    std::optional<Announcement> announcement;     // the scanner's announcement, when known
    std::optional<ParameterBlock> parameterBlock; // the block in force at the start, when known
    std::string software;                         // e.g. "qz417ctl 1.0.0"
};

class RecordingWriter {
public:
    // Creates (replaces) the file, writes the header and switches to
    // single-writer/multiple-reader mode: from here on a reader may open the
    // file, and a cut file stays readable up to the last Flush.
    RecordingWriter(const std::string &path, const RecordingHeader &header);
    ~RecordingWriter(); // closes without reporting; call Close to learn of errors
    RecordingWriter(const RecordingWriter &) = delete;
    RecordingWriter &operator=(const RecordingWriter &) = delete;

    // n packets (n * 4100 bytes) and their receive times, appended in order.
    // When the disk has room for fewer, those are appended (see profiles())
    // and RecordingError says "No space left on device".
    void Append(const std::uint8_t *packets, const ReceiveTime *times, std::size_t n);
    // A parameter block written to the scanner; it applies from the next
    // profile appended on.
    void AppendParameterBlock(const ParameterBlock &block, std::int64_t wallNs);
    // Makes everything appended so far durable in the file and visible to readers.
    void Flush(std::uint64_t droppedProfiles);
    // Records how the recording ended, flushes and closes the file.
    void Close(std::uint64_t droppedProfiles, EndState end);
    // Closes after a failure, keeping what the last flush made durable (the
    // tables are cut back to it). Never throws.
    void Abandon() noexcept;

    std::uint64_t profiles() const { return profiles_; }
    const std::string &path() const { return path_; }

private:
    struct Handles;
    void WriteStatus(std::uint64_t dropped, EndState end);
    std::size_t FittingProfiles(std::size_t n) const; // of n, those the disk has room for
    std::string path_;
    std::string directory_;
    std::unique_ptr<Handles> h_;
    std::uint64_t profiles_ = 0;
    std::uint64_t parameterBlocks_ = 0;
    // What the last successful flush made durable.
    std::uint64_t durableProfiles_ = 0;
    std::uint64_t durableBlocks_ = 0;
    bool failed_ = false; // a write failed half-way: only Abandon may close
};

// Summary of a recording, as `qz417ctl recording info` prints it.
struct RecordingSummary {
    std::uint32_t version = 0;
    std::string created;
    std::string software;
    std::uint64_t profiles = 0;
    std::uint64_t droppedProfiles = 0;
    EndState end = EndState::Open;
    std::uint64_t lostPackets = 0;     // gaps in packetCount (stream.lost)
    StreamCounts stream;               // qz::StreamStats over the profiles in file order
    std::int64_t firstMonotonicNs = 0; // 0 when empty
    std::int64_t lastMonotonicNs = 0;
    std::int64_t firstWallNs = 0;
    std::int64_t lastWallNs = 0;
    bool hasAnnouncement = false;
    std::size_t parameterBlocks = 0;
};

class RecordingReader {
public:
    // Opens a finished recording, a cut one, or one still being written (it
    // then sees what the writer flushed so far; Refresh sees more).
    // Throws RecordingError for a file that is missing, unreadable, not a
    // recording, of a newer format version, or damaged.
    explicit RecordingReader(const std::string &path);
    ~RecordingReader();
    RecordingReader(const RecordingReader &) = delete;
    RecordingReader &operator=(const RecordingReader &) = delete;

    std::uint32_t version() const { return version_; }
    const std::string &created() const { return created_; }
    const std::string &software() const { return software_; }
    const std::string &path() const { return path_; }
    // Complete profiles: those with their packet and both times.
    std::uint64_t profiles() const { return profiles_; }
    const std::optional<Announcement> &announcement() const { return announcement_; }
    std::vector<ParameterBlockEntry> parameterBlocks();
    std::uint64_t droppedProfiles();
    EndState endState();

    // Profiles [first, first + n): n * 4100 bytes into packets, n times into
    // times (either may be null). Throws when the range lies beyond profiles().
    void Read(std::uint64_t first, std::size_t n, std::uint8_t *packets, ReceiveTime *times);
    // Looks again at a file that is still being written.
    void Refresh();

    RecordingSummary Summary();

private:
    struct Handles;
    void CountProfiles();
    std::string path_;
    std::unique_ptr<Handles> h_;
    std::uint32_t version_ = 0;
    std::string created_;
    std::string software_;
    std::uint64_t profiles_ = 0;
    std::optional<Announcement> announcement_;
};

} // namespace qz::recording
