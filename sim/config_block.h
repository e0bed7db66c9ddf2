// The 512-byte parameter block as the emulated scanner interprets it: field
// offsets, the factory defaults and a decoded view of the fields that change
// what the scanner does.
#pragma once

#include "wire_format.h"

#include <array>
#include <cstdint>
#include <string>

namespace qz417::sim {

using ConfigBlock = std::array<std::uint8_t, kConfigSize>;

namespace cfg {
inline constexpr std::size_t laserLevel = 0;
inline constexpr std::size_t integration = 1; // u16, microseconds minus one
inline constexpr std::size_t windowLeft = 5;
inline constexpr std::size_t windowWidth = 6;
inline constexpr std::size_t windowTop = 7;
inline constexpr std::size_t windowHeight = 8;
inline constexpr std::size_t windowMode = 9;
inline constexpr std::size_t angle = 10; // i16, 32767 units are 60 degrees
inline constexpr std::size_t syncFlags = 12;
inline constexpr std::size_t syncDivider = 14;
inline constexpr std::size_t syncDelay = 15;
inline constexpr std::size_t analogPoints = 16;
inline constexpr std::size_t analogTime = 17;
inline constexpr std::size_t netAddress = 18; // last octet first
inline constexpr std::size_t netMask = 22;
inline constexpr std::size_t udpAddress = 26;
inline constexpr std::size_t udpPort = 30;
inline constexpr std::size_t udpFrequency = 32;
inline constexpr std::size_t firstFreeByte = 33; // 33..511 carry no meaning here
inline constexpr std::uint8_t measureSyncBit = 0x04;
} // namespace cfg

// An IPv4 address as four octets in dotted order (octets[0] is the first number).
struct Ipv4 {
    std::array<std::uint8_t, 4> octets{};
    std::uint32_t hostOrder() const; // first octet in the most significant byte
    std::string text() const;        // "a.b.c.d"
    bool isLoopback() const { return octets[0] == 127; }
    bool operator==(const Ipv4 &) const = default;
};

// The block stores an address as a little-endian 32-bit number whose most
// significant byte is the first octet: the first octet sits at offset + 3.
Ipv4 readAddress(const ConfigBlock &block, std::size_t offset);
void writeAddress(ConfigBlock &block, std::size_t offset, const Ipv4 &address);

// The interpreted fields, decoded.
struct ConfigFields {
    int laserLevel = 0;
    int integrationUs = 1; // field value + 1
    int windowLeft = 0, windowWidth = 0, windowTop = 0, windowHeight = 0;
    int angleUnits = 0;
    bool measureSync = false;
    int syncDivider = 1; // field value + 1
    int syncDelayMs = 0;
    Ipv4 udpAddress;
    std::uint16_t udpPort = 0;
    int udpFrequency = 0;
};
ConfigFields decodeConfig(const ConfigBlock &block);

// The factory block of scanner `index` at `address`. The bytes that carry no
// meaning for the scanner hold a non-zero pattern so that a client can be
// checked for handing them back unchanged.
ConfigBlock defaultConfig(int index, const Ipv4 &address, int udpHz);

} // namespace qz417::sim
