// The self-description a scanner sends in its announcements (the first 20
// bytes of the description field) and the rows of text that show it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qz417 {

struct DeviceDescription {
    std::uint8_t modification = 0;   // option bits
    std::uint32_t serialNumber = 0;  // 24 bits
    std::uint16_t baseDistance = 0;  // mm
    std::uint16_t rangeZ = 0;        // mm
    std::uint16_t rangeXSmr = 0;     // mm
    std::uint16_t rangeXEmr = 0;     // mm
    std::uint16_t discreteValue = 0; // raw units of the full range
    std::int16_t errorValue = 0;     // raw value of an invalid point
    std::uint32_t firmwareVersion = 0;
};

constexpr int kDescriptionBytes = 20;

// Decodes the first 20 bytes of a description field (little-endian fields).
DeviceDescription DecodeDescription(const std::uint8_t *description);

// The 34 rows of the information page, in order.
std::vector<std::string> DescriptionRows(const DeviceDescription &d);

} // namespace qz417
