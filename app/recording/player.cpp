#include "recording/player.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "model/recording/recording_export.h"

namespace qz417 {

namespace {

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::size_t kBatch = 64;

} // namespace

Player::Player(std::shared_ptr<ProfileSource> source) : source_(std::move(source)) {}

Player::~Player() {
    Close();
}

bool Player::Open(const std::string &path, std::string *error) {
    Close();
    try {
        reader_ = std::make_unique<recording::RecordingReader>(path);
    } catch (const std::exception &e) {
        *error = e.what();
        return false;
    }
    profiles_ = reader_->profiles();
    announcement_ = reader_->announcement();
    scale_ = recording::RecordedScale(announcement_);
    std::optional<DescriptionBytes> description;
    if (announcement_) {
        description.emplace();
        std::copy_n(announcement_->data() + 12, kDescriptionSize, description->begin());
    }
    source_->SetDescription(description, scale_);
    // The source's statistics count what is played from this recording on.
    source_->NewStatistics();
    {
        std::lock_guard lock(mu_);
        error_.clear();
    }
    next_ = 0;
    haveCurrent_ = false;
    shown_ = -1;
    pushed_ = 0;
    quit_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Player::Close() {
    {
        std::lock_guard lock(mu_);
        quit_ = true;
        playing_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    reader_.reset();
    profiles_ = 0;
    announcement_.reset();
}

void Player::Play() {
    {
        std::lock_guard lock(mu_);
        if (next_ >= profiles_)
            next_ = 0; // from the start again
        reanchor_ = true;
        playing_ = true;
    }
    wake_.notify_all();
}

void Player::Pause() {
    std::lock_guard lock(mu_);
    playing_ = false;
}

void Player::SetSpeed(double factor) {
    std::lock_guard lock(mu_);
    speed_ = factor;
    reanchor_ = true;
}

void Player::Step(int delta) {
    std::lock_guard lock(mu_);
    if (profiles_ == 0)
        return;
    playing_ = false;
    const std::int64_t from = shown_.load();
    std::int64_t to = from < 0 && delta > 0 ? 0 : from + delta;
    to = std::clamp<std::int64_t>(to, 0, static_cast<std::int64_t>(profiles_) - 1);
    Show(static_cast<std::uint64_t>(to));
}

void Player::Seek(std::uint64_t index) {
    std::lock_guard lock(mu_);
    if (profiles_ == 0)
        return;
    Show(std::min(index, profiles_ - 1));
    reanchor_ = true;
}

void Player::Show(std::uint64_t index) {
    std::array<std::uint8_t, kProfilePacketSize> packet{};
    recording::ReceiveTime time;
    try {
        reader_->Read(index, 1, packet.data(), &time);
    } catch (const std::exception &e) {
        error_ = e.what();
        return;
    }
    source_->Push(packet.data(), time);
    ++pushed_;
    current_ = packet;
    haveCurrent_ = true;
    shown_ = static_cast<std::int64_t>(index);
    next_ = index + 1;
}

std::string Player::error() const {
    std::lock_guard lock(mu_);
    return error_;
}

bool Player::Current(std::array<std::uint8_t, kProfilePacketSize> &out, std::int64_t *index) const {
    std::lock_guard lock(mu_);
    if (!haveCurrent_)
        return false;
    out = current_;
    *index = shown_.load();
    return true;
}

void Player::Run() {
    std::vector<std::uint8_t> packets(kBatch * kProfilePacketSize);
    std::vector<recording::ReceiveTime> times(kBatch);
    std::unique_lock lock(mu_);
    while (!quit_) {
        if (!playing_ || next_ >= profiles_) {
            if (next_ >= profiles_)
                playing_ = false; // at the end
            wake_.wait_for(lock, std::chrono::milliseconds(50));
            continue;
        }
        const std::uint64_t first = next_;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBatch, profiles_ - first));
        try {
            reader_->Read(first, n, packets.data(), times.data());
        } catch (const std::exception &e) {
            error_ = e.what(); // a damaged part of the file: playing ends here
            playing_ = false;
            continue;
        }
        for (std::size_t i = 0; i < n && playing_ && !quit_ && next_ == first + i; ++i) {
            if (reanchor_) {
                anchorRecordedNs_ = times[i].monotonicNs;
                anchorWallNs_ = NowNs();
                reanchor_ = false;
            }
            if (speed_ > 0) {
                const double recorded =
                    static_cast<double>(times[i].monotonicNs - anchorRecordedNs_);
                const auto due = anchorWallNs_ + static_cast<std::int64_t>(recorded / speed_);
                const std::int64_t wait = due - NowNs();
                if (wait > 0) {
                    // Wakes early for Pause, Seek, a new speed or Close.
                    wake_.wait_for(
                        lock, std::chrono::nanoseconds(std::min<std::int64_t>(wait, 50'000'000)));
                    if (next_ != first + i || reanchor_ || !playing_)
                        break;
                    if (due > NowNs()) {
                        --i; // not yet due
                        continue;
                    }
                }
            }
            const std::uint8_t *p = packets.data() + i * kProfilePacketSize;
            source_->Push(p, times[i]);
            ++pushed_;
            std::copy(p, p + kProfilePacketSize, current_.begin());
            haveCurrent_ = true;
            shown_ = static_cast<std::int64_t>(first + i);
            next_ = first + i + 1;
        }
        // Between batches the window thread gets its turn (Current, Step,
        // Seek), also when playing as fast as possible.
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
    }
}

} // namespace qz417
