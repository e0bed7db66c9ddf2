#include "config_block.h"

#include <algorithm>

namespace qz417::sim {

std::uint32_t Ipv4::hostOrder() const {
    return (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
           (std::uint32_t{octets[2]} << 8) | std::uint32_t{octets[3]};
}

std::string Ipv4::text() const {
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." +
           std::to_string(octets[2]) + "." + std::to_string(octets[3]);
}

Ipv4 readAddress(const ConfigBlock &block, std::size_t offset) {
    Ipv4 a;
    for (std::size_t i = 0; i < 4; ++i)
        a.octets[i] = block[offset + 3 - i];
    return a;
}

void writeAddress(ConfigBlock &block, std::size_t offset, const Ipv4 &address) {
    for (std::size_t i = 0; i < 4; ++i)
        block[offset + 3 - i] = address.octets[i];
}

ConfigFields decodeConfig(const ConfigBlock &b) {
    ConfigFields f;
    f.laserLevel = b[cfg::laserLevel];
    f.integrationUs = getU16(&b[cfg::integration]) + 1;
    f.windowLeft = b[cfg::windowLeft];
    f.windowWidth = b[cfg::windowWidth];
    f.windowTop = b[cfg::windowTop];
    f.windowHeight = b[cfg::windowHeight];
    f.angleUnits = getI16(&b[cfg::angle]);
    f.measureSync = (b[cfg::syncFlags] & cfg::measureSyncBit) != 0;
    f.syncDivider = b[cfg::syncDivider] + 1;
    f.syncDelayMs = b[cfg::syncDelay];
    f.udpAddress = readAddress(b, cfg::udpAddress);
    f.udpPort = getU16(&b[cfg::udpPort]);
    f.udpFrequency = b[cfg::udpFrequency];
    return f;
}

ConfigBlock defaultConfig(int index, const Ipv4 &address, int udpHz) {
    ConfigBlock b{};
    // Filler for the bytes without meaning: never zero, different per scanner.
    auto filler = [index](std::size_t i) {
        auto v = static_cast<std::uint8_t>(i * 29 + 0x3B + index * 7);
        return v == 0 ? std::uint8_t{0xA5} : v;
    };
    for (std::size_t i = cfg::firstFreeByte; i < kConfigSize; ++i)
        b[i] = filler(i);
    b[3] = filler(3);
    b[4] = filler(4);
    b[13] = filler(13);

    b[cfg::laserLevel] = 16;
    putU16(&b[cfg::integration], 499); // 500 us
    b[cfg::windowLeft] = 0;
    b[cfg::windowWidth] = 255;
    b[cfg::windowTop] = 0;
    b[cfg::windowHeight] = 255;
    b[cfg::windowMode] = 0;
    putI16(&b[cfg::angle], 0);
    b[cfg::syncFlags] = 0x80; // bit 7 has no meaning; set so that it shows up if lost
    b[cfg::syncDivider] = 0;
    b[cfg::syncDelay] = 0;
    b[cfg::analogPoints] = 4; // 1024 points
    b[cfg::analogTime] = 9;   // 10 us
    writeAddress(b, cfg::netAddress, address);
    writeAddress(b, cfg::netMask, Ipv4{{255, 0, 0, 0}});
    writeAddress(b, cfg::udpAddress, Ipv4{{127, 0, 0, 1}});
    putU16(&b[cfg::udpPort], 6003);
    b[cfg::udpFrequency] = static_cast<std::uint8_t>(std::clamp(udpHz, 0, 255));
    return b;
}

} // namespace qz417::sim
