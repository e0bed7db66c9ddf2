#include "model/params_file.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include <nlohmann/json.hpp>

#include "model/parameter_fields.h"

namespace qz417 {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char *kFormat = "qz417 parameter block";
constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kLines = ConfigArea::kSize / kBytesPerLine; // 32

std::string Quote(const std::string &text) {
    return Json(text).dump();
}

// The JSON library's message ("[json.exception.parse_error.101] parse error
// at line 3, column 5: syntax error while parsing object key - invalid
// literal; last read: '...'; expected string literal") told plainly: " at
// line 3, column 5: expected string literal, found invalid literal (in an
// object key)". What was read last is left out: it may hold anything.
std::string PlainJsonError(const std::string &message) {
    std::string where;
    std::string detail = message;
    const auto at = message.find(" at line ");
    const auto colon = at == std::string::npos ? at : message.find(": ", at);
    if (colon != std::string::npos) {
        where = message.substr(at, colon - at);
        detail = message.substr(colon + 2);
    } else if (const auto bracket = message.find("] "); bracket != std::string::npos) {
        detail = message.substr(bracket + 2);
    }
    std::string context;
    const std::string syntax = "syntax error while parsing ";
    if (detail.rfind(syntax, 0) == 0) {
        const auto dash = detail.find(" - ");
        context = detail.substr(syntax.size(), dash - syntax.size());
        detail = dash == std::string::npos ? std::string() : detail.substr(dash + 3);
    }
    std::string found;
    std::string expected;
    for (std::size_t begin = 0; begin <= detail.size();) {
        const auto end = std::min(detail.find("; ", begin), detail.size());
        const std::string part = detail.substr(begin, end - begin);
        if (part.rfind("expected ", 0) == 0)
            expected = part.substr(9);
        else if (found.empty() && part.rfind("last read", 0) != 0)
            found = part;
        begin = end + 2;
    }
    if (found == "unexpected end of input" || found.rfind("attempting to parse an empty", 0) == 0)
        found = "the end of the file";
    else if (found.rfind("unexpected ", 0) == 0)
        found = found.substr(11);
    std::string text = where + ": ";
    if (!expected.empty())
        text += "expected " + expected + ", found " + found;
    else
        text += found.empty() ? std::string("damaged") : found;
    if (!context.empty() && context != "value")
        text +=
            std::string(std::string("aeiou").find(context[0]) == std::string::npos ? " (in a "
                                                                                   : " (in an ") +
            context + ")";
    return text;
}

Json JsonFieldValue(const FieldValue &value) {
    if (std::holds_alternative<std::string>(value))
        return std::get<std::string>(value);
    return std::get<std::int64_t>(value);
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
        throw ParamsFileError(where + " must read \"" + prefix + "\" and 16 hex bytes");
    for (std::size_t i = 0; i < kBytesPerLine; ++i) {
        const std::size_t p = 4 + 3 * i;
        const int hi = HexDigit(text[p + 1]);
        const int lo = HexDigit(text[p + 2]);
        if (text[p] != ' ' || hi < 0 || lo < 0)
            throw ParamsFileError(where + " holds a malformed byte");
        block[line * kBytesPerLine + i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
}

FieldValue ValueFromJson(const ParameterField &field, const Json &json, const std::string &what) {
    if (field.kind == FieldKind::Ipv4) {
        if (!json.is_string())
            throw ParamsFileError(what + ": " + field.name + " must be a dotted address string");
        return json.get<std::string>();
    }
    if (json.is_boolean())
        return std::int64_t{json.get<bool>() ? 1 : 0};
    if (json.is_number_unsigned() &&
        json.get<std::uint64_t>() >
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        throw ParamsFileError(what + ": " + field.name + "=" + json.dump() + " is out of range (" +
                              std::to_string(field.min) + ".." + std::to_string(field.max) + ")");
    if (!json.is_number_integer())
        throw ParamsFileError(what + ": " + field.name + " must be an integer");
    return json.get<std::int64_t>();
}

} // namespace

std::string SaveParamsDocument(const std::string &address, const ParamBlock &block) {
    const ConfigArea area(block.data());
    Json doc;
    doc["format"] = kFormat;
    doc["version"] = 1;
    doc["address"] = address;
    Json fields = Json::object();
    for (const ParameterField &field : ParameterFields())
        fields[field.name] = JsonFieldValue(ReadField(field, area));
    doc["fields"] = std::move(fields);
    Json lines = Json::array();
    for (std::size_t line = 0; line < kLines; ++line)
        lines.push_back(HexLine(block, line));
    doc["block"] = std::move(lines);
    return doc.dump(2) + "\n";
}

ParamBlock LoadParamsDocument(const std::string &text, const std::string &what) {
    Json doc;
    try {
        doc = Json::parse(text);
    } catch (const Json::exception &e) {
        throw ParamsFileError(what + ": not JSON" + PlainJsonError(e.what()));
    }
    if (!doc.is_object())
        throw ParamsFileError(what + ": not a parameter file (no JSON object)");
    const auto format = doc.find("format");
    if (format == doc.end() || !format->is_string() || format->get<std::string>() != kFormat)
        throw ParamsFileError(what + ": not a parameter file (\"format\" missing or different)");
    // A later layout may mean something else by the same keys: refused
    // rather than half understood. A file without a version (written by hand)
    // is read as this layout.
    const auto version = doc.find("version");
    if (version != doc.end() &&
        !(version->is_number_integer() && version->get<std::int64_t>() == 1))
        throw ParamsFileError(what + ": parameter file version " + version->dump() +
                              " is not supported (only 1)");
    const auto lines = doc.find("block");
    if (lines == doc.end() || !lines->is_array() || lines->size() != kLines)
        throw ParamsFileError(what + ": \"block\" must hold 32 lines of 16 bytes");
    ParamBlock block{};
    for (std::size_t line = 0; line < kLines; ++line) {
        const Json &item = (*lines)[line];
        if (!item.is_string())
            throw ParamsFileError(what + ": block line " + std::to_string(line + 1) +
                                  " is not a string");
        ParseHexLine(item.get<std::string>(), line, block, what);
    }
    const auto fields = doc.find("fields");
    if (fields == doc.end())
        return block;
    if (!fields->is_object())
        throw ParamsFileError(what + ": \"fields\" must be an object");
    ConfigArea area(block.data());
    for (const auto &[name, json] : fields->items()) {
        const ParameterField *field = FindParameterField(name);
        if (field == nullptr)
            throw ParamsFileError(what + ": unknown parameter '" + name + "'");
        const FieldValue value = ValueFromJson(*field, json, what);
        if (value == ReadField(*field, area))
            continue;
        try {
            WriteField(*field, area, value);
        } catch (const FieldError &e) {
            throw ParamsFileError(what + ": " + e.what());
        }
    }
    std::copy(area.bytes().begin(), area.bytes().end(), block.begin());
    return block;
}

std::string FieldsJson(const std::string &address, const ParamBlock &block) {
    // One line per field, as the tool has always printed it.
    const ConfigArea area(block.data());
    std::string out = "{\n  \"address\": " + Quote(address) + ",\n  \"fields\": {\n";
    const auto fields = ParameterFields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ParameterField &f = fields[i];
        const FieldValue value = ReadField(f, area);
        out += "    " + Quote(f.name) + ": {\"value\": " + JsonFieldValue(value).dump() +
               ", \"unit\": " + Quote(f.unit);
        if (f.kind != FieldKind::Ipv4)
            out += ", \"min\": " + std::to_string(f.min) + ", \"max\": " + std::to_string(f.max);
        const std::string meaning = FieldMeaning(f, value);
        if (!meaning.empty())
            out += ", \"meaning\": " + Quote(meaning);
        out += std::string("}") + (i + 1 < fields.size() ? ",\n" : "\n");
    }
    out += "  }\n}\n";
    return out;
}

} // namespace qz417
