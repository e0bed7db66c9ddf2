// Sizes of the scanner's protocol blocks and explicit little-endian access to
// their fields. Every block the emulator sends or reads goes through these
// helpers; nothing is ever copied as a struct.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qz417::sim {

inline constexpr std::size_t kHeaderSize = 16;        // one command request header
inline constexpr std::size_t kAnnouncementSize = 268; // one discovery datagram
inline constexpr std::size_t kDescriptionOffset = 12; // description inside an announcement
inline constexpr std::size_t kDescriptionSize = 255;
inline constexpr std::size_t kPacketSize = 4100; // one measured profile
inline constexpr int kPointCount = 1024;         // points per profile
inline constexpr int kImageWidth = 640;
inline constexpr int kImageHeight = 512;
inline constexpr std::size_t kImageSize = std::size_t{kImageWidth} * kImageHeight; // 327680
inline constexpr std::size_t kConfigSize = 512; // the parameter block
inline constexpr std::size_t kAckSize = 2;      // reply of command 6
inline constexpr std::size_t kAngleSize = 2;    // reply of command 7
inline constexpr std::uint16_t kTypeCode = 417;
inline constexpr std::int16_t kNoAngle = -32768; // command 7: no line seen
inline constexpr double kAngleUnitsPer60Deg = 32767.0;

inline void putU16(std::uint8_t *p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putI16(std::uint8_t *p, std::int16_t v) {
    putU16(p, static_cast<std::uint16_t>(v));
}
inline void putU24(std::uint8_t *p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    p[2] = static_cast<std::uint8_t>((v >> 16) & 0xFF);
}
inline void putU32(std::uint8_t *p, std::uint32_t v) {
    putU24(p, v);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline std::uint16_t getU16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t getI16(const std::uint8_t *p) {
    return static_cast<std::int16_t>(getU16(p));
}
inline std::uint32_t getU24(const std::uint8_t *p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
}
inline std::uint32_t getU32(const std::uint8_t *p) {
    return getU24(p) | (std::uint32_t{p[3]} << 24);
}

} // namespace qz417::sim
