#include "param_fields.h"

#include "command_line.h"
#include "config/angle_units.h"
#include "device_address.h"
#include "failure.h"

namespace qzctl {

namespace {

using qz::ConfigArea;

std::vector<ParamField> MakeFields() {
    using K = FieldKind;
    return {
        {"laserLevel", K::U8, ConfigArea::kLaserLevel, 0, 0, 31, "level"},
        {"integration", K::U16, ConfigArea::kIntegration, 0, 0, 65535, "us - 1"},
        {"windowLeft", K::U8, ConfigArea::kWindowLeft, 0, 0, 255, "1/255 of 640 columns"},
        {"windowWidth", K::U8, ConfigArea::kWindowWidth, 0, 0, 255, "1/255 of 640 columns"},
        {"windowTop", K::U8, ConfigArea::kWindowTop, 0, 0, 255, "1/255 of 512 rows"},
        {"windowHeight", K::U8, ConfigArea::kWindowHeight, 0, 0, 255, "1/255 of 512 rows"},
        {"windowMode", K::U8, ConfigArea::kWindowMode, 0, 0, 255, "mode, 3 = window selected"},
        {"angle", K::I16, ConfigArea::kAngle, 0, -32767, 32767, "1/32767 of 60 degrees"},
        {"resultSyncEnable", K::Bit, ConfigArea::kSyncFlags, ConfigArea::kResultSyncEnable, 0, 1,
         "1 = enabled"},
        {"resultSyncFalling", K::Bit, ConfigArea::kSyncFlags, ConfigArea::kResultSyncFalling, 0, 1,
         "1 = falling edge, 0 = rising edge"},
        {"measureSyncEnable", K::Bit, ConfigArea::kSyncFlags, ConfigArea::kMeasureSyncEnable, 0, 1,
         "1 = enabled"},
        {"measureSyncFalling", K::Bit, ConfigArea::kSyncFlags, ConfigArea::kMeasureSyncFalling, 0,
         1, "1 = falling edge, 0 = rising edge"},
        {"analogSyncEnable", K::Bit, ConfigArea::kSyncFlags, ConfigArea::kAnalogSyncEnable, 0, 1,
         "1 = enabled"},
        {"analogSyncFalling", K::Bit, ConfigArea::kSyncFlags, ConfigArea::kAnalogSyncFalling, 0, 1,
         "1 = falling edge, 0 = rising edge"},
        {"analogSyncLevel", K::Bit, ConfigArea::kSyncFlags, ConfigArea::kAnalogSyncLevel, 0, 1,
         "1 = high level"},
        {"syncDivider", K::U8, ConfigArea::kSyncDivider, 0, 0, 255, "divider - 1"},
        {"syncDelay", K::U8, ConfigArea::kSyncDelay, 0, 0, 255, "ms"},
        {"analogPoints", K::U8, ConfigArea::kAnalogPoints, 0, 0, 4,
         "0 off, 1..4 = 128..1024 points"},
        {"analogTime", K::U8, ConfigArea::kAnalogTime, 0, 0, 255, "us - 1"},
        {"netAddress", K::Ipv4, ConfigArea::kNetAddress, 0, 0, 255, "IPv4 address"},
        {"netMask", K::Ipv4, ConfigArea::kNetMask, 0, 0, 255, "IPv4 mask"},
        {"udpAddress", K::Ipv4, ConfigArea::kUdpAddress, 0, 0, 255, "IPv4 address"},
        {"udpPort", K::U16, ConfigArea::kUdpPort, 0, 0, 65535, "UDP port"},
        {"udpFrequency", K::U8, ConfigArea::kUdpFrequency, 0, 0, 255, "Hz, 0 = disabled"},
    };
}

std::int64_t U16At(const ConfigArea &block, std::size_t offset) {
    return block.byteAt(offset) | (block.byteAt(offset + 1) << 8);
}

void SetU16At(ConfigArea &block, std::size_t offset, std::uint16_t v) {
    block.setByteAt(offset, static_cast<std::uint8_t>(v & 0xFF));
    block.setByteAt(offset + 1, static_cast<std::uint8_t>(v >> 8));
}

} // namespace

const std::vector<ParamField> &ParamFields() {
    static const std::vector<ParamField> fields = MakeFields();
    return fields;
}

const ParamField *FindParamField(const std::string &name) {
    for (const auto &field : ParamFields()) {
        if (name == field.name)
            return &field;
    }
    return nullptr;
}

FieldValue ReadField(const ParamField &field, const ConfigArea &block) {
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

void CheckField(const ParamField &field, const FieldValue &value) {
    if (field.kind == FieldKind::Ipv4) {
        if (!std::holds_alternative<std::string>(value))
            throw UsageError(std::string(field.name) + " needs a dotted IPv4 address");
        try {
            ParseIpv4(std::get<std::string>(value));
        } catch (const Failure &) {
            throw UsageError(std::string(field.name) + ": '" + std::get<std::string>(value) +
                             "' is not an IPv4 address");
        }
        return;
    }
    if (!std::holds_alternative<std::int64_t>(value))
        throw UsageError(std::string(field.name) + " needs an integer value");
    const std::int64_t v = std::get<std::int64_t>(value);
    if (v < field.min || v > field.max)
        throw UsageError(std::string(field.name) + "=" + std::to_string(v) + " is out of range (" +
                         std::to_string(field.min) + ".." + std::to_string(field.max) + ")");
}

FieldValue ParseFieldValue(const ParamField &field, const std::string &text) {
    FieldValue value;
    if (field.kind == FieldKind::Ipv4) {
        value = text;
    } else {
        value = ParseInteger(text, INT64_MIN, INT64_MAX, field.name);
    }
    CheckField(field, value);
    return value;
}

void WriteField(const ParamField &field, ConfigArea &block, const FieldValue &value) {
    CheckField(field, value);
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
        const Ipv4 ip = ParseIpv4(std::get<std::string>(value));
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

std::string FieldMeaning(const ParamField &field, const FieldValue &value) {
    if (!std::holds_alternative<std::int64_t>(value))
        return "";
    const std::int64_t v = std::get<std::int64_t>(value);
    const std::string name = field.name;
    if (name == "integration" || name == "analogTime")
        return std::to_string(v + 1) + " us";
    if (name == "angle")
        return qz::FormatDegrees(qz::AngleDegrees(static_cast<std::int16_t>(v))) + " degrees";
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

std::string FieldUnit(const ParamField &field) {
    std::string unit = field.unit;
    if (field.kind != FieldKind::Ipv4 && field.kind != FieldKind::Bit)
        unit += " (" + std::to_string(field.min) + ".." + std::to_string(field.max) + ")";
    return unit;
}

} // namespace qzctl
