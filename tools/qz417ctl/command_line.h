// One subcommand's arguments, read with the shared parser (cli/): positional
// words, options from a table ("--time 500", "--time=500", "-o FILE"), --help,
// and the help text written from the same table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qzcli.h"

namespace qz417::ctl {

// {name without dashes, short letter or 0, value name (empty: a flag), help}
using OptionDef = qz417::cli::Option;

class CommandLine {
public:
    // Throws UsageError for an unknown option, a missing value or a value
    // given to a flag, unless --help was given anywhere.
    CommandLine(const std::vector<std::string> &args, const std::vector<OptionDef> &defs);

    bool helpRequested() const { return line_.helpRequested(); }
    const std::vector<std::string> &positional() const { return line_.positional(); }
    bool has(const std::string &name) const { return line_.has(name); }
    std::optional<std::string> value(const std::string &name) const { return line_.value(name); }
    // The value of an integer option within [min, max], or fallback when absent.
    std::int64_t integer(const std::string &name, std::int64_t fallback, std::int64_t min,
                         std::int64_t max) const;
    // Exactly `count` positional words, else a UsageError naming `usage`.
    void expectPositional(std::size_t count, const std::string &usage) const;
    // When --help was given: prints `help` on stdout and returns true (the
    // subcommand then ends with status 0).
    bool printHelpIfAsked(const std::string &help) const;

private:
    qz417::cli::ParsedLine line_;
};

// A subcommand's help: the text before the options, the options of the
// table, and the text after them.
std::string HelpText(const std::string &intro, const std::vector<OptionDef> &defs,
                     const std::string &outro = "");

// An integer within [min, max] by the shared number rule (decimal, leading
// zeros too; hexadecimal after 0x); `what` names the value in the error line.
std::int64_t ParseInteger(const std::string &text, std::int64_t min, std::int64_t max,
                          const std::string &what);

} // namespace qz417::ctl
