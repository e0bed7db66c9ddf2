// A small JSON reader (objects, arrays, strings, integers, decimals, true,
// false, null) and the quoting the tool's JSON writers use.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qzctl {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    bool isInteger = false; // Number without fraction or exponent
    std::int64_t integer = 0;
    double number = 0.0;
    std::string text;
    std::vector<JsonValue> items;                           // Array
    std::vector<std::pair<std::string, JsonValue>> members; // Object, in file order

    const JsonValue *find(const std::string &key) const; // Object member, or null
};

// Throws UsageError("<what>: ...at offset N") on malformed text.
JsonValue ParseJson(const std::string &text, const std::string &what);

// "text" with quotes, backslash escapes and \u00XX for control characters.
std::string JsonQuote(const std::string &text);

} // namespace qzctl
