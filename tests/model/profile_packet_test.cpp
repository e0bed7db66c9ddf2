#include <array>
#include <bit>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "model/point_label.h"
#include "model/profile_packet.h"

namespace {

using qz417::DecodePoint;
using qz417::ProfileScale;
using qz417::RawPoint;

struct DecodeCase {
    std::int16_t zRaw;
    std::int16_t xRaw;
    bool valid;
    float x;
    float z;
};

class DecodePointWorkedValues : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodePointWorkedValues, InitialScale) {
    const DecodeCase c = GetParam();
    const qz417::ProfilePoint p = DecodePoint(RawPoint{c.zRaw, c.xRaw}, ProfileScale{});
    ASSERT_EQ(p.valid, c.valid);
    if (c.valid) {
        EXPECT_EQ(p.x, c.x); // exact: one rounding of the exact quotient
        EXPECT_EQ(p.z, c.z);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DecodePointWorkedValues,
    ::testing::Values(DecodeCase{16384, 8192, true, 115.0f, 250.0f},
                      DecodeCase{1, -8192, true, -115.0f, 0.0152587890625f},
                      DecodeCase{32767, -32768, true, -460.0f, 499.9847412109375f},
                      DecodeCase{-32768, 32767, true, 459.98596191406250f, -500.0f},
                      DecodeCase{0, 8192, false, 0, 0}, // error value in Z
                      DecodeCase{100, 0, false, 0, 0},  // error value in X
                      DecodeCase{0, 0, false, 0, 0}));

TEST(DecodePoint, ErrorValueInEitherCoordinateWithAnotherErrorValue) {
    ProfileScale scale;
    scale.errorValue = -32768;
    EXPECT_FALSE(DecodePoint(RawPoint{-32768, 5}, scale).valid);
    EXPECT_FALSE(DecodePoint(RawPoint{5, -32768}, scale).valid);
    // 0 is an ordinary coordinate once the error value is another one.
    const qz417::ProfilePoint p = DecodePoint(RawPoint{0, 0}, scale);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.z, 0.0f);
}

TEST(DecodePoint, ZeroDiscreteValueMakesEveryPointInvalid) {
    ProfileScale scale;
    scale.discreteValue = 0;
    scale.errorValue = 7;
    for (std::int16_t raw : {std::int16_t{1}, std::int16_t{-1}, std::int16_t{32767}})
        EXPECT_FALSE(DecodePoint(RawPoint{raw, raw}, scale).valid);
}

TEST(DecodePoint, ProductIsExactAndRoundedOnceToFloat) {
    // 65535 * 32767 needs 31 bits: a float product would lose digits.
    ProfileScale scale{65535, 65535, 3, 0};
    const qz417::ProfilePoint p = DecodePoint(RawPoint{32767, -32767}, scale);
    ASSERT_TRUE(p.valid);
    const double exact = 65535.0 * 32767.0 / 3.0;
    EXPECT_EQ(p.z, static_cast<float>(exact));
    EXPECT_EQ(p.x, static_cast<float>(-exact));
    // A quotient that needs rounding: 230 / 16384 * 3 = 0.0421142578125 is exact,
    // 250 * 1 / 3 is not.
    scale = ProfileScale{230, 250, 3, 0};
    EXPECT_EQ(DecodePoint(RawPoint{1, 1}, scale).z, static_cast<float>(250.0 / 3.0));
}

TEST(ProfilePacket, ReadsLittleEndianCountersAndSignedPoints) {
    std::array<std::uint8_t, qz417::kProfilePacketSize> bytes{};
    bytes[0] = 0xFF; // measurementCount 65535: unsigned
    bytes[1] = 0xFF;
    bytes[2] = 0x34;
    bytes[3] = 0x12;
    bytes[4] = 0x00; // point 0: z = 0x8000 (-32768), x = 0x7FFF
    bytes[5] = 0x80;
    bytes[6] = 0xFF;
    bytes[7] = 0x7F;
    bytes[4096] = 0x01; // point 1023 occupies the last four bytes
    bytes[4097] = 0x00;
    bytes[4098] = 0xFE;
    bytes[4099] = 0xFF;
    const qz417::ProfilePacket packet(bytes.data());
    EXPECT_EQ(packet.measurementCount(), 65535);
    EXPECT_EQ(packet.packetCount(), 0x1234);
    EXPECT_EQ(packet.point(0).zRaw, -32768);
    EXPECT_EQ(packet.point(0).xRaw, 32767);
    EXPECT_EQ(packet.point(1023).zRaw, 1);
    EXPECT_EQ(packet.point(1023).xRaw, -2);
}

TEST(DecodePacket, AllErrorPointsAreInvalidInPacketOrder) {
    std::array<std::uint8_t, qz417::kProfilePacketSize> bytes{};
    for (int i = 0; i < qz417::kProfilePoints; ++i) {
        // X carries the error value 0 in even points, Z in odd ones.
        const int base = 4 + 4 * i;
        bytes[static_cast<std::size_t>(base + (i % 2 ? 0 : 2))] = 9;
    }
    std::array<qz417::ProfilePoint, qz417::kProfilePoints> out{};
    qz417::DecodePacket(qz417::ProfilePacket(bytes.data()), ProfileScale{}, out);
    for (const auto &p : out)
        EXPECT_FALSE(p.valid);

    bytes[4 + 4 * 10] = 0x00; // point 10: z = 16384, x = 8192
    bytes[4 + 4 * 10 + 1] = 0x40;
    bytes[4 + 4 * 10 + 2] = 0x00;
    bytes[4 + 4 * 10 + 3] = 0x20;
    qz417::DecodePacket(qz417::ProfilePacket(bytes.data()), ProfileScale{}, out);
    EXPECT_TRUE(out[10].valid);
    EXPECT_EQ(out[10].x, 115.0f);
    EXPECT_EQ(out[10].z, 250.0f);
}

TEST(DecodePacket, GivesDecodePointsPointsForEveryRawValueAndScale) {
    // Every raw value in each coordinate (64 packets of 1024 points, X and
    // Z running in opposite directions), under scales with odd ranges and
    // discrete values, error values inside and at the ends of the range,
    // and the all-invalid scale: bit for bit what DecodePoint gives.
    const ProfileScale scales[] = {{},
                                   {200, 300, 8192, -32768},
                                   {65535, 1, 3, 32767},
                                   {1, 65535, 65535, 0},
                                   {230, 250, 7, 12345},
                                   {230, 250, 0, 0}};
    std::array<std::uint8_t, qz417::kProfilePacketSize> bytes{};
    std::array<qz417::ProfilePoint, qz417::kProfilePoints> out{};
    for (const ProfileScale &scale : scales)
        for (int packet = 0; packet < 64; ++packet) {
            std::array<RawPoint, qz417::kProfilePoints> raws{};
            for (int i = 0; i < qz417::kProfilePoints; ++i) {
                const int v = packet * qz417::kProfilePoints + i;
                RawPoint &r = raws[static_cast<std::size_t>(i)];
                r.xRaw = static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
                r.zRaw = static_cast<std::int16_t>(static_cast<std::uint16_t>(65535 - v));
                std::uint8_t *p = bytes.data() + 4 + 4 * i;
                const auto z = static_cast<std::uint16_t>(r.zRaw),
                           x = static_cast<std::uint16_t>(r.xRaw);
                p[0] = static_cast<std::uint8_t>(z & 0xFF);
                p[1] = static_cast<std::uint8_t>(z >> 8);
                p[2] = static_cast<std::uint8_t>(x & 0xFF);
                p[3] = static_cast<std::uint8_t>(x >> 8);
            }
            qz417::DecodePacket(qz417::ProfilePacket(bytes.data()), scale, out);
            for (int i = 0; i < qz417::kProfilePoints; ++i) {
                const auto k = static_cast<std::size_t>(i);
                const qz417::ProfilePoint want = DecodePoint(raws[k], scale);
                ASSERT_EQ(out[k].valid, want.valid) << "packet " << packet << " point " << i;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(out[k].x),
                          std::bit_cast<std::uint32_t>(want.x))
                    << "packet " << packet << " point " << i;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(out[k].z),
                          std::bit_cast<std::uint32_t>(want.z))
                    << "packet " << packet << " point " << i;
            }
        }
}

struct LabelCase {
    double x;
    const char *text;
};

class PointLabel : public ::testing::TestWithParam<LabelCase> {};

TEST_P(PointLabel, ThreeSignificantDigitsThreeDecimals) {
    EXPECT_EQ(qz417::PointLabelText(GetParam().x), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PointLabel,
    ::testing::Values(LabelCase{12.3456, "12.300"}, LabelCase{115.0, "115.000"},
                      LabelCase{-115.0, "-115.000"}, LabelCase{0.0152587890625, "0.015"},
                      LabelCase{-459.986, "-460.000"}, LabelCase{1234.5, "1230.000"},
                      LabelCase{0.00987, "0.010"}, LabelCase{-0.0001, "0.000"},
                      LabelCase{0.0, "0.000"}));

} // namespace
