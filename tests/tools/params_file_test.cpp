// The JSON parameter file: byte-for-byte round trip, edited fields, and the
// faults a damaged file must be refused for; plus the JSON reader under it.
#include <gtest/gtest.h>

#include <random>

#include "failure.h"
#include "json_value.h"
#include "params_file.h"

namespace qzctl {
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
    const JsonValue doc = ParseJson(SaveParamsDocument("127.0.0.2", block), "f");
    ASSERT_NE(doc.find("fields"), nullptr);
    EXPECT_EQ(doc.find("fields")->find("laserLevel")->integer, 17);
    EXPECT_EQ(doc.find("fields")->find("udpPort")->integer, 6003);
    EXPECT_EQ(doc.find("fields")->find("netAddress")->text, "0.0.0.0");
    EXPECT_EQ(doc.find("address")->text, "127.0.0.2");
    ASSERT_EQ(doc.find("block")->items.size(), 32u);
    EXPECT_EQ(doc.find("block")->items[1].text,
              "010: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 73 17");
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
    EXPECT_THROW(LoadParamsDocument(badEdit, "f"), Failure);
    const std::string goodEdit = Replace(doc, "\"laserLevel\": 40", "\"laserLevel\": 7");
    EXPECT_EQ(LoadParamsDocument(goodEdit, "f")[0], 7);
}

TEST(ParamsFile, RefusesDamagedFiles) {
    const std::string doc = SaveParamsDocument("127.0.0.1", ParamBlock{});
    EXPECT_THROW(LoadParamsDocument("", "f"), Failure);
    EXPECT_THROW(LoadParamsDocument("[1]", "f"), Failure);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "qz417 parameter block", "other"), "f"), Failure);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"010: 00", "\"011: 00"), "f"), Failure);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"010: 00", "\"010: zz"), "f"), Failure);
    EXPECT_THROW(LoadParamsDocument(Replace(doc, "\"laserLevel\"", "\"laser\""), "f"), Failure);
    EXPECT_THROW(
        LoadParamsDocument(Replace(doc, "\"netMask\": \"0.0.0.0\"", "\"netMask\": 5"), "f"),
        Failure);
    EXPECT_THROW(LoadParamsDocument(doc.substr(0, doc.size() / 2), "f"), Failure);
    try {
        LoadParamsDocument("{", "saved.json");
        FAIL() << "no exception";
    } catch (const Failure &f) {
        EXPECT_EQ(f.exitCode(), kExitUsage);
        EXPECT_EQ(std::string(f.what()).rfind("saved.json: ", 0), 0u) << f.what();
    }
}

TEST(ParamsFile, FieldsJsonCarriesValueUnitAndRange) {
    ParamBlock block{};
    block[1] = 99;
    const JsonValue doc = ParseJson(FieldsJson("127.0.0.1", block), "f");
    const JsonValue *integration = doc.find("fields")->find("integration");
    ASSERT_NE(integration, nullptr);
    EXPECT_EQ(integration->find("value")->integer, 99);
    EXPECT_EQ(integration->find("unit")->text, "us - 1");
    EXPECT_EQ(integration->find("max")->integer, 65535);
    EXPECT_EQ(integration->find("meaning")->text, "100 us");
}

TEST(Json, ReadsValuesOfEveryKind) {
    const JsonValue v = ParseJson(
        R"( {"a": [1, -2, 3.5, true, false, null], "s": "x\"\\\n\u00e9", "o": {}} )", "t");
    ASSERT_EQ(v.type, JsonValue::Type::Object);
    const JsonValue &a = *v.find("a");
    ASSERT_EQ(a.items.size(), 6u);
    EXPECT_TRUE(a.items[0].isInteger);
    EXPECT_EQ(a.items[1].integer, -2);
    EXPECT_FALSE(a.items[2].isInteger);
    EXPECT_DOUBLE_EQ(a.items[2].number, 3.5);
    EXPECT_TRUE(a.items[3].boolean);
    EXPECT_EQ(a.items[5].type, JsonValue::Type::Null);
    EXPECT_EQ(v.find("s")->text, "x\"\\\n\xc3\xa9");
    EXPECT_EQ(v.find("o")->type, JsonValue::Type::Object);
    EXPECT_EQ(v.find("missing"), nullptr);
}

TEST(Json, RefusesMalformedText) {
    for (const char *bad : {"", "{", "[1,]", "{\"a\" 1}", "\"abc", "tru", "[1] 2", "{\"a\":01x}",
                            "\"\\q\"", "[\"\x01\"]"})
        EXPECT_THROW(ParseJson(bad, "t"), Failure) << bad;
    EXPECT_THROW(ParseJson(std::string(200, '['), "t"), Failure); // depth bound
}

TEST(Json, QuotesWhatNeedsQuoting) {
    EXPECT_EQ(JsonQuote("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(ParseJson(JsonQuote("a\"b\\c\n\x01\t"), "t").text, "a\"b\\c\n\x01\t");
}

} // namespace
} // namespace qzctl
