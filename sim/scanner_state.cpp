#include "scanner_state.h"

#include "image_renderer.h"
#include "noise.h"
#include "state_file.h"

#include <algorithm>
#include <cstring>

namespace qz417::sim {

namespace {
constexpr auto kMinImageInterval = std::chrono::milliseconds(33);

Ipv4 scannerAddress(int index) {
    return Ipv4{{127, 0, 0, static_cast<std::uint8_t>(index + 1)}};
}

SceneGeometry geometryFor(const EmulatorOptions &o) {
    SceneGeometry g;
    g.rangeZ = o.description.rangeZ;
    g.rangeXSmr = o.description.rangeXSmr;
    g.rangeXEmr = o.description.rangeXEmr;
    g.mountTiltDeg = o.mountTiltDeg;
    return g;
}

// A replayed recording's announcement, with this scanner's address.
Announcement replayedAnnouncement(const std::array<std::uint8_t, kAnnouncementSize> &recorded,
                                  const Ipv4 &address) {
    Announcement a = recorded;
    std::copy(address.octets.begin(), address.octets.end(), a.begin() + 2);
    return a;
}

// A replayed recording's parameter block, with this scanner's own address
// and the factory block's stream destination (loopback).
ConfigBlock replayedConfig(const std::array<std::uint8_t, kConfigSize> &recorded,
                           const ConfigBlock &factory, const Ipv4 &address) {
    ConfigBlock b = recorded;
    writeAddress(b, cfg::netAddress, address);
    writeAddress(b, cfg::udpAddress, readAddress(factory, cfg::udpAddress));
    return b;
}

Announcement announcementFor(int index, const EmulatorOptions &options, const Ipv4 &address,
                             const RecordingReplay *replay) {
    if (replay && replay->announcement())
        return replayedAnnouncement(*replay->announcement(), address);
    return encodeAnnouncement(
        options.description.type, address, macFor(index),
        encodeDescription(options.description, serialFor(options.description, index)));
}

ConfigBlock defaultsFor(int index, const EmulatorOptions &options, const Ipv4 &address,
                        const RecordingReplay *replay) {
    const ConfigBlock factory = defaultConfig(index, address, options.udpHz);
    if (replay && replay->parameterBlock())
        return replayedConfig(*replay->parameterBlock(), factory, address);
    return factory;
}
} // namespace

ScannerState::ScannerState(int index, const EmulatorOptions &options, Clock::time_point start,
                           std::shared_ptr<RecordingReplay> replay)
    : index_(index), options_(options), replay_(std::move(replay)), start_(start),
      address_(scannerAddress(index)),
      announcement_(announcementFor(index, options, address_, replay_.get())),
      scene_(geometryFor(options)), defaults_(defaultsFor(index, options, address_, replay_.get())),
      statePath_(options.stateDir.empty() ? std::string()
                                          : stateFilePath(options.stateDir, address_)),
      config_(defaults_), stored_(defaults_), clock_(start, 0),
      faults_(options.faultScanner < 0 || options.faultScanner == index ? options.faults
                                                                        : FaultOptions{}) {
    packetCount_ = options.counterStart;
    if (!statePath_.empty()) {
        if (auto saved = loadBlock(statePath_)) {
            config_ = *saved;
            stored_ = *saved;
        }
    }
    std::lock_guard lock(mu_);
    applyLocked(config_);
}

double ScannerState::measurementRate(const ConfigFields &f) const {
    if (f.measureSync)
        return options_.triggerHz > 0 ? options_.triggerHz / f.syncDivider : 0;
    return options_.measurementRateHz;
}

void ScannerState::applyLocked(const ConfigBlock &block) {
    config_ = block;
    fields_ = decodeConfig(block);
    clock_.setRate(measurementRate(fields_), Clock::now());
    generation_.fetch_add(1);
}

double ScannerState::secondsSinceStart(Clock::time_point now) const {
    return std::chrono::duration<double>(now - start_).count();
}

ConfigBlock ScannerState::config() const {
    std::lock_guard lock(mu_);
    return config_;
}

void ScannerState::setConfig(const ConfigBlock &block) {
    std::lock_guard lock(mu_);
    applyLocked(block);
}

ConfigBlock ScannerState::storedConfig() const {
    std::lock_guard lock(mu_);
    return stored_;
}

std::array<std::uint8_t, kAckSize> ScannerState::flush(std::uint32_t mode, std::string *warning) {
    std::lock_guard lock(mu_);
    if (mode == 0) {
        stored_ = config_;
        if (!statePath_.empty() && !saveBlock(statePath_, stored_, warning))
            return {0, 0};
        return {1, 0};
    }
    if (mode == 1) {
        applyLocked(defaults_);
        return {1, 0};
    }
    return {0, 0};
}

const Measurement &ScannerState::currentLocked(Clock::time_point now, std::uint64_t *index) {
    const std::uint64_t n = clock_.count(now);
    const std::uint64_t gen = generation_.load();
    if (n != measuredIndex_ || gen != measuredGeneration_) {
        measurement_ = measure(scene_, fields_, options_.description, n, secondsSinceStart(now));
        measuredIndex_ = n;
        measuredGeneration_ = gen;
        encodeProfilePacket(static_cast<std::uint16_t>(n + options_.counterStart), 0,
                            measurement_.points, packet_.data());
    }
    if (index)
        *index = n;
    return measurement_;
}

std::uint64_t ScannerState::measurementCount(Clock::time_point now) {
    std::lock_guard lock(mu_);
    return clock_.count(now);
}

std::uint64_t ScannerState::replayDue(Clock::time_point now) const {
    return replay_->dueCount(secondsSinceStart(now));
}

std::uint64_t ScannerState::replayCursor() const {
    std::lock_guard lock(mu_);
    return replayCursor_;
}

void ScannerState::replayFollow(Clock::time_point now) {
    const std::uint64_t due = replayDue(now);
    std::lock_guard lock(mu_);
    replayCursor_ = std::max(replayCursor_, due);
}

ScannerState::Clock::time_point ScannerState::replayDueTime(std::uint64_t position) const {
    return start_ + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(replay_->dueTime(position)));
}

void ScannerState::profilePacket(std::uint8_t *out, Clock::time_point now) {
    if (replay_) {
        // The newest recorded profile by now (the first before any is due).
        const std::uint64_t due = replayDue(now);
        if (!replay_->packet(due > 0 ? due - 1 : 0, out))
            std::memset(out, 0, kPacketSize);
        return;
    }
    std::lock_guard lock(mu_);
    currentLocked(now, nullptr);
    std::memcpy(out, packet_.data(), kPacketSize);
    setPacketCount(out, packetCount_.load());
}

void ScannerState::streamPackets(std::uint8_t *buffers, int n, Clock::time_point now) {
    if (replay_) {
        std::uint64_t first;
        {
            std::lock_guard lock(mu_);
            first = replayCursor_;
            replayCursor_ += static_cast<std::uint64_t>(n);
        }
        for (int i = 0; i < n; ++i) {
            std::uint8_t *out = buffers + static_cast<std::size_t>(i) * kPacketSize;
            if (!replay_->packet(first + static_cast<std::uint64_t>(i), out))
                std::memset(out, 0, kPacketSize);
        }
        return;
    }
    std::lock_guard lock(mu_);
    currentLocked(now, nullptr);
    for (int i = 0; i < n; ++i) {
        std::uint8_t *out = buffers + static_cast<std::size_t>(i) * kPacketSize;
        std::memcpy(out, packet_.data(), kPacketSize);
        setPacketCount(out, packetCount_.fetch_add(1));
    }
}

std::shared_ptr<const Image> ScannerState::takeImage(Clock::time_point now) {
    std::lock_guard lock(mu_);
    const std::uint64_t gen = generation_.load();
    if (image_ && gen == imageGeneration_ && now - imageTime_ < kMinImageInterval)
        return image_;
    auto img = std::make_shared<Image>(kImageSize);
    renderImage(scene_, fields_, mix64(++imageSerial_ ^ static_cast<std::uint64_t>(index_)),
                secondsSinceStart(now), img->data());
    image_ = std::move(img);
    imageTime_ = now;
    imageGeneration_ = gen;
    return image_;
}

std::shared_ptr<const Image> ScannerState::lastImage(Clock::time_point now) {
    {
        std::lock_guard lock(mu_);
        if (image_)
            return image_;
    }
    return takeImage(now);
}

std::int16_t ScannerState::angle(Clock::time_point now) {
    std::lock_guard lock(mu_);
    if (faults_.angleReply)
        return *faults_.angleReply;
    return currentLocked(now, nullptr).angleUnits;
}

FaultOptions ScannerState::faults() const {
    std::lock_guard lock(mu_);
    return faults_;
}

void ScannerState::setFaults(const FaultOptions &f) {
    std::lock_guard lock(mu_);
    faults_ = f;
}

ScannerState::StreamTarget ScannerState::streamTarget() const {
    std::lock_guard lock(mu_);
    StreamTarget t;
    t.address = fields_.udpAddress;
    t.port = fields_.udpPort;
    t.rateHz = options_.streamRateHz > 0 ? options_.streamRateHz : fields_.udpFrequency;
    return t;
}

} // namespace qz417::sim
