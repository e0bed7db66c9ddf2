// The interpreted fields of the 512-byte parameter block as one table: name,
// byte offset, width, bit, range, unit and the caption the window shows.
// The window's accessors (ConfigArea), qz417ctl, the parameter file and the
// field list for other languages (qz417model-fields) all come from it.
//
// Reading and writing go through the field's own bytes or bit; writing a field
// never changes another byte or bit of the block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "model/config_area.h"

namespace qz417 {

enum class FieldKind {
    U8,   // one byte
    U16,  // two bytes, little-endian
    I16,  // two bytes, little-endian, two's complement
    Bit,  // one bit of one byte
    Ipv4, // four bytes, last octet first (a little-endian u32 of the dotted address)
};

struct ParameterField {
    const char *name;
    FieldKind kind;
    std::size_t offset; // first byte in the block
    std::size_t width;  // bytes: 1, 2 or 4 (the byte that holds a Bit field: 1)
    int bit;            // Bit: the bit number in its byte; otherwise -1
    std::int64_t min;   // the range the window and qz417ctl accept (Ipv4: per octet)
    std::int64_t max;
    const char *unit;    // what one step of the raw value is
    const char *caption; // the window's text for the field's control; empty when none
};

// The 24 fields in block order.
std::span<const ParameterField> ParameterFields();
// Null when no field has this name.
const ParameterField *FindParameterField(std::string_view name);

// A number, or a dotted address for the Ipv4 fields.
using FieldValue = std::variant<std::int64_t, std::string>;

// A value that does not fit its field; what() names the field and the fault.
class FieldError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

FieldValue ReadField(const ParameterField &field, const ConfigArea &block);
// Empty when the value fits the field, otherwise the reason, such as
// "laserLevel=40 is out of range (0..31)".
std::string FieldValueProblem(const ParameterField &field, const FieldValue &value);
// Writes the value into the field's own bytes or bit; throws FieldError (and
// changes nothing) when FieldValueProblem finds a fault.
void WriteField(const ParameterField &field, ConfigArea &block, const FieldValue &value);

// "31", "-16384", "192.168.1.30".
std::string FieldValueText(const FieldValue &value);
// What the value stands for: "100 us", "30.001 degrees", "disabled"; empty
// where the number speaks for itself.
std::string FieldMeaning(const ParameterField &field, const FieldValue &value);
// The unit with the range of a number field: "us - 1 (0..65535)".
std::string FieldUnitText(const ParameterField &field);

using Ipv4Octets = std::array<std::uint8_t, 4>;
// "127.0.0.1" -> {127, 0, 0, 1}: four decimal numbers 0..255 of at most three
// digits, separated by '.', nothing else.
std::optional<Ipv4Octets> ParseIpv4(std::string_view text);
std::string FormatIpv4(const std::uint8_t *octets);

} // namespace qz417
