// The parameter file of "params save" and "params load": JSON with every
// named field and the whole 512-byte block as 32 lines of 16 hex bytes.
//
// Loading starts from the block, byte for byte, then applies each named field
// whose value differs from what the block holds (so a person may edit a field
// in the file; an unedited file restores the block exactly, including bytes
// and out-of-range values no field describes).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "qz417link.h"

namespace qzctl {

using ParamBlock = std::array<std::uint8_t, QZ417_CONFIG_SIZE>;

std::string SaveParamsDocument(const std::string &address, const ParamBlock &block);
// Throws UsageError naming `what` (the file name) when the document is
// malformed, a field is unknown or an edited field is out of range.
ParamBlock LoadParamsDocument(const std::string &text, const std::string &what);

// The fields alone, as "params get --json" prints them: value, unit, range.
std::string FieldsJson(const std::string &address, const ParamBlock &block);

} // namespace qzctl
