// The decoding of a scanner's self-description and the 34 rows that show it.
#include <array>
#include <cstdint>

#include <gtest/gtest.h>

#include "model/device_description.h"

namespace {

using Bytes = std::array<std::uint8_t, 255>;

Bytes Description(std::uint8_t modification) {
    Bytes b{};
    b[0] = modification;
    b[1] = 0x39; // serial 12345
    b[2] = 0x30;
    b[3] = 0x00;
    b[4] = 80;    // base
    b[6] = 250;   // rangeZ
    b[8] = 140;   // rangeXSmr
    b[10] = 230;  // rangeXEmr
    b[12] = 0x00; // discrete 16384
    b[13] = 0x40;
    b[14] = 0x00; // error value -32768
    b[15] = 0x80;
    b[16] = 0xA1; // firmware 417
    b[17] = 0x01;
    return b;
}

struct OptionRow {
    std::uint8_t modification;
    const char *interface;   // row 3
    const char *resultSync;  // row 5
    const char *measureSync; // row 7
    const char *analog;      // row 9
    const char *modulation;  // row 11
};

class OptionRows : public ::testing::TestWithParam<OptionRow> {};

TEST_P(OptionRows, ShowsEachOptionInItsRow) {
    const OptionRow &p = GetParam();
    const Bytes b = Description(p.modification);
    const auto rows = qz417::DescriptionRows(qz417::DecodeDescription(b.data()));
    ASSERT_EQ(rows.size(), 34u);
    EXPECT_EQ(rows[2], p.interface);
    EXPECT_EQ(rows[4], p.resultSync);
    EXPECT_EQ(rows[6], p.measureSync);
    EXPECT_EQ(rows[8], p.analog);
    EXPECT_EQ(rows[10], p.modulation);
}

INSTANTIATE_TEST_SUITE_P(
    ModificationBits, OptionRows,
    ::testing::Values(
        OptionRow{0x0F, "Ethernet.", "external, internal;", "external, internal;", "voltage;",
                  "not present;"},
        OptionRow{0x00, "rs485.", "internal;", "internal;", "not present;", "not present;"},
        OptionRow{0x10, "rs485.", "internal;", "internal;", "current;", "not present;"},
        OptionRow{0x18, "rs485.", "internal;", "internal;", "not defined;", "not present;"},
        OptionRow{0x20, "rs485.", "internal;", "internal;", "not present;", "present;"},
        OptionRow{0x40, "rs485.", "internal;", "internal;", "not present;", "not defined;"},
        OptionRow{0xE0, "rs485.", "internal;", "internal;", "not present;", "not defined;"},
        OptionRow{0xFF, "Ethernet.", "external, internal;", "external, internal;", "not defined;",
                  "not defined;"}));

TEST(DeviceDescription, DecodesLittleEndianFields) {
    const Bytes b = Description(0x2F);
    const qz417::DeviceDescription d = qz417::DecodeDescription(b.data());
    EXPECT_EQ(d.modification, 0x2F);
    EXPECT_EQ(d.serialNumber, 12345u);
    EXPECT_EQ(d.baseDistance, 80);
    EXPECT_EQ(d.rangeZ, 250);
    EXPECT_EQ(d.rangeXSmr, 140);
    EXPECT_EQ(d.rangeXEmr, 230);
    EXPECT_EQ(d.discreteValue, 16384);
    EXPECT_EQ(d.errorValue, -32768);
    EXPECT_EQ(d.firmwareVersion, 417u);
}

TEST(DeviceDescription, RowsInTheirOrder) {
    const Bytes b = Description(0x0F);
    const auto rows = qz417::DescriptionRows(qz417::DecodeDescription(b.data()));
    const std::array<const char *, 34> expected = {"DEVICE MODIFICATION",
                                                   "Interface:",
                                                   "Ethernet.",
                                                   "Result synchronization:",
                                                   "external, internal;",
                                                   "Measure synchronization:",
                                                   "external, internal;",
                                                   "Analog out:",
                                                   "voltage;",
                                                   "Laser beam modulation:",
                                                   "not present;",
                                                   "",
                                                   "SERIAL NUMBER",
                                                   "12345;",
                                                   "",
                                                   "MEASURING RANGE",
                                                   "Base:",
                                                   "80 mm.;",
                                                   "Range of Z:",
                                                   "250 mm.;",
                                                   "Range of X(SMR):",
                                                   "140 mm.;",
                                                   "Range of X(EMR):",
                                                   "230 mm.;",
                                                   "",
                                                   "DISCRETE TRANSFORMATION",
                                                   "Discrete value:",
                                                   "16384;",
                                                   "Error value:",
                                                   "-32768;",
                                                   "",
                                                   "FIRMWARE",
                                                   "Version:",
                                                   "417."};
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(rows[i], expected[i]) << "row " << (i + 1);
}

TEST(DeviceDescription, LargestValuesAreShownWhole) {
    Bytes b{};
    b[1] = b[2] = b[3] = 0xFF;
    for (int i = 4; i < 14; ++i)
        b[i] = 0xFF;
    b[14] = 0xFF;
    b[15] = 0x7F;
    b[16] = b[17] = b[18] = b[19] = 0xFF;
    b[20] = 0xAA; // beyond the 20 bytes: not used
    const auto rows = qz417::DescriptionRows(qz417::DecodeDescription(b.data()));
    EXPECT_EQ(rows[13], "16777215;");
    EXPECT_EQ(rows[17], "65535 mm.;");
    EXPECT_EQ(rows[27], "65535;");
    EXPECT_EQ(rows[29], "32767;");
    EXPECT_EQ(rows[33], "4294967295.");
}

TEST(DeviceDescription, SameDescriptionSameRows) {
    const Bytes b = Description(0x05);
    const auto d = qz417::DecodeDescription(b.data());
    EXPECT_EQ(qz417::DescriptionRows(d), qz417::DescriptionRows(d));
}

} // namespace
