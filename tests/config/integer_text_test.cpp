#include "config/integer_text.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char *text;
    std::optional<std::int32_t> value;
};

class ParseIntegerTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseIntegerTest, ParsesDecimalIntegersOnly) {
    const ParseCase &c = GetParam();
    EXPECT_EQ(qz417::ParseInteger(QString::fromUtf8(c.text)), c.value) << "text '" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseIntegerTest,
    ::testing::Values(ParseCase{"0", 0}, ParseCase{"255", 255}, ParseCase{"300", 300},
                      ParseCase{"007", 7}, ParseCase{"-1", -1}, ParseCase{"+5", 5},
                      ParseCase{"65535", 65535}, ParseCase{"70000", 70000},
                      ParseCase{"2147483647", 2147483647}, ParseCase{"-2147483648", INT32_MIN},
                      ParseCase{"2147483648", std::nullopt}, ParseCase{"-2147483649", std::nullopt},
                      ParseCase{"99999999999999999999", std::nullopt}, ParseCase{"", std::nullopt},
                      ParseCase{"-", std::nullopt}, ParseCase{"+", std::nullopt},
                      ParseCase{"abc", std::nullopt}, ParseCase{"12a", std::nullopt},
                      ParseCase{" 12", std::nullopt}, ParseCase{"12 ", std::nullopt},
                      ParseCase{"0x1F", std::nullopt}, ParseCase{"$1F", std::nullopt},
                      ParseCase{"1.5", std::nullopt}, ParseCase{"--1", std::nullopt},
                      ParseCase{"\xD9\xA3", std::nullopt} /* Arabic-Indic digit three */));

struct ResolveCase {
    const char *name;
    const char *text;
    std::uint32_t current;
    std::uint32_t limit;
    bool valid;
    const char *shown;
    std::uint32_t stored;
};

class ResolveTypedNumberTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ResolveTypedNumberTest, FollowsTheEditSteps) {
    const ResolveCase &c = GetParam();
    const qz417::TypedNumber r =
        qz417::ResolveTypedNumber(QString::fromUtf8(c.text), c.current, c.limit);
    EXPECT_EQ(r.valid, c.valid);
    EXPECT_EQ(r.text.toStdString(), c.shown);
    if (c.valid) {
        EXPECT_EQ(r.value, c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edits, ResolveTypedNumberTest,
    ::testing::Values(ResolveCase{"octet_in_range", "17", 192, 255, true, "17", 17},
                      ResolveCase{"octet_zero", "0", 192, 255, true, "0", 0},
                      ResolveCase{"octet_limit", "255", 0, 255, true, "255", 255},
                      ResolveCase{"octet_above_limit", "300", 192, 255, true, "192", 192},
                      ResolveCase{"octet_empty", "", 168, 255, true, "168", 168},
                      ResolveCase{"octet_letters", "abc", 168, 255, false, "abc", 0},
                      ResolveCase{"octet_negative", "-1", 30, 255, true, "30", 30},
                      ResolveCase{"octet_minus_zero", "-0", 30, 255, true, "-0", 0},
                      ResolveCase{"octet_leading_zeros", "007", 30, 255, true, "007", 7},
                      ResolveCase{"port_above_limit", "70000", 6003, 65535, true, "6003", 6003},
                      ResolveCase{"port_in_range", "6004", 6003, 65535, true, "6004", 6004},
                      ResolveCase{"port_limit", "65535", 6003, 65535, true, "65535", 65535},
                      ResolveCase{"port_negative", "-6003", 6003, 65535, true, "6003", 6003},
                      ResolveCase{"port_empty", "", 6003, 65535, true, "6003", 6003}),
    [](const ::testing::TestParamInfo<ResolveCase> &info) { return std::string(info.param.name); });

} // namespace
