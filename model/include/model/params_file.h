// The parameter file: JSON with every named field and the whole 512-byte
// block as 32 lines of 16 hex bytes.
//
// Loading starts from the block, byte for byte, then applies each named field
// whose value differs from what the block holds (so a person may edit a field
// in the file; an unedited file restores the block exactly, including bytes
// and out-of-range values no field describes).
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "model/config_area.h"

namespace qz417 {

using ParamBlock = std::array<std::uint8_t, ConfigArea::kSize>;

// A file that is not a parameter file, or one with a bad edit; what() starts
// with the name the caller gave ("line1.json: ...").
class ParamsFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string SaveParamsDocument(const std::string &address, const ParamBlock &block);
// Throws ParamsFileError naming `what` (the file name) when the document is
// malformed, of another format or layout version, a field is unknown or an
// edited field does not fit its field.
ParamBlock LoadParamsDocument(const std::string &text, const std::string &what);

// The fields alone, as "qz417ctl params get --json" prints them: value, unit,
// range and meaning.
std::string FieldsJson(const std::string &address, const ParamBlock &block);

} // namespace qz417
