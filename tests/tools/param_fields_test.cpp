// The named fields of the parameter block: layout, ranges, and that writing
// one field leaves every other byte alone.
#include <gtest/gtest.h>

#include <random>

#include "failure.h"
#include "param_fields.h"

namespace qzctl {
namespace {

qz::ConfigArea RandomBlock(unsigned seed) {
    std::mt19937 rng(seed);
    qz::ConfigArea area;
    for (std::size_t i = 0; i < qz::ConfigArea::kSize; ++i)
        area.setByteAt(i, static_cast<std::uint8_t>(rng()));
    return area;
}

FieldValue SomeValue(const ParamField &f, int variant) {
    if (f.kind == FieldKind::Ipv4)
        return std::string(variant ? "10.20.30.40" : "1.2.3.4");
    return variant ? f.max : f.min;
}

TEST(ParamFields, NamesAreUniqueAndFindable) {
    EXPECT_EQ(ParamFields().size(), 24u);
    for (const auto &f : ParamFields())
        EXPECT_EQ(FindParamField(f.name), &f);
    EXPECT_EQ(FindParamField("nothing"), nullptr);
}

TEST(ParamFields, WritingAFieldChangesOnlyItsOwnBits) {
    for (const auto &f : ParamFields()) {
        for (int variant = 0; variant < 2; ++variant) {
            const qz::ConfigArea before = RandomBlock(7u + static_cast<unsigned>(variant));
            qz::ConfigArea after = before;
            const FieldValue value = SomeValue(f, variant);
            WriteField(f, after, value);
            EXPECT_EQ(ReadField(f, after), value) << f.name;
            const std::size_t width = f.kind == FieldKind::Ipv4                                ? 4
                                      : (f.kind == FieldKind::U16 || f.kind == FieldKind::I16) ? 2
                                                                                               : 1;
            for (std::size_t i = 0; i < qz::ConfigArea::kSize; ++i) {
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
    qz::ConfigArea area;
    WriteField(*FindParamField("netAddress"), area, std::string("192.168.1.30"));
    WriteField(*FindParamField("netMask"), area, std::string("255.255.255.0"));
    WriteField(*FindParamField("udpPort"), area, std::int64_t{6003});
    WriteField(*FindParamField("angle"), area, std::int64_t{-32767});
    WriteField(*FindParamField("integration"), area, std::int64_t{65535});
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
    EXPECT_EQ(ReadField(*FindParamField("netAddress"), area),
              FieldValue(std::string("192.168.1.30")));
    EXPECT_EQ(ReadField(*FindParamField("angle"), area), FieldValue(std::int64_t{-32767}));
}

TEST(ParamFields, RefusesValuesOutsideTheRange) {
    const ParamField &laser = *FindParamField("laserLevel");
    EXPECT_EQ(ParseFieldValue(laser, "31"), FieldValue(std::int64_t{31}));
    EXPECT_THROW(ParseFieldValue(laser, "32"), Failure);
    EXPECT_THROW(ParseFieldValue(laser, "-1"), Failure);
    EXPECT_THROW(ParseFieldValue(*FindParamField("angle"), "-32768"), Failure);
    EXPECT_THROW(ParseFieldValue(*FindParamField("analogPoints"), "5"), Failure);
    EXPECT_THROW(ParseFieldValue(*FindParamField("resultSyncEnable"), "2"), Failure);
    EXPECT_THROW(ParseFieldValue(*FindParamField("udpAddress"), "1.2.3"), Failure);
    EXPECT_THROW(ParseFieldValue(*FindParamField("udpPort"), "65536"), Failure);
    try {
        ParseFieldValue(laser, "40");
        FAIL() << "no exception";
    } catch (const Failure &f) {
        EXPECT_STREQ(f.what(), "laserLevel=40 is out of range (0..31)");
        EXPECT_EQ(f.exitCode(), kExitUsage);
    }
}

TEST(ParamFields, ExplainsValuesInUnits) {
    EXPECT_EQ(FieldMeaning(*FindParamField("integration"), std::int64_t{99}), "100 us");
    EXPECT_EQ(FieldMeaning(*FindParamField("angle"), std::int64_t{16384}), "30.001 degrees");
    EXPECT_EQ(FieldMeaning(*FindParamField("udpFrequency"), std::int64_t{0}), "disabled");
    EXPECT_EQ(FieldMeaning(*FindParamField("udpFrequency"), std::int64_t{50}), "50 Hz");
    EXPECT_EQ(FieldMeaning(*FindParamField("analogPoints"), std::int64_t{4}), "1024 points");
    EXPECT_EQ(FieldMeaning(*FindParamField("syncDivider"), std::int64_t{0}), "Meas. / 1");
    EXPECT_EQ(FieldUnit(*FindParamField("laserLevel")), "level (0..31)");
}

} // namespace
} // namespace qzctl
