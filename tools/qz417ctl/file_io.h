// Whole-file reading and writing for the subcommands; failures become a
// Failure line that names the file and the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qz417::ctl {

std::string ReadTextFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
void WriteFile(const std::string &path, const std::vector<std::uint8_t> &bytes);

} // namespace qz417::ctl
