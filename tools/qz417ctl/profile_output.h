// The three output formats of "profile": the program's own profile file text,
// CSV (one row per point) and an ASCII PLY point cloud (valid points only).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "qz417link.h"
#include "views/profile_packet.h"
#include "views/profile_recording.h"

namespace qzctl {

using PacketBytes = std::array<std::uint8_t, QZ417_PACKET_SIZE>;

// The profile as the recorder stores it: its measurementCount and the
// decoded points, an invalid point as (0, 0).
qz::RecordedProfile RecordProfile(const PacketBytes &packet, const qz::ProfileScale &scale);

// Byte for byte the text of the program's profile file for one packet.
std::string ProfileTxt(const PacketBytes &packet, const qz::ProfileScale &scale);

// Header "profile,point,valid,x_mm,z_mm"; one row per point (1024 per
// packet), points numbered from 1; x and z empty for an invalid point.
std::string ProfilesCsv(const std::vector<PacketBytes> &packets, const qz::ProfileScale &scale);

// ASCII PLY: x and z in millimetres, y the profile's index in the sequence.
std::string ProfilesPly(const std::vector<PacketBytes> &packets, const qz::ProfileScale &scale);

// Shortest text that reads back as the same float ("115", "0.015258789").
std::string FloatText(float value);

} // namespace qzctl
