// Encoding of the 268-byte discovery announcement and of the scanner's
// self-description inside it.
#pragma once

#include "config_block.h"
#include "emulator.h"
#include "wire_format.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qz417::sim {

using Announcement = std::array<std::uint8_t, kAnnouncementSize>;
using Description = std::array<std::uint8_t, kDescriptionSize>;
using MacAddress = std::array<std::uint8_t, 6>;

// 20 bytes of fields followed by a short text; the serial number is cut to
// its low 24 bits, the width of the field.
Description encodeDescription(const DescriptionOptions &d, std::uint32_t serialNumber);

Announcement encodeAnnouncement(std::uint16_t type, const Ipv4 &ip, const MacAddress &mac,
                                const Description &description);

// The serial number scanner `index` announces.
std::uint32_t serialFor(const DescriptionOptions &d, int index);

// A locally administered address, 02-51-5A-04-17-<index>.
MacAddress macFor(int index);

// The datagrams a faulty scanner sends after its valid announcement: one
// byte short, one byte long, an exact duplicate, one with address 0.0.0.0,
// and one of type 418 from an address of its own (127.0.1.(index+1)).
std::vector<std::vector<std::uint8_t>> malformedAnnouncements(const Announcement &valid, int index);

} // namespace qz417::sim
