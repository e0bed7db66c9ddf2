#include "json_value.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "failure.h"

namespace qzctl {

JsonValue::JsonValue() = default;
JsonValue::~JsonValue() = default;
JsonValue::JsonValue(const JsonValue &) = default;
JsonValue::JsonValue(JsonValue &&) noexcept = default;
JsonValue &JsonValue::operator=(const JsonValue &) = default;
JsonValue &JsonValue::operator=(JsonValue &&) noexcept = default;

const JsonValue *JsonValue::find(const std::string &key) const {
    for (const auto &[name, value] : members) {
        if (name == key)
            return &value;
    }
    return nullptr;
}

namespace {

constexpr int kMaxDepth = 64;

class Parser {
public:
    Parser(const std::string &text, const std::string &what) : s_(text), what_(what) {}

    JsonValue document() {
        JsonValue v = value(0);
        skipSpace();
        if (pos_ != s_.size())
            error("unexpected text after the end");
        return v;
    }

private:
    [[noreturn]] void error(const std::string &why) const {
        throw UsageError(what_ + ": not valid JSON (" + why + " at offset " + std::to_string(pos_) +
                         ")");
    }

    void skipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool consume(const char *word) {
        const std::string w = word;
        if (s_.compare(pos_, w.size(), w) != 0)
            return false;
        pos_ += w.size();
        return true;
    }

    JsonValue value(int depth) {
        if (depth > kMaxDepth)
            error("nested too deeply");
        skipSpace();
        if (pos_ >= s_.size())
            error("unexpected end");
        JsonValue v;
        const char c = s_[pos_];
        if (c == '{') {
            v.type = JsonValue::Type::Object;
            ++pos_;
            skipSpace();
            if (pos_ < s_.size() && s_[pos_] == '}') {
                ++pos_;
                return v;
            }
            for (;;) {
                skipSpace();
                if (pos_ >= s_.size() || s_[pos_] != '"')
                    error("expected a member name");
                std::string key = string();
                skipSpace();
                if (pos_ >= s_.size() || s_[pos_] != ':')
                    error("expected ':'");
                ++pos_;
                v.members.emplace_back(std::move(key), value(depth + 1));
                skipSpace();
                if (pos_ < s_.size() && s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == '}') {
                    ++pos_;
                    return v;
                }
                error("expected ',' or '}'");
            }
        }
        if (c == '[') {
            v.type = JsonValue::Type::Array;
            ++pos_;
            skipSpace();
            if (pos_ < s_.size() && s_[pos_] == ']') {
                ++pos_;
                return v;
            }
            for (;;) {
                v.items.push_back(value(depth + 1));
                skipSpace();
                if (pos_ < s_.size() && s_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == ']') {
                    ++pos_;
                    return v;
                }
                error("expected ',' or ']'");
            }
        }
        if (c == '"') {
            v.type = JsonValue::Type::String;
            v.text = string();
            return v;
        }
        if (consume("true")) {
            v.type = JsonValue::Type::Bool;
            v.boolean = true;
            return v;
        }
        if (consume("false")) {
            v.type = JsonValue::Type::Bool;
            return v;
        }
        if (consume("null"))
            return v;
        if (c == '-' || (c >= '0' && c <= '9'))
            return numberValue();
        error("unexpected character");
    }

    JsonValue numberValue() {
        const std::size_t start = pos_;
        if (s_[pos_] == '-')
            ++pos_;
        bool integral = true;
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c >= '0' && c <= '9') {
                ++pos_;
            } else if (c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-') {
                integral = false;
                ++pos_;
            } else {
                break;
            }
        }
        const std::string token = s_.substr(start, pos_ - start);
        JsonValue v;
        v.type = JsonValue::Type::Number;
        if (integral) {
            const auto [ptr, ec] =
                std::from_chars(token.data(), token.data() + token.size(), v.integer);
            if (ec != std::errc() || ptr != token.data() + token.size())
                error("bad number");
            v.isInteger = true;
            v.number = static_cast<double>(v.integer);
            return v;
        }
        char *end = nullptr;
        v.number = std::strtod(token.c_str(), &end);
        if (end != token.c_str() + token.size())
            error("bad number");
        return v;
    }

    unsigned hex4() {
        if (pos_ + 4 > s_.size())
            error("short \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<unsigned>(c - 'A' + 10);
            else
                error("bad \\u escape");
        }
        return v;
    }

    void appendUtf8(std::string &out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::string string() {
        ++pos_; // opening quote
        std::string out;
        for (;;) {
            if (pos_ >= s_.size())
                error("unterminated string");
            const char c = s_[pos_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                error("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                error("unterminated string");
            const char e = s_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                appendUtf8(out, hex4());
                break;
            default:
                error("bad escape");
            }
        }
    }

    const std::string &s_;
    const std::string &what_;
    std::size_t pos_ = 0;
};

} // namespace

JsonValue ParseJson(const std::string &text, const std::string &what) {
    return Parser(text, what).document();
}

std::string JsonQuote(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

} // namespace qzctl
