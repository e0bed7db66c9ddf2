#include "command_line.h"

#include <iostream>

#include "failure.h"

namespace qz417::ctl {

CommandLine::CommandLine(const std::vector<std::string> &args, const std::vector<OptionDef> &defs)
    : line_(qz417::cli::Parse(args, defs)) {
    if (!line_.helpRequested() && !line_.error().empty())
        throw UsageError(line_.error() + " (see --help)");
}

std::int64_t CommandLine::integer(const std::string &name, std::int64_t fallback, std::int64_t min,
                                  std::int64_t max) const {
    const auto v = value(name);
    if (!v)
        return fallback;
    return ParseInteger(*v, min, max, "--" + name);
}

bool CommandLine::printHelpIfAsked(const std::string &help) const {
    if (!helpRequested())
        return false;
    std::cout << help;
    return true;
}

void CommandLine::expectPositional(std::size_t count, const std::string &usage) const {
    const auto &words = positional();
    if (words.size() < count)
        throw UsageError("missing argument; usage: " + usage);
    if (words.size() > count)
        throw UsageError("unexpected argument '" + words[count] + "'; usage: " + usage);
}

std::string HelpText(const std::string &intro, const std::vector<OptionDef> &defs,
                     const std::string &outro) {
    std::string text = intro + "\nOptions:\n" + qz417::cli::OptionHelp(defs);
    if (!outro.empty())
        text += "\n" + outro;
    return text;
}

std::int64_t ParseInteger(const std::string &text, std::int64_t min, std::int64_t max,
                          const std::string &what) {
    std::string error;
    const auto v = qz417::cli::ParseInteger(text, min, max, what, &error);
    if (!v)
        throw UsageError(error);
    return *v;
}

} // namespace qz417::ctl
