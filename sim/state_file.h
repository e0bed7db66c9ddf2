// Stored parameter blocks on disk: one 512-byte file per scanner, replaced
// atomically so that a crash never leaves half a block.
#pragma once

#include "config_block.h"

#include <optional>
#include <string>

namespace qz417::sim {

std::string stateFilePath(const std::string &dir, const Ipv4 &address);
std::optional<ConfigBlock> loadBlock(const std::string &path); // nullopt unless exactly 512 bytes
bool saveBlock(const std::string &path, const ConfigBlock &block, std::string *error);

} // namespace qz417::sim
