// Records the profiles of one source (app/source) to a recording file. Pure
// C++, no Qt.
//
// One queue between the acquisition thread and the disk: the recorder is a
// sink of its source's feed, so the acquisition thread's push copies the
// packet straight into the qz417::recording::RecordingWriterThread's bounded ring (never
// blocks, never allocates, never touches the disk) and wakes its writer
// thread if it sleeps. A full ring drops the profile and counts it. Stop
// returns at once; the writer finishes the file in the background and the
// status says so ("finishing") until it is closed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "model/recording/recording_writer_thread.h"
#include "source/profile_source.h"

namespace qz417 {

class SourceRecorder : private FeedSink {
public:
    SourceRecorder();
    ~SourceRecorder(); // stops and waits for the file to be closed
    SourceRecorder(const SourceRecorder &) = delete;
    SourceRecorder &operator=(const SourceRecorder &) = delete;

    // Subscribes to `source` and starts recording its profiles. The TCP
    // result worker asks for the current result as fast as it can, so it
    // receives the same packet many times over: from that source a packet
    // equal byte for byte to the one before it is a repeat of the same
    // measurement and is not recorded again. False with *error set when the
    // file cannot be created, the source has no room for another subscriber,
    // or a recording is running or still being finished.
    bool Start(const std::shared_ptr<ProfileSource> &source,
               const recording::RecorderSettings &settings, std::string *error);

    // Ends the recording without waiting: no profile is taken any more; the
    // writer writes those taken and closes the file in the background.
    void Stop();
    // Stop, and wait until the file is closed.
    void StopAndWait();

    recording::RecorderStatus Status() const { return writer_.Status(); }
    bool Running() const { return subscription_ != nullptr; }

    // The measurement job whose results the recording stores from the next
    // profile on (none: no more results); see RecordingWriterThread::SetJob.
    void SetJob(std::optional<measure::Job> job) { writer_.SetJob(std::move(job)); }

    // A parameter block written to the scanner while recording.
    void PushParameterBlock(const recording::ParameterBlock &block, std::int64_t wallNs) {
        writer_.PushParameterBlock(block, wallNs);
    }

private:
    void Take(const FeedPacket &packet) noexcept override; // the producer's thread

    recording::RecordingWriterThread writer_;
    std::unique_ptr<FeedSubscription> subscription_;
    bool skipRepeats_ = false;
    bool haveLast_ = false;                            // producer only
    std::array<std::uint8_t, kFeedPacketSize> last_{}; // producer only
};

// The 268-byte announcement as the recording keeps it: type (little-endian),
// address, MAC, description, reserved byte.
recording::Announcement AnnouncementBytes(std::uint16_t type, const std::uint8_t (&ip)[4],
                                          const std::uint8_t (&mac)[6],
                                          const std::uint8_t (&description)[255]);

} // namespace qz417
