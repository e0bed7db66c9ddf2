// The three output formats of "profile": the program's own profile file text
// (written by the model, model/profile_file.h), CSV (one row per point) and an
// ASCII PLY point cloud (valid points only).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/profile_file.h"
#include "model/profile_packet.h"
#include "qz417link.h"

namespace qzctl {

using PacketBytes = std::array<std::uint8_t, QZ417_PACKET_SIZE>;

// Byte for byte the text of the program's profile file for one packet
// (the model's RecordProfile and ProfileFileText).
std::string ProfileTxt(const PacketBytes &packet, const qz::ProfileScale &scale);

// Header "profile,point,valid,x_mm,z_mm"; one row per point (1024 per
// packet), points numbered from 1; x and z empty for an invalid point.
std::string ProfilesCsv(const std::vector<PacketBytes> &packets, const qz::ProfileScale &scale);

// ASCII PLY: x and z in millimetres, y the profile's index in the sequence.
std::string ProfilesPly(const std::vector<PacketBytes> &packets, const qz::ProfileScale &scale);

// Shortest text that reads back as the same float ("115", "0.015258789").
std::string FloatText(float value);

} // namespace qzctl
