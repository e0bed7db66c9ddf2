// The qz417sim command line: parsing into emulator options, and the help text.
#pragma once

#include "emulator.h"

#include <string>
#include <vector>

namespace qz417::sim {

struct CommandLine {
    EmulatorOptions options;
    bool help = false;
    std::string error; // not empty: the command line was not understood
};

CommandLine parseCommandLine(const std::vector<std::string> &args); // without argv[0]
std::string usageText();

} // namespace qz417::sim
