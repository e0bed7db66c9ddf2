#include "model/angle_units.h"

#include <gtest/gtest.h>

namespace {

struct DegreeCase {
    std::int16_t units;
    const char *text;
};

class AngleDegreesTest : public ::testing::TestWithParam<DegreeCase> {};

TEST_P(AngleDegreesTest, FormatsThreeDecimals) {
    const DegreeCase &c = GetParam();
    EXPECT_EQ(qz417::FormatDegrees(qz417::AngleDegrees(c.units)), c.text) << "units " << c.units;
}

INSTANTIATE_TEST_SUITE_P(
    Units, AngleDegreesTest,
    ::testing::Values(DegreeCase{0, "0.000"}, DegreeCase{1, "0.002"}, DegreeCase{-1, "-0.002"},
                      DegreeCase{546, "1.000"}, DegreeCase{16384, "30.001"},
                      DegreeCase{-16384, "-30.001"}, DegreeCase{32767, "60.000"},
                      DegreeCase{-32767, "-60.000"}, DegreeCase{-32768, "-60.002"}));

TEST(AngleDegreesTest, RoundsOnceToFloat) {
    // 16384 * 60 / 32767 = 30.000915555...; the float nearest to it.
    EXPECT_EQ(qz417::AngleDegrees(16384), static_cast<float>(16384.0L * 60.0L / 32767.0L));
    EXPECT_EQ(qz417::AngleDegrees(32767), 60.0f);
    EXPECT_EQ(qz417::AngleDegrees(0), 0.0f);
}

TEST(AngleCaptionTest, ShowsBothAngles) {
    EXPECT_EQ(qz417::AngleCaption(0, 0), "Angle: 0.000\u00B0; Calculate: 0.000\u00B0");
    EXPECT_EQ(qz417::AngleCaption(-16384, 16384), "Angle: -30.001\u00B0; Calculate: 30.001\u00B0");
    EXPECT_EQ(qz417::AngleCaption(546, -32767), "Angle: 1.000\u00B0; Calculate: -60.000\u00B0");
}

TEST(AngleCaptionTest, NoAngleFoundIsOutOfRange) {
    EXPECT_EQ(qz417::AngleCaption(0, qz417::kAngleOutOfRange),
              "Angle: 0.000\u00B0; Calculate: Out of range");
    EXPECT_EQ(qz417::AngleCaption(32767, -32768), "Angle: 60.000\u00B0; Calculate: Out of range");
}

} // namespace
