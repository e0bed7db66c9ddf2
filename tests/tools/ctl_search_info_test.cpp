// qz417ctl search and info against emulated scanners, and the tool's help
// and usage errors.
#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>

#include "ctl_e2e_fixture.h"
#include "model/device_description.h"

#include <nlohmann/json.hpp>

namespace qz417::ctl::test {
namespace {

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST_F(CtlE2E, SearchListsEveryScannerWithItsDescription) {
    const CtlResult r = RunCtl({"search", "--time", "600"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0].rfind("address", 0), 0u);
    for (const char *column : {"mac", "serialNumber", "rangeZ", "discreteValue", "firmwareVersion"})
        EXPECT_NE(lines[0].find(column), std::string::npos) << column;
    for (int k = 0; k < 2; ++k) {
        const auto a = emulator_->announcement(k);
        const qz417::DeviceDescription d = qz417::DecodeDescription(a.data() + 12);
        const std::string &row = lines[static_cast<std::size_t>(k) + 1];
        EXPECT_NE(row.find(emulator_->address(k) + " "), std::string::npos) << row;
        EXPECT_NE(row.find(std::to_string(d.serialNumber)), std::string::npos) << row;
        EXPECT_NE(row.find(" 500 "), std::string::npos) << row;
        EXPECT_NE(row.find(" 16000 "), std::string::npos) << row;
    }
}

TEST_F(CtlE2E, SearchJsonCarriesAddressMacAndFields) {
    const CtlResult r = RunCtl({"search", "--time=600", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto list = nlohmann::json::parse(r.out);
    ASSERT_EQ(list.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        const auto a = emulator_->announcement(k);
        const auto &item = list.at(static_cast<std::size_t>(k));
        EXPECT_EQ(item.at("address"), emulator_->address(k));
        char mac[18];
        std::snprintf(mac, sizeof mac, "%02X-%02X-%02X-%02X-%02X-%02X", a[6], a[7], a[8], a[9],
                      a[10], a[11]);
        EXPECT_EQ(item.at("mac"), mac);
        EXPECT_EQ(item.at("type"), 417);
        EXPECT_EQ(item.at("rangeXEmr"), 300);
        EXPECT_EQ(item.at("baseDistance"), 80);
        EXPECT_EQ(item.at("modification"), 0x2F);
    }
}

TEST_F(CtlE2E, SearchForAnotherTypeFindsNothingAndFails) {
    const CtlResult r = RunCtl({"search", "--time", "400", "--type", "418"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ExpectOneErrorLine(r, "no scanner heard on UDP port 6001 within 400 ms");
}

TEST_F(CtlE2E, SearchRefusesATimeOutOfRange) {
    const CtlResult r = RunCtl({"search", "--time", "70000"});
    EXPECT_EQ(r.status, 2);
    ExpectOneErrorLine(r, "--time: 70000 is out of range (1..65535)");
}

TEST_F(CtlE2E, InfoPrintsTheRowsOfTheInformationPage) {
    const CtlResult r = RunCtl({"info", "127.0.0.2", "--time", "600"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto a = emulator_->announcement(1);
    std::string expected;
    for (const auto &row : qz417::DescriptionRows(qz417::DecodeDescription(a.data() + 12)))
        expected += row + "\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(Lines(r.out).size(), 34u);
    EXPECT_EQ(Lines(r.out)[0], "DEVICE MODIFICATION");
}

TEST_F(CtlE2E, InfoJsonCarriesTheFieldsAndTheRows) {
    const CtlResult r = RunCtl({"info", "127.0.0.2", "--time", "600", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json info = nlohmann::json::parse(r.out);
    const auto a = emulator_->announcement(1);
    const qz417::DeviceDescription d = qz417::DecodeDescription(a.data() + 12);
    EXPECT_EQ(info["address"], "127.0.0.2");
    EXPECT_EQ(info["type"], 417);
    EXPECT_EQ(info["serialNumber"], d.serialNumber);
    EXPECT_EQ(info["rangeZ"], 500); // the fixture's scale, not the default
    EXPECT_EQ(info["discreteValue"], 16000);
    EXPECT_EQ(info["errorValue"], d.errorValue);
    EXPECT_EQ(info["rows"].get<std::vector<std::string>>(), qz417::DescriptionRows(d));
}

TEST_F(CtlE2E, InfoOfAnAddressNobodyAnnouncesFails) {
    const CtlResult r = RunCtl({"info", "127.0.0.9", "--time", "400"});
    EXPECT_EQ(r.status, 1);
    ExpectOneErrorLine(r, "no scanner at 127.0.0.9 heard within 400 ms");
    const CtlResult bad = RunCtl({"info", "127.0.0"});
    EXPECT_EQ(bad.status, 2);
    ExpectOneErrorLine(bad, "'127.0.0' is not an IPv4 address");
}

TEST(CtlCommandLine, EverySubcommandHasHelp) {
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"--help"},
                                               {"search", "--help"},
                                               {"info", "--help"},
                                               {"params", "--help"},
                                               {"profile", "--help"},
                                               {"image", "--help"},
                                               {"stream", "--help"},
                                               {"angle", "--help"}}) {
        const CtlResult r = RunCtl(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out.rfind("usage: qz417ctl", 0), 0u) << args[0] << ": " << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(CtlCommandLine, WrongCommandLinesFailWithOneLine) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, "missing command"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"search", "--colour"}, "unknown option '--colour'"},
        {{"search", "--tim", "5"}, "unknown option '--tim'"},
        {{"search", "--time", "0x"}, "--time: '0x' is not a valid integer value"},
        {{"angle", "127.0.0.1", "--port"}, "option --port needs a value"},
        {{"angle"}, "missing argument; usage: qz417ctl angle ADDR"},
        {{"angle", "127.0.0.1", "x"}, "unexpected argument 'x'"},
        {{"params", "fetch", "127.0.0.1"}, "unknown action 'fetch'"},
        {{"profile", "127.0.0.1", "--format", "xyz"},
         "'xyz' is not txt, csv, ply, ply-binary, pcd or pcd-binary"},
        {{"profile", "127.0.0.1", "--count", "0"}, "--count: 0 is out of range (1..65535)"},
        {{"image", "127.0.0.1"}, "missing -o FILE.png"},
        {{"stream", "--port", "0"}, "--port: 0 is out of range (1..65535)"},
    };
    for (const Case &c : cases) {
        const CtlResult r = RunCtl(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_EQ(r.err.rfind("qz417ctl: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

} // namespace
} // namespace qz417::ctl::test
