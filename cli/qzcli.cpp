#include "qzcli.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace qz417::cli {

namespace {

constexpr int kLongBase = 256; // getopt_long's code of table entry i is kLongBase + i
constexpr int kHelpCode = 'h';

const Option *ShortEntry(const std::vector<Option> &table, int c) {
    for (const Option &o : table)
        if (!o.name.empty() && o.shortName != 0 && o.shortName == c)
            return &o;
    return nullptr;
}

// The option word as written ("--time=5" -> "--time").
std::string WordName(const char *word) {
    std::string name = word;
    if (const auto eq = name.find('='); eq != std::string::npos)
        name.resize(eq);
    return name;
}

std::string Display(const Option &o) {
    return "--" + o.name;
}

std::string Trimmed(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace

bool ParsedLine::has(std::string_view name) const {
    for (const auto &[n, v] : options_)
        if (n == name)
            return true;
    return false;
}

std::optional<std::string> ParsedLine::value(std::string_view name) const {
    std::optional<std::string> found;
    for (const auto &[n, v] : options_)
        if (n == name)
            found = v;
    return found;
}

ParsedLine Parse(const std::vector<std::string> &args, const std::vector<Option> &table) {
    ParsedLine out;
    auto fail = [&out](std::string line) {
        if (out.error_.empty())
            out.error_ = std::move(line);
    };

    std::vector<std::string> words;
    words.reserve(args.size() + 1);
    words.emplace_back("program");
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // '-': positional words come back in order as code 1 (also when
    // POSIXLY_CORRECT is set); ':': no messages from getopt, and ':' for a
    // missing value.
    std::string shorts = "-:";
    std::vector<option> longs;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Option &o = table[i];
        if (o.name.empty())
            continue;
        const int hasArg = o.valueName.empty() ? no_argument : required_argument;
        longs.push_back({o.name.c_str(), hasArg, nullptr, kLongBase + static_cast<int>(i)});
        if (o.shortName != 0 && o.shortName != kHelpCode) {
            shorts += o.shortName;
            if (hasArg == required_argument)
                shorts += ':';
        }
    }
    longs.push_back({"help", no_argument, nullptr, kHelpCode});
    shorts += 'h';
    longs.push_back({nullptr, 0, nullptr, 0});

    optind = 0; // 0 makes glibc start afresh, forgetting any earlier scan
    opterr = 0;
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv.data(), shorts.c_str(), longs.data(), &index);
        if (c == -1)
            break;
        if (c == 1) {
            out.positional_.emplace_back(optarg);
            continue;
        }
        if (c == '?') {
            if (optopt >= kLongBase)
                fail("option " + Display(table[static_cast<std::size_t>(optopt - kLongBase)]) +
                     " takes no value");
            else if (optopt == kHelpCode && WordName(argv[optind - 1]) == "--help")
                fail("option --help takes no value");
            else if (optopt != 0)
                fail(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
            else
                fail("unknown option '" + WordName(argv[optind - 1]) + "'");
            continue;
        }
        if (c == ':') {
            if (optopt >= kLongBase)
                fail("option " + Display(table[static_cast<std::size_t>(optopt - kLongBase)]) +
                     " needs a value");
            else
                fail(std::string("option -") + static_cast<char>(optopt) + " needs a value");
            continue;
        }
        if (index >= 0) {
            // getopt_long takes any unambiguous prefix; only full names count
            // here, so that a later option can never change an old command.
            const bool separateValue = optarg != nullptr && optarg == argv[optind - 1];
            const std::string written = WordName(argv[optind - (separateValue ? 2 : 1)]);
            if (written != std::string("--") + longs[static_cast<std::size_t>(index)].name) {
                fail("unknown option '" + written + "'");
                continue;
            }
        }
        if (c == kHelpCode) {
            out.help_ = true;
            continue;
        }
        const Option *entry =
            c >= kLongBase ? &table[static_cast<std::size_t>(c - kLongBase)] : ShortEntry(table, c);
        if (entry == nullptr) { // not reachable: getopt returns only codes it was given
            fail(std::string("unknown option '-") + static_cast<char>(c) + "'");
            continue;
        }
        out.options_.emplace_back(entry->name, optarg != nullptr ? optarg : "");
    }
    for (int i = optind; i < argc; ++i) // the words after "--"
        out.positional_.emplace_back(argv[static_cast<std::size_t>(i)]);
    optind = 0;
    return out;
}

std::string OptionHelp(const std::vector<Option> &table, std::size_t column) {
    std::string text;
    auto block = [&text, column](std::string left, const std::string &help) {
        if (left.size() + 1 > column) {
            text += left + "\n";
            left.clear();
        }
        left.resize(column, ' ');
        std::size_t start = 0;
        for (;;) {
            const auto nl = help.find('\n', start);
            text += left + help.substr(start, nl == std::string::npos ? nl : nl - start) + "\n";
            if (nl == std::string::npos)
                break;
            start = nl + 1;
            left.assign(column, ' ');
        }
    };
    for (const Option &o : table) {
        if (o.name.empty()) {
            text += o.help + "\n";
            continue;
        }
        std::string left = "  ";
        if (o.shortName != 0)
            left += std::string("-") + o.shortName + ", ";
        left += "--" + o.name;
        if (!o.valueName.empty())
            left += " " + o.valueName;
        block(left, o.help);
    }
    block("  -h, --help", "show this help and exit");
    return text;
}

std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max,
                                         std::string_view what, std::string *error) {
    auto invalid = [&] {
        if (error != nullptr)
            *error =
                std::string(what) + ": '" + std::string(text) + "' is not a valid integer value";
        return std::nullopt;
    };
    auto outOfRange = [&] {
        if (error != nullptr)
            *error = std::string(what) + ": " + std::string(text) + " is out of range (" +
                     std::to_string(min) + ".." + std::to_string(max) + ")";
        return std::nullopt;
    };
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
        negative = digits[0] == '-';
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    // from_chars on an unsigned type takes digits only: no second sign, no
    // space, no "0x" of its own.
    std::uint64_t magnitude = 0;
    const char *last = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), last, magnitude, base);
    if (digits.empty() || ec == std::errc::invalid_argument || ptr != last)
        return invalid();
    constexpr auto kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (ec == std::errc::result_out_of_range || magnitude > kMaxPositive + (negative ? 1 : 0))
        return outOfRange();
    std::int64_t value = 0;
    if (!negative)
        value = static_cast<std::int64_t>(magnitude);
    else if (magnitude == kMaxPositive + 1)
        value = INT64_MIN;
    else
        value = -static_cast<std::int64_t>(magnitude);
    if (value < min || value > max)
        return outOfRange();
    return value;
}

std::optional<double> ParseReal(std::string_view text, double min, double max,
                                std::string_view what, std::string *error) {
    std::string_view digits = text;
    if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-' && digits[1] != '+')
        digits.remove_prefix(1);
    double value = 0;
    const char *last = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), last, value);
    if (digits.empty() || ec == std::errc::invalid_argument || ptr != last ||
        (ec == std::errc{} && !std::isfinite(value))) {
        if (error != nullptr)
            *error = std::string(what) + ": '" + std::string(text) + "' is not a valid number";
        return std::nullopt;
    }
    if (ec == std::errc::result_out_of_range || value < min || value > max) {
        if (error != nullptr)
            *error = std::string(what) + ": " + std::string(text) + " is out of range (" +
                     Trimmed(min) + ".." + Trimmed(max) + ")";
        return std::nullopt;
    }
    return value;
}

} // namespace qz417::cli
