// Recording a profile stream to a file on a writer thread of its own.
//
// The acquisition thread only calls Push: it copies the packet into a
// bounded ring of preallocated slots and returns at once, never waiting for
// the disk; when the ring is full the profile is dropped and counted. The
// writer thread takes the packets in batches, appends them to the file and
// flushes at least every flush interval, so that a cut file keeps all but
// the last moments. A write error (disk full, permissions) ends the
// recording with a message; what was written stays readable.
//
// The writer thread sleeps until there is work: Push wakes it (through an
// eventfd, only when it sleeps; the write never blocks) and so does a stop;
// otherwise it wakes for the next flush or the duration limit, never to look.
//
// With a measurement job (RecorderSettings::job, SetJob) the writer thread
// also measures every profile it writes, right after writing it, and stores
// the results with it (docs/recording-format.md, "Measurement results"):
// each written profile is measured with the job in force when it was
// pushed. Measuring never happens on the acquisition thread; when the
// writer falls behind (the ring more than half full) it writes the profiles
// unmeasured, their values "no result" for that reason, rather than drop
// profiles.
//
// Threads: Push from one thread at a time (the acquisition thread);
// PushParameterBlock, SetJob, Start, RequestStop, Stop and Status from any
// other thread.
#pragma once

#include "model/measure/job.h"
#include "model/measure/measurer.h"
#include "model/recording/recording_file.h"
#include "model/recording/recording_format.h"
#include "model/stream_stats.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qz417::recording {

// When a recording ends by itself; 0 means no limit.
struct RecordingLimits {
    double seconds = 0;         // from the start
    std::uint64_t profiles = 0; // profiles written
    std::uint64_t bytes = 0;    // data bytes: kBytesPerProfile per profile
};

struct RecorderSettings {
    std::string path;
    RecordingHeader header;
    RecordingLimits limits;
    // Profiles the ring holds (kPacketSize + 16 bytes each) while the
    // writer is busy; 16384 are about 0.4 s at 40 kHz, 67 MB.
    std::size_t queueCapacity = 16384;
    // The longest time between two flushes; a cut file loses at most this
    // much (plus the batch being written).
    std::chrono::milliseconds flushInterval{500};
    // Measured on every profile from the first on, results stored with them.
    std::optional<measure::Job> job;
};

// The reason stored for a profile the writer had no time to measure.
inline constexpr char kNotMeasuredReason[] = "not measured: the recorder fell behind";

enum class RecorderState { Idle, Recording, Finished, Failed };
enum class StopReason { None, Requested, DurationLimit, CountLimit, SizeLimit, Error };

struct RecorderStatus {
    RecorderState state = RecorderState::Idle;
    StopReason reason = StopReason::None;
    std::string path;
    double elapsedSeconds = 0;
    std::uint64_t received = 0;   // profiles handed to Push while recording
    std::uint64_t written = 0;    // profiles in the file
    std::uint64_t bytes = 0;      // data bytes written (kBytesPerProfile each)
    std::uint64_t lost = 0;       // gaps in packetCount (qz417::StreamStats): lost on the way
                                  // here, by the network or this computer's receive buffer
    std::uint64_t outOfOrder = 0; // late packets and duplicates (qz417::StreamStats)
    std::uint64_t restarts = 0;   // the scanner's counter started again
    std::uint64_t dropped = 0;    // profiles the ring had no room for
    std::uint64_t measured = 0;   // profiles written with their results
    std::uint64_t unmeasured = 0; // profiles written unmeasured while a job was in force
    double measureSeconds = 0;    // writer's CPU measuring `measured` and storing their results
    std::string error;            // why the recording failed
    // A stop was asked for (RequestStop): the writer is finishing the file
    // (state still Recording until it is closed).
    bool finishing = false;
};

// "Stopped", "Duration limit reached", ... for messages.
const char *StopReasonText(StopReason reason);

class RecordingWriterThread {
public:
    RecordingWriterThread();
    ~RecordingWriterThread(); // stops
    RecordingWriterThread(const RecordingWriterThread &) = delete;
    RecordingWriterThread &operator=(const RecordingWriterThread &) = delete;

    // Creates the file and starts the writer thread. False with *error set
    // when the file cannot be created or a recording is already running.
    bool Start(const RecorderSettings &settings, std::string *error);

    // Acquisition thread: one 4100-byte packet and when it was received.
    // Never blocks and never touches the disk. Returns false when the packet
    // was not taken: no recording running, a limit reached, or the ring full
    // (then counted as dropped).
    bool Push(const std::uint8_t *packet, const ReceiveTime &time) noexcept;

    // A parameter block that was written to the scanner; the file notes it
    // before the next profile pushed after this call.
    void PushParameterBlock(const ParameterBlock &block, std::int64_t wallNs);

    // The measurement job for the profiles pushed after this call (none:
    // measure nothing from then on); the file stores its text with the first
    // profile it applies to. Throws measure::JobError when it does not
    // validate. Does nothing when not recording.
    void SetJob(std::optional<measure::Job> job);

    // Ends the recording: everything pushed so far is written, the file
    // closed. Waits for the writer thread. Does nothing when not recording.
    void Stop();
    // Asks the writer to end the recording and returns at once: no packet
    // is taken any more, what was taken is written and the file closed in
    // the background; Status says "finishing" until then. Stop, Start or the
    // destructor wait for the writer thread.
    void RequestStop();

    // Readable from any thread at any time.
    RecorderStatus Status() const;
    bool Active() const { return accepting_.load(std::memory_order_acquire); }

private:
    void Run();
    void Finish(StopReason reason); // writer thread: stop accepting, wait for Push to leave
    void Fail(const std::string &message);
    std::size_t WriteBatch();
    void WritePendingBlocks();
    void Measure(std::uint64_t first, std::size_t slot, std::size_t n, bool behind);
    // Writer thread: sleeps until Push or a stop wakes it, at most timeoutMs
    // (-1: no limit).
    void WaitForWork(int timeoutMs);
    void Wake() noexcept;

    // Settings of the running recording.
    RecordingLimits limits_;
    std::uint64_t maxProfiles_ = 0;             // profiles the limits allow
    StopReason countReason_ = StopReason::None; // which limit maxProfiles_ comes from
    std::int64_t deadlineNs_ = 0;               // monotonic; 0: none
    std::chrono::milliseconds flushInterval_{500};

    // The ring: slot i of capacity_ holds a packet and its time.
    std::size_t capacity_ = 0;
    std::unique_ptr<std::uint8_t[]> packets_;
    std::unique_ptr<ReceiveTime[]> times_;
    alignas(64) std::atomic<std::uint64_t> head_{0}; // next slot Push fills
    alignas(64) std::atomic<std::uint64_t> tail_{0}; // next slot the writer takes
    alignas(64) std::atomic<bool> accepting_{false};
    std::atomic<int> pushing_{0}; // Push calls between their check and publication
    std::atomic<std::uint64_t> received_{0}, dropped_{0}, lost_{0}, written_{0};
    std::atomic<std::uint64_t> outOfOrder_{0}, restarts_{0};
    std::atomic<std::uint64_t> measured_{0}, unmeasured_{0}, measureNs_{0};
    std::atomic<bool> stopRequested_{false};
    // The writer's wake-up: an eventfd written by Push (only while the
    // writer sleeps on it, announced by writerWaiting_) and by a stop.
    int wakeFd_ = -1;
    alignas(64) std::atomic<bool> writerWaiting_{false};
    StreamStats stream_; // Push only

    std::unique_ptr<RecordingWriter> writer_; // writer thread only, while running
    std::thread thread_;

    // Measuring, writer thread only: the job in force, its first output row.
    std::unique_ptr<measure::Measurer> measurer_;
    std::uint64_t firstOutput_ = 0;
    std::size_t outputs_ = 0;
    ProfileScale scale_;
    std::vector<ResultValue> rows_;
    std::array<ProfilePoint, kProfilePoints> points_{};

    struct PendingBlock {
        ParameterBlock block;
        std::int64_t wallNs;
        std::uint64_t beforeProfile; // written before this profile
    };
    mutable std::mutex mu_; // guards the members below
    std::vector<PendingBlock> pendingBlocks_;
    struct PendingJob {
        std::optional<measure::Job> job;
        std::int64_t wallNs;
        std::uint64_t beforeProfile; // applies from this profile on
    };
    std::vector<PendingJob> pendingJobs_;
    RecorderState state_ = RecorderState::Idle;
    StopReason reason_ = StopReason::None;
    std::string path_;
    std::string error_;
    std::chrono::steady_clock::time_point started_{};
    std::chrono::steady_clock::time_point ended_{};
};

} // namespace qz417::recording
