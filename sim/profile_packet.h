// Encoding of the 4100-byte profile packet: measurement counter, packet
// counter and 1024 raw points, each Z then X as signed 16-bit values.
#pragma once

#include "wire_format.h"

#include <array>
#include <cstdint>

namespace qz417::sim {

struct RawPoint {
    std::int16_t z = 0;
    std::int16_t x = 0;
};
using RawProfile = std::array<RawPoint, kPointCount>;
using PacketBytes = std::array<std::uint8_t, kPacketSize>;

void encodeProfilePacket(std::uint16_t measurementCount, std::uint16_t packetCount,
                         const RawProfile &points, std::uint8_t *out /* kPacketSize */);
inline void setPacketCount(std::uint8_t *packet, std::uint16_t packetCount) {
    putU16(packet + 2, packetCount);
}

} // namespace qz417::sim
