#include "source/profile_source.h"

namespace qz417 {

ProfileSource::ProfileSource(FeedSource kind, std::string name)
    : kind_(kind), name_(std::move(name)), feed_(ProfileFeed::Create()),
      fixedScale_(Pack(ProfileScale{})) {}

std::uint64_t ProfileSource::Pack(const ProfileScale &s) {
    return static_cast<std::uint64_t>(s.rangeXEmr) | static_cast<std::uint64_t>(s.rangeZ) << 16 |
           static_cast<std::uint64_t>(s.discreteValue) << 32 |
           static_cast<std::uint64_t>(static_cast<std::uint16_t>(s.errorValue)) << 48;
}

ProfileScale ProfileSource::Unpack(std::uint64_t v) {
    ProfileScale s;
    s.rangeXEmr = static_cast<std::uint16_t>(v);
    s.rangeZ = static_cast<std::uint16_t>(v >> 16);
    s.discreteValue = static_cast<std::uint16_t>(v >> 32);
    s.errorValue = static_cast<std::int16_t>(static_cast<std::uint16_t>(v >> 48));
    return s;
}

void ProfileSource::SetDescription(const std::optional<DescriptionBytes> &description,
                                   const ProfileScale &scale) {
    {
        std::lock_guard lock(mu_);
        description_ = description;
    }
    fixedScale_.store(Pack(scale));
    follow_.store(nullptr);
}

ProfileScale ProfileSource::scale() const {
    if (const ScaleFunction f = follow_.load())
        return f();
    return Unpack(fixedScale_.load());
}

std::optional<DescriptionBytes> ProfileSource::description() const {
    std::lock_guard lock(mu_);
    return description_;
}

std::shared_ptr<StreamHealth> ProfileSource::NewStatistics() {
    auto made = std::make_shared<StreamHealth>();
    std::lock_guard lock(mu_);
    statistics_.push_back(made);
    observing_.store(made.get());
    return made;
}

std::shared_ptr<StreamHealth> ProfileSource::statistics() const {
    std::lock_guard lock(mu_);
    return statistics_.empty() ? nullptr : statistics_.back();
}

void ProfileSource::Push(const std::uint8_t *packet, const ReceiveTime &time) noexcept {
    feed_->Push(packet, kind_, time, scale());
    if (StreamHealth *h = observing_.load(std::memory_order_acquire))
        h->Observe(ProfilePacket(packet).packetCount());
}

ProfileSources ProfileSources::Create(ProfileSource::ScaleFunction liveScale) {
    ProfileSources s;
    s.tcp = std::make_shared<ProfileSource>(FeedSource::TcpResult, "Result viewer");
    s.udp = std::make_shared<ProfileSource>(FeedSource::Udp, "UDP");
    s.playback = std::make_shared<ProfileSource>(FeedSource::Playback, "Playback");
    s.tcp->FollowScale(liveScale);
    s.udp->FollowScale(liveScale);
    return s;
}

} // namespace qz417
