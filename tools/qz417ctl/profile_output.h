// The profile text of "profile" (the program's own profile file, written by
// the model, model/profile_file.h) ; the point formats are the model's (model/point_export.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/profile_file.h"
#include "model/profile_packet.h"
#include "qz417link.h"

namespace qz417::ctl {

using PacketBytes = std::array<std::uint8_t, QZ417_PACKET_SIZE>;

// Byte for byte the text of the program's profile file for one packet
// (the model's RecordProfile and ProfileFileText).
std::string ProfileTxt(const PacketBytes &packet, const qz417::ProfileScale &scale);

} // namespace qz417::ctl
