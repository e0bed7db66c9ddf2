// The tool's side of the named fields: values from the command line, checked
// against the model's table, refused with a usage error.
#include <gtest/gtest.h>

#include "failure.h"
#include "param_fields.h"

namespace qz417::ctl {
namespace {

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

TEST(ParamFields, WriteFieldRefusesWithAUsageError) {
    qz417::ConfigArea area;
    EXPECT_THROW(WriteParamField(*FindParamField("laserLevel"), area, std::int64_t{32}), Failure);
    EXPECT_EQ(area, qz417::ConfigArea{});
}

} // namespace
} // namespace qz417::ctl
