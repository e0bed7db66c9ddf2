// Profiles for the "Measure" page's tests: a belt at Z = 125 mm on the left
// half and a box top on the right half whose height the caller chooses.
#pragma once

#include <array>
#include <cstdint>

#include "model/profile_packet.h"

namespace measure_test {

using Packet = std::array<std::uint8_t, qz417::kProfilePacketSize>;

inline void SetPoint(Packet &p, int i, std::int16_t z, std::int16_t x) {
    const auto base = static_cast<std::size_t>(4 + 4 * i);
    p[base] = static_cast<std::uint8_t>(z);
    p[base + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(z) >> 8);
    p[base + 2] = static_cast<std::uint8_t>(x);
    p[base + 3] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(x) >> 8);
}

// Profile n under the default scale (230 mm across 16384 units in X, 250 mm
// in Z): X from -112 to +112 mm (odd raw values, never the error value 0),
// the box top at zBoxRaw units on X > 0.
inline Packet Profile(std::uint16_t n, std::int16_t zBoxRaw) {
    Packet p{};
    p[0] = static_cast<std::uint8_t>(n);
    p[1] = static_cast<std::uint8_t>(n >> 8);
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        const auto x = static_cast<std::int16_t>(-8001 + 16 * i);
        SetPoint(p, i, x < 0 ? std::int16_t{8192} : zBoxRaw, x);
    }
    return p;
}

} // namespace measure_test
