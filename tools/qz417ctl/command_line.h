// Parsing of one subcommand's arguments: positional words, options with and
// without a value ("--time 500", "--time=500", "-o FILE"), and "--help".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qzctl {

struct OptionDef {
    std::string name;       // "--time"
    std::string shortName;  // "-o", or empty
    bool takesValue = true; // false: a flag such as "--json"
};

class CommandLine {
public:
    // Throws UsageError for an unknown option or a missing value.
    CommandLine(const std::vector<std::string> &args, const std::vector<OptionDef> &defs);

    bool helpRequested() const { return help_; }
    const std::vector<std::string> &positional() const { return positional_; }
    bool has(const std::string &name) const { return values_.count(name) != 0; }
    std::optional<std::string> value(const std::string &name) const;
    // The value of an integer option within [min, max], or fallback when absent.
    std::int64_t integer(const std::string &name, std::int64_t fallback, std::int64_t min,
                         std::int64_t max) const;
    // Exactly `count` positional words, else a UsageError naming `usage`.
    void expectPositional(std::size_t count, const std::string &usage) const;

private:
    bool help_ = false;
    std::vector<std::string> positional_;
    std::map<std::string, std::string> values_;
};

// A decimal integer (optional leading '-') within [min, max]; `what` names the
// value in the error line.
std::int64_t ParseInteger(const std::string &text, std::int64_t min, std::int64_t max,
                          const std::string &what);

} // namespace qzctl
