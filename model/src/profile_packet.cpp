#include "model/profile_packet.h"

#include "model/vector_clones.h"

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

// Four points at a time: the four divisions of each coordinate in one
// vector division (each correctly rounded, as DecodePoint's), the error
// value checked without branches. The same points as DecodePoint gives.
QZ417_VECTOR_CLONES
void DecodePacket(const ProfilePacket &packet, const ProfileScale &scale,
                  std::array<ProfilePoint, kProfilePoints> &out) {
    if (scale.discreteValue == 0) {
        out.fill(ProfilePoint{});
        return;
    }
    using vec::Doubles4;
    const double discrete = scale.discreteValue;
    const Doubles4 d = {discrete, discrete, discrete, discrete};
    const std::int32_t rx = scale.rangeXEmr, rz = scale.rangeZ;
    const std::uint8_t *bytes = packet.bytes() + 4;
    static_assert(kProfilePoints % 4 == 0);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kProfilePoints); i += 4) {
        std::int16_t zr[4], xr[4];
        for (std::size_t l = 0; l < 4; ++l) {
            const std::uint8_t *p = bytes + 4 * (i + l);
            zr[l] = static_cast<std::int16_t>(LoadU16(p));
            xr[l] = static_cast<std::int16_t>(LoadU16(p + 2));
        }
        // range * raw is exact in int32 and in double.
        const Doubles4 x =
            Doubles4{static_cast<double>(rx * xr[0]), static_cast<double>(rx * xr[1]),
                     static_cast<double>(rx * xr[2]), static_cast<double>(rx * xr[3])} /
            d;
        const Doubles4 z =
            Doubles4{static_cast<double>(rz * zr[0]), static_cast<double>(rz * zr[1]),
                     static_cast<double>(rz * zr[2]), static_cast<double>(rz * zr[3])} /
            d;
        for (std::size_t l = 0; l < 4; ++l) {
            const bool valid = xr[l] != scale.errorValue && zr[l] != scale.errorValue;
            out[i + l] = ProfilePoint{valid, valid ? static_cast<float>(x[l]) : 0.0f,
                                      valid ? static_cast<float>(z[l]) : 0.0f};
        }
    }
}

} // namespace qz417
