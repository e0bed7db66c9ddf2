#include "device_address.h"

#include <cstdio>

#include "failure.h"
#include "model/parameter_fields.h"

namespace qz417::ctl {

Ipv4 ParseIpv4(const std::string &text) {
    const std::optional<qz417::Ipv4Octets> ip = qz417::ParseIpv4(text);
    if (!ip)
        throw UsageError("'" + text + "' is not an IPv4 address (like 127.0.0.1)");
    return *ip;
}

std::string FormatIpv4(const std::uint8_t *octets) {
    return qz417::FormatIpv4(octets);
}

std::string FormatMac(const std::uint8_t *mac) {
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return buf;
}

DeviceAnnouncement MakeAnnouncement(const Ipv4 &ip) {
    DeviceAnnouncement record{};
    record.type = QZ417_TYPE_CODE;
    for (std::size_t i = 0; i < 4; ++i)
        record.ip[i] = ip[i];
    record.next = nullptr;
    return record;
}

std::vector<DeviceAnnouncement> SearchScanners(int typeFilter, int timeMs) {
    std::vector<DeviceAnnouncement> found;
    DeviceAnnouncement *list = QZ_Search(typeFilter, timeMs);
    for (const DeviceAnnouncement *node = list; node != nullptr; node = node->next) {
        DeviceAnnouncement copy = *node;
        copy.next = nullptr;
        found.push_back(copy);
    }
    QZ_ClearList(list);
    return found;
}

std::optional<DeviceAnnouncement> FindScanner(const Ipv4 &ip, int timeMs) {
    for (const auto &record : SearchScanners(0xFFFF, timeMs)) {
        if (record.type == QZ417_TYPE_CODE && record.ip[0] == ip[0] && record.ip[1] == ip[1] &&
            record.ip[2] == ip[2] && record.ip[3] == ip[3])
            return record;
    }
    return std::nullopt;
}

} // namespace qz417::ctl
