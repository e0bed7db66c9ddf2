// qz417ctl info: the self-description of one scanner, in the rows of the
// program's information page.
#include <iostream>

#include "command_line.h"
#include "commands.h"
#include "config/device_description.h"
#include "device_address.h"
#include "failure.h"

namespace qzctl {

namespace {

constexpr const char *kUsage = "qz417ctl info ADDR [--time MS]";
constexpr const char *kHelp =
    "usage: qz417ctl info ADDR [--time MS]\n"
    "\n"
    "Listens for the announcement of the scanner at ADDR (IPv4) and prints its\n"
    "self-description in the rows of the setup program's information page.\n";

} // namespace

int RunInfo(const Args &args) {
    const std::vector<OptionDef> options = {
        {"time", 0, "MS", "how long to listen, 1..65535 ms (default 5000)"}};
    const CommandLine cl(args, options);
    if (cl.helpRequested()) {
        std::cout << HelpText(kHelp, options);
        return kExitOk;
    }
    cl.expectPositional(1, kUsage);
    const Ipv4 ip = ParseIpv4(cl.positional()[0]);
    const int timeMs = static_cast<int>(cl.integer("time", 5000, 1, 65535));
    const auto record = FindScanner(ip, timeMs);
    if (!record)
        throw Failure("no scanner at " + FormatIpv4(ip.data()) + " heard within " +
                      std::to_string(timeMs) + " ms");
    for (const std::string &row : qz::DescriptionRows(qz::DecodeDescription(record->description)))
        std::cout << row << "\n";
    return kExitOk;
}

} // namespace qzctl
