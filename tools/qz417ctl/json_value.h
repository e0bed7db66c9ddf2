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

    // Defined where JsonValue is complete: a vector of pairs holding the
    // type itself cannot be destroyed or copied inside its own definition
    // (clang with libstdc++ refuses it).
    JsonValue();
    ~JsonValue();
    JsonValue(const JsonValue &);
    JsonValue(JsonValue &&) noexcept;
    JsonValue &operator=(const JsonValue &);
    JsonValue &operator=(JsonValue &&) noexcept;
};

// Throws UsageError("<what>: ...at offset N") on malformed text.
JsonValue ParseJson(const std::string &text, const std::string &what);

// "text" with quotes, backslash escapes and \u00XX for control characters.
std::string JsonQuote(const std::string &text);

} // namespace qzctl
