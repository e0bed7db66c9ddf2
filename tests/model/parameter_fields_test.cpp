// The named fields of the parameter block: layout, ranges, and that writing
// one field leaves every other byte alone.
#include <gtest/gtest.h>

#include <random>

#include "model/parameter_fields.h"

namespace qz417 {
namespace {

qz417::ConfigArea RandomBlock(unsigned seed) {
    std::mt19937 rng(seed);
    qz417::ConfigArea area;
    for (std::size_t i = 0; i < qz417::ConfigArea::kSize; ++i)
        area.setByteAt(i, static_cast<std::uint8_t>(rng()));
    return area;
}

FieldValue SomeValue(const ParameterField &f, int variant) {
    if (f.kind == FieldKind::Ipv4)
        return std::string(variant ? "10.20.30.40" : "1.2.3.4");
    return variant ? f.max : f.min;
}

TEST(ParamFields, NamesAreUniqueAndFindable) {
    EXPECT_EQ(ParameterFields().size(), 24u);
    for (const auto &f : ParameterFields())
        EXPECT_EQ(FindParameterField(f.name), &f);
    EXPECT_EQ(FindParameterField("nothing"), nullptr);
}

TEST(ParamFields, WritingAFieldChangesOnlyItsOwnBits) {
    for (const auto &f : ParameterFields()) {
        for (int variant = 0; variant < 2; ++variant) {
            const qz417::ConfigArea before = RandomBlock(7u + static_cast<unsigned>(variant));
            qz417::ConfigArea after = before;
            const FieldValue value = SomeValue(f, variant);
            WriteField(f, after, value);
            EXPECT_EQ(ReadField(f, after), value) << f.name;
            const std::size_t width = f.kind == FieldKind::Ipv4                                ? 4
                                      : (f.kind == FieldKind::U16 || f.kind == FieldKind::I16) ? 2
                                                                                               : 1;
            for (std::size_t i = 0; i < qz417::ConfigArea::kSize; ++i) {
                if (i >= f.offset && i < f.offset + width) {
                    if (f.kind == FieldKind::Bit) {
                        const int mask = ~(1 << f.bit) & 0xFF;
                        EXPECT_EQ(after.byteAt(i) & mask, before.byteAt(i) & mask) << f.name;
                    }
                    continue;
                }
                ASSERT_EQ(after.byteAt(i), before.byteAt(i)) << f.name << " byte " << i;
            }
        }
    }
}

TEST(ParamFields, StoresTheDocumentedEncodings) {
    qz417::ConfigArea area;
    WriteField(*FindParameterField("netAddress"), area, std::string("192.168.1.30"));
    WriteField(*FindParameterField("netMask"), area, std::string("255.255.255.0"));
    WriteField(*FindParameterField("udpPort"), area, std::int64_t{6003});
    WriteField(*FindParameterField("angle"), area, std::int64_t{-32767});
    WriteField(*FindParameterField("integration"), area, std::int64_t{65535});
    EXPECT_EQ(area.byteAt(18), 30);
    EXPECT_EQ(area.byteAt(19), 1);
    EXPECT_EQ(area.byteAt(20), 168);
    EXPECT_EQ(area.byteAt(21), 192);
    EXPECT_EQ(area.byteAt(22), 0);
    EXPECT_EQ(area.byteAt(25), 255);
    EXPECT_EQ(area.byteAt(30), 0x73);
    EXPECT_EQ(area.byteAt(31), 0x17);
    EXPECT_EQ(area.byteAt(10), 0x01);
    EXPECT_EQ(area.byteAt(11), 0x80);
    EXPECT_EQ(area.byteAt(1), 0xFF);
    EXPECT_EQ(area.byteAt(2), 0xFF);
    EXPECT_EQ(ReadField(*FindParameterField("netAddress"), area),
              FieldValue(std::string("192.168.1.30")));
    EXPECT_EQ(ReadField(*FindParameterField("angle"), area), FieldValue(std::int64_t{-32767}));
}

TEST(ParamFields, WriteRefusesWhatDoesNotFitAndChangesNothing) {
    const ParameterField &laser = *FindParameterField("laserLevel");
    EXPECT_EQ(FieldValueProblem(laser, std::int64_t{31}), "");
    EXPECT_EQ(FieldValueProblem(laser, std::int64_t{40}), "laserLevel=40 is out of range (0..31)");
    EXPECT_NE(FieldValueProblem(laser, std::string("1")), "");
    EXPECT_NE(FieldValueProblem(*FindParameterField("angle"), std::int64_t{-32768}), "");
    EXPECT_NE(FieldValueProblem(*FindParameterField("resultSyncEnable"), std::int64_t{2}), "");
    for (const char *bad :
         {"1.2.3", "1.2.3.4.", "256.0.0.1", "1..2.3", "a.b.c.d", "1.2.3.0004", ""})
        EXPECT_NE(FieldValueProblem(*FindParameterField("udpAddress"), std::string(bad)), "")
            << bad;
    EXPECT_NE(FieldValueProblem(*FindParameterField("udpAddress"), std::int64_t{1}), "");
    const qz417::ConfigArea before = RandomBlock(11);
    qz417::ConfigArea after = before;
    EXPECT_THROW(WriteField(laser, after, std::int64_t{32}), FieldError);
    EXPECT_THROW(WriteField(*FindParameterField("netMask"), after, std::string("1.2.3")),
                 FieldError);
    EXPECT_EQ(after, before);
}

TEST(ParamFields, TableRowsAgreeWithTheirKind) {
    std::size_t nextFree = 0;
    for (const auto &f : ParameterFields()) {
        const std::size_t width = f.kind == FieldKind::Ipv4                                ? 4
                                  : (f.kind == FieldKind::U16 || f.kind == FieldKind::I16) ? 2
                                                                                           : 1;
        EXPECT_EQ(f.width, width) << f.name;
        EXPECT_EQ(f.bit >= 0, f.kind == FieldKind::Bit) << f.name;
        EXPECT_LE(f.offset + f.width, qz417::ConfigArea::kSize) << f.name;
        EXPECT_LE(f.min, f.max) << f.name;
        // Block order; only the bits of one byte share it.
        if (f.kind != FieldKind::Bit || f.bit == 0) {
            EXPECT_GE(f.offset, nextFree) << f.name;
        }
        nextFree = f.offset + f.width;
    }
}

TEST(ParamFields, ExplainsValuesInUnits) {
    EXPECT_EQ(FieldMeaning(*FindParameterField("integration"), std::int64_t{99}), "100 us");
    EXPECT_EQ(FieldMeaning(*FindParameterField("angle"), std::int64_t{16384}), "30.001 degrees");
    EXPECT_EQ(FieldMeaning(*FindParameterField("udpFrequency"), std::int64_t{0}), "disabled");
    EXPECT_EQ(FieldMeaning(*FindParameterField("udpFrequency"), std::int64_t{50}), "50 Hz");
    EXPECT_EQ(FieldMeaning(*FindParameterField("analogPoints"), std::int64_t{4}), "1024 points");
    EXPECT_EQ(FieldMeaning(*FindParameterField("syncDivider"), std::int64_t{0}), "Meas. / 1");
    EXPECT_EQ(FieldUnitText(*FindParameterField("laserLevel")), "level (0..31)");
}

} // namespace
} // namespace qz417
