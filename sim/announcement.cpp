#include "announcement.h"

#include <algorithm>
#include <cstring>

namespace qz417::sim {

Description encodeDescription(const DescriptionOptions &d, std::uint32_t serialNumber) {
    Description b{};
    b[0] = d.modification;
    putU24(&b[1], serialNumber & 0xFFFFFFu);
    putU16(&b[4], d.baseDistance);
    putU16(&b[6], d.rangeZ);
    putU16(&b[8], d.rangeXSmr);
    putU16(&b[10], d.rangeXEmr);
    putU16(&b[12], d.discreteValue);
    putI16(&b[14], d.errorValue);
    putU32(&b[16], d.firmwareVersion);
    static constexpr char kText[] = "qz417sim emulated scanner";
    std::memcpy(&b[20], kText, sizeof kText - 1);
    return b;
}

Announcement encodeAnnouncement(std::uint16_t type, const Ipv4 &ip, const MacAddress &mac,
                                const Description &description) {
    Announcement a{};
    putU16(&a[0], type);
    std::copy(ip.octets.begin(), ip.octets.end(), a.begin() + 2);
    std::copy(mac.begin(), mac.end(), a.begin() + 6);
    std::copy(description.begin(), description.end(), a.begin() + kDescriptionOffset);
    a[267] = 0;
    return a;
}

std::uint32_t serialFor(const DescriptionOptions &d, int index) {
    std::uint32_t base = d.serialNumber == 0 ? 10000u : d.serialNumber;
    return base + static_cast<std::uint32_t>(index);
}

MacAddress macFor(int index) {
    return {0x02, 0x51, 0x5A, 0x04, 0x17, static_cast<std::uint8_t>(index)};
}

std::vector<std::vector<std::uint8_t>> malformedAnnouncements(const Announcement &valid,
                                                              int index) {
    std::vector<std::vector<std::uint8_t>> out;
    out.emplace_back(valid.begin(), valid.end() - 1); // 267 bytes
    std::vector<std::uint8_t> longer(valid.begin(), valid.end());
    longer.push_back(0);
    out.push_back(longer);                        // 269 bytes
    out.emplace_back(valid.begin(), valid.end()); // duplicate
    std::vector<std::uint8_t> zero(valid.begin(), valid.end());
    std::fill(zero.begin() + 2, zero.begin() + 6, 0); // address 0.0.0.0
    out.push_back(zero);
    std::vector<std::uint8_t> other(valid.begin(), valid.end());
    putU16(&other[0], 418);
    other[2] = 127;
    other[3] = 0;
    other[4] = 1;
    other[5] = static_cast<std::uint8_t>(index + 1);
    out.push_back(other);
    return out;
}

} // namespace qz417::sim
