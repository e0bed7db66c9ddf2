// A recording (the HDF5 file of docs/recording-format.md) played back as the
// emulated scanner's measurements, read through the program's recording
// reader (model/recording), the one part of the program the emulator uses.
// Packets are replayed byte for byte, at their recorded timing or at a fixed
// rate, once or looping.
//
// Positions are counted from the start of the replay across loops: position
// g is packet g mod size().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qz417::recording {
class RecordingReader;
}

namespace qz417::sim {

class RecordingReplay {
public:
    // rateHz 0: the recorded timing. Returns null with *error on failure
    // (missing, not a recording, newer format version, no profile).
    static std::shared_ptr<RecordingReplay> open(const std::string &path, double rateHz, bool loop,
                                                 std::string *error);
    ~RecordingReplay();
    RecordingReplay(const RecordingReplay &) = delete;
    RecordingReplay &operator=(const RecordingReplay &) = delete;

    std::uint64_t size() const { return size_; }
    bool loops() const { return loop_; }
    const std::optional<std::array<std::uint8_t, 268>> &announcement() const {
        return announcement_;
    }
    const std::optional<std::array<std::uint8_t, 512>> &parameterBlock() const { return block_; }

    // How many positions are due `seconds` after the start of the replay
    // (the first at once); never more than size() when not looping.
    std::uint64_t dueCount(double seconds) const;
    // When position g is due, in seconds after the start.
    double dueTime(std::uint64_t g) const;
    bool finished(std::uint64_t g) const { return !loop_ && g >= size_; }

    // Copies the 4100 bytes of position g. Thread-safe. False on a read error.
    bool packet(std::uint64_t g, std::uint8_t *out);

private:
    RecordingReplay() = default;
    bool loadBlock(std::uint64_t first); // mu_ held

    std::unique_ptr<qz417::recording::RecordingReader> reader_; // used under mu_ after open
    std::uint64_t size_ = 0;
    double rateHz_ = 0;
    bool loop_ = true;
    std::vector<double> offsets_; // seconds of packet i after packet 0 (recorded timing)
    double period_ = 0;           // seconds of one pass
    std::optional<std::array<std::uint8_t, 268>> announcement_;
    std::optional<std::array<std::uint8_t, 512>> block_;

    std::mutex mu_;
    std::vector<std::uint8_t> cache_; // packets [cacheFirst_, cacheFirst_ + cacheCount_)
    std::uint64_t cacheFirst_ = 0, cacheCount_ = 0;
};

} // namespace qz417::sim
