// qz417ctl params: get, set, store, defaults, save and load against an
// emulated scanner, including every failure a script has to tell apart.
#include <random>

#include <nlohmann/json.hpp>

#include "ctl_e2e_fixture.h"

namespace qz417::ctl::test {
namespace {

// A block whose uninterpreted bytes (3..4, 13, 33..511, bit 7 of byte 12)
// hold a pattern that any rewrite of them would destroy.
Block PatternBlock(unsigned seed) {
    std::mt19937 rng(seed);
    Block b{};
    for (auto &v : b)
        v = static_cast<std::uint8_t>(rng());
    b[0] = 12;      // laserLevel
    b[16] = 2;      // analogPoints
    b[12] |= 0x80;  // bit 7 set
    b[12] &= ~0x08; // measureSyncFalling clear
    return b;
}

TEST_F(CtlE2E, ParamsGetShowsEveryFieldWithItsUnit) {
    Block b = PatternBlock(1);
    b[1] = 99; // integration: 100 us
    b[2] = 0;
    emulator_->setConfig(0, b);
    const CtlResult r = RunCtl({"params", "get", "127.0.0.1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("laserLevel           12               level (0..31)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("integration          99               100 us; us - 1 (0..65535)\n"),
              std::string::npos)
        << r.out;
    for (const char *name : {"windowLeft", "angle", "analogSyncLevel", "syncDivider", "netMask",
                             "udpAddress", "udpPort", "udpFrequency"})
        EXPECT_NE(r.out.find(std::string("\n") + name + " "), std::string::npos) << name;
}

TEST_F(CtlE2E, ParamsGetJsonMatchesTheBlock) {
    const Block b = PatternBlock(2);
    emulator_->setConfig(1, b);
    const CtlResult r = RunCtl({"params", "get", "127.0.0.2", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json doc = nlohmann::json::parse(r.out);
    const nlohmann::json &fields = doc.at("fields");
    EXPECT_EQ(fields.at("laserLevel").at("value"), 12);
    EXPECT_EQ(fields.at("udpPort").at("value"), b[30] | (b[31] << 8));
    char ip[16];
    std::snprintf(ip, sizeof ip, "%u.%u.%u.%u", b[21], b[20], b[19], b[18]);
    EXPECT_EQ(fields.at("netAddress").at("value"), ip);
    EXPECT_EQ(fields.at("analogPoints").at("meaning"), "256 points");
}

TEST_F(CtlE2E, ParamsSetChangesOnlyTheNamedFields) {
    const Block before = PatternBlock(3);
    emulator_->setConfig(0, before);
    const CtlResult r = RunCtl({"params", "set", "127.0.0.1", "laserLevel=20", "angle=-16384",
                                "udpAddress=127.0.0.1", "measureSyncFalling=1", "udpPort=6003"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    Block expected = before;
    expected[0] = 20;
    expected[10] = 0x00;
    expected[11] = 0xC0;
    expected[26] = 1;
    expected[27] = 0;
    expected[28] = 0;
    expected[29] = 127;
    expected[12] |= 0x08;
    expected[30] = 0x73;
    expected[31] = 0x17;
    EXPECT_EQ(configOnce(0, expected), expected);
    EXPECT_EQ(servedOnce(0, 5, 1), 1u);
}

TEST_F(CtlE2E, ParamsSetRefusesOutOfRangeValuesWithoutWriting) {
    const Block before = PatternBlock(4);
    emulator_->setConfig(0, before);
    for (const char *bad : {"laserLevel=32", "angle=-32768", "analogPoints=5", "udpPort=70000",
                            "netMask=255.255.0", "nosuch=1", "laserLevel"}) {
        const CtlResult r = RunCtl({"params", "set", "127.0.0.1", "laserLevel=3", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_EQ(r.err.rfind("qz417ctl: ", 0), 0u) << r.err;
    }
    const CtlResult r = RunCtl({"params", "set", "127.0.0.1", "laserLevel=32"});
    ExpectOneErrorLine(r, "laserLevel=32 is out of range (0..31)");
    EXPECT_EQ(emulator_->config(0), before);
    EXPECT_EQ(emulator_->commandsServed(0, 5), 0u);
    EXPECT_EQ(emulator_->connectionsAccepted(0), 0u);
}

TEST_F(CtlE2E, ParamsSaveThenLoadRestoresTheBlockByteForByte) {
    Block saved = PatternBlock(5);
    saved[0] = 40; // out of the range the program uses: still restored as it was
    emulator_->setConfig(0, saved);
    const std::string file = path("block.json");
    const CtlResult save = RunCtl({"params", "save", "127.0.0.1", file});
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_NE(ReadFile(file).find("\"laserLevel\": 40"), std::string::npos);

    emulator_->setConfig(0, PatternBlock(6));
    const CtlResult load = RunCtl({"params", "load", "127.0.0.1", file});
    ASSERT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(configOnce(0, saved), saved);

    // The same file restores the other scanner too.
    const CtlResult other = RunCtl({"params", "load", "127.0.0.2", file});
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(configOnce(1, saved), saved);
}

TEST_F(CtlE2E, ParamsLoadAppliesAFieldEditedInTheFile) {
    const Block saved = PatternBlock(7);
    emulator_->setConfig(0, saved);
    const std::string file = path("edit.json");
    ASSERT_EQ(RunCtl({"params", "save", "127.0.0.1", file}).status, 0);
    std::string text = ReadFile(file);
    const auto at = text.find("\"laserLevel\": 12");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 16, "\"laserLevel\": 31");
    {
        std::FILE *f = std::fopen(file.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    ASSERT_EQ(RunCtl({"params", "load", "127.0.0.1", file}).status, 0);
    Block expected = saved;
    expected[0] = 31;
    EXPECT_EQ(configOnce(0, expected), expected);
}

TEST_F(CtlE2E, ParamsLoadRefusesABrokenFileWithoutWriting) {
    const std::string file = path("broken.json");
    std::FILE *f = std::fopen(file.c_str(), "wb");
    std::fputs("{\"format\": \"qz417 parameter block\", \"block\": []}", f);
    std::fclose(f);
    const Block before = emulator_->config(0);
    const CtlResult r = RunCtl({"params", "load", "127.0.0.1", file});
    EXPECT_EQ(r.status, 2);
    ExpectOneErrorLine(r, "\"block\" must hold 32 lines of 16 bytes");
    const CtlResult missing = RunCtl({"params", "load", "127.0.0.1", path("none.json")});
    EXPECT_EQ(missing.status, 2);
    ExpectOneErrorLine(missing, "cannot read");
    EXPECT_EQ(emulator_->config(0), before);
    EXPECT_EQ(emulator_->commandsServed(0, 5), 0u);
}

TEST_F(CtlE2E, ParamsStoreAndDefaultsSendTheirStoreModes) {
    const Block factory = emulator_->config(0);
    ASSERT_EQ(RunCtl({"params", "set", "127.0.0.1", "laserLevel=5"}).status, 0);
    const CtlResult store = RunCtl({"params", "store", "127.0.0.1"});
    ASSERT_EQ(store.status, 0) << store.err;
    EXPECT_EQ(emulator_->commandsServed(0, 6), 1u);
    const CtlResult defaults = RunCtl({"params", "defaults", "127.0.0.1"});
    ASSERT_EQ(defaults.status, 0) << defaults.err;
    EXPECT_EQ(emulator_->commandsServed(0, 6), 2u);
    EXPECT_EQ(emulator_->config(0), factory);
}

TEST_F(CtlE2E, ParamsOfAnAbsentScannerFail) {
    for (const char *action : {"get", "store", "defaults"}) {
        const CtlResult r = RunCtl({"params", action, "127.0.0.9"});
        EXPECT_EQ(r.status, 1) << action;
        ExpectOneErrorLine(r, "no scanner at 127.0.0.9 (TCP port 417");
    }
}

TEST_F(CtlE2E, ParamsOfAScannerThatStopsAnsweringTimeOut) {
    qz417::sim::FaultOptions faults;
    faults.stallAfterCommands = 0;
    emulator_->setFaults(0, faults);
    const CtlResult r = RunCtl({"params", "get", "127.0.0.1"}, 20000);
    EXPECT_EQ(r.status, 1);
    ExpectOneErrorLine(r, "time-out: 127.0.0.1 did not answer the parameter read");
}

TEST_F(CtlE2E, ParamsOfAScannerThatClosesMidReplyFail) {
    qz417::sim::FaultOptions faults;
    faults.closeMidReplyAfter = 0;
    emulator_->setFaults(1, faults);
    const CtlResult r = RunCtl({"params", "get", "127.0.0.2"}, 20000);
    EXPECT_EQ(r.status, 1);
    ExpectOneErrorLine(r, "127.0.0.2 closed the connection during the parameter read");
}

TEST_F(CtlE2E, AWriteTheScannerDroppedIsNotReportedAsDone) {
    // The read before the write is served, then the connection is reset
    // instead of taking the block. Command 5 has no reply, so only the
    // read-back shows that nothing arrived.
    const Block before = emulator_->config(0);
    qz417::sim::FaultOptions faults;
    faults.resetAfterCommands = 1;
    emulator_->setFaults(0, faults);
    const CtlResult r = RunCtl({"params", "set", "127.0.0.1", "laserLevel=5"}, 20000);
    EXPECT_EQ(r.status, 1);
    ExpectOneErrorLine(r, "read-back after the parameter write");
    EXPECT_EQ(emulator_->config(0), before);

    // Without the fault the read-back confirms, and the block is in place
    // when qz417ctl exits.
    emulator_->setFaults(0, qz417::sim::FaultOptions{});
    for (int i = 0; i < 5; ++i) {
        const CtlResult ok =
            RunCtl({"params", "set", "127.0.0.1", "laserLevel=" + std::to_string(10 + i)}, 20000);
        ASSERT_EQ(ok.status, 0) << ok.err;
        EXPECT_EQ(emulator_->config(0)[0], 10 + i);
    }
}

} // namespace
} // namespace qz417::ctl::test
