// The synthetic profile the benchmarks push where no emulator sends one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "qz417link.h"

namespace qz417::bench {

// A profile of 1024 valid points under the emulator's scale that changes
// with n; both counters are n.
inline void MakePacket(std::array<std::uint8_t, QZ417_PACKET_SIZE> &p, unsigned n) {
    p[0] = static_cast<std::uint8_t>(n);
    p[1] = static_cast<std::uint8_t>(n >> 8);
    p[2] = p[0];
    p[3] = p[1];
    for (int i = 0; i < 1024; ++i) {
        const auto x = static_cast<std::int16_t>((i - 512) * 16 + 1); // odd: never 0
        const auto z =
            static_cast<std::int16_t>(8192 + ((i * 37 + static_cast<int>(n) * 11) % 2000));
        const auto base = static_cast<std::size_t>(4 + 4 * i);
        p[base] = static_cast<std::uint8_t>(z);
        p[base + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(z) >> 8);
        p[base + 2] = static_cast<std::uint8_t>(x);
        p[base + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
    }
}

} // namespace qz417::bench
