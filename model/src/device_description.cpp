#include "model/device_description.h"

namespace qz417 {

namespace {

std::uint16_t U16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

const char *SyncText(bool external) {
    return external ? "external, internal;" : "internal;";
}

const char *AnalogText(unsigned code) {
    switch (code) {
    case 0:
        return "not present;";
    case 1:
        return "voltage;";
    case 2:
        return "current;";
    default:
        return "not defined;";
    }
}

const char *ModulationText(unsigned code) {
    switch (code) {
    case 0:
        return "not present;";
    case 1:
        return "present;";
    default:
        return "not defined;";
    }
}

} // namespace

DeviceDescription DecodeDescription(const std::uint8_t *description) {
    DeviceDescription d;
    d.modification = description[0];
    d.serialNumber = static_cast<std::uint32_t>(description[1]) |
                     (static_cast<std::uint32_t>(description[2]) << 8) |
                     (static_cast<std::uint32_t>(description[3]) << 16);
    d.baseDistance = U16(description + 4);
    d.rangeZ = U16(description + 6);
    d.rangeXSmr = U16(description + 8);
    d.rangeXEmr = U16(description + 10);
    d.discreteValue = U16(description + 12);
    d.errorValue = static_cast<std::int16_t>(U16(description + 14));
    d.firmwareVersion = static_cast<std::uint32_t>(description[16]) |
                        (static_cast<std::uint32_t>(description[17]) << 8) |
                        (static_cast<std::uint32_t>(description[18]) << 16) |
                        (static_cast<std::uint32_t>(description[19]) << 24);
    return d;
}

std::vector<std::string> DescriptionRows(const DeviceDescription &d) {
    const unsigned m = d.modification;
    const auto mm = [](unsigned value) { return std::to_string(value) + " mm.;"; };
    return {
        "DEVICE MODIFICATION",
        "Interface:",
        (m & 0x02u) ? "Ethernet." : "rs485.",
        "Result synchronization:",
        SyncText((m & 0x01u) != 0),
        "Measure synchronization:",
        SyncText((m & 0x04u) != 0),
        "Analog out:",
        AnalogText((m >> 3) & 0x03u),
        "Laser beam modulation:",
        ModulationText((m >> 5) & 0x03u),
        "",
        "SERIAL NUMBER",
        std::to_string(d.serialNumber) + ";",
        "",
        "MEASURING RANGE",
        "Base:",
        mm(d.baseDistance),
        "Range of Z:",
        mm(d.rangeZ),
        "Range of X(SMR):",
        mm(d.rangeXSmr),
        "Range of X(EMR):",
        mm(d.rangeXEmr),
        "",
        "DISCRETE TRANSFORMATION",
        "Discrete value:",
        std::to_string(d.discreteValue) + ";",
        "Error value:",
        std::to_string(d.errorValue) + ";",
        "",
        "FIRMWARE",
        "Version:",
        std::to_string(d.firmwareVersion) + ".",
    };
}

} // namespace qz417
