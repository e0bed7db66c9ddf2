// The qz417sim command line.
#include "cli_options.h"

#include <gtest/gtest.h>

namespace qz417::sim {
namespace {

TEST(CommandLine, DefaultsPrintConnectionEvents) {
    const CommandLine cl = parseCommandLine({});
    EXPECT_TRUE(cl.error.empty());
    EXPECT_FALSE(cl.options.quiet);
    EXPECT_EQ(cl.options.count, 1);
    EXPECT_EQ(cl.options.tcpPort, 417);
    EXPECT_EQ(cl.options.announceAddress, "127.0.0.1");
    EXPECT_EQ(cl.options.announcePort, 6001);
    EXPECT_FALSE(cl.options.announceOffLoopback);
}

TEST(CommandLine, EveryOptionReachesItsField) {
    const CommandLine cl = parseCommandLine({"--count",
                                             "3",
                                             "--announce-to",
                                             "192.168.1.255:7001",
                                             "--announce-interval=100",
                                             "--rate",
                                             "500",
                                             "--udp-hz",
                                             "20",
                                             "--stream-rate",
                                             "100000",
                                             "--trigger-hz",
                                             "50",
                                             "--state-dir",
                                             "/tmp/x",
                                             "--allow-network",
                                             "--quiet",
                                             "--type",
                                             "418",
                                             "--modification",
                                             "0x0F",
                                             "--serial",
                                             "12345",
                                             "--base",
                                             "90",
                                             "--range-z",
                                             "300",
                                             "--range-x-smr",
                                             "150",
                                             "--range-x-emr",
                                             "260",
                                             "--discrete",
                                             "8192",
                                             "--error-value",
                                             "-32768",
                                             "--firmware",
                                             "123456789",
                                             "--segment",
                                             "100:5",
                                             "--stall-after",
                                             "4",
                                             "--close-mid-reply-after",
                                             "5",
                                             "--reset-after",
                                             "6",
                                             "--malformed-announcements",
                                             "--angle-reply",
                                             "-1",
                                             "--tilt",
                                             "-2.5",
                                             "--fault-scanner",
                                             "2",
                                             "--port",
                                             "4170",
                                             "--counter-start",
                                             "40000"});
    ASSERT_TRUE(cl.error.empty()) << cl.error;
    const EmulatorOptions &o = cl.options;
    EXPECT_EQ(o.count, 3);
    EXPECT_EQ(o.announceAddress, "192.168.1.255");
    EXPECT_EQ(o.announcePort, 7001);
    EXPECT_TRUE(o.announceOffLoopback);
    EXPECT_EQ(o.announceIntervalMs, 100);
    EXPECT_EQ(o.measurementRateHz, 500);
    EXPECT_EQ(o.counterStart, 40000);
    EXPECT_EQ(o.udpHz, 20);
    EXPECT_EQ(o.streamRateHz, 100000);
    EXPECT_EQ(o.triggerHz, 50);
    EXPECT_EQ(o.stateDir, "/tmp/x");
    EXPECT_TRUE(o.allowNetwork);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.description.type, 418);
    EXPECT_EQ(o.description.modification, 0x0F);
    EXPECT_EQ(o.description.serialNumber, 12345u);
    EXPECT_EQ(o.description.baseDistance, 90);
    EXPECT_EQ(o.description.rangeZ, 300);
    EXPECT_EQ(o.description.rangeXSmr, 150);
    EXPECT_EQ(o.description.rangeXEmr, 260);
    EXPECT_EQ(o.description.discreteValue, 8192);
    EXPECT_EQ(o.description.errorValue, -32768);
    EXPECT_EQ(o.description.firmwareVersion, 123456789u);
    EXPECT_EQ(o.faults.segmentBytes, 100);
    EXPECT_EQ(o.faults.segmentDelayMs, 5);
    EXPECT_EQ(o.faults.stallAfterCommands, 4);
    EXPECT_EQ(o.faults.closeMidReplyAfter, 5);
    EXPECT_EQ(o.faults.resetAfterCommands, 6);
    EXPECT_TRUE(o.faults.malformedAnnouncements);
    EXPECT_EQ(o.faults.angleReply, std::optional<std::int16_t>(-1));
    EXPECT_EQ(o.mountTiltDeg, -2.5);
    EXPECT_EQ(o.faultScanner, 2);
    EXPECT_EQ(o.tcpPort, 4170);
}

TEST(CommandLine, BadInputIsRefusedWithTheOptionNamed) {
    const std::vector<std::vector<std::string>> bad = {
        {"--count", "0"},
        {"--count", "255"},
        {"--count", "3x"},
        {"--udp-hz", "256"},
        {"--counter-start", "65536"},
        {"--counter-start", "-1"},
        {"--serial", "16777216"},
        {"--error-value", "32768"},
        {"--announce-to", "host"},
        {"--announce-to", "1.2.3.4:0"},
        {"--segment", "0"},
        {"--segment", "10:x"},
        {"--rate"},
        {"--bogus"},
        {"--quiet=1"},
        {"--tilt", "45.5"},
        {"--angle-reply", "-32769"},
        {"--firmware", "4294967296"},
        {"--fault-scanner", "1"}, // only scanner 0 exists
        {"--replay", ""},
        {"--replay-rate", "0"},
        {"--replay-once=1"},
    };
    for (const auto &args : bad) {
        const CommandLine cl = parseCommandLine(args);
        EXPECT_FALSE(cl.error.empty()) << args[0];
        EXPECT_NE(cl.error.find(args[0].substr(0, args[0].find('='))), std::string::npos)
            << cl.error;
    }
}

TEST(CommandLine, ReplayOptions) {
    const CommandLine plain = parseCommandLine({});
    EXPECT_TRUE(plain.options.replayPath.empty());
    EXPECT_FALSE(plain.options.replayOnce);
    const CommandLine cl =
        parseCommandLine({"--replay", "line1.h5", "--replay-rate", "2500", "--replay-once"});
    ASSERT_TRUE(cl.error.empty()) << cl.error;
    EXPECT_EQ(cl.options.replayPath, "line1.h5");
    EXPECT_EQ(cl.options.replayRateHz, 2500);
    EXPECT_TRUE(cl.options.replayOnce);
}

TEST(CommandLine, NumbersAreDecimalUnlessWrittenInHex) {
    // Read with strtol's base 0, "010" was eight scanners and "08" a fault.
    CommandLine cl = parseCommandLine({"--count", "010", "--udp-hz", "08", "--modification", "0x2F",
                                       "--error-value", "-0x10", "--tilt", "007.5"});
    ASSERT_TRUE(cl.error.empty()) << cl.error;
    EXPECT_EQ(cl.options.count, 10);
    EXPECT_EQ(cl.options.udpHz, 8);
    EXPECT_EQ(cl.options.description.modification, 0x2F);
    EXPECT_EQ(cl.options.description.errorValue, -16);
    EXPECT_EQ(cl.options.mountTiltDeg, 7.5);
    // Spaces, signs twice and hex reals were let through by strtol/strtod.
    for (const auto &args : std::vector<std::vector<std::string>>{{"--count", " 3"},
                                                                  {"--count", "+-3"},
                                                                  {"--rate", "0x10"},
                                                                  {"--rate", "inf"},
                                                                  {"--tilt", " 1"}}) {
        cl = parseCommandLine(args);
        EXPECT_FALSE(cl.error.empty()) << args[0] << " " << args[1];
    }
}

TEST(CommandLine, FaultLinesSayWhatIsWrong) {
    EXPECT_EQ(parseCommandLine({"--count", "255"}).error, "--count: 255 is out of range (1..254)");
    EXPECT_EQ(parseCommandLine({"--count", "3x"}).error,
              "--count: '3x' is not a valid integer value");
    EXPECT_EQ(parseCommandLine({"--cou", "3"}).error, "unknown option '--cou'");
    EXPECT_EQ(parseCommandLine({"--rate"}).error, "option --rate needs a value");
    EXPECT_EQ(parseCommandLine({"3"}).error, "unexpected argument '3'");
    EXPECT_EQ(parseCommandLine({"--announce-to", "1.2.3.4:0"}).error,
              "--announce-to port: 0 is out of range (1..65535)");
    // --help is seen after a fault, so that main prints the help.
    EXPECT_TRUE(parseCommandLine({"--bogus", "--help"}).help);
}

TEST(CommandLine, HelpDocumentsEveryOption) {
    EXPECT_TRUE(parseCommandLine({"--help"}).help);
    const std::string help = usageText();
    for (const char *name : {"--count",         "--port",
                             "--announce-to",   "--announce-interval",
                             "--allow-network", "--state-dir",
                             "--quiet",         "--rate",
                             "--trigger-hz",    "--udp-hz",
                             "--stream-rate",   "--tilt",
                             "--type",          "--modification",
                             "--serial",        "--base",
                             "--range-z",       "--range-x-smr",
                             "--range-x-emr",   "--discrete",
                             "--error-value",   "--firmware",
                             "--replay",        "--replay-rate",
                             "--replay-once",   "--segment",
                             "--stall-after",   "--close-mid-reply-after",
                             "--reset-after",   "--malformed-announcements",
                             "--angle-reply",   "--fault-scanner",
                             "--help"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}

} // namespace
} // namespace qz417::sim
