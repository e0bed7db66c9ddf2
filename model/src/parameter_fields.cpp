#include "model/parameter_fields.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "model/angle_units.h"

namespace qz417 {

namespace {

using K = FieldKind;
using C = ConfigArea;

constexpr const char *kEdgeUnit = "1 = falling edge, 0 = rising edge";

constexpr std::array<ParameterField, 24> kFields{{
    {"laserLevel", K::U8, C::kLaserLevel, 1, -1, 0, 31, "level", "Laser level:"},
    {"integration", K::U16, C::kIntegration, 2, -1, 0, 65535, "us - 1", "Integration:"},
    {"windowLeft", K::U8, C::kWindowLeft, 1, -1, 0, 255, "1/255 of 640 columns", ""},
    {"windowWidth", K::U8, C::kWindowWidth, 1, -1, 0, 255, "1/255 of 640 columns", ""},
    {"windowTop", K::U8, C::kWindowTop, 1, -1, 0, 255, "1/255 of 512 rows", ""},
    {"windowHeight", K::U8, C::kWindowHeight, 1, -1, 0, 255, "1/255 of 512 rows", ""},
    {"windowMode", K::U8, C::kWindowMode, 1, -1, 0, 255, "mode, 3 = window selected", ""},
    {"angle", K::I16, C::kAngle, 2, -1, -32767, 32767, "1/32767 of 60 degrees", "Angle:"},
    {"resultSyncEnable", K::Bit, C::kSyncFlags, 1, C::kResultSyncEnable, 0, 1, "1 = enabled",
     "Result: Enabled"},
    {"resultSyncFalling", K::Bit, C::kSyncFlags, 1, C::kResultSyncFalling, 0, 1, kEdgeUnit,
     "Result: Falling"},
    {"measureSyncEnable", K::Bit, C::kSyncFlags, 1, C::kMeasureSyncEnable, 0, 1, "1 = enabled",
     "Measure: Enabled"},
    {"measureSyncFalling", K::Bit, C::kSyncFlags, 1, C::kMeasureSyncFalling, 0, 1, kEdgeUnit,
     "Measure: Falling"},
    {"analogSyncEnable", K::Bit, C::kSyncFlags, 1, C::kAnalogSyncEnable, 0, 1, "1 = enabled",
     "Analog out: Enabled"},
    {"analogSyncFalling", K::Bit, C::kSyncFlags, 1, C::kAnalogSyncFalling, 0, 1, kEdgeUnit,
     "Analog out: Falling"},
    {"analogSyncLevel", K::Bit, C::kSyncFlags, 1, C::kAnalogSyncLevel, 0, 1, "1 = high level",
     "Analog out: Hi level"},
    {"syncDivider", K::U8, C::kSyncDivider, 1, -1, 0, 255, "divider - 1", "Divider:"},
    {"syncDelay", K::U8, C::kSyncDelay, 1, -1, 0, 255, "ms", "Delay:"},
    {"analogPoints", K::U8, C::kAnalogPoints, 1, -1, 0, 4, "0 off, 1..4 = 128..1024 points",
     "Points:"},
    {"analogTime", K::U8, C::kAnalogTime, 1, -1, 0, 255, "us - 1", "Time:"},
    {"netAddress", K::Ipv4, C::kNetAddress, 4, -1, 0, 255, "IPv4 address", "Network: IP:"},
    {"netMask", K::Ipv4, C::kNetMask, 4, -1, 0, 255, "IPv4 mask", "Network: Mask:"},
    {"udpAddress", K::Ipv4, C::kUdpAddress, 4, -1, 0, 255, "IPv4 address", "UDP: IP:"},
    {"udpPort", K::U16, C::kUdpPort, 2, -1, 0, 65535, "UDP port", "UDP: Port:"},
    {"udpFrequency", K::U8, C::kUdpFrequency, 1, -1, 0, 255, "Hz, 0 = disabled", "UDP: Frequency:"},
}};

std::int64_t U16At(const ConfigArea &block, std::size_t offset) {
    return block.byteAt(offset) | (block.byteAt(offset + 1) << 8);
}

void SetU16At(ConfigArea &block, std::size_t offset, std::uint16_t v) {
    block.setByteAt(offset, static_cast<std::uint8_t>(v & 0xFF));
    block.setByteAt(offset + 1, static_cast<std::uint8_t>(v >> 8));
}

} // namespace

std::span<const ParameterField> ParameterFields() {
    return kFields;
}

const ParameterField *FindParameterField(std::string_view name) {
    for (const auto &field : kFields) {
        if (name == field.name)
            return &field;
    }
    return nullptr;
}

FieldValue ReadField(const ParameterField &field, const ConfigArea &block) {
    switch (field.kind) {
    case FieldKind::U8:
        return std::int64_t{block.byteAt(field.offset)};
    case FieldKind::U16:
        return U16At(block, field.offset);
    case FieldKind::I16:
        return std::int64_t{static_cast<std::int16_t>(U16At(block, field.offset))};
    case FieldKind::Bit:
        return std::int64_t{(block.byteAt(field.offset) >> field.bit) & 1};
    case FieldKind::Ipv4: {
        std::uint8_t octets[4];
        for (int i = 0; i < 4; ++i)
            octets[i] = block.byteAt(ConfigArea::octetOffset(field.offset, i));
        return FormatIpv4(octets);
    }
    }
    return std::int64_t{0};
}

std::string FieldValueProblem(const ParameterField &field, const FieldValue &value) {
    const std::string name = field.name;
    if (field.kind == FieldKind::Ipv4) {
        if (!std::holds_alternative<std::string>(value))
            return name + " needs a dotted IPv4 address";
        if (!ParseIpv4(std::get<std::string>(value)))
            return name + ": '" + std::get<std::string>(value) + "' is not an IPv4 address";
        return {};
    }
    if (!std::holds_alternative<std::int64_t>(value))
        return name + " needs an integer value";
    const std::int64_t v = std::get<std::int64_t>(value);
    if (v < field.min || v > field.max)
        return name + "=" + std::to_string(v) + " is out of range (" + std::to_string(field.min) +
               ".." + std::to_string(field.max) + ")";
    return {};
}

void WriteField(const ParameterField &field, ConfigArea &block, const FieldValue &value) {
    const std::string problem = FieldValueProblem(field, value);
    if (!problem.empty())
        throw FieldError(problem);
    switch (field.kind) {
    case FieldKind::U8:
        block.setByteAt(field.offset, static_cast<std::uint8_t>(std::get<std::int64_t>(value)));
        break;
    case FieldKind::U16:
    case FieldKind::I16:
        SetU16At(block, field.offset,
                 static_cast<std::uint16_t>(std::get<std::int64_t>(value) & 0xFFFF));
        break;
    case FieldKind::Bit: {
        const auto mask = static_cast<std::uint8_t>(1u << field.bit);
        const std::uint8_t old = block.byteAt(field.offset);
        block.setByteAt(field.offset, std::get<std::int64_t>(value) != 0
                                          ? static_cast<std::uint8_t>(old | mask)
                                          : static_cast<std::uint8_t>(old & ~mask));
        break;
    }
    case FieldKind::Ipv4: {
        const Ipv4Octets ip = *ParseIpv4(std::get<std::string>(value));
        for (int i = 0; i < 4; ++i)
            block.setByteAt(ConfigArea::octetOffset(field.offset, i),
                            ip[static_cast<std::size_t>(i)]);
        break;
    }
    }
}

std::string FieldValueText(const FieldValue &value) {
    if (std::holds_alternative<std::string>(value))
        return std::get<std::string>(value);
    return std::to_string(std::get<std::int64_t>(value));
}

std::string FieldMeaning(const ParameterField &field, const FieldValue &value) {
    if (!std::holds_alternative<std::int64_t>(value))
        return "";
    const std::int64_t v = std::get<std::int64_t>(value);
    const std::string_view name = field.name;
    if (name == "integration" || name == "analogTime")
        return std::to_string(v + 1) + " us";
    if (name == "angle")
        return FormatDegrees(AngleDegrees(static_cast<std::int16_t>(v))) + " degrees";
    if (name == "syncDivider")
        return "Meas. / " + std::to_string(v + 1);
    if (name == "analogPoints") {
        if (v == 0)
            return "off";
        if (v >= 1 && v <= 4)
            return std::to_string(64 << v) + " points";
        return "not defined";
    }
    if (name == "udpFrequency")
        return v == 0 ? "disabled" : std::to_string(v) + " Hz";
    return "";
}

std::string FieldUnitText(const ParameterField &field) {
    std::string unit = field.unit;
    if (field.kind != FieldKind::Ipv4 && field.kind != FieldKind::Bit)
        unit += " (" + std::to_string(field.min) + ".." + std::to_string(field.max) + ")";
    return unit;
}

std::optional<Ipv4Octets> ParseIpv4(std::string_view text) {
    // inet_pton: four decimal numbers 0..255 without leading zeros, nothing
    // else. A NUL inside the text would end it early for inet_pton.
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    in_addr address{};
    if (inet_pton(AF_INET, std::string(text).c_str(), &address) != 1)
        return std::nullopt;
    Ipv4Octets ip{};
    std::memcpy(ip.data(), &address.s_addr, ip.size()); // network order: first octet first
    return ip;
}

std::string FormatIpv4(const std::uint8_t *octets) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    return buf;
}

} // namespace qz417
