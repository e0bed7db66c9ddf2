#include "model/profile_packet.h"

namespace qz417 {

namespace {

std::uint16_t LoadU16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// range * raw is at most 65535 * 32768 in magnitude: exact in int32 (and in double).
float Scale(std::uint16_t range, std::int16_t raw, std::uint16_t discrete) {
    const std::int32_t product = static_cast<std::int32_t>(range) * raw;
    return static_cast<float>(static_cast<double>(product) / static_cast<double>(discrete));
}

} // namespace

std::uint16_t ProfilePacket::measurementCount() const {
    return LoadU16(bytes_);
}

std::uint16_t ProfilePacket::packetCount() const {
    return LoadU16(bytes_ + 2);
}

RawPoint ProfilePacket::point(int i) const {
    const std::uint8_t *p = bytes_ + 4 + 4 * i;
    RawPoint raw;
    raw.zRaw = static_cast<std::int16_t>(LoadU16(p));
    raw.xRaw = static_cast<std::int16_t>(LoadU16(p + 2));
    return raw;
}

ProfilePoint DecodePoint(RawPoint raw, const ProfileScale &scale) {
    ProfilePoint point;
    if (raw.xRaw == scale.errorValue || raw.zRaw == scale.errorValue)
        return point;
    // A device that announces a discrete value of 0 has no usable scale.
    if (scale.discreteValue == 0)
        return point;
    point.valid = true;
    point.x = Scale(scale.rangeXEmr, raw.xRaw, scale.discreteValue);
    point.z = Scale(scale.rangeZ, raw.zRaw, scale.discreteValue);
    return point;
}

void DecodePacket(const ProfilePacket &packet, const ProfileScale &scale,
                  std::array<ProfilePoint, kProfilePoints> &out) {
    for (int i = 0; i < kProfilePoints; ++i)
        out[static_cast<std::size_t>(i)] = DecodePoint(packet.point(i), scale);
}

} // namespace qz417
