#include "params_file.h"

#include <algorithm>
#include <cstdio>

#include "failure.h"
#include "json_value.h"
#include "param_fields.h"

namespace qzctl {

namespace {

constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kLines = QZ417_CONFIG_SIZE / kBytesPerLine; // 32

std::string JsonFieldValue(const FieldValue &value) {
    if (std::holds_alternative<std::string>(value))
        return JsonQuote(std::get<std::string>(value));
    return std::to_string(std::get<std::int64_t>(value));
}

std::string HexLine(const ParamBlock &block, std::size_t line) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03zx:", line * kBytesPerLine);
    std::string out = buf;
    for (std::size_t i = 0; i < kBytesPerLine; ++i) {
        std::snprintf(buf, sizeof buf, " %02x", block[line * kBytesPerLine + i]);
        out += buf;
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void ParseHexLine(const std::string &text, std::size_t line, ParamBlock &block,
                  const std::string &what) {
    const std::string where = what + ": block line " + std::to_string(line + 1);
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%03zx:", line * kBytesPerLine);
    if (text.size() != 4 + 3 * kBytesPerLine || text.compare(0, 4, prefix) != 0)
        throw UsageError(where + " must read \"" + prefix + "\" and 16 hex bytes");
    for (std::size_t i = 0; i < kBytesPerLine; ++i) {
        const std::size_t p = 4 + 3 * i;
        const int hi = HexDigit(text[p + 1]);
        const int lo = HexDigit(text[p + 2]);
        if (text[p] != ' ' || hi < 0 || lo < 0)
            throw UsageError(where + " holds a malformed byte");
        block[line * kBytesPerLine + i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
}

FieldValue ValueFromJson(const ParamField &field, const JsonValue &json, const std::string &what) {
    if (field.kind == FieldKind::Ipv4) {
        if (json.type != JsonValue::Type::String)
            throw UsageError(what + ": " + field.name + " must be a dotted address string");
        return json.text;
    }
    if (json.type == JsonValue::Type::Bool)
        return std::int64_t{json.boolean ? 1 : 0};
    if (json.type != JsonValue::Type::Number || !json.isInteger)
        throw UsageError(what + ": " + field.name + " must be an integer");
    return json.integer;
}

} // namespace

std::string SaveParamsDocument(const std::string &address, const ParamBlock &block) {
    const qz::ConfigArea area(block.data());
    std::string out = "{\n  \"format\": \"qz417 parameter block\",\n  \"version\": 1,\n";
    out += "  \"address\": " + JsonQuote(address) + ",\n  \"fields\": {\n";
    const auto &fields = ParamFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        out += "    " + JsonQuote(fields[i].name) + ": " +
               JsonFieldValue(ReadField(fields[i], area)) + (i + 1 < fields.size() ? ",\n" : "\n");
    }
    out += "  },\n  \"block\": [\n";
    for (std::size_t line = 0; line < kLines; ++line)
        out += "    " + JsonQuote(HexLine(block, line)) + (line + 1 < kLines ? ",\n" : "\n");
    out += "  ]\n}\n";
    return out;
}

ParamBlock LoadParamsDocument(const std::string &text, const std::string &what) {
    const JsonValue doc = ParseJson(text, what);
    if (doc.type != JsonValue::Type::Object)
        throw UsageError(what + ": not a parameter file (no JSON object)");
    const JsonValue *format = doc.find("format");
    if (format == nullptr || format->type != JsonValue::Type::String ||
        format->text != "qz417 parameter block")
        throw UsageError(what + ": not a parameter file (\"format\" missing or different)");
    const JsonValue *lines = doc.find("block");
    if (lines == nullptr || lines->type != JsonValue::Type::Array || lines->items.size() != kLines)
        throw UsageError(what + ": \"block\" must hold 32 lines of 16 bytes");
    ParamBlock block{};
    for (std::size_t line = 0; line < kLines; ++line) {
        if (lines->items[line].type != JsonValue::Type::String)
            throw UsageError(what + ": block line " + std::to_string(line + 1) +
                             " is not a string");
        ParseHexLine(lines->items[line].text, line, block, what);
    }
    const JsonValue *fields = doc.find("fields");
    if (fields == nullptr)
        return block;
    if (fields->type != JsonValue::Type::Object)
        throw UsageError(what + ": \"fields\" must be an object");
    qz::ConfigArea area(block.data());
    for (const auto &[name, json] : fields->members) {
        const ParamField *field = FindParamField(name);
        if (field == nullptr)
            throw UsageError(what + ": unknown parameter '" + name + "'");
        const FieldValue value = ValueFromJson(*field, json, what);
        if (value == ReadField(*field, area))
            continue;
        try {
            WriteField(*field, area, value);
        } catch (const Failure &f) {
            throw UsageError(what + ": " + f.what());
        }
    }
    std::copy(area.bytes().begin(), area.bytes().end(), block.begin());
    return block;
}

std::string FieldsJson(const std::string &address, const ParamBlock &block) {
    const qz::ConfigArea area(block.data());
    std::string out = "{\n  \"address\": " + JsonQuote(address) + ",\n  \"fields\": {\n";
    const auto &fields = ParamFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ParamField &f = fields[i];
        const FieldValue value = ReadField(f, area);
        out += "    " + JsonQuote(f.name) + ": {\"value\": " + JsonFieldValue(value) +
               ", \"unit\": " + JsonQuote(f.unit);
        if (f.kind != FieldKind::Ipv4)
            out += ", \"min\": " + std::to_string(f.min) + ", \"max\": " + std::to_string(f.max);
        const std::string meaning = FieldMeaning(f, value);
        if (!meaning.empty())
            out += ", \"meaning\": " + JsonQuote(meaning);
        out += std::string("}") + (i + 1 < fields.size() ? ",\n" : "\n");
    }
    out += "  }\n}\n";
    return out;
}

} // namespace qzctl
