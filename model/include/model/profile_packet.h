// One measured profile (4100 bytes) and the conversion of its raw points to
// millimetres. Pure code: no Qt, no threads, usable by the program, the
// command-line tool and the tests alike.
#pragma once

#include <array>
#include <cstdint>

namespace qz417 {

constexpr int kProfilePoints = 1024;
constexpr int kProfilePacketSize = 4100;

// The scale of the shown device: taken from its description.
struct ProfileScale {
    std::uint16_t rangeXEmr = 230;
    std::uint16_t rangeZ = 250;
    std::uint16_t discreteValue = 16384;
    std::int16_t errorValue = 0;
    bool operator==(const ProfileScale &) const = default;
};

struct RawPoint {
    std::int16_t zRaw = 0;
    std::int16_t xRaw = 0;
};

struct ProfilePoint {
    bool valid = false;
    float x = 0.0f; // millimetres
    float z = 0.0f; // millimetres
};

// Read-only view of a packet's bytes (little-endian fields, no copy).
class ProfilePacket {
public:
    explicit ProfilePacket(const std::uint8_t *bytes) : bytes_(bytes) {}
    std::uint16_t measurementCount() const;
    std::uint16_t packetCount() const;
    RawPoint point(int i) const; // 0 <= i < kProfilePoints
    const std::uint8_t *bytes() const { return bytes_; }

private:
    const std::uint8_t *bytes_;
};

// Invalid when either coordinate equals the error value, or when the scale's
// discrete value is 0; otherwise range * raw / discreteValue, rounded once to float.
ProfilePoint DecodePoint(RawPoint raw, const ProfileScale &scale);

// All 1024 points in packet order.
void DecodePacket(const ProfilePacket &packet, const ProfileScale &scale,
                  std::array<ProfilePoint, kProfilePoints> &out);

} // namespace qz417
