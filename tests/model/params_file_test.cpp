// The JSON parameter file: byte-for-byte round trip, edited fields, the
// faults a damaged file must be refused for, and the exact text it is saved as.
#include <gtest/gtest.h>

#include <random>

#include <nlohmann/json.hpp>

#include "model/params_file.h"

namespace qz417 {
namespace {

ParamBlock RandomBlock(unsigned seed) {
    std::mt19937 rng(seed);
    ParamBlock block{};
    for (auto &b : block)
        b = static_cast<std::uint8_t>(rng());
    return block;
}

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

TEST(ParamsFile, RestoresAnyBlockByteForByte) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const ParamBlock block = RandomBlock(seed); // fields often out of range
        const std::string doc = SaveParamsDocument("127.0.0.1", block);
        EXPECT_EQ(LoadParamsDocument(doc, "f.json"), block) << seed;
    }
}

TEST(ParamsFile, IsReadableJsonWithNamedFields) {
    ParamBlock block{};
    block[0] = 17;
    block[30] = 0x73;
    block[31] = 0x17;
    const auto doc = nlohmann::json::parse(SaveParamsDocument("127.0.0.2", block));
    EXPECT_EQ(doc.at("fields").at("laserLevel"), 17);
    EXPECT_EQ(doc.at("fields").at("udpPort"), 6003);
    EXPECT_EQ(doc.at("fields").at("netAddress"), "0.0.0.0");
    EXPECT_EQ(doc.at("address"), "127.0.0.2");
    ASSERT_EQ(doc.at("block").size(), 32u);
    EXPECT_EQ(doc.at("block")[1], "010: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 73 17");
}

TEST(ParamsFile, AppliesEditedFieldsOnTopOfTheBlock) {
    ParamBlock block = RandomBlock(3);
    block[0] = 40; // out of range, left alone while unedited
    std::string doc = SaveParamsDocument("127.0.0.1", block);
    doc = Replace(doc, "\"udpPort\": " + std::to_string(block[30] | (block[31] << 8)),
                  "\"udpPort\": 6003");
    ParamBlock expected = block;
    expected[30] = 0x73;
    expected[31] = 0x17;
    EXPECT_EQ(LoadParamsDocument(doc, "f"), expected);

    const std::string badEdit = Replace(doc, "\"laserLevel\": 40", "\"laserLevel\": 41");
    EXPECT_THROW(LoadParamsDocument(badEdit, "f"), ParamsFileError);
    const std::string goodEdit = Replace(doc, "\"laserLevel\": 40", "\"laserLevel\": 7");
    EXPECT_EQ(LoadParamsDocument(goodEdit, "f")[0], 7);
}

TEST(ParamsFile, RefusesDamagedFiles) {
    const std::string doc = SaveParamsDocument("127.0.0.1", ParamBlock{});
    EXPECT_THROW(LoadParamsDocument("", "f"), ParamsFileError);
    EXPECT_THROW(LoadParamsDocument("[1]", "f"), ParamsFileError);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "qz417 parameter block", "other"), "f"),
                 ParamsFileError);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"010: 00", "\"011: 00"), "f"), ParamsFileError);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"010: 00", "\"010: zz"), "f"), ParamsFileError);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"laserLevel\"", "\"laser\""), "f"),
                 ParamsFileError);
    EXPECT_THROW(
        LoadParamsDocument(Replace(doc, "\"netMask\": \"0.0.0.0\"", "\"netMask\": 5"), "f"),
        ParamsFileError);
    EXPECT_THROW(LoadParamsDocument(doc.substr(0, doc.size() / 2), "f"), ParamsFileError);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"version\": 1", "\"version\": 2"), "f"),
                 ParamsFileError);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"version\": 1", "\"version\": \"1\""), "f"),
                 ParamsFileError);
    // Without a version the file reads as this layout.
    EXPECT_EQ(LoadParamsDocument(Replace(doc, "\"version\": 1,", ""), "f"), ParamBlock{});
    try {
        LoadParamsDocument("{", "saved.json");
        FAIL() << "no exception";
    } catch (const ParamsFileError &f) {
        EXPECT_EQ(std::string(f.what()).rfind("saved.json: ", 0), 0u) << f.what();
    }
}

// What the "Parameters" page and qz417ctl show of a file that is no JSON:
// where, what was expected and what was found, never the JSON library's own
// message with its exception name.
TEST(ParamsFile, DamagedJsonIsToldPlainly) {
    const auto message = [](const std::string &text) {
        try {
            LoadParamsDocument(text, "saved.json");
        } catch (const ParamsFileError &e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message("{\n  \"format\": \"x\",\n  oops\n}"),
              "saved.json: not JSON at line 3, column 3: expected string literal, found invalid "
              "literal (in an object key)");
    EXPECT_EQ(message("{\"a\": 1,}"), "saved.json: not JSON at line 1, column 9: expected string "
                                      "literal, found '}' (in an object key)");
    EXPECT_EQ(message("[1, 2"), "saved.json: not JSON at line 1, column 6: expected ']', found the "
                                "end of the file (in an array)");
    EXPECT_EQ(message(""), "saved.json: not JSON at line 1, column 1: expected '[', '{', or a "
                           "literal, found the end of the file");
    for (const std::string text : {"{\"a\": tru}", "{} x", "{\"a\": \"\x01\"}", "\xff"}) {
        const std::string m = message(text);
        EXPECT_EQ(m.rfind("saved.json: not JSON at line 1, column ", 0), 0u) << m;
        EXPECT_EQ(m.find("json.exception"), std::string::npos) << m;
        EXPECT_EQ(m.find("last read"), std::string::npos) << m;
    }
}

TEST(ParamsFile, FieldsJsonCarriesValueUnitAndRange) {
    ParamBlock block{};
    block[1] = 99;
    const auto doc = nlohmann::json::parse(FieldsJson("127.0.0.1", block));
    const auto &integration = doc.at("fields").at("integration");
    EXPECT_EQ(integration.at("value"), 99);
    EXPECT_EQ(integration.at("unit"), "us - 1");
    EXPECT_EQ(integration.at("max"), 65535);
    EXPECT_EQ(integration.at("meaning"), "100 us");
    // One line per field, as scripts that grep the output expect.
    EXPECT_NE(FieldsJson("127.0.0.1", block)
                  .find("\n    \"laserLevel\": {\"value\": 0, \"unit\": \"level\", \"min\": 0, "
                        "\"max\": 31}"),
              std::string::npos);
}

// The layout files saved by earlier versions have: existing files and diffs
// of them stay valid.
TEST(ParamsFile, KeepsItsTextLayout) {
    ParamBlock block{};
    block[0] = 31;
    block[18] = 30;
    block[21] = 192;
    block[511] = 0xAB;
    const std::string doc = SaveParamsDocument("127.0.0.1", block);
    EXPECT_EQ(doc.substr(0, 128),
              "{\n  \"format\": \"qz417 parameter block\",\n  \"version\": 1,\n"
              "  \"address\": \"127.0.0.1\",\n  \"fields\": {\n    \"laserLevel\": "
              "31,\n    \"integr");
    EXPECT_NE(doc.find("\n    \"netAddress\": \"192.0.0.30\",\n"), std::string::npos);
    EXPECT_NE(doc.find("\n    \"udpFrequency\": 0\n  },\n  \"block\": [\n    \"000: 1f 00"),
              std::string::npos);
    const std::string tail =
        "    \"1f0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ab\"\n  ]\n}\n";
    ASSERT_GE(doc.size(), tail.size());
    EXPECT_EQ(doc.substr(doc.size() - tail.size()), tail);
}

TEST(ParamsFile, RefusesValuesOfTheWrongType) {
    const std::string doc = SaveParamsDocument("127.0.0.1", ParamBlock{});
    for (const char *bad : {"1.5", "\"7\"", "null", "[1]", "18446744073709551615", "-1"})
        EXPECT_THROW(
            LoadParamsDocument(
                Replace(doc, "\"laserLevel\": 0", std::string("\"laserLevel\": ") + bad), "f"),
            ParamsFileError)
            << bad;
    // true and false stand for 1 and 0.
    EXPECT_EQ(LoadParamsDocument(
                  Replace(doc, "\"resultSyncEnable\": 0", "\"resultSyncEnable\": true"), "f")[12],
              1);
}

} // namespace
} // namespace qz417
