// The shared command-line parser: the number rule, how words are split into
// options and positional words, the one-line faults, and the help layout.
#include "qzcli.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qz417::cli {
namespace {

std::optional<std::int64_t> Int(std::string_view text, std::int64_t min = INT64_MIN,
                                std::int64_t max = INT64_MAX) {
    return ParseInteger(text, min, max, "v", nullptr);
}

TEST(Numbers, LeadingZerosAreDecimalAndHexNeedsItsPrefix) {
    EXPECT_EQ(Int("010"), 10); // strtol with base 0 read this as 8
    EXPECT_EQ(Int("0009"), 9); // and refused this as a bad octal number
    EXPECT_EQ(Int("0"), 0);
    EXPECT_EQ(Int("-0"), 0);
    EXPECT_EQ(Int("+17"), 17);
    EXPECT_EQ(Int("0x2F"), 47);
    EXPECT_EQ(Int("0X2f"), 47);
    EXPECT_EQ(Int("-0x10"), -16);
    EXPECT_EQ(Int("0x010"), 16);
    EXPECT_EQ(Int("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(Int("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(Int("-0x8000000000000000"), INT64_MIN);
}

TEST(Numbers, AnythingButTheNumberIsRefused) {
    for (const char *bad : {"", "-", "+", "0x", "0x-1", "0x+1", "--5", "+-5", "-+5", " 5", "5 ",
                            "5\n", "3x", "1e3", "1.0", "0b101", "x10", "0xg", "١٢"})
        EXPECT_EQ(Int(bad), std::nullopt) << "'" << bad << "'";
}

TEST(Numbers, FaultLinesNameTheValueAndTheRange) {
    std::string error;
    EXPECT_EQ(ParseInteger("255", 1, 254, "--count", &error), std::nullopt);
    EXPECT_EQ(error, "--count: 255 is out of range (1..254)");
    EXPECT_EQ(ParseInteger("3x", 1, 254, "--count", &error), std::nullopt);
    EXPECT_EQ(error, "--count: '3x' is not a valid integer value");
    EXPECT_EQ(ParseInteger("9223372036854775808", 0, 10, "n", &error), std::nullopt);
    EXPECT_EQ(error, "n: 9223372036854775808 is out of range (0..10)");
    EXPECT_EQ(ParseInteger("-9223372036854775809", -10, 10, "n", &error), std::nullopt);
    EXPECT_EQ(ParseInteger("99999999999999999999999", 0, 10, "n", &error), std::nullopt);
    EXPECT_NE(error.find("out of range"), std::string::npos);
    EXPECT_EQ(ParseInteger("0", 1, 254, "--count", &error), std::nullopt);
    EXPECT_EQ(ParseInteger("254", 1, 254, "--count", &error), 254);
}

TEST(Numbers, RealsAreDecimalAndFinite) {
    std::string error;
    EXPECT_EQ(ParseReal("2.5", -45, 45, "--tilt", &error), 2.5);
    EXPECT_EQ(ParseReal("-2.5", -45, 45, "--tilt", &error), -2.5);
    EXPECT_EQ(ParseReal("+3", -45, 45, "--tilt", &error), 3.0);
    EXPECT_EQ(ParseReal("010", -45, 45, "--tilt", &error), 10.0);
    EXPECT_EQ(ParseReal("1e3", 0, 1e6, "--rate", &error), 1000.0);
    for (const char *bad : {"", "inf", "-inf", "nan", "0x10", " 1", "1 ", "1,5", "+-1", "e3"}) {
        EXPECT_EQ(ParseReal(bad, -1e9, 1e9, "--rate", &error), std::nullopt) << bad;
        EXPECT_EQ(error, std::string("--rate: '") + bad + "' is not a valid number");
    }
    EXPECT_EQ(ParseReal("45.0001", -45, 45, "--tilt", &error), std::nullopt);
    EXPECT_EQ(error, "--tilt: 45.0001 is out of range (-45..45)");
    EXPECT_EQ(ParseReal("1e999", 0, 1e6, "--rate", &error), std::nullopt);
}

const std::vector<Option> kTable = {
    {"", 0, "", "Heading:"},        {"time", 0, "MS", "listening time"},
    {"json", 0, "", "JSON output"}, {"output", 'o', "FILE", "the file\nsecond line"},
    {"type", 0, "N", "type code"},  {"timeout", 0, "MS", "time-out"},
};

TEST(Parse, SplitsOptionsFromPositionalWordsAnywhere) {
    const ParsedLine p = Parse({"get", "--time", "500", "127.0.0.1", "--json", "-o", "f.txt",
                                "--type=-1", "-ox.txt", "--", "--json", "-5"},
                               kTable);
    EXPECT_EQ(p.error(), "");
    EXPECT_EQ(p.positional(), (std::vector<std::string>{"get", "127.0.0.1", "--json", "-5"}));
    EXPECT_EQ(p.value("time"), "500");
    EXPECT_TRUE(p.has("json"));
    EXPECT_EQ(p.value("json"), "");
    EXPECT_EQ(p.value("output"), "x.txt"); // the last occurrence counts
    EXPECT_EQ(p.value("type"), "-1");
    EXPECT_FALSE(p.has("timeout"));
    EXPECT_FALSE(p.helpRequested());
    EXPECT_EQ(p.options().size(), 5u);
}

TEST(Parse, AValueMayLookLikeAnOption) {
    const ParsedLine p = Parse({"--type", "-1", "--output", "--json"}, kTable);
    EXPECT_EQ(p.error(), "");
    EXPECT_EQ(p.value("type"), "-1");
    EXPECT_EQ(p.value("output"), "--json");
    EXPECT_FALSE(p.has("json"));
}

TEST(Parse, IgnoresPosixlyCorrectOrdering) {
    setenv("POSIXLY_CORRECT", "1", 1);
    const ParsedLine p = Parse({"127.0.0.1", "--json"}, kTable);
    unsetenv("POSIXLY_CORRECT");
    EXPECT_TRUE(p.has("json"));
    EXPECT_EQ(p.positional(), (std::vector<std::string>{"127.0.0.1"}));
}

TEST(Parse, FaultsAreOneLineAndTheFirstCounts) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    for (const Case &c : std::vector<Case>{
             {{"--colour"}, "unknown option '--colour'"},
             {{"--colour=red"}, "unknown option '--colour'"},
             {{"--tim", "5"}, "unknown option '--tim'"},           // no abbreviations
             {{"--time-out", "5"}, "unknown option '--time-out'"}, // nor near misses
             {{"--t", "5"}, "unknown option '--t'"},               // ambiguous prefix
             {{"-x"}, "unknown option '-x'"},
             {{"-5"}, "unknown option '-5'"},
             {{"--time"}, "option --time needs a value"},
             {{"x", "-o"}, "option -o needs a value"},
             {{"--json=1"}, "option --json takes no value"},
             {{"--help=yes"}, "option --help takes no value"},
             {{"--bogus", "--time"}, "unknown option '--bogus'"},
         }) {
        const ParsedLine p = Parse(c.args, kTable);
        EXPECT_EQ(p.error(), c.error) << c.args[0];
        EXPECT_EQ(p.error().find('\n'), std::string::npos);
    }
}

TEST(Parse, HelpIsSeenAnywhereEvenAfterAFault) {
    EXPECT_TRUE(Parse({"--help"}, kTable).helpRequested());
    EXPECT_TRUE(Parse({"x", "-h"}, kTable).helpRequested());
    const ParsedLine p = Parse({"--bogus", "--help"}, kTable);
    EXPECT_TRUE(p.helpRequested());
    EXPECT_FALSE(p.error().empty());
    EXPECT_FALSE(Parse({"--", "--help"}, kTable).helpRequested());
}

TEST(Parse, EachCallStartsAfresh) {
    // getopt keeps its position in globals; a parse that stopped in the
    // middle of "-ox" must not leave the next one there.
    (void)Parse({"-oa", "-x", "--time"}, kTable);
    const ParsedLine p = Parse({"-o", "b", "w"}, kTable);
    EXPECT_EQ(p.error(), "");
    EXPECT_EQ(p.value("output"), "b");
    EXPECT_EQ(p.positional(), (std::vector<std::string>{"w"}));
}

TEST(OptionHelp, LinesUpNamesAndContinuationLines) {
    const std::vector<Option> table = {
        {"", 0, "", "Heading:"},
        {"time", 0, "MS", "listening time"},
        {"output", 'o', "FILE", "the file\nsecond line"},
        {"a-very-long-option-name", 0, "VALUE", "text"},
    };
    EXPECT_EQ(OptionHelp(table, 20), "Heading:\n"
                                     "  --time MS         listening time\n"
                                     "  -o, --output FILE the file\n"
                                     "                    second line\n"
                                     "  --a-very-long-option-name VALUE\n"
                                     "                    text\n"
                                     "  -h, --help        show this help and exit\n");
}

} // namespace
} // namespace qz417::cli
