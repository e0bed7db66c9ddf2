// Cheap, reproducible pseudo-random numbers for the synthetic scene: the same
// (seed, index) always gives the same value, so a measurement can be rebuilt
// exactly and tests can rely on it.
#pragma once

#include <cstdint>

namespace qz417::sim {

inline std::uint64_t mix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Uniform in [0, 1).
inline double uniform01(std::uint64_t seed, std::uint64_t index) {
    return static_cast<double>(mix64(seed ^ mix64(index)) >> 11) * 0x1.0p-53;
}

// Roughly normal with mean 0 and standard deviation 1 (sum of four uniforms).
inline double roughGauss(std::uint64_t seed, std::uint64_t index) {
    std::uint64_t h = mix64(seed ^ mix64(index));
    double s = 0;
    for (int i = 0; i < 4; ++i)
        s += static_cast<double>((h >> (16 * i)) & 0xFFFF) / 65536.0;
    return (s - 2.0) * 1.7320508;
}

} // namespace qz417::sim
