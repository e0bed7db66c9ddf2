// Naming a scanner by its IPv4 address: parsing the dotted text, building the
// record the library connects with, and finding the scanner's announcement.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qz417link.h"

namespace qz417::ctl {

using Ipv4 = std::array<std::uint8_t, 4>;

// "127.0.0.1" -> {127, 0, 0, 1}, read by inet_pton: four decimal numbers
// 0..255 without leading zeros, nothing else; throws UsageError otherwise.
Ipv4 ParseIpv4(const std::string &text);
std::string FormatIpv4(const std::uint8_t *octets);
// Six bytes as upper-case hexadecimal pairs joined by '-': 00-1A-2B-3C-4D-5E.
std::string FormatMac(const std::uint8_t *mac);

// The record QZ417_Connect takes: type 417, the address, nothing else.
DeviceAnnouncement MakeAnnouncement(const Ipv4 &ip);

// Everything heard during one search, copied out of the library's list
// (each copy's `next` is null).
std::vector<DeviceAnnouncement> SearchScanners(int typeFilter, int timeMs);

// The announcement of the scanner at `ip`, if one was heard within timeMs.
std::optional<DeviceAnnouncement> FindScanner(const Ipv4 &ip, int timeMs);

} // namespace qz417::ctl
