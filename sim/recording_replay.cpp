#include "recording_replay.h"

#include "model/recording/recording_file.h"
#include "wire_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace qz417::sim {

namespace {

constexpr std::uint64_t kCacheProfiles = 1024; // 4 MB read at a time

static_assert(qz417::recording::kPacketSize == kPacketSize);

} // namespace

std::shared_ptr<RecordingReplay> RecordingReplay::open(const std::string &path, double rateHz,
                                                       bool loop, std::string *error) {
    auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        return nullptr;
    };
    std::shared_ptr<RecordingReplay> r(new RecordingReplay());
    r->rateHz_ = rateHz;
    r->loop_ = loop;
    std::vector<qz417::recording::ReceiveTime> times;
    try {
        r->reader_ = std::make_unique<qz417::recording::RecordingReader>(path);
        r->size_ = r->reader_->profiles();
        if (r->size_ == 0)
            return fail(path + ": the recording holds no profile");
        times.resize(r->size_);
        r->reader_->Read(0, r->size_, nullptr, times.data());
        r->announcement_ = r->reader_->announcement();
        const std::vector<qz417::recording::ParameterBlockEntry> blocks =
            r->reader_->parameterBlocks();
        if (!blocks.empty())
            r->block_ = blocks.front().block;
    } catch (const qz417::recording::RecordingError &e) {
        return fail(e.what()); // names the file and the reason
    } catch (const std::bad_alloc &) {
        return fail(path + ": too large to replay (out of memory)");
    }
    r->offsets_.resize(r->size_);
    const std::int64_t origin = times[0].monotonicNs;
    for (std::uint64_t i = 0; i < r->size_; ++i) // never backwards, even if the clock was
        r->offsets_[i] =
            std::max(i ? r->offsets_[i - 1] : 0.0, (times[i].monotonicNs - origin) * 1e-9);
    const double span = r->offsets_.back();
    r->period_ =
        rateHz > 0 ? r->size_ / rateHz : span + (r->size_ > 1 ? span / (r->size_ - 1) : 0.001);
    if (!(r->period_ > 0))
        r->period_ = 0.001 * r->size_; // all at one instant: one per millisecond
    return r;
}

RecordingReplay::~RecordingReplay() = default;

std::uint64_t RecordingReplay::dueCount(double seconds) const {
    if (seconds < 0)
        return 0;
    const double loops = std::floor(seconds / period_);
    if (!loop_ && loops >= 1)
        return size_;
    const double within = seconds - loops * period_;
    std::uint64_t inPass;
    if (rateHz_ > 0)
        inPass = std::min<std::uint64_t>(size_, static_cast<std::uint64_t>(within * rateHz_) + 1);
    else
        inPass = static_cast<std::uint64_t>(
            std::upper_bound(offsets_.begin(), offsets_.end(), within) - offsets_.begin());
    return static_cast<std::uint64_t>(loops) * size_ + inPass;
}

double RecordingReplay::dueTime(std::uint64_t g) const {
    const std::uint64_t pass = g / size_, i = g % size_;
    const double inPass = rateHz_ > 0 ? i / rateHz_ : offsets_[i];
    return pass * period_ + inPass;
}

bool RecordingReplay::loadBlock(std::uint64_t first) {
    const std::uint64_t n = std::min(kCacheProfiles, size_ - first);
    try {
        cache_.resize(n * kPacketSize);
        reader_->Read(first, static_cast<std::size_t>(n), cache_.data(), nullptr);
    } catch (const std::exception &) {
        cacheCount_ = 0;
        return false;
    }
    cacheFirst_ = first;
    cacheCount_ = n;
    return true;
}

bool RecordingReplay::packet(std::uint64_t g, std::uint8_t *out) {
    const std::uint64_t i = g % size_;
    std::lock_guard lock(mu_);
    if ((i < cacheFirst_ || i >= cacheFirst_ + cacheCount_) && !loadBlock(i))
        return false;
    std::memcpy(out, cache_.data() + (i - cacheFirst_) * kPacketSize, kPacketSize);
    return true;
}

} // namespace qz417::sim
