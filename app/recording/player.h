// Plays a recording back into the playback source (app/source), one more
// source of profiles (FeedSource::Playback). Pure C++, no Qt.
//
// Opening a recording gives the source the recording's description and
// scale; every profile pushed carries them, and nothing of the connected
// scanner (its scale, its pages) changes. A thread of its own reads the file
// in batches and pushes each profile at its recorded time divided by the
// speed (or as fast as it can), never waiting on a subscriber. The window
// shows Current() on its own timer. Play, Pause, Step, Seek and SetSpeed
// come from the window thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "model/profile_packet.h"
#include "model/recording/recording_file.h"
#include "source/profile_source.h"

namespace qz417 {

class Player {
public:
    explicit Player(std::shared_ptr<ProfileSource> source);
    ~Player();
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    // Opens a recording (paused, before its first profile); false with
    // *error set when it is no readable recording.
    bool Open(const std::string &path, std::string *error);
    void Close();
    bool IsOpen() const { return reader_ != nullptr; }

    std::uint64_t profiles() const { return profiles_; }
    const std::optional<recording::Announcement> &announcement() const { return announcement_; }
    // The scale of the points from the recorded announcement's description.
    ProfileScale scale() const { return scale_; }

    void Play();
    void Pause();
    bool Playing() const { return playing_.load(); }
    // Paused: shows the profile `delta` after (or before) the shown one.
    void Step(int delta);
    // Shows profile `index` (clamped); playing goes on from there.
    void Seek(std::uint64_t index);
    // Times faster than recorded; 0 plays as fast as possible.
    void SetSpeed(double factor);

    // The index of the profile shown last, -1 before any.
    std::int64_t shown() const { return shown_.load(); }
    // Profiles pushed into the source since Open.
    std::uint64_t pushed() const { return pushed_.load(); }
    // Why playing stopped before the end (a profile that cannot be read);
    // empty when it did not. Cleared by Open.
    std::string error() const;
    ProfileSource &source() { return *source_; }
    // The profile shown last; false before any.
    bool Current(std::array<std::uint8_t, kProfilePacketSize> &out, std::int64_t *index) const;

private:
    void Run();
    void Show(std::uint64_t index); // reads, pushes and makes it current; mu_ held

    std::shared_ptr<ProfileSource> source_;
    std::string error_; // mu_
    std::unique_ptr<recording::RecordingReader> reader_;
    std::uint64_t profiles_ = 0;
    std::optional<recording::Announcement> announcement_;
    ProfileScale scale_;

    mutable std::mutex mu_; // reader_ reads, current_, next_, anchors
    std::condition_variable wake_;
    std::uint64_t next_ = 0; // next profile to play
    std::array<std::uint8_t, kProfilePacketSize> current_{};
    bool haveCurrent_ = false;
    double speed_ = 1.0;
    // Playing: profile anchorIndex_ (recorded at anchorRecordedNs_) was due at anchorWallNs_.
    std::int64_t anchorRecordedNs_ = 0;
    std::int64_t anchorWallNs_ = 0;
    bool reanchor_ = true;

    std::atomic<bool> playing_{false};
    std::atomic<bool> quit_{false};
    std::atomic<std::int64_t> shown_{-1};
    std::atomic<std::uint64_t> pushed_{0};
    std::thread thread_;
};

} // namespace qz417
