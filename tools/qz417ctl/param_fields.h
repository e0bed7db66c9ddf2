// The interpreted fields of the 512-byte parameter block by name: reading,
// validating and writing one field, and what its value means in units.
// Writing a field changes only its own bits or bytes.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "config/config_area.h"

namespace qzctl {

enum class FieldKind { U8, U16, I16, Bit, Ipv4 };

struct ParamField {
    const char *name;
    FieldKind kind;
    std::size_t offset; // byte offset in the block
    int bit;            // Bit: bit number in the byte
    std::int64_t min;   // number fields: the range the program uses
    std::int64_t max;
    const char *unit;
};

// A number, or a dotted address for the Ipv4 fields.
using FieldValue = std::variant<std::int64_t, std::string>;

// In block order.
const std::vector<ParamField> &ParamFields();
const ParamField *FindParamField(const std::string &name); // null when unknown

FieldValue ReadField(const ParamField &field, const qz::ConfigArea &block);
// Throws UsageError when the value is malformed or out of the field's range.
void CheckField(const ParamField &field, const FieldValue &value);
// Parses "31", "-16384" or "192.168.1.30" for the field and checks it.
FieldValue ParseFieldValue(const ParamField &field, const std::string &text);
// Writes a checked value into the field's own bits or bytes.
void WriteField(const ParamField &field, qz::ConfigArea &block, const FieldValue &value);

std::string FieldValueText(const FieldValue &value);
// What the value stands for: "100 us", "30.001 degrees", "disabled"; empty
// where the number speaks for itself.
std::string FieldMeaning(const ParamField &field, const FieldValue &value);
// The unit with the range: "us - 1 (0..65535)".
std::string FieldUnit(const ParamField &field);

} // namespace qzctl
