#include "profile_packet.h"

namespace qz417::sim {

void encodeProfilePacket(std::uint16_t measurementCount, std::uint16_t packetCount,
                         const RawProfile &points, std::uint8_t *out) {
    putU16(out, measurementCount);
    putU16(out + 2, packetCount);
    std::uint8_t *p = out + 4;
    for (const RawPoint &pt : points) {
        putI16(p, pt.z);
        putI16(p + 2, pt.x);
        p += 4;
    }
}

} // namespace qz417::sim
