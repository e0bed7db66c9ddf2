#include "command_line.h"

#include <charconv>

#include "failure.h"

namespace qzctl {

CommandLine::CommandLine(const std::vector<std::string> &args,
                         const std::vector<OptionDef> &defs) {
    bool onlyPositional = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (onlyPositional || arg.size() < 2 || arg[0] != '-' || (arg[1] >= '0' && arg[1] <= '9')) {
            positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyPositional = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help_ = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const OptionDef *def = nullptr;
        for (const auto &s : defs) {
            if (s.name == name || (!s.shortName.empty() && s.shortName == name))
                def = &s;
        }
        if (def == nullptr)
            throw UsageError("unknown option '" + name + "' (see --help)");
        if (!def->takesValue) {
            if (inlineValue)
                throw UsageError("option " + def->name + " takes no value");
            values_[def->name] = "";
            continue;
        }
        if (inlineValue) {
            values_[def->name] = *inlineValue;
        } else {
            if (i + 1 >= args.size())
                throw UsageError("option " + def->name + " needs a value");
            values_[def->name] = args[++i];
        }
    }
}

std::optional<std::string> CommandLine::value(const std::string &name) const {
    const auto it = values_.find(name);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

std::int64_t CommandLine::integer(const std::string &name, std::int64_t fallback, std::int64_t min,
                                  std::int64_t max) const {
    const auto v = value(name);
    if (!v)
        return fallback;
    return ParseInteger(*v, min, max, name);
}

void CommandLine::expectPositional(std::size_t count, const std::string &usage) const {
    if (positional_.size() < count)
        throw UsageError("missing argument; usage: " + usage);
    if (positional_.size() > count)
        throw UsageError("unexpected argument '" + positional_[count] + "'; usage: " + usage);
}

std::int64_t ParseInteger(const std::string &text, std::int64_t min, std::int64_t max,
                          const std::string &what) {
    std::int64_t v = 0;
    const char *first = text.data();
    const char *last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, v);
    if (text.empty() || ec == std::errc::invalid_argument || ptr != last)
        throw UsageError(what + ": '" + text + "' is not a valid integer value");
    if (ec == std::errc::result_out_of_range || v < min || v > max)
        throw UsageError(what + ": " + text + " is out of range (" + std::to_string(min) + ".." +
                         std::to_string(max) + ")");
    return v;
}

} // namespace qzctl
