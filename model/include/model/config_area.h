// The scanner's 512-byte parameter block with named, typed field accessors.
//
// Every field is read and written at its byte offset, little-endian, so the
// block is correct on any host. Bytes the program does not interpret
// (3..4, 13, 33..511 and bit 7 of byte 12) are never touched by any setter.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>

namespace qz417 {

class ConfigArea {
public:
    static constexpr std::size_t kSize = 512;
    using Bytes = std::array<std::uint8_t, kSize>;

    // Field offsets within the block.
    enum Offset : std::size_t {
        kLaserLevel = 0,
        kIntegration = 1, // u16
        kWindowLeft = 5,
        kWindowWidth = 6,
        kWindowTop = 7,
        kWindowHeight = 8,
        kWindowMode = 9,
        kAngle = 10, // i16
        kSyncFlags = 12,
        kSyncDivider = 14,
        kSyncDelay = 15,
        kAnalogPoints = 16,
        kAnalogTime = 17,
        kNetAddress = 18, // 4 bytes, last octet first
        kNetMask = 22,    // 4 bytes, last octet first
        kUdpAddress = 26, // 4 bytes, last octet first
        kUdpPort = 30,    // u16
        kUdpFrequency = 32,
    };

    // Bits of syncFlags (byte 12). Bit 7 is not interpreted.
    enum SyncBit : std::uint8_t {
        kResultSyncEnable = 0,
        kResultSyncFalling = 1,
        kMeasureSyncEnable = 2,
        kMeasureSyncFalling = 3,
        kAnalogSyncEnable = 4,
        kAnalogSyncFalling = 5,
        kAnalogSyncLevel = 6,
    };

    ConfigArea() { bytes_.fill(0); }
    explicit ConfigArea(const std::uint8_t *raw) { load(raw); }

    void load(const std::uint8_t *raw) {
        for (std::size_t i = 0; i < kSize; ++i)
            bytes_[i] = raw[i];
    }
    const std::uint8_t *data() const { return bytes_.data(); }
    std::uint8_t *data() { return bytes_.data(); }
    const Bytes &bytes() const { return bytes_; }
    bool operator==(const ConfigArea &other) const { return bytes_ == other.bytes_; }

    std::uint8_t laserLevel() const { return u8(kLaserLevel); }
    void setLaserLevel(std::uint8_t v) { setU8(kLaserLevel, v); }
    std::uint16_t integration() const { return u16(kIntegration); }
    void setIntegration(std::uint16_t v) { setU16(kIntegration, v); }

    std::uint8_t windowLeft() const { return u8(kWindowLeft); }
    std::uint8_t windowWidth() const { return u8(kWindowWidth); }
    std::uint8_t windowTop() const { return u8(kWindowTop); }
    std::uint8_t windowHeight() const { return u8(kWindowHeight); }
    std::uint8_t windowMode() const { return u8(kWindowMode); }
    void setWindowLeft(std::uint8_t v) { setU8(kWindowLeft, v); }
    void setWindowWidth(std::uint8_t v) { setU8(kWindowWidth, v); }
    void setWindowTop(std::uint8_t v) { setU8(kWindowTop, v); }
    void setWindowHeight(std::uint8_t v) { setU8(kWindowHeight, v); }
    void setWindowMode(std::uint8_t v) { setU8(kWindowMode, v); }

    std::int16_t angle() const { return static_cast<std::int16_t>(u16(kAngle)); }
    void setAngle(std::int16_t v) { setU16(kAngle, static_cast<std::uint16_t>(v)); }

    std::uint8_t syncFlags() const { return u8(kSyncFlags); }
    bool syncBit(SyncBit bit) const { return (u8(kSyncFlags) >> bit) & 1u; }
    void setSyncBit(SyncBit bit, bool on) {
        const auto mask = static_cast<std::uint8_t>(1u << bit);
        bytes_[kSyncFlags] = on ? static_cast<std::uint8_t>(bytes_[kSyncFlags] | mask)
                                : static_cast<std::uint8_t>(bytes_[kSyncFlags] & ~mask);
    }

    std::uint8_t syncDivider() const { return u8(kSyncDivider); }
    void setSyncDivider(std::uint8_t v) { setU8(kSyncDivider, v); }
    std::uint8_t syncDelay() const { return u8(kSyncDelay); }
    void setSyncDelay(std::uint8_t v) { setU8(kSyncDelay, v); }
    std::uint8_t analogPoints() const { return u8(kAnalogPoints); }
    void setAnalogPoints(std::uint8_t v) { setU8(kAnalogPoints, v); }
    std::uint8_t analogTime() const { return u8(kAnalogTime); }
    void setAnalogTime(std::uint8_t v) { setU8(kAnalogTime, v); }

    // Address octets in dotted order: octet 0 is the leftmost number, stored
    // in the highest byte of the field (the field is a little-endian u32).
    std::uint8_t netAddressOctet(int i) const { return u8(octetOffset(kNetAddress, i)); }
    void setNetAddressOctet(int i, std::uint8_t v) { setU8(octetOffset(kNetAddress, i), v); }
    std::uint8_t netMaskOctet(int i) const { return u8(octetOffset(kNetMask, i)); }
    void setNetMaskOctet(int i, std::uint8_t v) { setU8(octetOffset(kNetMask, i), v); }
    std::uint8_t udpAddressOctet(int i) const { return u8(octetOffset(kUdpAddress, i)); }
    void setUdpAddressOctet(int i, std::uint8_t v) { setU8(octetOffset(kUdpAddress, i), v); }
    // i: 0 ... 3.
    static constexpr std::size_t octetOffset(std::size_t field, int i) {
        assert(i >= 0 && i < 4);
        return field + 3 - static_cast<std::size_t>(i);
    }

    std::uint16_t udpPort() const { return u16(kUdpPort); }
    void setUdpPort(std::uint16_t v) { setU16(kUdpPort, v); }
    std::uint8_t udpFrequency() const { return u8(kUdpFrequency); }
    void setUdpFrequency(std::uint8_t v) { setU8(kUdpFrequency, v); }

    // Raw byte access, for the edits that address one byte by its offset.
    std::uint8_t byteAt(std::size_t offset) const { return bytes_[offset]; }
    void setByteAt(std::size_t offset, std::uint8_t v) { bytes_[offset] = v; }

private:
    std::uint8_t u8(std::size_t off) const { return bytes_[off]; }
    void setU8(std::size_t off, std::uint8_t v) { bytes_[off] = v; }
    std::uint16_t u16(std::size_t off) const {
        return static_cast<std::uint16_t>(bytes_[off] | (bytes_[off + 1] << 8));
    }
    void setU16(std::size_t off, std::uint16_t v) {
        bytes_[off] = static_cast<std::uint8_t>(v & 0xFFu);
        bytes_[off + 1] = static_cast<std::uint8_t>(v >> 8);
    }

    Bytes bytes_;
};

} // namespace qz417
