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

namespace qz417::recording {

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

// A measurement job as the results tables keep it: its JSON text and its
// outputs in the order of the values (names "tool.output", units, and the
// index of the tool within the job). An empty job (no text, no outputs)
// says that nothing is measured from its first profile on.
struct ResultsJob {
    std::string json;
    std::vector<std::string> outputs;
    std::vector<std::string> units;
    std::vector<std::uint16_t> outputTool;
};

// One row of the value tables: one output of one profile.
struct ResultValue {
    std::uint64_t profile = 0; // index in the profile tables
    std::uint32_t output = 0;  // row of the output tables (the job's first output + k)
    double value = 0.0;        // NaN when there is no result
    ResultStatus status = ResultStatus::Ok;
    std::uint16_t reason = 0; // row of results/reasons; 0 (empty text) with a result
};

// A job of a recording's results tables, with its outputs.
struct RecordedJob {
    ResultsJob job;
    std::uint64_t firstProfile = 0; // the first profile measured with it
    std::int64_t wallNs = 0;        // when it was set
    std::uint64_t firstOutput = 0;  // its first row in the output tables
};

// What the results tables hold (empty for a file without them).
struct RecordedResults {
    std::uint32_t minorVersion = 0; // format_minor_version of the file
    std::vector<RecordedJob> jobs;
    std::vector<std::string> reasons; // reasons[0] is empty
    std::uint64_t values = 0;         // complete rows of the value tables
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
    // The measurement job for the profiles appended from now on (its first
    // profile is profiles()). Returns its first row in the output tables,
    // the base of ResultValue::output for its values.
    std::uint64_t AppendResultsJob(const ResultsJob &job, std::int64_t wallNs);
    // The row of results/reasons holding `text` (cut to 63 bytes), added
    // when it is not there yet; 0 for null or an empty text.
    std::uint16_t ResultReason(const char *text);
    // n rows of the value tables, for profiles already appended.
    void AppendResultValues(const ResultValue *values, std::size_t n);
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
    // Rows of the results tables: jobs, bytes of job text, outputs, reasons, values.
    struct ResultRows {
        std::uint64_t jobs = 0, jsonBytes = 0, outputs = 0, reasons = 0, values = 0;
    };
    ResultRows results_;
    std::vector<std::string> reasonTexts_; // rows of results/reasons
    // What the last successful flush made durable.
    std::uint64_t durableProfiles_ = 0;
    std::uint64_t durableBlocks_ = 0;
    ResultRows durableResults_;
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
    StreamCounts stream;               // qz417::StreamStats over the profiles in file order
    std::int64_t firstMonotonicNs = 0; // 0 when empty
    std::int64_t lastMonotonicNs = 0;
    std::int64_t firstWallNs = 0;
    std::int64_t lastWallNs = 0;
    bool hasAnnouncement = false;
    std::size_t parameterBlocks = 0;
    // Measurement results: jobs, profiles with results, and why they
    // cannot be read (the profiles still can).
    std::size_t resultJobs = 0;
    std::uint64_t resultProfiles = 0;
    std::uint64_t resultValues = 0;
    std::string resultsError;
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
    // The jobs, outputs and reasons of the results tables (none in a file
    // written before version 1.1). Throws RecordingError naming the table
    // when they are damaged; the profiles stay readable.
    RecordedResults Results();
    // Rows [first, first + n) of the value tables (n <= Results().values).
    void ReadResultValues(std::uint64_t first, std::size_t n, ResultValue *out);
    // Looks again at a file that is still being written.
    void Refresh();

    RecordingSummary Summary();

private:
    struct Handles;
    void CountProfiles();
    std::string path_;
    std::unique_ptr<Handles> h_;
    std::uint32_t version_ = 0;
    std::uint32_t minorVersion_ = 0;
    std::string created_;
    std::string software_;
    std::uint64_t profiles_ = 0;
    std::optional<Announcement> announcement_;
};

} // namespace qz417::recording
