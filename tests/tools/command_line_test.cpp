// Option parsing, integer values and IPv4 addresses of qz417ctl.
#include <gtest/gtest.h>

#include "command_line.h"
#include "device_address.h"
#include "failure.h"

namespace qz417::ctl {
namespace {

const std::vector<OptionDef> kSpecs = {
    {"time", 0, "MS", "listening time"}, {"json", 0, "", "JSON"}, {"output", 'o', "FILE", "file"}};

TEST(CommandLine, SplitsPositionalWordsFlagsAndValues) {
    const CommandLine cl({"127.0.0.1", "--time", "500", "--json", "-o", "f.txt", "x"}, kSpecs);
    EXPECT_EQ(cl.positional(), (std::vector<std::string>{"127.0.0.1", "x"}));
    EXPECT_EQ(cl.value("time"), "500");
    EXPECT_TRUE(cl.has("json"));
    EXPECT_EQ(cl.value("output"), "f.txt");
    EXPECT_FALSE(cl.helpRequested());
}

TEST(CommandLine, TakesInlineValuesAndWordsAfterTheDoubleDash) {
    const CommandLine cl({"--time=750", "--", "-5", "--json"}, kSpecs);
    EXPECT_EQ(cl.integer("time", 1, 0, 1000), 750);
    EXPECT_EQ(cl.positional(), (std::vector<std::string>{"-5", "--json"}));
    EXPECT_FALSE(cl.has("json"));
}

TEST(CommandLine, NumbersMeanWhatTheySayInEveryBase) {
    // strtol's base 0 would read 010 as eight; the tools read ten.
    EXPECT_EQ(CommandLine({"--time", "010"}, kSpecs).integer("time", 1, 0, 65535), 10);
    EXPECT_EQ(CommandLine({"--time=0x1F4"}, kSpecs).integer("time", 1, 0, 65535), 500);
    EXPECT_EQ(CommandLine({}, kSpecs).integer("time", 5000, 1, 65535), 5000);
    EXPECT_THROW(CommandLine({"--time", "08.5"}, kSpecs).integer("time", 1, 0, 65535), Failure);
}

TEST(CommandLine, HelpWinsOverOtherFaults) {
    EXPECT_TRUE(CommandLine({"--help"}, kSpecs).helpRequested());
    EXPECT_TRUE(CommandLine({"x", "-h"}, kSpecs).helpRequested());
    EXPECT_TRUE(CommandLine({"--colour", "--help"}, kSpecs).helpRequested());
}

TEST(CommandLine, RejectsUnknownOptionsAndMissingValues) {
    EXPECT_THROW(CommandLine({"--colour"}, kSpecs), Failure);
    EXPECT_THROW(CommandLine({"--time"}, kSpecs), Failure);
    EXPECT_THROW(CommandLine({"--json=1"}, kSpecs), Failure);
    EXPECT_THROW(CommandLine({"--tim", "5"}, kSpecs), Failure); // abbreviations are not names
    EXPECT_THROW(CommandLine({"-5"}, kSpecs), Failure);
    try {
        CommandLine({"--colour"}, kSpecs);
        FAIL() << "no exception";
    } catch (const Failure &f) {
        EXPECT_EQ(f.exitCode(), kExitUsage);
        EXPECT_STREQ(f.what(), "unknown option '--colour' (see --help)");
    }
}

TEST(CommandLine, CountsPositionalWords) {
    const CommandLine cl({"a", "b"}, kSpecs);
    EXPECT_NO_THROW(cl.expectPositional(2, "u"));
    EXPECT_THROW(cl.expectPositional(1, "u"), Failure);
    EXPECT_THROW(cl.expectPositional(3, "u"), Failure);
}

TEST(CommandLine, HelpTextListsTheTableBetweenIntroAndEnd) {
    const std::string help = HelpText("usage: x\n", kSpecs, "The end.\n");
    EXPECT_EQ(help.rfind("usage: x\n\nOptions:\n", 0), 0u);
    for (const char *part : {"--time MS", "--json", "-o, --output FILE", "-h, --help"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
    EXPECT_EQ(help.substr(help.size() - 10), "\nThe end.\n");
}

TEST(ParseInteger, AcceptsTheRangeAndNamesTheFault) {
    EXPECT_EQ(ParseInteger("-32767", -32767, 32767, "angle"), -32767);
    EXPECT_EQ(ParseInteger("31", 0, 31, "laserLevel"), 31);
    EXPECT_EQ(ParseInteger("031", 0, 31, "laserLevel"), 31);
    try {
        ParseInteger("32", 0, 31, "laserLevel");
        FAIL() << "no exception";
    } catch (const Failure &f) {
        EXPECT_STREQ(f.what(), "laserLevel: 32 is out of range (0..31)");
    }
    try {
        ParseInteger("3x", 0, 31, "--count");
        FAIL() << "no exception";
    } catch (const Failure &f) {
        EXPECT_STREQ(f.what(), "--count: '3x' is not a valid integer value");
    }
    EXPECT_THROW(ParseInteger("", 0, 31, "v"), Failure);
    EXPECT_THROW(ParseInteger("99999999999999999999", 0, 31, "v"), Failure);
}

TEST(Ipv4, ParsesDottedAddresses) {
    EXPECT_EQ(ParseIpv4("127.0.0.1"), (Ipv4{127, 0, 0, 1}));
    EXPECT_EQ(ParseIpv4("255.255.255.0"), (Ipv4{255, 255, 255, 0}));
    EXPECT_EQ(ParseIpv4("0.0.0.0"), (Ipv4{0, 0, 0, 0}));
    for (const char *bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1..2.3", "1.2.3.4 ", " 1.2.3.4",
          "01234.1.1.1", "-1.2.3.4", "127.0.0.01", "0x7f.0.0.1", "127.1", "::1", "localhost"})
        EXPECT_THROW(ParseIpv4(bad), Failure) << bad;
    // c_str() would stop at the NUL and leave a valid address.
    EXPECT_THROW(ParseIpv4(std::string("127.0.0.1\0junk", 14)), Failure);
}

TEST(Ipv4, BuildsTheRecordToConnectWith) {
    const DeviceAnnouncement record = MakeAnnouncement({127, 0, 0, 3});
    EXPECT_EQ(record.type, 417);
    EXPECT_EQ(FormatIpv4(record.ip), "127.0.0.3");
    EXPECT_EQ(record.next, nullptr);
    EXPECT_EQ(record.description[0], 0);
}

TEST(Ipv4, FormatsMacLikeTheSearchGrid) {
    const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    EXPECT_EQ(FormatMac(mac), "00-1A-2B-3C-4D-5E");
}

} // namespace
} // namespace qz417::ctl
