// One command-line parser for the project's programs (qz417ctl, qz417sim):
// an option table read with getopt_long, strict numbers with ranges, and the
// option part of --help written from the same table. Errors are one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qz417::cli {

// One entry of an option table. An entry with an empty name is a heading or
// a line of text in the help (its `help`), not an option.
struct Option {
    std::string name;      // long name without the dashes: "count"
    char shortName = 0;    // 'o' for -o, or 0
    std::string valueName; // "N", "FILE"; empty: a flag that takes no value
    std::string help;      // the help text; '\n' starts a continuation line
};

// What Parse found. Every program also understands --help and -h.
class ParsedLine {
public:
    bool helpRequested() const { return help_; }
    const std::vector<std::string> &positional() const { return positional_; }
    // Options in the order given; a flag has an empty value.
    const std::vector<std::pair<std::string, std::string>> &options() const { return options_; }
    bool has(std::string_view name) const;
    // The value of the last occurrence of `name`.
    std::optional<std::string> value(std::string_view name) const;
    // Empty when the line was understood, else one line naming the fault.
    const std::string &error() const { return error_; }

private:
    friend ParsedLine Parse(const std::vector<std::string> &, const std::vector<Option> &);
    bool help_ = false;
    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::string>> options_;
    std::string error_;
};

// Reads `args` (without the program name) against `table` with getopt_long:
// "--name VALUE", "--name=VALUE", "-o VALUE", "-oVALUE", flags, positional
// words anywhere, "--" ends the options. Long names must be written in full
// (no abbreviations); a word that starts with '-' is an option, so a
// positional word such as "-5" needs "--" in front of it. getopt keeps its
// state in globals: call from one thread at a time.
ParsedLine Parse(const std::vector<std::string> &args, const std::vector<Option> &table);

// The option part of a help text: one block per entry, the name (and value)
// from column 2, the help text from column `column`; ends with --help.
std::string OptionHelp(const std::vector<Option> &table, std::size_t column = 24);

// Numbers. Integers are decimal with an optional sign, leading zeros
// included ("010" is ten), or hexadecimal after "0x"/"0X" ("0x2F", "-0x10").
// Reals are decimal ("2.5", "-1e3"); no hexadecimal, infinity or NaN. No
// spaces anywhere. On failure the result is empty and *error is one line:
//   "--count: '3x' is not a valid integer value"
//   "--count: 255 is out of range (1..254)"
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max,
                                         std::string_view what, std::string *error);
std::optional<double> ParseReal(std::string_view text, double min, double max,
                                std::string_view what, std::string *error);

} // namespace qz417::cli
